#include "platform/Volume.h"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace kelvane {

std::string ReadVolumeLabel(const std::string& drivePath, std::uint64_t offsetBytes,
                            std::uint64_t sizeBytes) {
    const int fd = ::open(drivePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::string label;
    if (blkid_probe probe = blkid_new_probe()) {
        if (blkid_probe_set_device(probe, fd, static_cast<blkid_loff_t>(offsetBytes),
                                   static_cast<blkid_loff_t>(sizeBytes)) == 0) {
            blkid_probe_enable_superblocks(probe, 1);
            blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_LABEL);
            const char* value = nullptr;
            if (blkid_do_safeprobe(probe) == 0 &&
                blkid_probe_lookup_value(probe, "LABEL", &value, nullptr) == 0 && value != nullptr)
                label = value;
        }
        blkid_free_probe(probe);
    }
    ::close(fd);
    return label;
}

std::optional<std::uint64_t> FreeBytes(const std::string& mountPoint) {
    struct statvfs vfs {};
    if (::statvfs(mountPoint.c_str(), &vfs) != 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(vfs.f_bfree) * vfs.f_frsize;
}

} // namespace kelvane
