#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane {

struct MountEntry {
    unsigned major = 0;
    unsigned minor = 0;
    std::string mountPoint; // octal escapes (\040) decoded
    std::string fsType;
    std::string source;
    bool readOnly = false;
};

std::vector<MountEntry> ParseMountInfo(std::string_view text);
std::vector<MountEntry> ReadMountTable();

// Where a device's bytes really lie: the disk or image file under any partition and loop layers, and
// the byte range in it. A loop device over an image and the image itself have the same origin.
struct ByteOrigin {
    std::uint64_t device = 0; // as DriveIdentity::device
    std::uint64_t inode = 0;  // as DriveIdentity::inode
    std::uint64_t offsetBytes = 0;
    std::uint64_t sizeBytes = 0;
};

std::optional<ByteOrigin> ResolveBlockDevice(unsigned major, unsigned minor);
std::optional<ByteOrigin> ResolvePath(const std::string& path);

bool SameBacking(const ByteOrigin& a, const ByteOrigin& b);
bool Overlaps(const ByteOrigin& a, const ByteOrigin& b);

// Something of the running system that lives on a byte range: a mounted file system, active swap, or
// a device-mapper / md / LVM holder. `name` is what the user is told (the mount point, the swap, the
// holder's device).
struct DeviceUser {
    std::string name;
    bool writable = true; // a read-only mount allocates nothing
    bool isMount = false;
    ByteOrigin origin;
};

std::vector<DeviceUser> ListDeviceUsers();

} // namespace kelvane
