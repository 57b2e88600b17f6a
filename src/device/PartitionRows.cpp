#include "device/PartitionRows.h"

#include "device/PhysicalDrive.h"
#include "platform/Volume.h"

#include <cstdio>

namespace kelvane {

std::string FormatMB(std::uint64_t sectors, const char* format) {
    const auto mb = static_cast<long long>(sectors * kSectorBytes / 1024 / 1024);
    char text[48];
    std::snprintf(text, sizeof text, format, mb);
    return text;
}

DiskRow MakeDiskRow(const CPhysicalDrive& drive) {
    return {drive.GetDisplayName(), FormatMB(drive.GetTotalSectors(), "%lldMB"), drive.GetBusTypeName()};
}

PartitionRow MakePartitionRow(const CPhysicalDrive& drive, const PartitionInfo& partition) {
    PartitionRow row;
    row.letter = partition.driveLetter;
    row.type = partition.typeName;
    row.start = FormatMB(partition.startSector, "%lld(MB)");
    row.capacity = FormatMB(partition.sectorCount, "%lld(MB)");
    if (!row.letter.empty()) {
        row.label = ReadVolumeLabel(drive.GetDevicePath(), partition.startSector * kSectorBytes,
                                    partition.sectorCount * kSectorBytes);
        if (row.label.empty())
            row.label = drive.GetBusTypeName() == "USB" ? "可移动磁盘" : "本地磁盘";
        if (auto bytes = FreeBytes(row.letter))
            row.freeMB = static_cast<double>(*bytes) / (1024.0 * 1024.0);
    }
    char text[48];
    std::snprintf(text, sizeof text, "%.0f(MB)", row.freeMB);
    row.free = text;
    return row;
}

} // namespace kelvane
