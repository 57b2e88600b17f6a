#pragma once

#include <cstdint>
#include <string>

namespace kelvane {

enum class FileSystemKind { Fat32, Ntfs };

// What the user chose in the format dialog (or on the command line).
struct FormatChoice {
    FileSystemKind fileSystem = FileSystemKind::Fat32;
    std::uint32_t clusterBytes = 0; // 0: the default for the size
    std::string label;
    bool quick = true;
};

enum class FormatResult { Success, Error, Cancelled, CannotFormat };

struct FormatOutcome {
    FormatResult result = FormatResult::Error;
    std::string detail; // what went wrong, for the user; empty on success
};

// Formats the byte range [startSector, startSector + sectorCount) of the drive at `drivePath` (a disk,
// a loop device or an image file) with mkfs.fat or mkntfs. The tool writes to the range's own device:
// the disk's partition node whose start and size match, or else a loop device made over exactly that
// range (and detached afterwards). Nothing outside the range is written.
FormatOutcome FormatPartition(const std::string& drivePath, std::uint64_t startSector,
                              std::uint64_t sectorCount, const FormatChoice& choice);

// The FAT32 cluster size for a volume of `sectorCount` sectors when the user leaves it to us: the
// usual size for the volume, made smaller until the volume has the 65,525 clusters FAT32 needs.
std::uint32_t DefaultFat32ClusterBytes(std::uint64_t sectorCount);

} // namespace kelvane
