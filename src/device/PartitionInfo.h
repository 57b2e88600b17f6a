#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace kelvane {

// Boot-sector values of a partition whose type text begins with "FAT", read at the FAT32 positions.
struct FatParams {
    std::uint32_t sectorsPerCluster = 0;
    std::uint64_t reservedSectors = 0;
    std::uint64_t sectorsPerFat = 0;
    std::uint64_t totalSectors = 0;
};

// Boot-sector values of a partition whose type text is exactly "NTFS"; sector numbers relative to the
// partition start.
struct NtfsParams {
    std::uint64_t partitionStart = 0;
    std::uint32_t sectorsPerCluster = 0;
    std::uint32_t fsCode = 2;
    std::uint64_t mftStart = 0;
    std::uint64_t mftMirrorStart = 0;
    std::uint32_t indexBlockSectors = 0;
    std::uint32_t bytesPerSector = 0;
    std::uint64_t totalSectors = 0;
};

struct PartitionInfo {
    int number = 0; // 1-based, in order of creation
    std::string bootable;
    std::string typeName = "unknown";
    std::variant<std::monostate, FatParams, NtfsParams> fsParams;
    std::uint64_t startSector = 0; // absolute on the drive
    std::uint64_t sectorCount = 0;
    std::uint32_t volumeSerial = 0;
    std::string driveLetter;       // the mount point on this system; empty when not mounted
    std::uint64_t tableSector = 0; // the partition table sector that holds this partition's entry
    int entryOffset = 0;           // the entry's offset in that sector (0x1BE, 0x1CE, 0x1DE, 0x1EE)
};

// Partition type texts by MBR type byte (0x00..0xFF).
extern const std::array<std::string_view, 256> PartitionTypeNames;

inline bool IsFatTypeName(std::string_view typeName) {
    return typeName.rfind("FAT", 0) == 0;
}
inline bool IsNtfsTypeName(std::string_view typeName) {
    return typeName.rfind("NTFS", 0) == 0;
}

} // namespace kelvane
