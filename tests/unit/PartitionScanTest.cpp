#include "DiskImage.h"
#include "FaultyDevice.h"
#include "device/PhysicalDrive.h"

#include <chrono>
#include <cstdlib>
#include <future>
#include <gtest/gtest.h>

namespace kelvane {
namespace {

using test::FaultInjection;
using test::RecordingSink;
using test::Sector;
using test::SparseImage;
using test::TableEntry;
using test::TempDir;

constexpr std::uint64_t kImageBytes = 64ull << 20; // 131072 sectors

Sector SignedEmpty() {
    Sector s{};
    s[510] = 0x55;
    s[511] = 0xAA;
    return s;
}

test::NtfsBoot Ntfs(std::uint64_t serial, std::uint64_t totalSectors = 9999) {
    test::NtfsBoot n;
    n.serial = serial;
    n.totalSectors = totalSectors;
    return n;
}

struct Expected {
    std::uint64_t start;
    std::uint64_t count;
    std::string type;
};

// Opens images with one drive object; the scan's result is what the object lists.
class PartitionScan : public ::testing::Test {
  protected:
    SparseImage& NewImage(const std::string& name, std::uint64_t bytes = kImageBytes) {
        images.push_back(std::make_unique<SparseImage>(dir.File(name), bytes));
        return *images.back();
    }
    void OpenAll() {
        std::vector<std::string> paths;
        for (const auto& image : images)
            paths.push_back(image->Path());
        SetDriveTable(paths);
    }
    // Opens drive `index` within a time limit: a scan that follows a loop would never return.
    void OpenWithin(std::uint16_t index, std::chrono::seconds limit = std::chrono::seconds(10)) {
        auto done = std::async(std::launch::async, [&] { return drive.Open(index); });
        if (done.wait_for(limit) != std::future_status::ready) {
            ADD_FAILURE() << "opening drive " << index << " did not end within " << limit.count() << " s";
            std::_Exit(1);
        }
        ASSERT_EQ(done.get(), 1);
    }
    void ExpectNodes(const std::vector<Expected>& expected) {
        const auto list = drive.GetPartitionList();
        ASSERT_EQ(list.size(), expected.size());
        EXPECT_EQ(drive.GetPartitionCount(), static_cast<int>(expected.size()));
        for (std::size_t i = 0; i < expected.size(); ++i) {
            SCOPED_TRACE("node " + std::to_string(i + 1));
            EXPECT_EQ(list[i].number, static_cast<int>(i + 1));
            EXPECT_EQ(list[i].startSector, expected[i].start);
            EXPECT_EQ(list[i].sectorCount, expected[i].count);
            EXPECT_EQ(list[i].typeName, expected[i].type);
        }
    }

