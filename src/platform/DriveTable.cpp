#include "platform/DriveTable.h"

#include "platform/RawDevice.h"
#include "platform/SysFs.h"

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace kelvane {
namespace {

std::vector<DriveEntry>& Table() {
    static std::vector<DriveEntry> table;
    return table;
}
bool& TableSet() {
    static bool set = false;
    return set;
}

bool StartsWith(const std::string& s, std::string_view prefix) {
    return s.rfind(prefix, 0) == 0;
}

bool IsWholeDiskName(const std::string& name) {
    for (std::string_view prefix : {"sd", "vd", "hd", "xvd", "mmcblk"})
        if (StartsWith(name, prefix))
            return name.find("boot") == std::string::npos && name.find("rpmb") == std::string::npos;
    // nvme0n1 is a namespace (a disk); nvme0c0n1 is a path to it, nvme0 the controller.
    if (StartsWith(name, "nvme"))
        return name.find('n', 4) != std::string::npos && name.find('c', 4) == std::string::npos;
    return false;
}

} // namespace

std::vector<std::string> ScanSystemDisks(const std::string& sysBlock) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(sysBlock, ec)) {
        const std::string name = entry.path().filename().string();
        if (IsWholeDiskName(name)) {
            names.push_back(name);
        } else if (StartsWith(name, "loop")) {
            // An unattached loop device has no backing file and nothing to erase.
            if (!ReadSysText(entry.path() / "loop" / "backing_file").empty())
                names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> paths;
    for (const auto& name : names)
        paths.push_back("/dev/" + name);
    return paths;
}

void SetDriveTable(const std::vector<std::string>& paths) {
    auto& table = Table();
    table.clear();
    for (const auto& path : paths)
        table.push_back({path, ReadDriveIdentity(path)});
    TableSet() = true;
}

const std::vector<DriveEntry>& DriveTable() {
    if (!TableSet())
        SetDriveTable(ScanSystemDisks());
    return Table();
}

std::optional<DriveIdentity> ReadDriveIdentity(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    DriveIdentity id;
    if (S_ISBLK(st.st_mode)) {
        id.device = st.st_rdev;
    } else if (S_ISREG(st.st_mode)) {
        id.device = st.st_dev;
        id.inode = st.st_ino;
    } else {
        return std::nullopt;
    }
    int error = 0;
    auto device = OpenRawDevice(path, Access::Read, error);
    if (!device)
        return std::nullopt;
    id.sizeBytes = device->SizeBytes();
    id.productId = ReadDriveProperties(path).productId;
    return id;
}

DriveProperties ReadDriveProperties(const std::string& path) {
    DriveProperties props;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode))
        return props; // an image file has no product id and bus type 0
    const auto dir = SysDevBlockDir(major(st.st_rdev), minor(st.st_rdev));
    if (dir.empty())
        return props;
    props.productId = ReadSysText(dir / "device" / "model");
    // usb-storage disks also sit under a SCSI host, so the USB test comes first.
    const std::string where = dir.string();
    if (where.find("/usb") != std::string::npos)
        props.busType = kBusUsb;
    else if (where.find("/ata") != std::string::npos)
        props.busType = kBusAta;
    else if (where.find("/host") != std::string::npos && where.find("/target") != std::string::npos)
        props.busType = kBusScsi;
    return props;
}

} // namespace kelvane
