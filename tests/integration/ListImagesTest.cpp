#include "DiskImage.h"
#include "Json.h"
#include "SystemTools.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <memory>

namespace kelvane {
namespace {

using test::JsonValue;
using test::Quote;
using test::RunOrThrow;
using test::RunTool;

constexpr std::uint64_t kImageSectors = 524288; // 256 MiB

struct ToolPartition {
    std::uint64_t start;
    std::uint64_t size;
    const char* sfdiskType;
    const char* typeText; // what `list` must call it
    const char* mkfs;     // run on a loop device over exactly the partition
    std::uint32_t fatSerial;
    const char* label;
};

// A FAT32 primary partition and an extended partition with FAT16, FAT12 and NTFS logical partitions:
// the layout most disks formatted on Linux have, and three links in the chain of extended tables.
const std::vector<ToolPartition>& Layout() {
    static const std::vector<ToolPartition> layout = {
        {2048, 172032, "c", "FAT32", "mkfs.fat -F 32 -s 1 -h 2048 -i 1A2B3C4D -n KELV32", 0x1A2B3C4D,
         "KELV32"},
        {176128, 65536, "6", "FAT16 Huge", "mkfs.fat -F 16 -h 176128 -i 16C0FFEE -n KELV16", 0x16C0FFEE,
         "KELV16"},
        {243712, 16384, "1", "FAT12", "mkfs.fat -F 12 -h 243712 -i 0012ABCD", 0x0012ABCD, ""},
        {262144, 131072, "7", "NTFS", "mkntfs -Q -F -p 262144 -H 255 -S 63 -L KELVNTFS", 0, "KELVNTFS"},
    };
    return layout;
}

struct ToolImage {
    test::TempDir dir;
    std::string path;
};

std::unique_ptr<ToolImage> BuildToolImage(const std::string& extendedType) {
    auto image = std::make_unique<ToolImage>();
    image->path = image->dir.File("tools-" + extendedType + ".img");
    test::SparseImage file(image->path, kImageSectors * 512);
    const auto& parts = Layout();
    std::string script = "label: dos\nunit: sectors\n";
    script += "start=2048, size=172032, type=c, bootable\n";
    script += "start=174080, size=348160, type=" + extendedType + "\n";
    for (std::size_t i = 1; i < parts.size(); ++i)
        script += "start=" + std::to_string(parts[i].start) + ", size=" + std::to_string(parts[i].size) +
                  ", type=" + parts[i].sfdiskType + "\n";
    RunOrThrow("printf %s " + Quote(script) + " | sfdisk -q " + Quote(image->path));
    for (const auto& p : parts) {
        test::LoopDevice loop(image->path, p.start * 512, p.size * 512);
        RunOrThrow(std::string(p.mkfs) + " " + loop.Path());
    }
    return image;
}

test::ToolResult List(const std::vector<std::string>& drives, bool json = true) {
    std::string command = KELVANE_BINARY;
    for (const auto& d : drives)
        command += " --drive " + Quote(d);
    return RunTool(command + " list" + (json ? " --json" : ""), 60);
}

JsonValue ListJson(const std::vector<std::string>& drives) {
    const auto r = List(drives);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.err, "");
    return test::ParseJson(r.out);
}

// The volume serial as blkid reads it from the partition's byte range: "1A2B-3C4D" for FAT, 16 hex
// digits for NTFS, whose low 32 bits are what a listing shows.
std::uint32_t BlkidSerial(const std::string& image, const ToolPartition& p) {
    std::string uuid = RunOrThrow("blkid -p -O " + std::to_string(p.start * 512) + " -S " +
                                  std::to_string(p.size * 512) + " -o value -s UUID " + Quote(image));
    std::string hex;
    for (char c : uuid)
        if (std::isxdigit(static_cast<unsigned char>(c)))
            hex += c;
    if (hex.size() > 8)
        hex = hex.substr(hex.size() - 8);
    return static_cast<std::uint32_t>(std::stoul(hex, nullptr, 16));
}

class ToolImages : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        const std::string reason = test::LoopUnavailableReason();
        if (!reason.empty())
            GTEST_SKIP() << reason;
        auto& slot = Images()[GetParam()];
        if (!slot) {
            try {
                slot = BuildToolImage(GetParam());
            } catch (const std::exception& e) {
                FAIL() << "cannot build the image: " << e.what();
            }
        }
        image = slot.get();
    }
    static std::map<std::string, std::unique_ptr<ToolImage>>& Images() {
        static std::map<std::string, std::unique_ptr<ToolImage>> images;
        return images;
    }
    ToolImage* image = nullptr;
};