    TempDir dir;
    std::vector<std::unique_ptr<SparseImage>> images;
    RecordingSink sink;
    CPhysicalDrive drive{sink};
};

TEST_F(PartitionScan, PrimaryFat32AndTwoLogicalNtfsComeOutInTableOrderWithAbsoluteStarts) {
    auto& image = NewImage("disk.img");
    image.WriteSector(0, test::PartitionTable({{0x0C, 2048, 8192, 0x80}, {0x0F, 16384, 40960}}));
    // The first logical counts from its own table; the link to the next table from the extended start.
    image.WriteSector(16384, test::PartitionTable({{0x07, 63, 10000}, {0x05, 20480, 20480}}));
    image.WriteSector(36864, test::PartitionTable({{0x07, 2048, 8000}}));
    test::FatBoot fat;
    fat.totalSectors = 8192;
    fat.sectorsPerFat = 63;
    fat.serial = 0x1234ABCD;
    image.WriteSector(2048, test::Fat32BootSector(fat));
    test::NtfsBoot first = Ntfs(0x1122334455667788);
    first.mftCluster = 0x10000;
    first.mftMirrorCluster = 3;
    first.clustersPerIndexBuffer = 2;
    image.WriteSector(16447, test::NtfsBootSector(first));
    image.WriteSector(38912, test::NtfsBootSector(Ntfs(0xAABBCCDD00112233, 8000)));
    OpenAll();
    OpenWithin(0);

    ExpectNodes({{2048, 8192, "FAT32"}, {16447, 10000, "NTFS"}, {38912, 8000, "NTFS"}});
    const auto list = drive.GetPartitionList();
    EXPECT_EQ(list[0].bootable, "Yes");
    EXPECT_EQ(list[1].bootable, "No");
    EXPECT_EQ(list[0].volumeSerial, 0x1234ABCDu);
    EXPECT_EQ(list[1].volumeSerial, 0x55667788u);
    EXPECT_EQ(list[2].volumeSerial, 0x00112233u);

    const auto* fp = std::get_if<FatParams>(&list[0].fsParams);
    ASSERT_NE(fp, nullptr);
    EXPECT_EQ(fp->sectorsPerCluster, 8u);
    EXPECT_EQ(fp->reservedSectors, 32u);
    EXPECT_EQ(fp->sectorsPerFat, 63u);
    EXPECT_EQ(fp->totalSectors, 8192u);

    const auto* np = std::get_if<NtfsParams>(&list[1].fsParams);
    ASSERT_NE(np, nullptr);
    EXPECT_EQ(np->partitionStart, 16447u);
    EXPECT_EQ(np->sectorsPerCluster, 8u);
    EXPECT_EQ(np->mftStart, 0x10000u * 8);
    EXPECT_EQ(np->mftMirrorStart, 3u * 8);
    EXPECT_EQ(np->indexBlockSectors, 2u * 8);
    EXPECT_EQ(np->bytesPerSector, 512u);
    EXPECT_EQ(np->totalSectors, 9999u);

    EXPECT_EQ(drive.FindPartition(3), &list[2]);
    EXPECT_EQ(drive.FindPartition(4), nullptr);
    EXPECT_EQ(drive.FindPartition(0), nullptr);
    EXPECT_EQ(drive.DeviceInfoRead(), 1);
    EXPECT_TRUE(sink.messages.empty());
}

// Three logical partitions: only the third table tells a link resolved against the extended base from
// one resolved against the table it stands in (or a base that a link has moved).
class ExtendedChain : public PartitionScan,
                      public ::testing::WithParamInterface<std::pair<std::uint8_t, std::uint8_t>> {};

TEST_P(ExtendedChain, FindsEveryLogicalPartitionAtItsTrueStart) {
    const auto [extendedType, linkType] = GetParam();
    auto& image = NewImage("disk.img");
    image.WriteSector(0, test::PartitionTable({{0x0C, 2048, 8192}, {extendedType, 16384, 65536}}));
    image.WriteSector(16384, test::PartitionTable({{0x07, 63, 10000}, {linkType, 20480, 20480}}));
    image.WriteSector(36864, test::PartitionTable({{0x07, 63, 8000}, {linkType, 40960, 8192}}));
    image.WriteSector(57344, test::PartitionTable({{0x83, 63, 4000}}));
    image.WriteSector(2048, test::Fat32BootSector({}));
    image.WriteSector(16447, test::NtfsBootSector(Ntfs(1)));
    image.WriteSector(36927, test::NtfsBootSector(Ntfs(2)));
    image.WriteSector(57407, SignedEmpty());
    OpenAll();
    OpenWithin(0);
    ExpectNodes(
        {{2048, 8192, "FAT32"}, {16447, 10000, "NTFS"}, {36927, 8000, "NTFS"}, {57407, 4000, "Unknown"}});
}

INSTANTIATE_TEST_SUITE_P(ExtendedAndLinkTypes, ExtendedChain,
                         ::testing::Values(std::pair<std::uint8_t, std::uint8_t>{0x05, 0x05},
                                           std::pair<std::uint8_t, std::uint8_t>{0x0F, 0x0F},
                                           std::pair<std::uint8_t, std::uint8_t>{0x05, 0x0F},
                                           std::pair<std::uint8_t, std::uint8_t>{0x0F, 0x05}));

TEST_F(PartitionScan, ExtendedEntryBeforeThePrimariesNumbersItsLogicalsFirst) {
    auto& image = NewImage("disk.img");
    image.WriteSector(0, test::PartitionTable({{0x0F, 16384, 40960}, {0x0C, 2048, 8192}}));
    image.WriteSector(16384, test::PartitionTable({{0x07, 63, 10000}, {0x05, 20480, 20480}}));
    image.WriteSector(36864, test::PartitionTable({{0x07, 63, 8000}}));
    image.WriteSector(2048, test::Fat32BootSector({}));
    image.WriteSector(16447, test::NtfsBootSector(Ntfs(1)));
    image.WriteSector(36927, test::NtfsBootSector(Ntfs(2)));
    OpenAll();
    OpenWithin(0);
    ExpectNodes({{16447, 10000, "NTFS"}, {36927, 8000, "NTFS"}, {2048, 8192, "FAT32"}});
}

TEST_F(PartitionScan, ASecondDriveDoesNotInheritTheFirstDrivesExtendedBase) {
    auto& first = NewImage("first.img");
    first.WriteSector(0, test::PartitionTable({{0x0F, 40000, 20000}}));
    first.WriteSector(40000, test::PartitionTable({{0x83, 63, 1000}}));
    auto& second = NewImage("second.img");
    second.WriteSector(0, test::PartitionTable({{0x05, 16384, 65536}}));
    second.WriteSector(16384, test::PartitionTable({{0x83, 63, 1000}, {0x05, 20480, 4096}}));
    second.WriteSector(36864, test::PartitionTable({{0x83, 63, 1000}, {0x05, 40960, 4096}}));
    second.WriteSector(57344, test::PartitionTable({{0x83, 63, 1000}}));
    OpenAll();
    OpenWithin(0);
    ExpectNodes({{40063, 1000, " "}});
    drive.Close();
    OpenWithin(1);
    ExpectNodes({{16447, 1000, " "}, {36927, 1000, " "}, {57407, 1000, " "}});
}

TEST_F(PartitionScan, ChainsThatLeadBackEndAtOnceKeepingWhatWasFound) {
    // A link to its own table, a link back to the first table, and an extended entry naming the master.
    auto& self = NewImage("self.img");
    self.WriteSector(0, test::PartitionTable({{0x0F, 16384, 40960}, {0x0C, 2048, 8192}}));
    self.WriteSector(16384, test::PartitionTable({{0x83, 63, 1000}, {0x05, 0, 40960}}));
    auto& back = NewImage("back.img");
    back.WriteSector(0, test::PartitionTable({{0x05, 16384, 40960}, {0x0C, 2048, 8192}}));
    back.WriteSector(16384, test::PartitionTable({{0x83, 63, 1000}, {0x05, 20480, 4096}}));
    back.WriteSector(36864, test::PartitionTable({{0x83, 63, 1000}, {0x0F, 0, 40960}}));
    auto& master = NewImage("master.img");
    master.WriteSector(0, test::PartitionTable({{0x0F, 0, 40960}, {0x0C, 2048, 8192}}));
    for (auto* image : {&self, &back, &master})
        image->WriteSector(2048, test::Fat32BootSector({}));
    OpenAll();

    const auto started = std::chrono::steady_clock::now();
    OpenWithin(0);
    ExpectNodes({{16447, 1000, " "}, {2048, 8192, "FAT32"}});
    drive.Close();
    OpenWithin(1);
    ExpectNodes({{16447, 1000, " "}, {36927, 1000, " "}, {2048, 8192, "FAT32"}});
    drive.Close();
    OpenWithin(2);
    ExpectNodes({{2048, 8192, "FAT32"}});
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
}

TEST_F(PartitionScan, AVeryLongChainIsCutAndTheMasterTableStillFinished) {
    constexpr std::uint32_t kTables = 1000;
    constexpr std::uint32_t kBase = 4096;
    auto& image = NewImage("long.img");
    image.WriteSector(0, test::PartitionTable({{0x0F, kBase, kTables * 8}, {0x0C, 2048, 2048}}));
    image.WriteSector(2048, test::Fat32BootSector({}));
    for (std::uint32_t i = 0; i < kTables; ++i)
        image.WriteSector(kBase + 8 * i, test::PartitionTable({{0x83, 1, 7}, {0x05, 8 * (i + 1), 8}}));
    OpenAll();
    OpenWithin(0);
    const auto list = drive.GetPartitionList();
    ASSERT_GE(list.size(), 2u);
    EXPECT_LT(list.size(), kTables);
    for (std::size_t i = 0; i + 1 < list.size(); ++i) {
        EXPECT_EQ(list[i].number, static_cast<int>(i + 1));
        EXPECT_EQ(list[i].startSector, kBase + 8 * i + 1);
    }
    EXPECT_EQ(list.back().startSector, 2048u);
    EXPECT_EQ(list.back().typeName, "FAT32");
}

TEST_F(PartitionScan, EmptyEntriesAreSkippedWhateverTheirOtherFields) {
    auto& image = NewImage("disk.img");
    image.WriteSector(
        0, test::PartitionTable({{0x00, 2048, 100, 0x80}, {0x0C, 4096, 1000}, {0x00, 8192, 5, 0x80}}));
    image.WriteSector(2048, test::Fat32BootSector({}));
    image.WriteSector(4096, test::Fat32BootSector({}));
    OpenAll();
    OpenWithin(0);
    ExpectNodes({{4096, 1000, "FAT32"}});
}

TEST_F(PartitionScan, StartsUpToTotalSectorsPlusOneCountAndLaterOnesDoNot) {
    auto& image = NewImage("small.img", 4 << 20);
    const auto total = static_cast<std::uint32_t>(image.Sectors());
    image.WriteSector(
        0, test::PartitionTable(
               {{0x83, total - 1, 1}, {0x83, total, 10}, {0x83, total + 1, 10}, {0x83, total + 2, 10}}));
    image.WriteSector(total - 1, SignedEmpty());
    OpenAll();
    OpenWithin(0);
    // The two past the end cannot be read: they stay, without a file system.
    ExpectNodes({{total - 1, 1, "Unknown"}, {total, 10, " "}, {total + 1u, 10, " "}});
}

TEST_F(PartitionScan, BootIndicatorTexts) {
    auto& image = NewImage("disk.img");
    image.WriteSector(
        0, test::PartitionTable({{0x83, 2048, 10, 0x80}, {0x83, 4096, 10, 0x00}, {0x83, 6144, 10, 0x01}}));
    OpenAll();
    OpenWithin(0);
    const auto list = drive.GetPartitionList();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].bootable, "Yes");
    EXPECT_EQ(list[1].bootable, "No");
    EXPECT_EQ(list[2].bootable, "Error");
}

