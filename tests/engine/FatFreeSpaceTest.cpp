#include "DiskImage.h"
#include "EngineHarness.h"
#include "FaultyDevice.h"
#include "SystemTools.h"
#include "platform/DriveTable.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <map>

namespace kelvane {
namespace {

using test::Bytes;
using test::GetLe;
using test::Quote;
using test::RecordingHost;
using test::RunJob;
using test::RunTool;

std::string FinalText(const std::string& path, const std::string& letter, const char* ending) {
    return "清除磁盘 " + path + "上的分区" + letter + ending;
}

// A FAT volume's layout worked out here from the boot sector's bytes, as the FAT format defines it.
struct FatLayout {
    std::uint64_t start = 0; // partition's first sector on the disk
    std::uint64_t spc = 0;
    std::uint64_t reserved = 0;
    std::uint64_t dataStart = 0; // volume sector of cluster 2
    std::uint64_t clusters = 0;
    int bits = 0;
};

FatLayout ParseFat(const Bytes& disk, std::uint64_t start) {
    const std::span<const std::uint8_t> boot(disk.data() + start * 512, 512);
    FatLayout f;
    f.start = start;
    f.spc = boot[13];
    f.reserved = GetLe(boot, 14, 2);
    const std::uint64_t fats = boot[16];
    const std::uint64_t rootSectors = (GetLe(boot, 17, 2) * 32 + 511) / 512;
    const std::uint64_t total = GetLe(boot, 19, 2) != 0 ? GetLe(boot, 19, 2) : GetLe(boot, 32, 4);
    const std::uint64_t fatSectors = GetLe(boot, 22, 2) != 0 ? GetLe(boot, 22, 2) : GetLe(boot, 36, 4);
    f.dataStart = f.reserved + fats * fatSectors + rootSectors;
    f.clusters = (total - f.dataStart) / f.spc;
    f.bits = f.clusters < 4085 ? 12 : f.clusters < 65525 ? 16 : 32;
    return f;
}

std::uint32_t FatEntry(const Bytes& disk, const FatLayout& f, std::uint64_t k) {
    const std::size_t fat = (f.start + f.reserved) * 512;
    if (f.bits == 32)
        return static_cast<std::uint32_t>(GetLe(disk, fat + k * 4, 4));
    if (f.bits == 16)
        return static_cast<std::uint32_t>(GetLe(disk, fat + k * 2, 2));
    const auto v = static_cast<std::uint32_t>(GetLe(disk, fat + k * 3 / 2, 2));
    return k % 2 == 0 ? v & 0xFFF : v >> 4;
}

// The disk sector where cluster k begins.
std::uint64_t ClusterSector(const FatLayout& f, std::uint64_t k) {
    return f.start + f.dataStart + (k - 2) * f.spc;
}

// Every sector that changed lies in a cluster that was free before in one of the volumes, and every
// such cluster is zero now.
void ExpectExactlyTheFreeClustersZeroed(const Bytes& before, const Bytes& after,
                                        const std::vector<FatLayout>& volumes) {
    ASSERT_EQ(before.size(), after.size());
    for (std::uint64_t s = 0; s < before.size() / 512; ++s) {
        if (std::memcmp(before.data() + s * 512, after.data() + s * 512, 512) == 0)
            continue;
        const auto in = std::find_if(volumes.begin(), volumes.end(), [&](const FatLayout& f) {
            return s >= f.start + f.dataStart && s < ClusterSector(f, f.clusters + 2);
        });
        ASSERT_NE(in, volumes.end()) << "sector " << s << " outside every data region changed";
        const std::uint64_t k = (s - in->start - in->dataStart) / in->spc + 2;
        ASSERT_EQ(FatEntry(before, *in, k), 0u)
            << "sector " << s << ": cluster " << k << " in use was written";
    }
    for (const FatLayout& f : volumes) {
        std::uint64_t freeClusters = 0;
        for (std::uint64_t k = 2; k < f.clusters + 2; ++k) {
            if (FatEntry(before, f, k) != 0)
                continue;
            ++freeClusters;
            ASSERT_TRUE(test::AllZero(after, ClusterSector(f, k) * 512, f.spc * 512)) << "free cluster " << k;
        }
        EXPECT_GT(freeClusters, 0u);
    }
}

std::string Text(const std::string& line, std::size_t bytes) {
    std::string text;
    while (text.size() < bytes)
        text += line;
    text.resize(bytes);
    return text;
}

// ---- Volumes made by mkfs.fat and filled with mtools ----

struct MkfsCase {
    const char* name;
    int fatBits;
    std::uint8_t typeByte;
    std::uint64_t partitionSectors;
    int sectorsPerCluster;
};

class FatFromMkfs : public ::testing::TestWithParam<MkfsCase> {};

TEST_P(FatFromMkfs, ZeroesExactlyTheFreeClustersAndLeavesFilesAndTheRestOfTheDiskIntact) {
    const MkfsCase& c = GetParam();
    test::TempDir dir;
    const std::string path = dir.File("disk.img");
    const std::uint64_t start = 2048;
    const std::uint64_t total = start + c.partitionSectors + 2048;
    // Pattern around the partition, so that a stray write outside it shows.
    Bytes disk = test::PatternBytes(0, total);
    const auto mbr = test::PartitionTable(
        {{c.typeByte, static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(c.partitionSectors)}});
    std::copy(mbr.begin(), mbr.end(), disk.begin());
    std::fill(disk.begin() + static_cast<std::ptrdiff_t>(start * 512),
              disk.begin() + static_cast<std::ptrdiff_t>((start + c.partitionSectors) * 512), 0);
    test::WriteWholeFile(path, disk);
    test::RunOrThrow("mkfs.fat -F " + std::to_string(c.fatBits) + " -s " +
                     std::to_string(c.sectorsPerCluster) + " --offset " + std::to_string(start) + " " +
                     Quote(path) + " " + std::to_string(c.partitionSectors / 2));

    const std::string volume = Quote(path + "@@" + std::to_string(start * 512));
    const std::string mtools = "MTOOLS_SKIP_CHECK=1 ";
    std::map<std::string, std::string> kept = {
        {"KEEP1.TXT", Text("kept file one ", 30000)},
        {"KEEP2.TXT", Text("kept two ", 4096)},
        {"DOCS/KEEP3.TXT", Text("kept file three in a folder ", 70001)},
    };
    std::map<std::string, std::string> secrets = {
        {"SECRET1.TXT", Text("SECRET-FAT-RESIDUE-1 ", 50000)},
        {"DOCS/SECRET2.TXT", Text("SECRET-FAT-RESIDUE-2 ", 9000)},
        {"SECRET3.TXT", Text("SECRET-FAT-RESIDUE-3 ", 2500)},
    };
    test::RunOrThrow(mtools + "mmd -i " + volume + " ::/DOCS");
    // Every file goes in before any is deleted: a file written into freed clusters keeps their old bytes
    // in its slack, which no free-cluster wipe can reach.
    for (const auto* files : {&secrets, &kept})
        for (const auto& [name, content] : *files) {
            std::ofstream(dir.File("src")) << content;
            test::RunOrThrow(mtools + "mcopy -i " + volume + " " + Quote(dir.File("src")) + " ::/" + name);
        }
    for (const auto& [name, content] : secrets)
        test::RunOrThrow(mtools + "mdel -i " + volume + " ::/" + name);

    const Bytes before = test::ReadWholeFile(path);
    const FatLayout layout = ParseFat(before, start);
    ASSERT_EQ(layout.bits, c.fatBits);
    ASSERT_TRUE(test::Contains(before, "SECRET-FAT-RESIDUE-2"));

    SetDriveTable({path});
    RecordingHost host;
    CEraseEngine engine(host);
    EXPECT_EQ(RunJob(engine, {JobKind::FreeSpace, 0, {1}, {}}), JobOutcome::Completed);
    EXPECT_EQ(host.LastStatus(), FinalText(path, "", " 中的数据完成!"));
    EXPECT_TRUE(host.messages.empty());

    const Bytes after = test::ReadWholeFile(path);
    for (const auto& [name, content] : secrets)
        EXPECT_FALSE(test::Contains(after, content.substr(0, 20))) << name;
    ExpectExactlyTheFreeClustersZeroed(before, after, {layout});
    for (const auto& [name, content] : kept)
        EXPECT_EQ(test::RunOrThrow(mtools + "mtype -i " + volume + " ::/" + name), content) << name;
    {
        test::LoopDevice loop(path, start * 512, c.partitionSectors * 512);
        const auto fsck = RunTool("fsck.fat -n " + Quote(loop.Path()));
        EXPECT_EQ(fsck.exitStatus, 0) << fsck.out << fsck.err;
    }

    // One counter text per entry, from cluster 2 to the last, over the partition's sector count.
    const std::string title = "正在清除硬盘 " + path + " 中的分区  上的残留数据...";
    ASSERT_EQ(host.statuses.front(), title);
    const auto counters = host.StatusesStartingWith(title + "(");
    const std::string clusterTotal = std::to_string(c.partitionSectors / layout.spc);
    ASSERT_EQ(counters.size(), layout.clusters);
    EXPECT_EQ(counters.front(), title + "(2/" + clusterTotal + ") 簇");
    EXPECT_EQ(counters.back(),
              title + "(" + std::to_string(layout.clusters + 1) + "/" + clusterTotal + ") 簇");
    // The bar runs to its end and never past it.
    EXPECT_GE(host.progress.back(), 990);
    EXPECT_LE(*std::max_element(host.progress.begin(), host.progress.end()), 1000);
}

INSTANTIATE_TEST_SUITE_P(Types, FatFromMkfs,
                         ::testing::Values(MkfsCase{"Fat12", 12, 0x01, 8192, 4},
                                           MkfsCase{"Fat16", 16, 0x06, 65536, 4},
                                           MkfsCase{"Fat32", 32, 0x0C, 81920, 1}),
                         [](const auto& param) { return std::string(param.param.name); });

// ---- Volumes made here byte by byte ----

// FAT16 volumes of 5000 sectors at sectors 64 and 5064 (one cluster per sector, 20 sectors per FAT, a
// 512-entry root directory), pattern in every data sector and after the last partition.
class FatBuilt : public ::testing::Test {
  protected:
    static constexpr std::uint64_t kStart = 64;
    static constexpr std::uint64_t kSize = 5000;
    static constexpr std::uint64_t kDiskSectors = kStart + 2 * kSize + 200;
    static constexpr std::uint64_t kDataStart = 4 + 2 * 20 + 32;

