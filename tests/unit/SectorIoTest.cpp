#include "DiskImage.h"
#include "FaultyDevice.h"
#include "device/PhysicalDrive.h"

#include <cerrno>
#include <gtest/gtest.h>

namespace kelvane {
namespace {

using test::FaultInjection;
using test::RecordingSink;
using test::SparseImage;
using test::TempDir;

test::Sector Pattern(std::uint8_t seed) {
    test::Sector s{};
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<std::uint8_t>(seed + i * 13);
    return s;
}

// A blank 1 MiB image opened through a drive whose faults each test arranges after Open.
class SectorIo : public ::testing::Test {
  protected:
    void SetUp() override {
        SetDriveTable({image.Path()});
        ASSERT_EQ(drive.Open(0, Access::ReadWrite), 1);
        faults.Plan().ResetCounts();
        sink.messages.clear();
    }

    TempDir dir;
    SparseImage image{dir.File("disk.img"), 1 << 20};
    RecordingSink sink;
    FaultInjection faults;
    CPhysicalDrive drive{sink};
    std::array<std::uint8_t, 512> buffer{};
    std::uint32_t bytes = 0;
};

TEST_F(SectorIo, TwoFailedReadsThenSuccessReturnsOneWithoutMessage) {
    const auto pattern = Pattern(1);
    image.WriteSector(1234, pattern);
    faults.Plan().failReads = {1, 2};
    EXPECT_EQ(drive.ReadSectors(buffer.data(), 1234, 1, &bytes), 1);
    EXPECT_EQ(faults.Plan().reads, 3);
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_EQ(buffer, pattern);
}

TEST_F(SectorIo, ReadFailingSixTimesGivesUpNamingTheSectorAndTheNextCallRetriesAfresh) {
    faults.Plan().failReadsFrom = 1;
    EXPECT_EQ(drive.ReadSectors(buffer.data(), 1234, 1, &bytes), 0);
    EXPECT_EQ(faults.Plan().reads, 6);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0], image.Path() + ",在1234位置,重试5次无效!");

    // Five more failures fit in the next call's own retries.
    faults.Plan().failReadsFrom = 0;
    faults.Plan().failReads = {7, 8, 9, 10, 11};
    EXPECT_EQ(drive.ReadSectors(buffer.data(), 1234, 1, &bytes), 1);
    EXPECT_EQ(faults.Plan().reads, 12);
    EXPECT_EQ(sink.messages.size(), 1u);
}

TEST_F(SectorIo, AReadTouchingABadSectorFailsAndOneBesideItDoesNot) {
    faults.Plan().badSector = 1236;
    std::vector<std::uint8_t> run(8 * 512);
    EXPECT_EQ(drive.ReadSectors(run.data(), 1230, 8, &bytes), 0);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0], image.Path() + ",在1230位置,重试5次无效!");
    EXPECT_EQ(drive.ReadSectors(run.data(), 1237, 8, &bytes), 1);
    EXPECT_EQ(drive.ReadSectors(run.data(), 1228, 8, &bytes), 1);
}

TEST_F(SectorIo, TwoFailedWritesThenSuccessReturnsOneWithoutMessage) {
    const auto pattern = Pattern(2);
    faults.Plan().failWrites = {1, 2};
    EXPECT_EQ(drive.WriteSectors(pattern.data(), 1234, 1, &bytes), 1);
    EXPECT_EQ(faults.Plan().writes, 3);
    EXPECT_TRUE(sink.messages.empty());
    const auto onDisk = image.Read(1234 * 512, 512);
    EXPECT_TRUE(std::equal(onDisk.begin(), onDisk.end(), pattern.begin()));
}

TEST_F(SectorIo, WriteFailingSixTimesGivesUpNamingTheSectorAndLeavesTheImageAlone) {
    const auto pattern = Pattern(3);
    faults.Plan().failWritesFrom = 1;
    EXPECT_EQ(drive.WriteSectors(pattern.data(), 1234, 1, &bytes), 0);
    EXPECT_EQ(faults.Plan().writes, 6);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0], image.Path() + ",在1234,重试5次无效!");
    EXPECT_EQ(image.Read(1234 * 512, 512), test::Bytes(512, 0));

    faults.Plan().failWritesFrom = 0;
    faults.Plan().failWrites = {7, 8, 9, 10, 11};
    EXPECT_EQ(drive.WriteSectors(pattern.data(), 1234, 1, &bytes), 1);
    EXPECT_EQ(faults.Plan().writes, 12);
}