TEST_F(PartitionScan, TypeTextDependsOnTheBootSector) {
    auto& image = NewImage("disk.img");
    image.WriteSector(0, test::PartitionTable(
                             {{0x83, 2048, 100}, {0x83, 4096, 100}, {0xFF, 6144, 100}, {0x07, 8192, 100}}));
    image.WriteSector(2048, SignedEmpty());
    image.WriteSector(6144, SignedEmpty());
    OpenAll(); // 4096 and the NTFS partition at 8192 are all zeros, as after a wipe
    OpenWithin(0);
    ExpectNodes({{2048, 100, "Unknown"}, {4096, 100, " "}, {6144, 100, "Unknown"}, {8192, 100, " "}});
    for (const auto& node : drive.GetPartitionList()) {
        EXPECT_TRUE(std::holds_alternative<std::monostate>(node.fsParams));
        EXPECT_EQ(node.volumeSerial, 0u);
    }
}

TEST_F(PartitionScan, NtfsLbaAndAForeignOemNameAreNotReadAsNtfs) {
    auto& image = NewImage("disk.img");
    image.WriteSector(0, test::PartitionTable({{0x0D, 2048, 100}, {0x07, 4096, 100}}));
    image.WriteSector(2048, test::NtfsBootSector(Ntfs(0x77777777)));
    test::NtfsBoot foreign = Ntfs(0x88888888);
    foreign.oemName = false;
    image.WriteSector(4096, test::NtfsBootSector(foreign));
    OpenAll();
    OpenWithin(0);
    ExpectNodes({{2048, 100, "NTFS LBA"}, {4096, 100, " "}});
    for (const auto& node : drive.GetPartitionList()) {
        EXPECT_TRUE(std::holds_alternative<std::monostate>(node.fsParams));
        EXPECT_EQ(node.volumeSerial, 0u);
    }
}

