#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kelvane {

// What makes a drive the same drive: the device (or the image file's inode), its size and product.
struct DriveIdentity {
    std::uint64_t device = 0; // st_rdev of a block device, st_dev of an image file
    std::uint64_t inode = 0;  // 0 for a block device
    std::uint64_t sizeBytes = 0;
    std::string productId;
    bool operator==(const DriveIdentity&) const = default;
};

// Product id and bus type as the storage stack reports them (bus type values as the bus-type table).
struct DriveProperties {
    std::string productId;
    int busType = 0;
};

inline constexpr int kBusScsi = 1;
inline constexpr int kBusAta = 3;
inline constexpr int kBusUsb = 7;

// Drive number N is entry N, fixed for the whole run.
struct DriveEntry {
    std::string path;
    std::optional<DriveIdentity> identity; // as it was when the table was built; none if unreadable
};

// The machine's whole disks from /sys/block in name order: sd*, vd*, hd*, xvd*, nvme*n*, mmcblk*, and
// loop devices with a backing file. Never ram, zram, optical, floppy, partitions, dm or md.
std::vector<std::string> ScanSystemDisks(const std::string& sysBlock = "/sys/block");

// Builds the table once; later calls replace it (tests, `--drive`).
void SetDriveTable(const std::vector<std::string>& paths);
// The table, built from ScanSystemDisks() on first use if nobody set it.
const std::vector<DriveEntry>& DriveTable();

std::optional<DriveIdentity> ReadDriveIdentity(const std::string& path);
DriveProperties ReadDriveProperties(const std::string& path);

} // namespace kelvane
