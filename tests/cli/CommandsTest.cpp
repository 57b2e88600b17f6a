// The commands end to end: the built program on image files, its output, exit status and the image bytes.

#include "DiskImage.h"
#include "Json.h"
#include "SystemTools.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace kelvane {
namespace {

using test::Quote;
using test::RunTool;
using test::ToolResult;

const std::string kBinary = KELVANE_BINARY;
const std::string kDemoScript = std::string(KELVANE_SOURCE_DIR) + "/scripts/make-demo-image.sh";

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            lines.push_back(line);
    return lines;
}

// The program with `args` on one image, stdin not a terminal.
ToolResult Kelvane(const std::string& image, const std::string& args) {
    return RunTool(Quote(kBinary) + " --drive " + Quote(image) + " " + args, 120);
}

// An image of `sectors` sectors in a pattern without zero bytes; its bytes for comparison.
std::string PatternImage(const test::TempDir& dir, std::uint64_t sectors,
                         const std::string& name = "disk.img") {
    const std::string path = dir.File(name);
    std::string bytes(sectors * 512, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(0x80 | (i * 7 + i / 512) % 128);
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

TEST(WipeFreeCommand, ErasesBothDemoPartitionsAndLeavesTheirFiles) {
    if (const std::string why = test::LoopUnavailableReason(); !why.empty())
        GTEST_SKIP() << why;
    test::TempDir dir;
    const std::string image = dir.File("demo.img");
    test::RunOrThrow("bash " + Quote(kDemoScript) + " " + Quote(image));
    const std::string before = ReadAll(image);
    ASSERT_NE(before.find("SECRET-FAT-RESIDUE-2"), std::string::npos);
    ASSERT_NE(before.find("SECRET-NTFS-RESIDUE-2"), std::string::npos);
    const auto listed = test::ParseJson(Kelvane(image, "list --json").out)["drives"][0]["partitions"];

    const ToolResult run = Kelvane(image, "wipe-free 0 1,2");
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
    const auto lines = Lines(run.out);
    const std::string done = "清除磁盘 " + image + "上的分区 中的数据完成!";
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), done);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), done), 2) << run.out;

    const std::string after = ReadAll(image);
    EXPECT_EQ(after.find("SECRET-FAT-RESIDUE"), std::string::npos);
    EXPECT_EQ(after.find("SECRET-NTFS-RESIDUE"), std::string::npos);
    // The partitions are still there, where they were, with the same file systems.
    const auto again = test::ParseJson(Kelvane(image, "list --json").out)["drives"][0]["partitions"];
    ASSERT_EQ(again.size(), listed.size());
    std::vector<std::string> types;
    for (std::size_t i = 0; i < again.size(); ++i) {
        EXPECT_EQ(again[i]["startSector"].AsUnsigned(), listed[i]["startSector"].AsUnsigned());
        EXPECT_EQ(again[i]["type"].AsString(), listed[i]["type"].AsString());
        types.push_back(again[i]["type"].AsString());
    }
    EXPECT_NE(std::find(types.begin(), types.end(), "FAT32"), types.end());
    EXPECT_NE(std::find(types.begin(), types.end(), "NTFS"), types.end());
    // A kept FAT file reads back as the script wrote it.
    std::string kept;
    while (kept.size() < 40000)
        kept += "kelvane demo kept file 1\n";
    kept.resize(40000);
    EXPECT_EQ(test::RunOrThrow("MTOOLS_SKIP_CHECK=1 mtype -i " +
                               Quote(image + "@@" + std::to_string(2048 * 512)) + " ::/keep1.txt"),
              kept);
}

TEST(WipePartitionCommand, FormatsAsAskedWipesAndRefusesWithoutYes) {
    if (const std::string why = test::LoopUnavailableReason(); !why.empty())
        GTEST_SKIP() << why;
    test::TempDir dir;
    const std::string image = dir.File("demo.img");
    test::RunOrThrow("bash " + Quote(kDemoScript) + " " + Quote(image));
    const std::string before = ReadAll(image);

    // Nothing to answer the warning on: refused before anything is written.
    EXPECT_EQ(Kelvane(image, "wipe-partition 0 2 --fs ntfs").exitStatus, 2);
    EXPECT_EQ(Kelvane(image, "wipe-partition 0 2 --fs ext4 --yes").exitStatus, 2);
    EXPECT_EQ(Kelvane(image, "wipe-partition 0 2 --yes").exitStatus, 2);
    EXPECT_EQ(ReadAll(image), before);

    const ToolResult run = Kelvane(image, "wipe-partition 0 2 --fs ntfs --label 归档 --yes");
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
    ASSERT_FALSE(Lines(run.out).empty());
    EXPECT_EQ(Lines(run.out).back(), "清除磁盘 " + image + "上的分区 中的数据完成!");
    const std::string after = ReadAll(image);
    EXPECT_EQ(after.find("SECRET-NTFS-RESIDUE"), std::string::npos);
    EXPECT_EQ(after.find("kelvane demo kept NTFS"), std::string::npos);
    // The FAT partition before it is untouched, kept files and residue alike.
    EXPECT_EQ(after.substr(0, 160000 * 512), before.substr(0, 160000 * 512));
    const auto partitions = test::ParseJson(Kelvane(image, "list --json").out)["drives"][0]["partitions"];
    ASSERT_EQ(partitions.size(), 2u);
    EXPECT_EQ(partitions[1]["type"].AsString(), "NTFS");
    const ToolResult label =
        RunTool("blkid -p -o value -s LABEL -O " +
                std::to_string(partitions[1]["startSector"].AsUnsigned() * 512) + " " + Quote(image));
    EXPECT_EQ(Lines(label.out), (std::vector<std::string>{"归档"}));
}

