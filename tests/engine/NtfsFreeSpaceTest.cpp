#include "DiskImage.h"
#include "EngineHarness.h"
#include "FaultyDevice.h"
#include "SystemTools.h"
#include "platform/DriveTable.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>

namespace kelvane {
namespace {

using test::Bytes;
using test::Quote;
using test::RecordingHost;
using test::RunJob;
using test::RunTool;

std::string FinalText(const std::string& path, const std::string& letter, const char* ending) {
    return "清除磁盘 " + path + "上的分区" + letter + ending;
}

// ---- A volume made here: 8 sectors per cluster, MFT at cluster 4, $Bitmap data in cluster 100 ----

class NtfsBuilt : public ::testing::Test {
  protected:
    static constexpr std::uint64_t kStart = 64;
    static constexpr std::uint64_t kSize = 8192;         // partition sectors
    static constexpr std::uint64_t kClusters = 8191 / 8; // the boot sector's total: 1023 clusters
    static constexpr std::uint64_t kBitmapCluster = 100;

    void SetUp() override {
        host.engine = &engine;
        disk = test::PatternBytes(0, kStart + kSize + 64);
        Put(0, test::PartitionTable({{0x07, kStart, kSize}}));
        test::NtfsBoot boot;
        boot.totalSectors = kSize - 1;
        Put(kStart, test::NtfsBootSector(boot));
        bitmap.assign(128, 0xFF);
    }
    void Put(std::uint64_t sector, std::span<const std::uint8_t> bytes) {
        std::copy(bytes.begin(), bytes.end(), disk.begin() + static_cast<std::ptrdiff_t>(sector * 512));
    }
    // Record 6 (two sectors at MFT sector 12) and the bitmap's cluster.
    void Save(const test::FileRecord& record6) {
        Put(kStart + 4 * 8 + 12, record6.Build());
        Bytes cluster(4096, 0);
        std::copy(bitmap.begin(), bitmap.end(), cluster.begin());
        Put(kStart + kBitmapCluster * 8, cluster);
        path = dir.File("disk.img");
        test::WriteWholeFile(path, disk);
        SetDriveTable({path});
    }
    test::FileRecord Record(const Bytes& runs, std::uint64_t allocated, std::uint64_t dataSize,
                            const std::u16string& name = u"$Bitmap") const {
        Bytes list = runs;
        list.push_back(0);
        test::FileRecord r;
        r.StandardInformation(1, 1).FileName(5, name, 3).NonResidentData(list, allocated, dataSize);
        return r;
    }
    test::FileRecord GoodRecord() const { return Record(test::EncodeRun(1, kBitmapCluster), 4096, 128); }
    bool ClusterIsZero(const Bytes& image, std::uint64_t cluster) const {
        return test::AllZero(image, (kStart + cluster * 8) * 512, 8 * 512);
    }
    // Whether the image differs from what was saved only in these clusters, which are zero.
    void ExpectOnlyClustersZeroed(std::vector<std::uint64_t> clusters, std::uint64_t either = 0) const {
        const Bytes image = test::ReadWholeFile(path);
        if (either != 0 && ClusterIsZero(image, either))
            clusters.push_back(either);
        Bytes expected = disk;
        for (const std::uint64_t c : clusters)
            std::fill_n(expected.begin() + static_cast<std::ptrdiff_t>((kStart + c * 8) * 512), 8 * 512, 0);
        ASSERT_EQ(image.size(), expected.size());
        for (std::uint64_t s = 0; s < image.size() / 512; ++s)
            ASSERT_TRUE(std::equal(image.begin() + static_cast<std::ptrdiff_t>(s * 512),
                                   image.begin() + static_cast<std::ptrdiff_t>(s * 512 + 512),
                                   expected.begin() + static_cast<std::ptrdiff_t>(s * 512)))
                << "sector " << s << " (volume cluster " << (s - kStart) / 8 << ")";
    }
    void ExpectRefused() {
        test::FaultInjection faults;
        EXPECT_EQ(RunJob(engine, {JobKind::FreeSpace, 0, {1}, {}}), JobOutcome::Failed);
        EXPECT_EQ(faults.Plan().writes, 0);
        EXPECT_EQ(host.LastStatus(), FinalText(path, "", " 中的数据发生意外错误!"));
        EXPECT_EQ(test::ReadWholeFile(path), disk);
        EXPECT_FALSE(host.messages.empty());
    }

