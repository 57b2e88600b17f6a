#include "device/FatVolume.h"
#include "device/ZeroWriter.h"
#include "erase/EraseEngine.h"
#include "platform/Files.h"

#include <algorithm>
#include <cstring>

namespace kelvane {
namespace {

// Type bytes a volume of each kind may stand behind; the first is the one written.
bool TypeFits(std::uint8_t type, FileSystemKind kind) {
    return kind == FileSystemKind::Ntfs ? type == 0x07 : type == 0x0B || type == 0x0C;
}
std::uint8_t TypeFor(FileSystemKind kind) {
    return kind == FileSystemKind::Ntfs ? 0x07 : 0x0C;
}

} // namespace

JobOutcome CEraseEngine::ErasePartition(int disk, int number) {
    const auto drive = static_cast<std::uint16_t>(disk);
    if (!m_drive.Open(drive, Access::ReadWrite)) {
        m_host.SetStatus("格式化清除磁盘出错，打开硬盘失败!");
        m_drive.Close();
        m_host.ResetPage(JobKind::Partition);
        return JobOutcome::Failed;
    }
    const std::string name = m_drive.GetDisplayName();
    const PartitionInfo* node = m_drive.FindPartition(number);
    if (node == nullptr) {
        m_host.SetStatus("格式化清除磁盘 " + name + " 上的数据发生错误,打开分区失败!");
        m_drive.Close();
        m_host.ResetPage(JobKind::Partition);
        return JobOutcome::Failed;
    }
    const PartitionInfo partition = *node; // the list goes with the next Close
    if (const JobOutcome formatted = FormatVolume(partition, name); formatted != JobOutcome::Completed) {
        m_drive.Close();
        m_host.ResetPage(JobKind::Partition);
        return formatted;
    }
    const std::string path = m_drive.GetDevicePath();
    const bool tailZeroed = ZeroVolumeTail(partition);
    m_drive.Close();
    m_host.ResetPage(JobKind::Partition);
    if (!tailZeroed) {
        m_host.SetStatus("清除磁盘 " + name + "上的分区" + partition.driveLetter + " 中的数据发生意外错误!");
        return JobOutcome::Failed;
    }
    const JobOutcome outcome = EraseFreeSpace(disk, number);
    m_host.ResetPage(JobKind::FreeSpace);
    RereadPartitionTable(path); // the system should see the new volume
    return outcome;
}

JobOutcome CEraseEngine::FormatVolume(const PartitionInfo& partition, const std::string& name) {
    const std::string letter = partition.driveLetter;
    const std::string where = name + "上的分区 " + letter;
    // A mounted, swapped-on or mapped partition is not ours to format.
    if (!TargetIsFree(partition.startSector, partition.sectorCount, false)) {
        m_host.SetStatus("不能格式化 " + where);
        return JobOutcome::Failed;
    }
    const auto choice =
        m_host.AskFormat({name, partition.number, letter, partition.typeName, partition.sectorCount});
    if (!choice) {
        m_host.SetStatus("格式化 " + where + "被用户取消!");
        return JobOutcome::Declined;
    }
    m_host.SetStatus("正在格式化 " + where + "...");
    const std::string path = m_drive.GetDevicePath();
    const auto disk = m_drive.GetIndex();
    // Nothing of ours holds the disk while the format writes through another device node; the drive is
    // opened again afterwards so that everything read comes from the new volume.
    m_drive.Close();
    const FormatOutcome outcome =
        FormatPartition(path, partition.startSector, partition.sectorCount, *choice);
    if (outcome.result != FormatResult::Success) {
        if (!outcome.detail.empty())
            m_host.ShowMessage(outcome.detail);
        m_host.SetStatus(outcome.result == FormatResult::CannotFormat ? "不能格式化 " + where
                                                                      : "格式化磁盘 " + where + "发生错误!");
        return JobOutcome::Failed;
    }
    if (!m_drive.Open(disk, Access::ReadWrite) || !SetPartitionType(partition, choice->fileSystem)) {
        m_host.SetStatus("格式化磁盘 " + where + "发生错误!");
        return JobOutcome::Failed;
    }
    // The partition list now describes the new volume; it must be the file system that was chosen.
    m_drive.Close();
    const PartitionInfo* now =
        m_drive.Open(disk, Access::ReadWrite) ? m_drive.FindPartition(partition.number) : nullptr;
    const bool chosen =
        now != nullptr && now->startSector == partition.startSector &&
        (choice->fileSystem == FileSystemKind::Ntfs
             ? std::holds_alternative<NtfsParams>(now->fsParams)
             : IsFatTypeName(now->typeName) && std::holds_alternative<FatParams>(now->fsParams));
    if (!chosen) {
        m_host.ShowMessage("格式化后的分区不是所选的文件系统，没有擦除空闲空间。");
        m_host.SetStatus("格式化磁盘 " + where + "发生错误!");
        return JobOutcome::Failed;
    }
    return JobOutcome::Completed;
}

bool CEraseEngine::ZeroVolumeTail(const PartitionInfo& formatted) {
    // The new volume's last cluster seldom ends where the partition does; the sectors after it belong
    // to no cluster, so neither the format nor the free-cluster wipe reaches what lies there.
    const PartitionInfo* now = m_drive.FindPartition(formatted.number);
    if (now == nullptr)
        return false;
    const std::uint64_t start = now->startSector;
    const std::uint64_t sectors =
        std::min(now->sectorCount, m_drive.GetTotalSectors() - std::min(start, m_drive.GetTotalSectors()));
    std::uint64_t tail = sectors;
    std::uint64_t keep = sectors; // a sector inside the tail that is the volume's own (none: `sectors`)
    if (const auto* ntfs = std::get_if<NtfsParams>(&now->fsParams)) {
        tail = std::min(sectors, ntfs->totalSectors / ntfs->sectorsPerCluster * ntfs->sectorsPerCluster);
        keep = ntfs->totalSectors; // the backup boot sector follows the last counted sector
    } else {
        std::vector<std::uint8_t> boot(kSectorBytes, 0);
        std::uint32_t bytes = 0;
        std::string why;
        if (!m_drive.ReadSectors(boot.data(), start, 1, &bytes))
            return false;
        const auto fat = ReadFatVolume(boot, sectors, why);
        if (!fat)
            return false;
        tail = fat->dataStart + fat->clusterCount * fat->sectorsPerCluster;
    }
    ZeroWriter writer(m_drive, start + tail, start + sectors);
    const bool written =
        (keep <= tail || keep >= sectors)
            ? writer.Zero(start + tail, sectors - tail)
            : writer.Zero(start + tail, keep - tail) && writer.Zero(start + keep + 1, sectors - keep - 1);
    return written && writer.Finish() && m_drive.Flush() == 1;
}

bool CEraseEngine::SetPartitionType(const PartitionInfo& partition, FileSystemKind kind) {
    std::vector<std::uint8_t> table(kSectorBytes, 0);
    std::uint32_t bytes = 0;
    if (!m_drive.ReadSectors(table.data(), partition.tableSector, 1, &bytes))
        return false;
    auto* entry = table.data() + partition.entryOffset;
    if (TypeFits(entry[4], kind))
        return true;
    // Only the entry that was read as this partition is changed, and only its type byte.
    const std::uint64_t relative = CPhysicalDrive::GetBootField(table, partition.entryOffset + 8, 4);
    if (partition.tableSector + relative != partition.startSector)
        return false;
    entry[4] = TypeFor(kind);
    return m_drive.WriteSectors(table.data(), partition.tableSector, 1, &bytes) == 1 && m_drive.Flush() == 1;
}

} // namespace kelvane
