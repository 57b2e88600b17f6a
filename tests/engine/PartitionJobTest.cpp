// The partition job: the format dialog's answer, the format on the partition's own range, and the
// free-space wipe of the new volume.

#include "DiskImage.h"
#include "EngineHarness.h"
#include "SystemTools.h"
#include "platform/DriveTable.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

namespace kelvane {
namespace {

using test::Bytes;
using test::Quote;
using test::RecordingHost;
using test::RunJob;
using test::RunTool;

Bytes ReadFile(const std::string& path) {
    Bytes bytes(std::filesystem::file_size(path));
    std::ifstream(path, std::ios::binary)
        .read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

const std::string kDemoScript = std::string(KELVANE_SOURCE_DIR) + "/scripts/make-demo-image.sh";

// Where make-demo-image.sh puts its two volumes (sectors), as its partition table says.
struct Part {
    int number;
    std::uint64_t start;
    std::uint64_t count;
};
constexpr Part kFat = {1, 2048, 80 * 2048};
constexpr Part kNtfs = {2, 167936, 70 * 2048};

// Everything any file of the demo image held, deleted or kept.
const char* const kOldContents[] = {"SECRET-FAT-RESIDUE", "SECRET-NTFS-RESIDUE", "kelvane demo kept"};

class PartitionJob : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::IsRoot() || !test::LoopUnavailableReason().empty())
            GTEST_SKIP() << "needs root and loop devices";
        m_image = m_dir.File("demo.img");
        const auto made = RunTool(Quote(kDemoScript) + " " + Quote(m_image));
        ASSERT_EQ(made.exitStatus, 0) << made.out << made.err;
        SetDriveTable({m_image});
        m_before = Read();
        m_host.engine = &m_engine;
    }
    Bytes Read() const { return ReadFile(m_image); }
    JobOutcome Run(int partition) { return RunJob(m_engine, {JobKind::Partition, 0, {partition}, {}}); }

    // Offsets outside the partition whose bytes differ from before.
    std::vector<std::size_t> ChangedOutside(const Bytes& after, const Part& part) const {
        std::vector<std::size_t> changed;
        for (std::size_t sector = 0; sector < after.size() / 512; ++sector) {
            if (sector >= part.start && sector < part.start + part.count)
                continue;
            const std::size_t at = sector * 512;
            if (std::memcmp(after.data() + at, m_before.data() + at, 512) == 0)
                continue;
            for (std::size_t i = at; i < at + 512; ++i)
                if (after[i] != m_before[i])
                    changed.push_back(i);
        }
        return changed;
    }
    static bool OldContentIn(const Bytes& disk, const Part& part) {
        const std::uint8_t* inside = disk.data() + part.start * 512;
        for (const char* text : kOldContents)
            if (::memmem(inside, part.count * 512, text, std::strlen(text)) != nullptr)
                return true;
        return false;
    }
    std::string Check(const Part& part, const std::string& tool) const {
        test::LoopDevice loop(m_image, part.start * 512, part.count * 512);
        const auto result = RunTool(tool + " " + loop.Path());
        return result.exitStatus == 0 ? std::string() : result.out + result.err;
    }

    test::TempDir m_dir;
    std::string m_image;
    Bytes m_before;
    RecordingHost m_host;
    CEraseEngine m_engine{m_host};
};

struct FormatCase {
    Part part;
    FileSystemKind fileSystem;
    const char* check;
};

class FormatAndWipe : public PartitionJob, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(FormatAndWipe, LeavesACleanVolumeWithNoOldByteAndNothingOutsideChanged) {
    const FormatCase& c = GetParam();
    m_host.formatChoice = FormatChoice{c.fileSystem, 0, "NEWVOL", true};
    EXPECT_EQ(Run(c.part.number), JobOutcome::Completed);
    EXPECT_EQ(m_host.LastStatus(), "清除磁盘 " + m_image + "上的分区 中的数据完成!");
    ASSERT_EQ(m_host.formatTargets.size(), 1u);
    EXPECT_EQ(m_host.formatTargets[0].sectorCount, c.part.count);
    // The partition page is reset after the format, the free-space page after the wipe.
    EXPECT_EQ(m_host.resets, (std::vector<JobKind>{JobKind::Partition, JobKind::FreeSpace}));
    const Bytes after = Read();
    EXPECT_FALSE(OldContentIn(after, c.part));
    EXPECT_TRUE(ChangedOutside(after, c.part).empty());
    EXPECT_EQ(Check(c.part, c.check), "");
}