    test::TempDir dir;
    std::string path;
    Bytes disk;
    Bytes bitmap;
    RecordingHost host;
    CEraseEngine engine{host};
};

TEST_F(NtfsBuilt, WritesTheClustersOfClearBitsOnlyAndNoneAtOrPastTheClusterTotal) {
    bitmap[1] = 0xFE;   // cluster 8
    bitmap[2] = 0x7F;   // cluster 23
    bitmap[127] = 0x00; // clusters 1016..1023; 1023 lies past the volume's 1023 clusters
    Save(GoodRecord());
    EXPECT_EQ(RunJob(engine, {JobKind::FreeSpace, 0, {1}, {}}), JobOutcome::Completed);
    ExpectOnlyClustersZeroed({8, 23, 1016, 1017, 1018, 1019, 1020, 1021, 1022});
    EXPECT_EQ(host.LastStatus(), FinalText(path, "", " 中的数据完成!"));
    // Counter texts after chunk bytes 0 and 100, over the partition's 1024 clusters.
    const std::string title = "正在清除硬盘 " + path + " 中的分区  上的残留数据...";
    EXPECT_EQ(host.StatusesStartingWith(title + "("),
              (std::vector<std::string>{title + "(8/1024) 簇", title + "(808/1024) 簇"}));
}

TEST_F(NtfsBuilt, AResidentBitmapIsReadFromTheRecord) {
    bitmap[1] = 0xFE;
    bitmap[2] = 0x7F;
    test::FileRecord record;
    record.StandardInformation(1, 1).FileName(5, u"$Bitmap", 3).ResidentData(bitmap);
    const Bytes fullCluster(128, 0xFF); // the cluster a non-resident reader would wrongly take it from
    bitmap = fullCluster;
    Save(record);
    EXPECT_EQ(RunJob(engine, {JobKind::FreeSpace, 0, {1}, {}}), JobOutcome::Completed);
    ExpectOnlyClustersZeroed({8, 23});
}

TEST_F(NtfsBuilt, AStopLandsRightAfterTheClusterInHand) {
    bitmap[0] = 0x3F; // clusters 6 and 7
    bitmap[1] = 0xFC; // clusters 8 and 9
    bitmap[2] = 0x7F;
    Save(GoodRecord());
    host.stopAtStatus = 2; // the counter after bitmap byte 0
    EXPECT_EQ(RunJob(engine, {JobKind::FreeSpace, 0, {1}, {}}), JobOutcome::Stopped);
    // Byte 0 is done when the request comes; at most the next free cluster may still be written.
    ExpectOnlyClustersZeroed({6, 7}, 8);
    EXPECT_EQ(host.LastStatus(), FinalText(path, "", " 中的数据被用户停止!"));
}

TEST_F(NtfsBuilt, ABitmapThatCannotBeTrustedIsRefusedBeforeAnyWrite) {
    // A sparse first cluster, then real clusters enough for the data size even without it: reading on
    // from cluster 100 would take the second cluster's bits for the first's.
    Bytes sparse = {0x01, 0x01};
    const Bytes real = test::EncodeRun(2, kBitmapCluster);
    sparse.insert(sparse.end(), real.begin(), real.end());
    const std::vector<std::pair<const char*, test::FileRecord>> cases = {
        {"sparse run", Record(sparse, 3 * 4096, 4096 + 128)},
        {"runs shorter than the data", Record(test::EncodeRun(1, kBitmapCluster), 8192, 8192)},
        {"not the bitmap", Record(test::EncodeRun(1, kBitmapCluster), 4096, 128, u"$MFTMirr")},
        {"run outside the partition", Record(test::EncodeRun(1, 5000), 4096, 128)},
    };
    bitmap[1] = 0x00;
    for (const auto& [what, record] : cases) {
        SCOPED_TRACE(what);
        Save(record);
        ExpectRefused();
    }
}

TEST_F(NtfsBuilt, AnNtfsLbaPartitionWithoutGeometryIsRefused) {
    bitmap[1] = 0x00;
    Put(0, test::PartitionTable({{0x0D, kStart, kSize}}));
    Save(GoodRecord());
    ExpectRefused();
}

TEST_F(NtfsBuilt, AnUnreadableBitmapIsAFailureNotDone) {
    bitmap[1] = 0x00;
    Save(GoodRecord());
    test::FaultInjection faults;
    faults.Plan().badSector = kStart + kBitmapCluster * 8 + 3;
    EXPECT_EQ(RunJob(engine, {JobKind::FreeSpace, 0, {1}, {}}), JobOutcome::Failed);
    EXPECT_EQ(faults.Plan().writes, 0);
    EXPECT_EQ(host.LastStatus(), FinalText(path, "", " 中的数据发生意外错误!"));
}

// ---- A volume made by mkntfs and filled through ntfs-3g ----

class NtfsFromMkntfs : public ::testing::Test {
  protected:
    static constexpr std::uint64_t kStart = 2048;
    static constexpr std::uint64_t kSize = 48 * 2048; // 48 MiB