    void SetUp() override {
        host.engine = &engine;
        disk = test::PatternBytes(0, kDiskSectors);
        Put(0, test::PartitionTable({{0x06, kStart, kSize}, {0x06, kStart + kSize, kSize}}));
    }
    void Put(std::uint64_t sector, std::span<const std::uint8_t> bytes) {
        std::copy(bytes.begin(), bytes.end(), disk.begin() + static_cast<std::ptrdiff_t>(sector * 512));
    }
    test::FatBoot Boot(std::uint32_t totalSectors = kSize) const {
        test::FatBoot b;
        b.sectorsPerCluster = 1;
        b.reservedSectors = 4;
        b.totalSectors = totalSectors;
        b.sectorsPerFat = 20;
        return b;
    }
    // A boot sector at `start`, both FATs and the root directory zero, entries 0 and 1 reserved and a
    // chain on clusters 10..19.
    void Volume(std::uint64_t start, const test::Sector& boot) {
        Put(start, boot);
        const Bytes zeros((kDataStart - 1) * 512, 0);
        Put(start + 1, zeros);
        for (std::uint64_t copy = 0; copy < 2; ++copy) {
            Bytes fat(20 * 512, 0);
            test::PutLe(fat, 0, 0xFFF8, 2);
            test::PutLe(fat, 2, 0xFFFF, 2);
            for (std::uint64_t k = 10; k < 20; ++k)
                test::PutLe(fat, k * 2, k == 19 ? 0xFFFF : k + 1, 2);
            Put(start + 4 + copy * 20, fat);
        }
    }
    void Save() {
        path = dir.File("disk.img");
        test::WriteWholeFile(path, disk);
        SetDriveTable({path});
    }
    Bytes Image() const { return test::ReadWholeFile(path); }
    std::uint64_t Sector(std::uint64_t start, std::uint64_t cluster) const {
        return start + kDataStart + cluster - 2;
    }

