#include "DiskImage.h"
#include "EngineHarness.h"
#include "FaultyDevice.h"
#include "platform/DriveTable.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>

namespace kelvane {
namespace {

using test::RecordingHost;
using test::RunJob;

// A disk image filled with a pattern that has no zero byte, entered as drive 0.
class WholeDisk : public ::testing::Test {
  protected:
    void MakeDisk(std::uint64_t sectors) {
        path = dir.File("disk.img");
        test::WriteWholeFile(path, test::PatternBytes(0, sectors));
        SetDriveTable({path});
        host.engine = &engine;
    }
    JobOutcome Wipe() { return RunJob(engine, {JobKind::WholeDisk, 0, {}, {}}); }
    std::string Working() const { return "正在清除硬盘 " + path + " 上的数据..."; }
    std::string Final(const char* ending) const { return "清除磁盘 " + path + ending; }
    // The first sector that is not zero, or the sector count when all are.
    std::uint64_t FirstNonZeroSector() const {
        const auto bytes = test::ReadWholeFile(path);
        for (std::uint64_t s = 0; s < bytes.size() / 512; ++s)
            if (!test::AllZero(bytes, s * 512, 512))
                return s;
        return bytes.size() / 512;
    }

    test::TempDir dir;
    std::string path;
    RecordingHost host;
    CEraseEngine engine{host};
};

TEST_F(WholeDisk, ZeroesEverySectorOfAnOddSizedDiskWithoutGrowingItAndReportsEvery900Sectors) {
    const std::uint64_t total = 36 * 100 + 17; // the last chunk is 17 sectors
    MakeDisk(total);
    EXPECT_EQ(Wipe(), JobOutcome::Completed);

    EXPECT_EQ(std::filesystem::file_size(path), total * 512);
    EXPECT_EQ(FirstNonZeroSector(), total);
    ASSERT_EQ(host.questions.size(), 1u);
    ASSERT_GE(host.statuses.size(), 3u);
    EXPECT_EQ(host.statuses.front(), Working());
    EXPECT_EQ(host.LastStatus(), Final(" 上的数据完成!"));
    // Counter texts only at chunk starts that are multiples of 100, that is 0, 900, 1800, ...
    std::vector<std::string> expected;
    for (std::uint64_t c = 0; c < total; c += 900)
        expected.push_back(Working() + "(" + std::to_string(c) + "/" + std::to_string(total) + " 扇区)");
    EXPECT_EQ(host.StatusesStartingWith(Working() + "("), expected);
    EXPECT_EQ(host.statuses.size(), expected.size() + 2);
    // 3600 / (3617 / 1000) passes the bar's end; the position stays within it.
    EXPECT_EQ(host.progress.back(), 1000);
    EXPECT_LE(*std::max_element(host.progress.begin(), host.progress.end()), 1000);
    EXPECT_EQ(host.resets, std::vector<JobKind>{JobKind::WholeDisk});
    EXPECT_EQ(host.ended, std::vector<JobKind>{JobKind::WholeDisk});
}

TEST_F(WholeDisk, ADiskUnderAThousandSectorsIsWipedWithoutDividingByZero) {
    MakeDisk(999);
    EXPECT_EQ(Wipe(), JobOutcome::Completed);
    EXPECT_EQ(FirstNonZeroSector(), 999u);
    EXPECT_EQ(host.progress, (std::vector<int>{0, 900}));
    EXPECT_EQ(host.LastStatus(), Final(" 上的数据完成!"));
}

TEST_F(WholeDisk, ADeclinedConfirmationWritesNothingAndLeavesTheStatusLineAlone) {
    MakeDisk(2000);
    host.answerYes = false;
    test::FaultInjection faults;
    EXPECT_EQ(Wipe(), JobOutcome::Declined);
    EXPECT_EQ(faults.Plan().writes, 0);
    EXPECT_TRUE(host.statuses.empty());
    EXPECT_EQ(FirstNonZeroSector(), 0u);
    EXPECT_EQ(host.ended.size(), 1u);
}

TEST_F(WholeDisk, AStopLandsAfterTheChunkInHand) {
    MakeDisk(4000);
    // The second counter text comes after the chunk at 900 is queued: 900..935 are its sectors.
    host.stopAtStatus = 3;
    EXPECT_EQ(Wipe(), JobOutcome::Stopped);
    EXPECT_EQ(FirstNonZeroSector(), 936u);
    const auto bytes = test::ReadWholeFile(path);
    EXPECT_EQ(test::Bytes(bytes.begin() + 936 * 512, bytes.end()), test::PatternBytes(936, 4000 - 936));
    EXPECT_EQ(host.LastStatus(), Final(" 上的数据被用户停止!"));
}

TEST_F(WholeDisk, AStopRequestMadeWhileIdleNeverStopsTheNextJob) {
    MakeDisk(2000);
    engine.RequestStop();
    EXPECT_EQ(engine.StopFlag(), kStopNone);
    EXPECT_EQ(Wipe(), JobOutcome::Completed);
    EXPECT_EQ(FirstNonZeroSector(), 2000u);

    // A stop that ended one job is not carried into the next.
    MakeDisk(2000);
    host.stopAtStatus = 2;
    EXPECT_EQ(Wipe(), JobOutcome::Stopped);
    host.stopAtStatus = 0;
    MakeDisk(2000);
    EXPECT_EQ(Wipe(), JobOutcome::Completed);
    EXPECT_EQ(FirstNonZeroSector(), 2000u);
}

TEST_F(WholeDisk, AFailingWriteEndsWithTheErrorTextAndNothingIsWrittenAfterTheRetries) {
    MakeDisk(20000);
    test::FaultInjection faults;
    faults.Plan().failWritesFrom = 1;
    EXPECT_EQ(Wipe(), JobOutcome::Failed);
    EXPECT_EQ(faults.Plan().writes, 1 + 5);
    EXPECT_EQ(faults.Plan().flushes, 0); // nothing is reported as on the disk
    EXPECT_EQ(FirstNonZeroSector(), 0u);
    EXPECT_EQ(host.LastStatus(), Final(" 中的数据发生意外错误!"));
    EXPECT_FALSE(host.messages.empty());
}

TEST_F(WholeDisk, AFullDeviceIsAFailureNotDone) {
    MakeDisk(20000);
    test::FaultInjection faults;
    faults.Plan().fullFromWrite = 2;
    EXPECT_EQ(Wipe(), JobOutcome::Failed);
    EXPECT_EQ(faults.Plan().writes, 2);
    EXPECT_EQ(host.LastStatus(), Final(" 中的数据发生意外错误!"));
}

TEST_F(WholeDisk, AFailingFlushIsAFailure) {
    MakeDisk(2000);
    test::FaultInjection faults;
    faults.Plan().failFlush = true;
    EXPECT_EQ(Wipe(), JobOutcome::Failed);
    EXPECT_EQ(faults.Plan().flushes, 1);
    EXPECT_EQ(host.LastStatus(), Final(" 中的数据发生意外错误!"));
}

TEST_F(WholeDisk, AnImageReplacedAfterTheTableWasBuiltIsRefused) {
    MakeDisk(2000);
    // Same path and size, another file: not the drive the user picked from the list.
    const std::string other = dir.File("other.img");
    test::WriteWholeFile(other, test::PatternBytes(7, 2000));
    ASSERT_EQ(std::rename(other.c_str(), path.c_str()), 0);
    EXPECT_EQ(Wipe(), JobOutcome::Failed);
    EXPECT_EQ(test::ReadWholeFile(path), test::PatternBytes(7, 2000));
    EXPECT_EQ(host.messages.size(), 1u);
    EXPECT_TRUE(host.questions.empty());
    EXPECT_EQ(host.LastStatus(), Final(" 中的数据发生意外错误!"));
}

TEST_F(WholeDisk, ADriveNumberPastTheTableCannotBeOpened) {
    MakeDisk(100);
    EXPECT_EQ(RunJob(engine, {JobKind::WholeDisk, 3, {}, {}}), JobOutcome::Failed);
    EXPECT_EQ(host.statuses, std::vector<std::string>{"清除硬盘出错，打开硬盘失败!"});
    EXPECT_EQ(FirstNonZeroSector(), 0u);
}

} // namespace
} // namespace kelvane