    void SetUp() override {
        if (const std::string why = test::LoopUnavailableReason(); !why.empty())
            GTEST_SKIP() << why;
        path = dir.File("disk.img");
        Bytes head = test::PatternBytes(0, kStart);
        const auto mbr = test::PartitionTable({{0x07, kStart, kSize}});
        std::copy(mbr.begin(), mbr.end(), head.begin());
        test::SparseImage image(path, (kStart + kSize + 2048) * 512);
        image.Write(0, head);
        image.Write((kStart + kSize) * 512, test::PatternBytes(kStart + kSize, 2048));
        kept = {{"keep1.txt", Filled("kept NTFS file one ", 50000)},
                {"报告/keep2.txt", Filled("kept NTFS file two ", 123457)},
                {"keep3.bin", Filled("kept three ", 8192)}};
        std::map<std::string, std::string> secrets = {
            {"secret1.txt", Filled("SECRET-NTFS-RESIDUE-1 ", 60000)},
            {"报告/secret2.txt", Filled("SECRET-NTFS-RESIDUE-2 ", 180001)},
            {"secret3.txt", Filled("SECRET-NTFS-RESIDUE-3 ", 4000)}};
        {
            test::LoopDevice loop(path, kStart * 512, kSize * 512);
            test::RunOrThrow("mkntfs -Q -F -q -p " + std::to_string(kStart) + " -H 255 -S 63 " +
                             Quote(loop.Path()));
            test::FuseMount mount(loop.Path(), dir.File("mnt"), false);
            std::filesystem::create_directory(dir.File("mnt/报告"));
            for (const auto* files : {&secrets, &kept})
                for (const auto& [name, content] : *files)
                    std::ofstream(dir.File("mnt/" + name), std::ios::binary) << content;
            test::RunOrThrow("sync");
            for (const auto& [name, content] : secrets)
                std::filesystem::remove(dir.File("mnt/" + name));
        }
        before = test::ReadWholeFile(path);
        ASSERT_TRUE(test::Contains(before, "SECRET-NTFS-RESIDUE-2"));
        SetDriveTable({path});
        host.engine = &engine;
    }
    static std::string Filled(const std::string& line, std::size_t bytes) {
        std::string text;
        while (text.size() < bytes)
            text += line;
        text.resize(bytes);
        return text;
    }
    // No deleted content, every kept file as written, ntfsfix content, the bytes outside unchanged.
    void ExpectWipedAndIntact() {
        const Bytes after = test::ReadWholeFile(path);
        for (int n = 1; n <= 3; ++n)
            EXPECT_FALSE(test::Contains(after, "SECRET-NTFS-RESIDUE-" + std::to_string(n))) << n;
        const auto partitionBegin = static_cast<std::ptrdiff_t>(kStart * 512);
        const auto partitionEnd = static_cast<std::ptrdiff_t>((kStart + kSize) * 512);
        EXPECT_TRUE(std::equal(after.begin(), after.begin() + partitionBegin, before.begin()));
        EXPECT_TRUE(std::equal(after.begin() + partitionEnd, after.end(), before.begin() + partitionEnd));
        test::LoopDevice loop(path, kStart * 512, kSize * 512);
        const auto fix = RunTool("ntfsfix -n " + Quote(loop.Path()));
        EXPECT_EQ(fix.exitStatus, 0) << fix.out << fix.err;
        test::FuseMount mount(loop.Path(), dir.File("check"), true);
        for (const auto& [name, content] : kept) {
            const auto bytes = test::ReadWholeFile(dir.File("check/" + name));
            EXPECT_EQ(std::string(bytes.begin(), bytes.end()), content) << name;
        }
    }