    test::TempDir dir;
    std::string path;
    Bytes disk;
    RecordingHost host;
    CEraseEngine engine{host};
};

TEST_F(FatBuilt, EveryPartitionGetsItsFinalTextAndTheCountersRunOverItsClusters) {
    Volume(kStart, test::Fat16BootSector(Boot()));
    Volume(kStart + kSize, test::Fat16BootSector(Boot()));
    Save();
    EXPECT_EQ(RunJob(engine, {JobKind::FreeSpace, 0, {1, 2}, {}}), JobOutcome::Completed);
    const std::string title = "正在清除硬盘 " + path + " 中的分区  上的残留数据...";
    const std::string done = FinalText(path, "", " 中的数据完成!");
    std::vector<std::string> stages;
    for (const auto& s : host.statuses)
        if (s.rfind(title + "(", 0) != 0)
            stages.push_back(s);
    EXPECT_EQ(stages, (std::vector<std::string>{title, done, title, done}));
    const std::uint64_t clusters = kSize - kDataStart;
    EXPECT_EQ(host.StatusesStartingWith(title + "(" + std::to_string(clusters + 1) + "/5000) 簇").size(), 2u);
    EXPECT_EQ(host.resets.size(), 1u);

    const FatLayout first = ParseFat(disk, kStart);
    ASSERT_EQ(first.bits, 16);
    ExpectExactlyTheFreeClustersZeroed(disk, Image(), {first, ParseFat(disk, kStart + kSize)});
}

TEST_F(FatBuilt, AStopEndsTheWholeRunAtTheEndOfTheFatSectorInHand) {
    Volume(kStart, test::Fat16BootSector(Boot()));
    Volume(kStart + kSize, test::Fat16BootSector(Boot()));
    Save();
    host.stopWhen = [](const std::string& s) { return s.find("(5/5000) 簇") != std::string::npos; };
    EXPECT_EQ(RunJob(engine, {JobKind::FreeSpace, 0, {1, 2}, {}}), JobOutcome::Stopped);
    EXPECT_EQ(host.LastStatus(), FinalText(path, "", " 中的数据被用户停止!"));
    // The first FAT sector holds the entries of clusters 0..255: those still free are written, no more.
    const Bytes after = Image();
    for (std::uint64_t k = 2; k < 256; ++k)
        EXPECT_EQ(test::AllZero(after, Sector(kStart, k) * 512, 512), k < 10 || k >= 20) << k;
    const auto untouchedFrom = static_cast<std::ptrdiff_t>(Sector(kStart, 256) * 512);
    EXPECT_TRUE(std::equal(after.begin() + untouchedFrom, after.end(), disk.begin() + untouchedFrom));
    EXPECT_EQ(host.StatusesStartingWith("正在清除硬盘").size(), 1u + 254u);
}

TEST_F(FatBuilt, TheDataRegionFollowsTheBootSectorsCountOfFats) {
    test::FatBoot oneFat = Boot();
    oneFat.fatCopies = 1;
    Volume(kStart, test::Fat16BootSector(oneFat));
    Save();
    EXPECT_EQ(RunJob(engine, {JobKind::FreeSpace, 0, {1}, {}}), JobOutcome::Completed);
    const FatLayout layout = ParseFat(disk, kStart);
    ASSERT_EQ(layout.dataStart, 4u + 20u + 32u);
    ExpectExactlyTheFreeClustersZeroed(disk, Image(), {layout});
}

TEST_F(FatBuilt, ABootSectorClaimingMoreThanThePartitionWritesNothingPastIt) {
    Volume(kStart, test::Fat16BootSector(Boot(100000)));
    Save();
    EXPECT_EQ(RunJob(engine, {JobKind::FreeSpace, 0, {1}, {}}), JobOutcome::Completed);
    const Bytes after = Image();
    const auto end = static_cast<std::ptrdiff_t>((kStart + kSize) * 512);
    EXPECT_TRUE(std::equal(after.begin() + end, after.end(), disk.begin() + end));
    // The last whole cluster inside the partition is reached.
    EXPECT_TRUE(test::AllZero(after, (kStart + kSize - 1) * 512, 512));
}

TEST_F(FatBuilt, AVolumeThatCannotBeReadSoundlyIsRefusedWithNothingWritten) {
    test::Sector exfat = test::Fat32BootSector(Boot());
    std::memcpy(exfat.data() + 3, "EXFAT   ", 8);
    test::NtfsBoot ntfs;
    ntfs.totalSectors = kSize - 1;
    test::FatBoot threePerCluster = Boot();
    threePerCluster.sectorsPerCluster = 3;
    test::FatBoot bigSectors = Boot();
    bigSectors.bytesPerSector = 4096;
    test::FatBoot shortFat = Boot();
    shortFat.sectorsPerFat = 2; // 512 entries for 4924 clusters
    const std::vector<std::pair<const char*, test::Sector>> cases = {
        {"exFAT", exfat},
        {"NTFS", test::NtfsBootSector(ntfs)},
        {"3 sectors per cluster", test::Fat16BootSector(threePerCluster)},
        {"4096-byte sectors", test::Fat16BootSector(bigSectors)},
        {"FAT too short", test::Fat16BootSector(shortFat)},
        {"Linux type byte", test::Fat16BootSector(Boot())},
    };
    for (const auto& [what, boot] : cases) {
        SCOPED_TRACE(what);
        if (std::string(what) == "Linux type byte")
            Put(0, test::PartitionTable({{0x83, kStart, kSize}}));
        Volume(kStart, boot); // FATs of free clusters: a reader that took it for FAT would write
        Save();
        test::FaultInjection faults;
        EXPECT_EQ(RunJob(engine, {JobKind::FreeSpace, 0, {1}, {}}), JobOutcome::Failed);
        EXPECT_EQ(faults.Plan().writes, 0);
        EXPECT_EQ(host.LastStatus(), FinalText(path, "", " 中的数据发生意外错误!"));
        EXPECT_EQ(Image(), disk);
    }
}

TEST_F(FatBuilt, AnUnreadableFatSectorIsAFailureNotDone) {
    Volume(kStart, test::Fat16BootSector(Boot()));
    Save();
    test::FaultInjection faults;
    faults.Plan().badSector = kStart + 4 + 7;
    EXPECT_EQ(RunJob(engine, {JobKind::FreeSpace, 0, {1}, {}}), JobOutcome::Failed);
    EXPECT_EQ(host.LastStatus(), FinalText(path, "", " 中的数据发生意外错误!"));
    EXPECT_NE(std::find(host.messages.begin(), host.messages.end(), "读FAT表信息出错"), host.messages.end());
}

TEST_F(FatBuilt, AMissingDriveOrPartitionIsToldOnTheStatusLine) {
    Volume(kStart, test::Fat16BootSector(Boot()));
    Save();
    EXPECT_EQ(RunJob(engine, {JobKind::FreeSpace, 4, {1}, {}}), JobOutcome::Failed);
    EXPECT_EQ(host.statuses, std::vector<std::string>{"清除分区出错，打开硬盘失败!"});
    host.statuses.clear();
    EXPECT_EQ(RunJob(engine, {JobKind::FreeSpace, 0, {7}, {}}), JobOutcome::Failed);
    EXPECT_EQ(host.statuses,
              std::vector<std::string>{"清除磁盘 " + path + " 上的数据发生错误,打开分区失败!"});
    EXPECT_EQ(Image(), disk);
}

TEST_F(FatBuilt, AFailedClusterWriteEndsTheRunWithNoFurtherWrites) {
    Volume(kStart, test::Fat16BootSector(Boot()));
    Volume(kStart + kSize, test::Fat16BootSector(Boot()));
    Save();
    test::FaultInjection faults;
    faults.Plan().failWritesFrom = 1;
    EXPECT_EQ(RunJob(engine, {JobKind::FreeSpace, 0, {1, 2}, {}}), JobOutcome::Failed);
    EXPECT_EQ(faults.Plan().writes, 6);
    EXPECT_EQ(host.LastStatus(), FinalText(path, "", " 中的数据发生意外错误!"));
    // The second partition is never begun: its title would be a second line without a counter.
    const std::string title = "正在清除硬盘 " + path + " 中的分区  上的残留数据...";
    EXPECT_EQ(std::count(host.statuses.begin(), host.statuses.end(), title), 1);
    EXPECT_EQ(Image(), disk);
}

} // namespace
} // namespace kelvane
