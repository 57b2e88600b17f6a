#include "DiskImage.h"
#include "platform/DriveTable.h"
#include "platform/Mounts.h"

#include <fstream>
#include <gtest/gtest.h>

namespace kelvane {
namespace {

TEST(MountInfo, DecodesEscapesReadOnlyFlagAndOptionalFields) {
    const std::string text =
        "36 35 98:0 /mnt1 /mnt/my\\040disk rw,noatime master:1 shared:7 - ext3 /dev/root rw\n"
        "37 35 7:1 / /media/ro ro,relatime - vfat /dev/loop1 ro,fmask=0022\n"
        "38 35 0:22 / /proc rw,nosuid - proc proc rw\n"
        "not a mount line\n"
        "\n"
        "40 35 8:17 / /srv/a\\134b\\011c rw - ext4 /dev/sdb\\0401 rw";
    const auto mounts = ParseMountInfo(text);
    ASSERT_EQ(mounts.size(), 4u);
    EXPECT_EQ(mounts[0].major, 98u);
    EXPECT_EQ(mounts[0].minor, 0u);
    EXPECT_EQ(mounts[0].mountPoint, "/mnt/my disk");
    EXPECT_FALSE(mounts[0].readOnly);
    EXPECT_EQ(mounts[0].fsType, "ext3");
    EXPECT_EQ(mounts[0].source, "/dev/root");
    EXPECT_EQ(mounts[1].mountPoint, "/media/ro");
    EXPECT_TRUE(mounts[1].readOnly);
    EXPECT_EQ(mounts[1].fsType, "vfat");
    EXPECT_EQ(mounts[2].major, 0u);
    EXPECT_FALSE(mounts[2].readOnly);
    EXPECT_EQ(mounts[3].major, 8u);
    EXPECT_EQ(mounts[3].minor, 17u);
    EXPECT_EQ(mounts[3].mountPoint, "/srv/a\\b\tc");
    EXPECT_EQ(mounts[3].source, "/dev/sdb 1");
}

TEST(SystemDisks, OnlyWholeDisksAndAttachedLoopDevicesInNameOrder) {
    test::TempDir sys;
    auto make = [&](const std::string& name) { std::filesystem::create_directories(sys.Path() / name); };
    auto write = [&](const std::string& file, const std::string& text) {
        std::ofstream(sys.Path() / file) << text;
    };
    for (const char* name :
         {"vda",       "sdb",   "sda",          "hda",         "xvda",  "nvme0n1", "mmcblk0",
          "nvme0c0n1", "nvme0", "mmcblk0boot0", "mmcblk0rpmb", "ram0",  "zram0",   "sr0",
          "fd0",       "dm-0",  "md0",          "loop0",       "loop1", "loop2"})
        make(name);
    make("loop0/loop");
    write("loop0/loop/backing_file", "/var/tmp/disk image.img\n");
    make("loop1/loop");
    write("loop1/loop/backing_file", "");
    EXPECT_EQ(ScanSystemDisks(sys.Path().string()),
              (std::vector<std::string>{"/dev/hda", "/dev/loop0", "/dev/mmcblk0", "/dev/nvme0n1", "/dev/sda",
                                        "/dev/sdb", "/dev/vda", "/dev/xvda"}));
    EXPECT_TRUE(ScanSystemDisks((sys.Path() / "missing").string()).empty());
}

TEST(DriveIdentity, AnImageIsKnownByFileAndSizeAndChangesWhenReplaced) {
    test::TempDir dir;
    test::SparseImage image(dir.File("a.img"), 1 << 20);
    const auto before = ReadDriveIdentity(image.Path());
    ASSERT_TRUE(before);
    EXPECT_EQ(before->sizeBytes, 1u << 20);
    EXPECT_EQ(before->productId, "");
    std::filesystem::remove(image.Path());
    test::SparseImage replaced(dir.File("a.img"), 2 << 20);
    const auto after = ReadDriveIdentity(replaced.Path());
    ASSERT_TRUE(after);
    EXPECT_NE(*before, *after);
    EXPECT_FALSE(ReadDriveIdentity(dir.File("none.img")));
    EXPECT_FALSE(ReadDriveIdentity(dir.Path().string())); // a directory is no drive
}

} // namespace
} // namespace kelvane