INSTANTIATE_TEST_SUITE_P(PartitionJob, FormatAndWipe,
                         ::testing::Values(FormatCase{kFat, FileSystemKind::Fat32, "fsck.fat -n"},
                                           FormatCase{kNtfs, FileSystemKind::Ntfs, "ntfsfix -n"}),
                         [](const auto& param) { return param.param.part.number == 1 ? "Fat32" : "Ntfs"; });

// A partition whose size ends in no whole cluster, full of a pattern: after the job no sector of it
// still holds its old bytes, the last few after the volume's final cluster included.
class OddSizedPartition : public ::testing::TestWithParam<FileSystemKind> {};

TEST_P(OddSizedPartition, NoSectorKeepsItsOldBytes) {
    if (!test::IsRoot() || !test::LoopUnavailableReason().empty())
        GTEST_SKIP() << "needs root and loop devices";
    constexpr std::uint64_t kStart = 2048;
    constexpr std::uint64_t kSectors = 80 * 2048 + 3;
    test::TempDir dir;
    test::SparseImage image(dir.File("odd.img"), (kStart + kSectors + 5) * 512);
    Bytes pattern(1 << 20);
    for (std::size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = static_cast<std::uint8_t>((i % 251) | 1);
    for (std::uint64_t at = 0; at < kSectors * 512; at += pattern.size())
        image.Write(
            kStart * 512 + at,
            Bytes(pattern.begin(), pattern.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(
                                                         pattern.size(), kSectors * 512 - at))));
    image.WriteSector(0, test::PartitionTable({{0x0C, static_cast<std::uint32_t>(kStart),
                                                static_cast<std::uint32_t>(kSectors)}}));
    SetDriveTable({image.Path()});
    RecordingHost host;
    CEraseEngine engine(host);
    host.engine = &engine;
    host.formatChoice = FormatChoice{GetParam(), 0, "", true};
    ASSERT_EQ(RunJob(engine, {JobKind::Partition, 0, {1}, {}}), JobOutcome::Completed) << host.LastStatus();
    const Bytes after = ReadFile(image.Path());
    std::vector<std::uint64_t> kept;
    for (std::uint64_t s = 0; s < kSectors; ++s) {
        const std::size_t at = static_cast<std::size_t>((s * 512) % pattern.size());
        if (std::equal(pattern.begin() + static_cast<std::ptrdiff_t>(at),
                       pattern.begin() + static_cast<std::ptrdiff_t>(at + 512),
                       after.begin() + static_cast<std::ptrdiff_t>((kStart + s) * 512)))
            kept.push_back(s);
    }
    EXPECT_TRUE(kept.empty()) << kept.size() << " sectors kept their old bytes, the first " << kept.front();
}

INSTANTIATE_TEST_SUITE_P(PartitionJob, OddSizedPartition,
                         ::testing::Values(FileSystemKind::Fat32, FileSystemKind::Ntfs),
                         [](const auto& param) {
                             return param.param == FileSystemKind::Fat32 ? "Fat32" : "Ntfs";
                         });

TEST_F(PartitionJob, AnotherFileSystemChangesOnlyItsEntrysTypeByte) {
    m_host.formatChoice = FormatChoice{FileSystemKind::Ntfs, 4096, "", true};
    EXPECT_EQ(Run(kFat.number), JobOutcome::Completed);
    const Bytes after = Read();
    EXPECT_FALSE(OldContentIn(after, kFat));
    // The master boot record's first entry: type byte at 0x1BE + 4, 0x0C before.
    ASSERT_EQ(m_before[0x1BE + 4], 0x0C);
    EXPECT_EQ(ChangedOutside(after, kFat), (std::vector<std::size_t>{0x1BE + 4}));
    EXPECT_EQ(after[0x1BE + 4], 0x07);
    EXPECT_EQ(Check(kFat, "ntfsfix -n"), "");
}

