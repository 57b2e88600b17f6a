#include "erase/EraseEngine.h"

#include "platform/Mounts.h"

#include <algorithm>
#include <charconv>

namespace kelvane {

CEraseEngine::CEraseEngine(IEraseHost& host) : m_host(host), m_drive(host) {}

bool CEraseEngine::BeginJob() {
    int idle = 0;
    if (!m_bRunning.compare_exchange_strong(idle, 1))
        return false;
    m_nStopFlag.store(kStopNone); // whatever an earlier job left never reaches this one
    return true;
}

void CEraseEngine::RequestStop() {
    if (m_bRunning.load() != 0) {
        int none = kStopNone;
        m_nStopFlag.compare_exchange_strong(none, kStopRequested);
    }
}

JobOutcome CEraseEngine::Run(const JobRequest& request) {
    JobOutcome outcome = JobOutcome::Failed;
    switch (request.kind) {
    case JobKind::WholeDisk:
        outcome = EraseWholeDisk(request.disk);
        m_host.ResetPage(request.kind);
        break;
    case JobKind::FreeSpace:
        // The drive stays this job's until its last partition; a stop or a failure ends the run, so
        // the last text on the status line is never a later partition's "done" over an earlier failure.
        for (const int partition : request.partitions) {
            outcome = EraseFreeSpace(request.disk, partition);
            if (outcome != JobOutcome::Completed)
                break;
        }
        m_host.ResetPage(request.kind);
        break;
    case JobKind::Partition:
        outcome = request.partitions.empty() ? JobOutcome::Failed
                                             : ErasePartition(request.disk, request.partitions.front());
        break;
    case JobKind::Shred:
        outcome = ShredFiles(request.files);
        break;
    }
    m_drive.Close();
    m_nStopFlag.store(kStopNone);
    m_bRunning.store(0);
    m_host.JobEnded(request.kind);
    return outcome;
}

JobOutcome CEraseEngine::OutcomeOfStopFlag() const {
    switch (m_nStopFlag.load()) {
    case kStopNone:
        return JobOutcome::Completed;
    case kStopRequested:
        return JobOutcome::Stopped;
    default:
        return JobOutcome::Failed;
    }
}

void CEraseEngine::Progress(std::uint64_t done, std::uint64_t step) {
    // The step is a truncated quotient, so the last units can pass the bar's end; a bar that ignores an
    // out-of-range position would stop short of it.
    const std::uint64_t pos = done / (step == 0 ? 1 : step);
    const auto max = static_cast<std::uint64_t>(std::max(0, m_host.ProgressMax()));
    m_host.SetProgress(static_cast<int>(std::min(pos, max)));
}

void CEraseEngine::ClusterStatus(const std::string& title, std::uint64_t done, std::uint64_t total) {
    char digits[48];
    auto* end = std::to_chars(digits, digits + 20, done).ptr;
    *end++ = '/';
    end = std::to_chars(end, digits + sizeof digits, total).ptr;
    m_statusBuffer.assign(title);
    m_statusBuffer += '(';
    m_statusBuffer.append(digits, end);
    m_statusBuffer += ") 簇";
    m_host.SetStatus(m_statusBuffer);
}

void CEraseEngine::FlushDrive() {
    if (!m_drive.Flush())
        m_nStopFlag.store(kStopWriteFailed);
}

bool CEraseEngine::TargetIsFree(std::uint64_t startSector, std::uint64_t sectorCount, bool writableOnly) {
    const std::string path = m_drive.GetDevicePath();
    if (!m_drive.IsSameDriveAsListed()) {
        m_host.ShowMessage(path + " 已不是列出时的那个磁盘，请重新选择磁盘后再试。");
        return false;
    }
    const auto drive = ResolvePath(path);
    if (!drive) {
        m_host.ShowMessage(path + " 无法确认是否正在被系统使用，没有写入任何数据。");
        return false;
    }
    const ByteOrigin target{drive->device, drive->inode, drive->offsetBytes + startSector * kSectorBytes,
                            sectorCount * kSectorBytes};
    for (const auto& user : ListDeviceUsers()) {
        if (!Overlaps(user.origin, target))
            continue;
        if (user.isMount && writableOnly && !user.writable)
            continue; // nothing can allocate clusters under a read-only mount
        if (!user.isMount)
            m_host.ShowMessage(user.name + " 正在使用此区域 (交换分区或设备映射)，请先停用后再擦除。");
        else if (writableOnly)
            m_host.ShowMessage("分区以读写方式挂载在 " + user.name + "，请先卸载或以只读方式挂载后再擦除。");
        else
            m_host.ShowMessage("磁盘上的文件系统挂载在 " + user.name + "，请先卸载后再擦除。");
        return false;
    }
    return true;
}

} // namespace kelvane
