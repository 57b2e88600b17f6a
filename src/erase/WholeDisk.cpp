#include "device/ZeroWriter.h"
#include "erase/EraseEngine.h"
#include "platform/Files.h"

#include <algorithm>

namespace kelvane {

namespace {
constexpr std::uint64_t kChunkSectors = 36;
}

JobOutcome CEraseEngine::EraseWholeDisk(int disk) {
    if (!m_drive.Open(static_cast<std::uint16_t>(disk), Access::ReadWrite)) {
        m_host.SetStatus("清除硬盘出错，打开硬盘失败!");
        m_drive.Close();
        return JobOutcome::Failed;
    }
    const std::string name = m_drive.GetDisplayName();
    const std::uint64_t total = m_drive.GetTotalSectors();
    const std::string finalPrefix = "清除磁盘 " + name;
    if (!TargetIsFree(0, total, false)) {
        m_host.SetStatus(finalPrefix + " 中的数据发生意外错误!");
        m_drive.Close();
        return JobOutcome::Failed;
    }
    if (!m_host.AskYesNo(
            "此操作将会彻底清除硬盘上的所有数据，并且使用任何数据恢复手段都将无法恢复，是不要继续?")) {
        m_drive.Close();
        return JobOutcome::Declined;
    }
    const std::string working = "正在清除硬盘 " + name + " 上的数据...";
    m_host.SetStatus(working);
    const std::uint64_t divisor =
        std::max<std::uint64_t>(1, total / static_cast<std::uint64_t>(m_host.ProgressMax()));
    ZeroWriter writer(m_drive, 0, total);
    // The last chunk is cut at the device's end: every sector is written and none past it.
    for (std::uint64_t counter = 0; counter < total; counter += kChunkSectors) {
        if (!writer.Zero(counter, std::min(kChunkSectors, total - counter))) {
            m_nStopFlag.store(kStopWriteFailed);
            break;
        }
        if (counter % 100 == 0) {
            m_host.SetStatus(working + "(" + std::to_string(counter) + "/" + std::to_string(total) +
                             " 扇区)");
            Progress(counter, divisor);
        }
        if (m_nStopFlag.load() == kStopRequested)
            break;
    }
    // The chunk in hand is finished even when a stop was asked for; "done" means written and flushed.
    if (m_nStopFlag.load() != kStopWriteFailed && !writer.Finish())
        m_nStopFlag.store(kStopWriteFailed);
    if (m_nStopFlag.load() != kStopWriteFailed)
        FlushDrive();
    const int flag = m_nStopFlag.load();
    m_host.SetStatus(finalPrefix + (flag == kStopRequested ? " 上的数据被用户停止!"
                                    : flag == kStopNone    ? " 上的数据完成!"
                                                           : " 中的数据发生意外错误!"));
    const JobOutcome outcome = OutcomeOfStopFlag();
    const std::string path = m_drive.GetDevicePath();
    m_drive.Close();
    RereadPartitionTable(path); // the rest of the system should see the partition table is gone
    return outcome;
}

} // namespace kelvane
