// The partition scan over an image whose bytes are the input: master and extended tables, chains that
// loop or run on, entries pointing anywhere.

#include "DiskImage.h"
#include "FaultyDevice.h"
#include "FuzzTarget.h"
#include "device/PhysicalDrive.h"

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static kelvane::test::TempDir dir;
    static const std::string path = dir.File("scan.img");
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || ::write(fd, data, size) != static_cast<ssize_t>(size))
        std::abort();
    ::close(fd);
    kelvane::SetDriveTable({path});
    kelvane::test::RecordingSink sink;
    kelvane::CPhysicalDrive drive(sink);
    if (!drive.Open(0))
        std::abort();
    int expected = 1;
    for (const auto& node : drive.GetPartitionList()) {
        if (node.number != expected++ || node.startSector > drive.GetTotalSectors() + 1)
            std::abort();
    }
    return 0;
}