TEST_F(PartitionScan, Fat16TakesItsParamsAndSerialFromTheFat32Positions) {
    auto& image = NewImage("disk.img");
    image.WriteSector(0, test::PartitionTable({{0x06, 2048, 40000}}));
    test::FatBoot fat;
    fat.sectorsPerCluster = 4;
    fat.reservedSectors = 4;
    fat.totalSectors = 40000;
    fat.sectorsPerFat = 40;
    fat.serial = 0xCAFEBABE;
    const Sector boot = test::Fat16BootSector(fat);
    image.WriteSector(2048, boot);
    OpenAll();
    OpenWithin(0);
    ExpectNodes({{2048, 40000, "FAT16 Huge"}});
    const auto& node = drive.GetPartitionList()[0];
    EXPECT_EQ(node.volumeSerial, test::GetLe(boot, 0x43, 4));
    EXPECT_NE(node.volumeSerial, 0xCAFEBABEu);
    const auto* fp = std::get_if<FatParams>(&node.fsParams);
    ASSERT_NE(fp, nullptr);
    EXPECT_EQ(fp->sectorsPerCluster, 4u);
    EXPECT_EQ(fp->reservedSectors, 4u);
    EXPECT_EQ(fp->totalSectors, 40000u);
    EXPECT_EQ(fp->sectorsPerFat, test::GetLe(boot, 0x24, 4));
}