TEST_F(SectorIo, FullDeviceReturnsTwoWithThePathAloneAndIsNotRetried) {
    faults.Plan().fullFromWrite = 1;
    const auto pattern = Pattern(4);
    EXPECT_EQ(drive.WriteSectors(pattern.data(), 100, 1, &bytes), 2);
    EXPECT_EQ(faults.Plan().writes, 1);
    EXPECT_EQ(sink.messages, std::vector<std::string>{image.Path()});
}

TEST_F(SectorIo, RetriedWriteThatMeetsAFullDeviceReturnsTwoNotOne) {
    faults.Plan().failWrites = {1};
    faults.Plan().fullFromWrite = 2;
    const auto pattern = Pattern(5);
    EXPECT_EQ(drive.WriteSectors(pattern.data(), 100, 1, &bytes), 2);
    EXPECT_EQ(faults.Plan().writes, 2);
    EXPECT_EQ(sink.messages, std::vector<std::string>{image.Path()});
}

TEST_F(SectorIo, WritePastTheImageEndIsADiskFullAndDoesNotGrowTheFile) {
    std::vector<std::uint8_t> run(2 * 512, 0xAB);
    const std::uint64_t last = image.Sectors() - 1;
    EXPECT_EQ(drive.WriteSectors(run.data(), last, 2, &bytes), 2);
    EXPECT_EQ(faults.Plan().writes, 1);
    EXPECT_EQ(std::filesystem::file_size(image.Path()), image.SizeBytes());
    EXPECT_EQ(image.Read(last * 512, 512), test::Bytes(512, 0));
}

TEST_F(SectorIo, FailedFlushIsReportedAndAGoodOneIsNot) {
    EXPECT_EQ(drive.Flush(), 1);
    EXPECT_TRUE(sink.messages.empty());
    faults.Plan().failFlush = true;
    EXPECT_EQ(drive.Flush(), 0);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_NE(sink.messages[0].find(image.Path()), std::string::npos);
}

// System calls that move at most 100 bytes and are interrupted once before they do anything.
int g_calls = 0;
ssize_t ShortPread(int fd, void* buffer, size_t bytes, off_t offset) {
    if (++g_calls == 1) {
        errno = EINTR;
        return -1;
    }
    return ::pread(fd, buffer, std::min<size_t>(bytes, 100), offset);
}
ssize_t ShortPwrite(int fd, const void* buffer, size_t bytes, off_t offset) {
    if (++g_calls == 1) {
        errno = EINTR;
        return -1;
    }
    return ::pwrite(fd, buffer, std::min<size_t>(bytes, 100), offset);
}
ssize_t EndedPread(int, void*, size_t, off_t) {
    return 0;
}
ssize_t StuckPwrite(int, const void*, size_t, off_t) {
    return 0;
}

struct RawIoHook {
    RawIoHook(PreadFunction r, PwriteFunction w) {
        g_calls = 0;
        SetRawIoFunctions(r, w);
    }
    ~RawIoHook() { SetRawIoFunctions(nullptr, nullptr); }
};

