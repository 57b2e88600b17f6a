#pragma once

#include "device/PartitionInfo.h"

#include <cstdint>
#include <string>

namespace kelvane {

class CPhysicalDrive;

// The texts of one row of a disk list: name, size "%iMB", interface type.
struct DiskRow {
    std::string name;
    std::string size;
    std::string bus;
};
DiskRow MakeDiskRow(const CPhysicalDrive& drive);

// The six columns of a partition row, and the free space behind the last one.
struct PartitionRow {
    std::string letter; // mount point; empty when not mounted
    std::string label;  // only for a mounted partition; "可移动磁盘" / "本地磁盘" when it has none
    std::string type;
    std::string start;    // "%i(MB)"
    std::string capacity; // "%i(MB)"
    std::string free;     // "%.0f(MB)"; "-1(MB)" without a figure
    double freeMB = -1.0;
};
PartitionRow MakePartitionRow(const CPhysicalDrive& drive, const PartitionInfo& partition);

std::string FormatMB(std::uint64_t sectors, const char* format);

} // namespace kelvane
