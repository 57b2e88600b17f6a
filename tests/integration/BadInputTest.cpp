#include "DiskImage.h"
#include "Json.h"
#include "SystemTools.h"

#include <gtest/gtest.h>
#include <random>

namespace kelvane {
namespace {

using test::Quote;
using test::RunTool;

test::ToolResult List(const std::string& drive) {
    return RunTool(std::string(KELVANE_BINARY) + " --drive " + Quote(drive) + " list --json", 30);
}

// Exit 1 with a message that names the drive: no crash (a signal gives 128 + n), no hang (-1).
void ExpectRefused(const test::ToolResult& r, const std::string& drive) {
    EXPECT_EQ(r.exitStatus, 1) << r.err;
    EXPECT_NE(r.err.find(drive), std::string::npos) << r.err;
}

test::Bytes RandomBytes(std::size_t count, unsigned seed) {
    std::mt19937 gen(seed);
    test::Bytes b(count);
    for (auto& byte : b)
        byte = static_cast<std::uint8_t>(gen());
    return b;
}

class BadInput : public ::testing::Test {
  protected:
    test::TempDir dir;
};

TEST_F(BadInput, ADriveThatDoesNotExist) {
    const std::string missing = dir.File("no such disk.img");
    ExpectRefused(List(missing), missing);
}

TEST_F(BadInput, RandomBytesWithoutAPartitionTable) {
    test::SparseImage image(dir.File("random.img"), 1 << 20);
    auto bytes = RandomBytes(1 << 20, 7);
    bytes[510] = 0x12; // whatever the generator gave, no 0x55 0xAA signature
    image.Write(0, bytes);
    ExpectRefused(List(image.Path()), image.Path());
}

TEST_F(BadInput, ATinyFile) {
    test::SparseImage image(dir.File("tiny.img"), 100);
    image.Write(0, RandomBytes(100, 3));
    ExpectRefused(List(image.Path()), image.Path());
}

TEST_F(BadInput, AnImageCutShortAfterItsPartitionTable) {
    test::SparseImage image(dir.File("cut.img"), 64 << 20);
    RunTool("printf 'label: dos\\nstart=2048, size=100000, type=c\\n' | sfdisk -q " + Quote(image.Path()));
    ASSERT_EQ(image.Read(510, 2), (test::Bytes{0x55, 0xAA})) << "sfdisk wrote no partition table";
    std::filesystem::resize_file(image.Path(), 1 << 20); // the partition now starts at the very end
    ExpectRefused(List(image.Path()), image.Path());
}

TEST_F(BadInput, PartitionsBeyondTheEndAreLeftOutWithoutFailing) {
    test::SparseImage image(dir.File("far.img"), 1 << 20);
    image.WriteSector(0, test::PartitionTable({{0x0C, 4'000'000, 1000}, {0x07, 0xFFFFFFFF, 0xFFFFFFFF}}));
    const auto r = List(image.Path());
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(test::ParseJson(r.out)["drives"][0]["partitions"].size(), 0u);
}

TEST_F(BadInput, RandomPartitionTablesNeverCrashOrHang) {
    test::SparseImage image(dir.File("noise.img"), 8 << 20);
    for (unsigned seed = 1; seed <= 12; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        auto bytes = RandomBytes(8 << 20, seed);
        // Small starts, so entries land inside the image and their boot sectors and tables are read.
        for (std::size_t e = 0; e < 4; ++e) {
            bytes[0x1BE + 16 * e + 4] =
                static_cast<std::uint8_t>(seed % 3 == 0 ? 0x05 : bytes[0x1BE + 16 * e + 4]);
            test::PutLe(bytes, 0x1BE + 16 * e + 8, test::GetLe(bytes, 0x1BE + 16 * e + 8, 4) % 16384, 4);
        }
        bytes[510] = 0x55;
        bytes[511] = 0xAA;
        image.Write(0, bytes);
        const auto r = List(image.Path());
        ASSERT_TRUE(r.exitStatus == 0 || r.exitStatus == 1) << "exit " << r.exitStatus << "\n" << r.err;
        EXPECT_NO_THROW(test::ParseJson(r.out)) << r.out;
    }
}

TEST_F(BadInput, UsageErrors) {
    EXPECT_EQ(RunTool(std::string(KELVANE_BINARY) + " --drive").exitStatus, 2);
    test::SparseImage image(dir.File("disk.img"), 1 << 20);
    EXPECT_EQ(
        RunTool(std::string(KELVANE_BINARY) + " --drive " + Quote(image.Path()) + " list --bogus").exitStatus,
        2);
    EXPECT_EQ(
        RunTool(std::string(KELVANE_BINARY) + " --drive " + Quote(image.Path()) + " frobnicate").exitStatus,
        2);
}

} // namespace
} // namespace kelvane