TEST_F(SectorIo, ShortAndInterruptedTransfersAreContinuedToTheWholeRun) {
    std::vector<std::uint8_t> run(8 * 512);
    for (std::size_t i = 0; i < run.size(); ++i)
        run[i] = static_cast<std::uint8_t>(i * 7 + 1);
    {
        RawIoHook hook(nullptr, ShortPwrite);
        EXPECT_EQ(drive.WriteSectors(run.data(), 300, 8, &bytes), 1);
        EXPECT_EQ(faults.Plan().writes, 1); // one attempt, continued inside
        EXPECT_GE(g_calls, 1 + 4096 / 100);
    }
    EXPECT_EQ(image.Read(300 * 512, run.size()), run);
    std::vector<std::uint8_t> back(run.size());
    {
        RawIoHook hook(ShortPread, nullptr);
        EXPECT_EQ(drive.ReadSectors(back.data(), 300, 8, &bytes), 1);
        EXPECT_EQ(faults.Plan().reads, 1);
    }
    EXPECT_EQ(back, run);
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(SectorIo, ATransferThatStopsMovingIsAFailureNotASuccess) {
    std::vector<std::uint8_t> run(2 * 512, 0x5A);
    RawIoHook hook(EndedPread, StuckPwrite);
    EXPECT_EQ(drive.ReadSectors(run.data(), 10, 2, &bytes), 0);
    EXPECT_EQ(drive.WriteSectors(run.data(), 10, 2, &bytes), 2); // a device that takes no more bytes is full
    EXPECT_EQ(sink.messages,
              (std::vector<std::string>{image.Path() + ",在10位置,重试5次无效!", image.Path()}));
}

TEST(DriveState, TransfersOnAClosedDeviceSayItIsNotOpen) {
    RecordingSink sink;
    CPhysicalDrive drive(sink);
    std::array<std::uint8_t, 512> buffer{};
    std::uint32_t bytes = 0;
    std::uint64_t position = 0;
    EXPECT_EQ(drive.ReadSectors(buffer.data(), 0, 1, &bytes), 0);
    EXPECT_EQ(drive.ReadSectorsRetry(buffer.data(), 0, 1, &position, &bytes), 0);
    EXPECT_EQ(drive.WriteSectors(buffer.data(), 0, 1, &bytes), 0);
    EXPECT_EQ(sink.messages, (std::vector<std::string>{"设备没有打开!", "设备没有打开!", "设备没有打开!"}));
    EXPECT_EQ(drive.Seek(10), 0);
    EXPECT_EQ(drive.Close(), 0);
    EXPECT_EQ(drive.GetIndex(), 0xFFFF);
}

TEST(DriveState, OpenOnAnOpenDeviceKeepsTheFirstDrive) {
    TempDir dir;
    SparseImage first(dir.File("first.img"), 4 << 20);
    SparseImage second(dir.File("second.img"), 2 << 20);
    first.WriteSector(0, test::PartitionTable({{0x83, 2048, 1024}}));
    SetDriveTable({first.Path(), second.Path()});
    RecordingSink sink;
    CPhysicalDrive drive(sink);
    ASSERT_EQ(drive.Open(0), 1);
    EXPECT_EQ(drive.Open(1), 1);
    EXPECT_EQ(drive.GetIndex(), 0);
    EXPECT_EQ(drive.GetDevicePath(), first.Path());
    EXPECT_EQ(drive.GetTotalSectors(), first.Sectors());
    EXPECT_EQ(drive.GetPartitionCount(), 1);

    EXPECT_EQ(drive.Close(), 1);
    EXPECT_EQ(drive.Close(), 0);
    EXPECT_EQ(drive.GetPartitionCount(), 0);
    EXPECT_TRUE(drive.GetPartitionList().empty());
    ASSERT_EQ(drive.Open(1), 1);
    EXPECT_EQ(drive.GetDevicePath(), second.Path());
    EXPECT_EQ(drive.GetPartitionCount(), 0);
}

TEST(DriveState, AnImageIsNamedByItsPathHasNoBusAndItsExactSize) {
    TempDir dir;
    SparseImage odd(dir.File("odd.img"), 1'000'001); // no multiple of a sector, track or cylinder
    SetDriveTable({odd.Path()});
    RecordingSink sink;
    CPhysicalDrive drive(sink);
    ASSERT_EQ(drive.Open(0), 1);
    EXPECT_EQ(drive.GetTotalBytes(), 1'000'001u);
    EXPECT_EQ(drive.GetTotalSectors(), 1'000'001u / 512);
    EXPECT_EQ(drive.GetBusTypeName(), "Unkown");
    EXPECT_EQ(drive.GetDisplayName(), odd.Path());
    // A blank image has no partition table: it opens, with nothing read from it.
    EXPECT_EQ(drive.DeviceInfoRead(), 0);
    EXPECT_TRUE(sink.messages.empty());
}

TEST(DriveState, NumbersPastTheTableAndMissingFilesDoNotOpen) {
    TempDir dir;
    SetDriveTable({dir.File("missing.img")});
    RecordingSink sink;
    CPhysicalDrive drive(sink);
    EXPECT_EQ(drive.Open(0), 0);
    EXPECT_EQ(drive.LastOpenError(), ENOENT);
    EXPECT_EQ(drive.IsOpen(), 0);
    EXPECT_EQ(drive.Open(1), 0);
    EXPECT_EQ(drive.LastOpenError(), ENXIO);
    EXPECT_EQ(drive.Close(), 0);
    EXPECT_TRUE(sink.messages.empty());
}

} // namespace
} // namespace kelvane
