#include "device/FatVolume.h"

#include "device/Fields.h"

#include <cstring>

namespace kelvane {
namespace {
std::uint64_t Field(std::span<const std::uint8_t> boot, const FieldDesc& f) {
    return ReadLe(boot, static_cast<std::size_t>(f.offset), static_cast<std::size_t>(f.size)).value_or(0);
}
} // namespace

std::optional<FatVolume> ReadFatVolume(std::span<const std::uint8_t> boot, std::uint64_t partitionSectors,
                                       std::string& why) {
    if (boot.size() < 512 || boot[510] != 0x55 || boot[511] != 0xAA) {
        why = "no boot-sector signature";
        return std::nullopt;
    }
    if (std::memcmp(boot.data() + 3, "EXFAT   ", 8) == 0 || std::memcmp(boot.data() + 3, "NTFS", 4) == 0) {
        why = "not a FAT boot sector";
        return std::nullopt;
    }
    FatVolume v;
    const std::uint64_t bytesPerSector = Field(boot, FatBootSectorFields[kFatBytesPerSector]);
    v.sectorsPerCluster = static_cast<std::uint32_t>(Field(boot, FatBootSectorFields[kFatSectorsPerCluster]));
    v.reservedSectors = Field(boot, FatBootSectorFields[kFatReservedSectors]);
    v.fatCount = Field(boot, FatCopiesField);
    const std::uint64_t rootEntries = Field(boot, FatBootSectorFields[kFatRootEntries]);
    const std::uint64_t total16 = Field(boot, FatBootSectorFields[kFatTotalSectors16]);
    const std::uint64_t fat16 = Field(boot, FatBootSectorFields[kFatSectorsPerFat16]);
    v.sectorsPerFat = fat16 != 0 ? fat16 : Field(boot, FatBootSectorFields[kFatSectorsPerFat32]);
    v.totalSectors = total16 != 0 ? total16 : Field(boot, FatBootSectorFields[kFatTotalSectors32]);
    if (bytesPerSector != 512) {
        why = "sectors of " + std::to_string(bytesPerSector) + " bytes";
        return std::nullopt;
    }
    const std::uint32_t spc = v.sectorsPerCluster;
    if (spc == 0 || (spc & (spc - 1)) != 0 || v.reservedSectors == 0 || v.fatCount == 0 ||
        v.sectorsPerFat == 0 || v.totalSectors == 0) {
        why = "implausible boot-sector geometry";
        return std::nullopt;
    }
    // A boot sector that claims more than its partition holds must not lead writes past the partition.
    if (v.totalSectors > partitionSectors)
        v.totalSectors = partitionSectors;
    v.rootDirSectors = (rootEntries * 32 + 511) / 512;
    v.dataStart = v.reservedSectors + v.fatCount * v.sectorsPerFat + v.rootDirSectors;
    if (v.dataStart >= v.totalSectors) {
        why = "data region past the end of the volume";
        return std::nullopt;
    }
    v.clusterCount = (v.totalSectors - v.dataStart) / spc;
    v.fatBits = v.clusterCount < 4085 ? 12 : v.clusterCount < 65525 ? 16 : 32;
    if (v.fatBits == 32 && rootEntries != 0) {
        why = "FAT32 with a fixed root directory";
        return std::nullopt;
    }
    // Every cluster needs its entry; a FAT that ends early would leave clusters unexamined.
    if (v.sectorsPerFat * 512 * 8 / static_cast<std::uint64_t>(v.fatBits) < v.clusterCount + 2) {
        why = "FAT too small for the clusters";
        return std::nullopt;
    }
    return v;
}

} // namespace kelvane