TEST_P(ToolImages, ListShowsWhatTheToolsWereTold) {
    const JsonValue out = ListJson({image->path});
    ASSERT_EQ(out["drives"].size(), 1u);
    const JsonValue& drive = out["drives"][0];
    EXPECT_EQ(drive["number"].AsUnsigned(), 0u);
    EXPECT_EQ(drive["path"].AsString(), image->path);
    EXPECT_EQ(drive["name"].AsString(), image->path);
    EXPECT_EQ(drive["bus"].AsString(), "Unkown");
    EXPECT_EQ(drive["totalSectors"].AsUnsigned(), kImageSectors);
    EXPECT_EQ(drive["sizeMB"].AsUnsigned(), 256u);

    const auto& parts = Layout();
    const JsonValue& list = drive["partitions"];
    ASSERT_EQ(list.size(), parts.size());
    const auto file = test::SparseImage::Existing(image->path);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const ToolPartition& p = parts[i];
        SCOPED_TRACE(p.typeText);
        const JsonValue& node = list[i];
        EXPECT_EQ(node["number"].AsUnsigned(), i + 1);
        EXPECT_EQ(node["type"].AsString(), p.typeText);
        EXPECT_EQ(node["startSector"].AsUnsigned(), p.start);
        EXPECT_EQ(node["sectorCount"].AsUnsigned(), p.size);
        EXPECT_EQ(node["bootable"].AsString(), i == 0 ? "Yes" : "No");
        EXPECT_EQ(node["driveLetter"].AsString(), "");
        EXPECT_EQ(node["label"].AsString(), "");
        EXPECT_EQ(node["freeMB"].numberText, "-1");

        // FAT32 keeps its serial at 67 and NTFS at 72, where blkid finds them too. FAT12/16 keep theirs
        // at 39, but a listing reads every FAT volume at the FAT32 positions: it shows what lies at 67.
        const auto boot = file.Read(p.start * 512, 512);
        const std::string type = p.typeText;
        if (type == "FAT32" || type == "NTFS") {
            const std::uint32_t serial = BlkidSerial(image->path, p);
            EXPECT_EQ(node["serial"].AsUnsigned(), serial);
            EXPECT_EQ(test::GetLe(boot, type == "NTFS" ? 72 : 67, 4), serial);
            if (p.fatSerial != 0) {
                EXPECT_EQ(serial, p.fatSerial);
            }
        } else {
            EXPECT_EQ(BlkidSerial(image->path, p), p.fatSerial);
            EXPECT_EQ(test::GetLe(boot, 39, 4), p.fatSerial);
            EXPECT_EQ(node["serial"].AsUnsigned(), test::GetLe(boot, 67, 4));
        }
    }
}

bool KernelHas(const std::string& fsType) {
    const auto r = RunTool("grep -qw " + Quote(fsType) + " /proc/filesystems");
    return r.exitStatus == 0;
}

std::string FreeMB(const std::string& mountPoint) {
    const std::string stat = RunOrThrow("stat -f -c '%f %S' " + Quote(mountPoint));
    unsigned long long blocks = 0, blockSize = 0;
    std::sscanf(stat.c_str(), "%llu %llu", &blocks, &blockSize);
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", static_cast<double>(blocks * blockSize) / (1024.0 * 1024.0));
    return text;
}

