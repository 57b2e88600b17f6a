#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace kelvane {

// The layout of a FAT12/16/32 volume as its boot sector gives it, checked for plausibility; sector
// numbers relative to the volume's first sector.
struct FatVolume {
    int fatBits = 0; // 12, 16 or 32, by cluster count as every FAT driver decides it
    std::uint32_t sectorsPerCluster = 0;
    std::uint64_t reservedSectors = 0;
    std::uint64_t fatCount = 0;
    std::uint64_t sectorsPerFat = 0;
    std::uint64_t rootDirSectors = 0;
    std::uint64_t dataStart = 0;    // first sector of cluster 2
    std::uint64_t totalSectors = 0; // the boot sector's count, clamped to the partition
    std::uint64_t clusterCount = 0; // clusters 2 .. clusterCount + 1 lie wholly inside the volume
};

// Nothing, with the reason in `why`, for a boot sector that is not a plausible FAT volume (exFAT or
// NTFS behind a FAT type byte, sectors other than 512 bytes, a cluster size that is not a power of
// two, a FAT too small for the clusters, a data region past the end).
std::optional<FatVolume> ReadFatVolume(std::span<const std::uint8_t> bootSector,
                                       std::uint64_t partitionSectors, std::string& why);

} // namespace kelvane