TEST_F(PartitionJob, ClosingTheDialogChangesNothing) {
    m_host.formatChoice.reset();
    EXPECT_EQ(Run(kNtfs.number), JobOutcome::Declined);
    EXPECT_EQ(m_host.LastStatus(), "格式化 " + m_image + "上的分区 被用户取消!");
    EXPECT_EQ(m_host.resets, (std::vector<JobKind>{JobKind::Partition}));
    EXPECT_TRUE(Read() == m_before);
}

TEST_F(PartitionJob, AMountedPartitionCannotBeFormattedAndTheDialogIsNotShown) {
    test::LoopDevice loop(m_image, kNtfs.start * 512, kNtfs.count * 512);
    const Bytes bootBefore(m_before.begin() + kNtfs.start * 512, m_before.begin() + kNtfs.start * 512 + 512);
    {
        test::FuseMount mount(loop.Path(), m_dir.File("mnt"), false);
        m_host.formatChoice = FormatChoice{FileSystemKind::Ntfs, 0, "", true};
        EXPECT_EQ(Run(kNtfs.number), JobOutcome::Failed);
        EXPECT_EQ(m_host.LastStatus(), "不能格式化 " + m_image + "上的分区 " + mount.Point());
        EXPECT_TRUE(m_host.formatTargets.empty());
        ASSERT_EQ(m_host.messages.size(), 1u);
        EXPECT_NE(m_host.messages[0].find(mount.Point()), std::string::npos);
    }
    // Not formatted: the boot sector (with its serial) is the old one.
    const Bytes after = Read();
    EXPECT_EQ(Bytes(after.begin() + kNtfs.start * 512, after.begin() + kNtfs.start * 512 + 512), bootBefore);
}

TEST_F(PartitionJob, AMissingFormatToolIsAnErrorAndNothingIsWritten) {
    // A PATH with losetup but without mkfs.fat.
    const std::string bin = m_dir.File("bin");
    std::filesystem::create_directory(bin);
    std::filesystem::create_symlink(
        RunTool("command -v losetup").out.substr(0, RunTool("command -v losetup").out.find('\n')),
        bin + "/losetup");
    const std::string oldPath = std::getenv("PATH");
    ::setenv("PATH", bin.c_str(), 1);
    m_host.formatChoice = FormatChoice{FileSystemKind::Fat32, 0, "", true};
    const JobOutcome outcome = Run(kFat.number);
    ::setenv("PATH", oldPath.c_str(), 1);
    EXPECT_EQ(outcome, JobOutcome::Failed);
    EXPECT_EQ(m_host.LastStatus(), "格式化磁盘 " + m_image + "上的分区 发生错误!");
    ASSERT_FALSE(m_host.messages.empty());
    EXPECT_NE(m_host.messages.back().find("mkfs.fat"), std::string::npos);
    EXPECT_TRUE(Read() == m_before);
}

TEST_F(PartitionJob, AMissingPartitionOrDriveEndsWithItsText) {
    m_host.formatChoice = FormatChoice{FileSystemKind::Fat32, 0, "", true};
    EXPECT_EQ(Run(7), JobOutcome::Failed);
    EXPECT_EQ(m_host.LastStatus(), "格式化清除磁盘 " + m_image + " 上的数据发生错误,打开分区失败!");
    EXPECT_EQ(RunJob(m_engine, {JobKind::Partition, 5, {1}, {}}), JobOutcome::Failed);
    EXPECT_EQ(m_host.LastStatus(), "格式化清除磁盘出错，打开硬盘失败!");
    EXPECT_TRUE(m_host.formatTargets.empty());
    EXPECT_TRUE(Read() == m_before);
}

} // namespace
} // namespace kelvane