// Three ways a partition inside an image gets mounted: mount's own loop device at an offset, a partition
// node of a loop device over the whole image, and a loop device over just the partition. Each shows up
// in the listing of the image file and of the whole-image loop device.
TEST(MountedPartitions, ShowTheirMountPointLabelAndFreeSpace) {
    const std::string reason = test::LoopUnavailableReason();
    if (!reason.empty())
        GTEST_SKIP() << reason;
    test::TempDir work;
    const std::string image = work.File("mounts.img");
    test::SparseImage file(image, 128ull << 20);
    RunOrThrow("printf 'label: dos\nunit: sectors\nstart=2048, size=65536, type=83\n"
               "start=67584, size=186368, type=5\nstart=69632, size=32768, type=83\n"
               "start=104448, size=65536, type=6\n' | sfdisk -q " +
               Quote(image));
    const bool vfat = KernelHas("vfat");
    {
        test::LoopDevice p1(image, 2048 * 512, 65536 * 512);
        RunOrThrow("mkfs.ext4 -q -L KELVEXT " + p1.Path());
        test::LoopDevice p5(image, 69632 * 512, 32768 * 512);
        RunOrThrow("mkfs.ext2 -q " + p5.Path());
        test::LoopDevice p6(image, 104448ull * 512, 65536ull * 512);
        RunOrThrow("mkfs.fat -F 16 -h 104448 -n KELV16 " + p6.Path());
    }

    test::Mount ext4(image, work.File("ext4 mnt"), "loop,offset=1048576,sizelimit=33554432");
    test::LoopDevice whole(image, 0, 0, true);
    ASSERT_TRUE(std::filesystem::exists(whole.PartitionPath(5))) << "no partition node for " << whole.Path();
    test::Mount ext2(whole.PartitionPath(5), work.File("ext2"), "ro");
    std::unique_ptr<test::LoopDevice> fatLoop;
    std::unique_ptr<test::Mount> fat;
    if (vfat) {
        fatLoop = std::make_unique<test::LoopDevice>(image, 104448ull * 512, 65536ull * 512);
        fat = std::make_unique<test::Mount>(fatLoop->Path(), work.File("fat16"));
    } else {
        std::printf("this kernel has no vfat: the FAT partition stays unmounted\n");
    }

    for (const std::string& drivePath : {image, whole.Path()}) {
        SCOPED_TRACE("--drive " + drivePath);
        const JsonValue out = ListJson({drivePath});
        const JsonValue& list = out["drives"][0]["partitions"];
        ASSERT_EQ(list.size(), 3u);
        EXPECT_EQ(list[0]["driveLetter"].AsString(), ext4.Point());
        EXPECT_EQ(list[0]["label"].AsString(), "KELVEXT");
        EXPECT_EQ(list[0]["freeMB"].numberText, FreeMB(ext4.Point()));
        EXPECT_EQ(list[1]["driveLetter"].AsString(), ext2.Point());
        EXPECT_EQ(list[1]["label"].AsString(), "本地磁盘"); // no label, and not on a USB disk
        EXPECT_EQ(list[1]["freeMB"].numberText, FreeMB(ext2.Point()));
        EXPECT_EQ(list[2]["type"].AsString(), "FAT16 Huge");
        if (fat) {
            EXPECT_EQ(list[2]["driveLetter"].AsString(), fat->Point());
            EXPECT_EQ(list[2]["label"].AsString(), "KELV16");
            EXPECT_EQ(list[2]["freeMB"].numberText, FreeMB(fat->Point()));
        } else {
            EXPECT_EQ(list[2]["driveLetter"].AsString(), "");
            EXPECT_EQ(list[2]["freeMB"].numberText, "-1");
        }
    }
    EXPECT_GT(std::stoll(FreeMB(ext4.Point())), 20);

    const auto text = List({image}, false);
    EXPECT_EQ(text.exitStatus, 0) << text.err;
    for (const std::string& expected :
         {std::string("盘符"), std::string("KELVEXT"), std::string("FAT16 Huge"), std::string("1(MB)"),
          std::string("32(MB)"), ext4.Point()})
        EXPECT_NE(text.out.find(expected), std::string::npos) << expected << " missing from\n" << text.out;
}

// The extended partition as Linux fdisk writes it (0x05) and as other systems do (0x0F).
std::string ExtendedTypeName(const ::testing::TestParamInfo<std::string>& param) {
    return param.param == "5" ? "Type05" : "Type0F";
}
INSTANTIATE_TEST_SUITE_P(ExtendedType, ToolImages, ::testing::Values("5", "f"), ExtendedTypeName);

} // namespace
} // namespace kelvane