struct ClusterCase {
    std::uint8_t sectorsPerClusterByte;
    std::uint8_t clustersPerFileRecord;
    std::uint32_t sectorsPerCluster; // 0: the partition is refused
};

class NtfsGeometry : public PartitionScan, public ::testing::WithParamInterface<ClusterCase> {};

TEST_P(NtfsGeometry, ClusterSizeIsDecodedAndOnlyKilobyteRecordsAreAccepted) {
    const ClusterCase c = GetParam();
    auto& image = NewImage("disk.img");
    image.WriteSector(0, test::PartitionTable({{0x07, 2048, 100000}}));
    test::NtfsBoot n = Ntfs(0xDEADBEEF);
    n.sectorsPerClusterByte = c.sectorsPerClusterByte;
    n.clustersPerFileRecord = c.clustersPerFileRecord;
    n.mftCluster = 5;
    n.mftMirrorCluster = 7;
    image.WriteSector(2048, test::NtfsBootSector(n));
    OpenAll();
    OpenWithin(0);
    const auto& node = drive.GetPartitionList()[0];
    if (c.sectorsPerCluster == 0) {
        EXPECT_EQ(node.typeName, " ");
        EXPECT_TRUE(std::holds_alternative<std::monostate>(node.fsParams));
        return;
    }
    EXPECT_EQ(node.typeName, "NTFS");
    const auto* np = std::get_if<NtfsParams>(&node.fsParams);
    ASSERT_NE(np, nullptr);
    EXPECT_EQ(np->sectorsPerCluster, c.sectorsPerCluster);
    EXPECT_EQ(np->mftStart, 5ull * c.sectorsPerCluster);
    EXPECT_EQ(np->mftMirrorStart, 7ull * c.sectorsPerCluster);
    EXPECT_EQ(node.volumeSerial, 0xDEADBEEFu);
}