TEST(WipeDiskCommand, WithoutYesAndNoTerminalItRefusesAndWritesNothing) {
    test::TempDir dir;
    const std::string image = PatternImage(dir, 4000);
    const std::string before = ReadAll(image);
    const ToolResult run = Kelvane(image, "wipe-disk 0");
    EXPECT_EQ(run.exitStatus, 2) << run.out << run.err;
    EXPECT_FALSE(run.err.empty());
    EXPECT_EQ(ReadAll(image), before);
}

TEST(WipeDiskCommand, WithYesItZeroesTheImageAndSaysDoneLast) {
    test::TempDir dir;
    const std::string image = PatternImage(dir, 4001);
    const ToolResult run = Kelvane(image, "wipe-disk 0 --yes");
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
    ASSERT_FALSE(Lines(run.out).empty());
    EXPECT_EQ(Lines(run.out).back(), "清除磁盘 " + image + " 上的数据完成!");
    EXPECT_EQ(ReadAll(image), std::string(4001 * 512, '\0'));
}

TEST(JobCommands, AFailedJobExitsWithOne) {
    test::TempDir dir;
    const std::string image = PatternImage(dir, 4000);
    {
        const auto mbr = test::PartitionTable({{0x83, 64, 2000}});
        std::fstream(image, std::ios::in | std::ios::out | std::ios::binary)
            .write(reinterpret_cast<const char*>(mbr.data()), 512);
    }
    const std::string before = ReadAll(image);
    const ToolResult free = Kelvane(image, "wipe-free 0 1");
    EXPECT_EQ(free.exitStatus, 1) << free.out << free.err;
    ASSERT_FALSE(Lines(free.out).empty());
    EXPECT_EQ(Lines(free.out).back(), "清除磁盘 " + image + "上的分区 中的数据发生意外错误!");
    EXPECT_EQ(ReadAll(image), before);

    const ToolResult shred = RunTool(Quote(kBinary) + " shred --yes " + Quote(dir.File("missing.txt")));
    EXPECT_EQ(shred.exitStatus, 1) << shred.out << shred.err;
    EXPECT_NE(shred.err.find("没有找到 " + dir.File("missing.txt") + "。"), std::string::npos) << shred.err;
}

TEST(JobCommands, UsageErrorsExitWithTwoAndTouchNothing) {
    test::TempDir dir;
    const std::string image = PatternImage(dir, 4000);
    const std::string before = ReadAll(image);
    for (const char* args : {"wipe-free 0", "wipe-free 0 0", "wipe-free 0 1,", "wipe-free x 1", "wipe-disk",
                             "wipe-disk 0 1 --yes", "wipe-disk -1 --yes", "shred", "frobnicate"}) {
        const ToolResult run = Kelvane(image, args);
        EXPECT_EQ(run.exitStatus, 2) << args << "\n" << run.out << run.err;
    }
    EXPECT_EQ(RunTool(Quote(kBinary) + " --drive").exitStatus, 2);
    EXPECT_EQ(ReadAll(image), before);
}

TEST(WipeDiskCommand, InterruptStopsTheJobAndExitsWithThree) {
    test::TempDir dir;
    const std::string image = dir.File("large.img");
    // 2 GiB, sparse, with a mark in the last sector that a finished wipe would have zeroed.
    const std::uint64_t bytes = std::uint64_t{2} << 30;
    test::SparseImage(image, bytes).Write(bytes - 512, std::vector<std::uint8_t>(512, 0x5A));

    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        ::execl(kBinary.c_str(), kBinary.c_str(), "--drive", image.c_str(), "wipe-disk", "0", "--yes",
                nullptr);
        ::_exit(127);
    }
    ::close(out[1]);
    // The working text is printed once the job runs, and with it the Ctrl-C handler.
    std::string text;
    char buffer[4096];
    while (text.find("正在清除硬盘") == std::string::npos) {
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::kill(pid, SIGINT);
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    ::close(out[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << text;
    EXPECT_EQ(WEXITSTATUS(status), 3) << text;
    ASSERT_FALSE(Lines(text).empty());
    EXPECT_EQ(Lines(text).back(), "清除磁盘 " + image + " 上的数据被用户停止!");
    std::ifstream last(image, std::ios::binary);
    last.seekg(static_cast<std::streamoff>(bytes - 512));
    EXPECT_EQ(last.get(), 0x5A);
}

} // namespace
} // namespace kelvane
