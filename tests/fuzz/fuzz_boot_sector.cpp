// Boot-sector recognition: the input is the first sector of an NTFS (0x07), a FAT32 (0x0C) and an
// NTFS LBA (0x0D) partition, found through a real partition table on an image file.

#include "DiskImage.h"
#include "FaultyDevice.h"
#include "FuzzTarget.h"
#include "device/PhysicalDrive.h"

#include <algorithm>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static kelvane::test::TempDir dir;
    static const std::string path = dir.File("boot.img");
    kelvane::test::SparseImage image(path, 8 * 512);
    image.WriteSector(0, kelvane::test::PartitionTable({{0x07, 1, 100}, {0x0C, 1, 100}, {0x0D, 1, 100}}));
    kelvane::test::Sector boot{};
    std::copy_n(data, std::min(size, boot.size()), boot.begin());
    image.WriteSector(1, boot);
    kelvane::SetDriveTable({path});
    kelvane::test::RecordingSink sink;
    kelvane::CPhysicalDrive drive(sink);
    if (!drive.Open(0) || drive.GetPartitionCount() != 3)
        std::abort();
    const auto& ntfs = drive.GetPartitionList()[0];
    if (const auto* p = std::get_if<kelvane::NtfsParams>(&ntfs.fsParams)) {
        // Accepted NTFS geometry is usable: a power-of-two cluster, nothing zero.
        if (p->sectorsPerCluster == 0 || (p->sectorsPerCluster & (p->sectorsPerCluster - 1)) != 0 ||
            p->mftStart == 0 || p->bytesPerSector == 0 || ntfs.typeName != "NTFS")
            std::abort();
    }
    if (drive.GetPartitionList()[2].typeName != "NTFS LBA" && drive.GetPartitionList()[2].typeName != " ")
        std::abort();
    return 0;
}