INSTANTIATE_TEST_SUITE_P(Bytes, NtfsGeometry,
                         ::testing::Values(ClusterCase{0x08, 0xF6, 8}, ClusterCase{0x80, 0xF6, 128},
                                           ClusterCase{0xF8, 0xF6, 256}, ClusterCase{0xF4, 0xF6, 4096},
                                           ClusterCase{0x01, 0x02, 1}, // two one-sector clusters: 1024 bytes
                                           ClusterCase{0x02, 0x01, 2}, // one two-sector cluster: 1024 bytes
                                           ClusterCase{0x08, 0x01, 0}, // 4 KiB records
                                           ClusterCase{0x08, 0xF4, 0}, // 2^12 = 4 KiB records
                                           ClusterCase{0x08, 0xF7, 0}, // 512-byte records
                                           ClusterCase{0x03, 0xF6, 0}, // not a power of two
                                           ClusterCase{0x00, 0xF6, 0}));

TEST_F(PartitionScan, NtfsWithAZeroGeometryValueIsRefused) {
    auto& image = NewImage("disk.img");
    std::vector<TableEntry> entries;
    std::vector<test::NtfsBoot> boots(4, Ntfs(9));
    boots[0].mftCluster = 0;
    boots[1].mftMirrorCluster = 0;
    boots[2].bytesPerSector = 0;
    boots[3].totalSectors = 0;
    for (std::uint32_t i = 0; i < boots.size(); ++i) {
        entries.push_back({0x07, 2048 + 1024 * i, 1000});
        image.WriteSector(2048 + 1024 * i, test::NtfsBootSector(boots[i]));
    }
    image.WriteSector(0, test::PartitionTable(entries));
    OpenAll();
    OpenWithin(0);
    ExpectNodes({{2048, 1000, " "}, {3072, 1000, " "}, {4096, 1000, " "}, {5120, 1000, " "}});
}

TEST_F(PartitionScan, AMasterRecordWithoutSignatureGivesNoPartitions) {
    auto& image = NewImage("disk.img");
    image.WriteSector(0, test::PartitionTable({{0x0C, 2048, 8192}}, false));
    image.WriteSector(2048, test::Fat32BootSector({}));
    OpenAll();
    OpenWithin(0);
    EXPECT_EQ(drive.IsOpen(), 1);
    EXPECT_EQ(drive.DeviceInfoRead(), 0);
    EXPECT_EQ(drive.GetPartitionCount(), 0);
    EXPECT_TRUE(drive.GetPartitionList().empty());
}

TEST_F(PartitionScan, AnUnreadableExtendedTableIsPassedOverAndTheScanGoesOn) {
    FaultInjection faults;
    faults.Plan().badSector = 16384;
    auto& image = NewImage("disk.img");
    image.WriteSector(0, test::PartitionTable({{0x0F, 16384, 40960}, {0x0C, 2048, 8192}}));
    image.WriteSector(16384, test::PartitionTable({{0x07, 63, 10000}}));
    image.WriteSector(2048, test::Fat32BootSector({}));
    OpenAll();
    OpenWithin(0);
    ExpectNodes({{2048, 8192, "FAT32"}});
    EXPECT_EQ(sink.messages, std::vector<std::string>{image.Path() + ",在16384位置,重试5次无效!"});
    drive.Close();
}

} // namespace
} // namespace kelvane