    test::TempDir dir;
    std::string path;
    std::map<std::string, std::string> kept;
    Bytes before;
    RecordingHost host;
    CEraseEngine engine{host};
};

TEST_F(NtfsFromMkntfs, ZeroesTheDeletedFilesAndKeepsTheVolumeSound) {
    EXPECT_EQ(RunJob(engine, {JobKind::FreeSpace, 0, {1}, {}}), JobOutcome::Completed);
    EXPECT_EQ(host.LastStatus(), FinalText(path, "", " 中的数据完成!"));
    EXPECT_TRUE(host.messages.empty());
    ExpectWipedAndIntact();
}

TEST_F(NtfsFromMkntfs, AVolumeMountedReadWriteIsRefusedNamingTheMountPoint) {
    test::LoopDevice loop(path, kStart * 512, kSize * 512);
    test::FuseMount mount(loop.Path(), dir.File("rw"), false);
    test::FaultInjection faults;
    EXPECT_EQ(RunJob(engine, {JobKind::FreeSpace, 0, {1}, {}}), JobOutcome::Failed);
    EXPECT_EQ(faults.Plan().writes, 0);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_NE(host.messages[0].find(mount.Point()), std::string::npos) << host.messages[0];
    EXPECT_EQ(host.LastStatus(), FinalText(path, mount.Point(), " 中的数据发生意外错误!"));
}

TEST_F(NtfsFromMkntfs, AVolumeMountedReadOnlyIsWipedUnderItsMountPoint) {
    {
        test::LoopDevice loop(path, kStart * 512, kSize * 512);
        test::FuseMount mount(loop.Path(), dir.File("ro"), true);
        EXPECT_EQ(RunJob(engine, {JobKind::FreeSpace, 0, {1}, {}}), JobOutcome::Completed);
        EXPECT_EQ(host.statuses.front(),
                  "正在清除硬盘 " + path + " 中的分区 " + mount.Point() + " 上的残留数据...");
        EXPECT_EQ(host.LastStatus(), FinalText(path, mount.Point(), " 中的数据完成!"));
    }
    ExpectWipedAndIntact();
}

TEST_F(NtfsFromMkntfs, TheWholeDiskIsRefusedWhileAPartitionOfItIsMountedEvenReadOnly) {
    test::LoopDevice loop(path, kStart * 512, kSize * 512);
    for (const bool readOnly : {false, true}) {
        SCOPED_TRACE(readOnly ? "read-only" : "read-write");
        test::FuseMount mount(loop.Path(), dir.File(readOnly ? "ro" : "rw"), readOnly);
        host.messages.clear();
        test::FaultInjection faults;
        EXPECT_EQ(RunJob(engine, {JobKind::WholeDisk, 0, {}, {}}), JobOutcome::Failed);
        EXPECT_EQ(faults.Plan().writes, 0);
        ASSERT_EQ(host.messages.size(), 1u);
        EXPECT_NE(host.messages[0].find(mount.Point()), std::string::npos) << host.messages[0];
        EXPECT_EQ(host.LastStatus(), "清除磁盘 " + path + " 中的数据发生意外错误!");
    }
}

} // namespace
} // namespace kelvane
