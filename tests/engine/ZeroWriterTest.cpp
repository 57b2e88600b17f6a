#include "device/ZeroWriter.h"

#include "DiskImage.h"
#include "EngineHarness.h"
#include "FaultyDevice.h"
#include "device/PhysicalDrive.h"

#include <gtest/gtest.h>

namespace kelvane {
namespace {

// A patterned image of 20,000 sectors opened for writing, every write logged.
class ZeroWriterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::WriteWholeFile(path, test::PatternBytes(0, kSectors));
        SetDriveTable({path});
        ASSERT_EQ(drive.Open(0, Access::ReadWrite), 1);
    }
    // The sectors that are zero now, as [first, end) runs.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ZeroRuns() const {
        const auto bytes = test::ReadWholeFile(path);
        std::vector<std::pair<std::uint64_t, std::uint64_t>> runs;
        for (std::uint64_t s = 0; s < kSectors; ++s) {
            if (!test::AllZero(bytes, s * 512, 512))
                continue;
            if (!runs.empty() && runs.back().second == s)
                ++runs.back().second;
            else
                runs.emplace_back(s, s + 1);
        }
        return runs;
    }

    static constexpr std::uint64_t kSectors = 20000;
    test::TempDir dir;
    std::string path = dir.File("disk.img");
    test::WriteLog log;
    test::RecordingSink sink;
    CPhysicalDrive drive{sink};
};

TEST_F(ZeroWriterTest, MergesAdjacentUnitsIntoAlignedRunsAndZeroesExactlyWhatWasAskedFor) {
    ZeroWriter writer(drive, 100, 19000);
    // 300 clusters of 4 sectors from an unaligned start, a gap, then 36-sector chunks up to the fence.
    for (std::uint64_t c = 0; c < 300; ++c)
        ASSERT_TRUE(writer.Zero(101 + 4 * c, 4));
    for (std::uint64_t s = 5000; s + 36 <= 19000; s += 36)
        ASSERT_TRUE(writer.Zero(s, 36));
    const std::uint64_t lastEnd = 5000 + (19000 - 5000) / 36 * 36;
    ASSERT_TRUE(writer.Finish());

    EXPECT_EQ(ZeroRuns(),
              (std::vector<std::pair<std::uint64_t, std::uint64_t>>{{101, 1301}, {5000, lastEnd}}));
    EXPECT_EQ(writer.SectorsWritten(), 1200 + (lastEnd - 5000));
    const auto& writes = log.Log().writes;
    // Head up to the 4 KiB boundary, then whole runs: a handful of writes, not one per unit.
    EXPECT_LE(writes.size(), 8u);
    for (std::size_t i = 0; i < writes.size(); ++i) {
        const auto& w = writes[i];
        EXPECT_LE(w.bytes, ZeroWriter::kMaxRunSectors * 512);
        const bool runHead = w.byteOffset == 101 * 512 || w.byteOffset == 5000 * 512;
        const bool runTail = i + 1 == writes.size() || writes[i + 1].byteOffset != w.byteOffset + w.bytes;
        if (!runHead) {
            EXPECT_EQ(w.byteOffset % 4096, 0u) << "write " << i;
        }
        if (!runTail) {
            EXPECT_EQ((w.byteOffset + w.bytes) % 4096, 0u) << "write " << i;
        }
    }
}

TEST_F(ZeroWriterTest, ARunOutsideTheFenceIsRefusedAndNothingIsWrittenAfterIt) {
    ZeroWriter writer(drive, 1000, 2000);
    ASSERT_TRUE(writer.Zero(1000, 8));
    EXPECT_FALSE(writer.Zero(1996, 8)); // passes the end by four sectors
    EXPECT_FALSE(writer.Zero(1100, 8)); // inside, but the writer has stopped
    EXPECT_FALSE(writer.Finish());
    EXPECT_TRUE(log.Log().writes.empty());
    EXPECT_TRUE(ZeroRuns().empty());
    EXPECT_EQ(sink.messages.size(), 1u);

    ZeroWriter before(drive, 1000, 2000);
    EXPECT_FALSE(before.Zero(999, 1));
    EXPECT_FALSE(before.Finish());
    EXPECT_TRUE(log.Log().writes.empty());
}

TEST_F(ZeroWriterTest, AFailedWriteStopsEveryLaterWrite) {
    ZeroWriter writer(drive, 0, kSectors);
    log.Log().failFromWrite = 1;
    ASSERT_TRUE(writer.Zero(0, 100));
    EXPECT_FALSE(writer.Zero(200, 8)); // not adjacent: the queued run goes out and fails
    const std::size_t attempts = log.Log().writes.size();
    EXPECT_EQ(attempts, 6u); // the first try and five retries
    log.Log().failFromWrite = 0;
    EXPECT_FALSE(writer.Zero(300, 8));
    EXPECT_FALSE(writer.Finish());
    EXPECT_EQ(log.Log().writes.size(), attempts);
    EXPECT_TRUE(ZeroRuns().empty());
}

} // namespace
} // namespace kelvane
