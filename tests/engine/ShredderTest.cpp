#include "DiskImage.h"
#include "EngineHarness.h"
#include "SystemTools.h"
#include "platform/Files.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvane {
namespace {

using test::Quote;
using test::RecordingHost;
using test::RunJob;

namespace fs = std::filesystem;

const char* const kDone = "粉碎文件操作完成!";
const char* const kUnfinished = "粉碎文件操作未完成!";
const char* const kCancelled = "粉碎文件操作被用户取消!";

// The files live on a loop-mounted ext4 image (1 KiB blocks at this size), so that a test can look for
// their old contents in the image's bytes once the job is over.
class Shredder : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const std::string why = test::LoopUnavailableReason(); !why.empty())
            GTEST_SKIP() << why;
        image = dir.File("ext4.img");
        test::SparseImage(image, 32 << 20);
        test::RunOrThrow("mkfs.ext4 -q -F " + Quote(image));
        loop.emplace(image);
        mount.emplace(loop->Path(), dir.File("mnt"));
        host.engine = &engine;
    }
    std::string Path(const std::string& name) const { return dir.File("mnt/" + name); }
    std::string Make(const std::string& name, const std::string& content) {
        std::ofstream(Path(name), std::ios::binary) << content;
        return Path(name);
    }
    static std::string Content(const std::string& path) {
        const auto bytes = test::ReadWholeFile(path);
        return {bytes.begin(), bytes.end()};
    }
    static std::string Filled(const std::string& line, std::size_t bytes) {
        std::string text;
        while (text.size() < bytes)
            text += line;
        text.resize(bytes);
        return text;
    }
    // Unmounts and detaches, so the image holds everything the file system wrote.
    test::Bytes ImageAfterUnmount() {
        mount.reset();
        loop.reset();
        return test::ReadWholeFile(image);
    }
    JobOutcome Shred(const std::vector<std::string>& files) {
        return RunJob(engine, {JobKind::Shred, -1, {}, files});
    }

    test::TempDir dir;
    std::string image;
    std::optional<test::LoopDevice> loop;
    std::optional<test::Mount> mount;
    RecordingHost host;
    CEraseEngine engine{host};
};

TEST_F(Shredder, ZeroesAndDeletesEveryFileAndLeavesNoTraceInTheImage) {
    const std::string small = Make("small.txt", Filled("SHRED-SMALL ", 5000));
    const std::string empty = Make("empty.txt", "");
    // A sparse 12 MiB file with data at both ends: the whole length is covered, not a prefix.
    const std::string large = Make("large.bin", "SHRED-LARGE-HEAD");
    fs::resize_file(large, (12 << 20) + 123);
    {
        std::fstream tail(large, std::ios::in | std::ios::out | std::ios::binary);
        tail.seekp((12 << 20) + 50);
        tail << "SHRED-LARGE-TAIL";
    }
    // A second name keeps the small file's blocks readable after the job deletes the first.
    const std::string witness = Path("witness");
    fs::create_hard_link(small, witness);
    test::RunOrThrow("sync");
    const test::Bytes before = test::ReadWholeFile(image);
    for (const char* marker : {"SHRED-SMALL", "SHRED-LARGE-HEAD", "SHRED-LARGE-TAIL"})
        ASSERT_TRUE(test::Contains(before, marker)) << marker;

    EXPECT_EQ(Shred({small, empty, large}), JobOutcome::Completed);
    EXPECT_EQ(host.statuses, (std::vector<std::string>{"正在粉碎文件 " + small, "正在粉碎文件 " + empty,
                                                       "正在粉碎文件 " + large, kDone}));
    EXPECT_EQ(host.progress, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(host.questions.size(), 1u);
    EXPECT_TRUE(host.messages.empty());
    for (const auto& p : {small, empty, large})
        EXPECT_FALSE(fs::exists(p)) << p;
    // 5000 bytes are covered by two whole blocks of zeros.
    EXPECT_EQ(Content(witness), std::string(8192, '\0'));

    const test::Bytes after = ImageAfterUnmount();
    for (const char* marker : {"SHRED-SMALL", "SHRED-LARGE-HEAD", "SHRED-LARGE-TAIL"})
        EXPECT_FALSE(test::Contains(after, marker)) << marker;
}

TEST_F(Shredder, AReadOnlyFileStopsTheJobWhereItStands) {
    const std::string first = Make("1.txt", "first");
    const std::string readOnly = Make("2.txt", "read only");
    const std::string last = Make("3.txt", "last");
    ::chmod(readOnly.c_str(), 0444); // no write bit: refused even for root
    EXPECT_EQ(Shred({first, readOnly, last}), JobOutcome::Failed);
    EXPECT_FALSE(fs::exists(first));
    EXPECT_EQ(Content(readOnly), "read only");
    EXPECT_EQ(Content(last), "last");
    EXPECT_EQ(host.messages, std::vector<std::string>{"对 " + readOnly + " 的存取被拒绝。"});
    EXPECT_EQ(host.LastStatus(), kUnfinished);
}

TEST_F(Shredder, ALinkOrAFifoIsRefusedAndNothingIsWrittenThroughIt) {
    const std::string target = Make("target.txt", "the link's target");
    const std::string link = Path("link");
    fs::create_symlink(target, link);
    const std::string fifo = Path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    for (const auto& path : {link, fifo}) {
        host.messages.clear();
        // A FIFO opened for writing without a reader would block for ever: the test's timeout says so.
        EXPECT_EQ(Shred({path, target}), JobOutcome::Failed) << path;
        ASSERT_EQ(host.messages.size(), 1u) << path;
        EXPECT_NE(host.messages[0].find(path), std::string::npos) << host.messages[0];
        EXPECT_EQ(host.LastStatus(), kUnfinished);
        EXPECT_TRUE(fs::is_symlink(link));
        EXPECT_TRUE(fs::is_fifo(fifo));
        EXPECT_EQ(Content(target), "the link's target");
    }
}

TEST_F(Shredder, AFileLockedElsewhereIsASharingViolation) {
    const std::string locked = Make("locked.txt", "in use");
    const int fd = ::open(locked.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    EXPECT_EQ(Shred({locked}), JobOutcome::Failed);
    ::close(fd);
    EXPECT_EQ(host.messages, std::vector<std::string>{"在存取 " + locked + " 时发生共享违例。"});
    EXPECT_EQ(Content(locked), "in use");
}

TEST_F(Shredder, AStopLandsAfterTheFileInHand) {
    const std::string a = Make("a.txt", "a");
    const std::string b = Make("b.txt", "b");
    const std::string c = Make("c.txt", "c");
    host.stopWhen = [&](const std::string& s) { return s == "正在粉碎文件 " + a; };
    EXPECT_EQ(Shred({a, b, c}), JobOutcome::Stopped);
    EXPECT_FALSE(fs::exists(a));
    EXPECT_EQ(Content(b), "b");
    EXPECT_EQ(Content(c), "c");
    EXPECT_EQ(host.LastStatus(), kCancelled);
}

TEST_F(Shredder, ADeclinedConfirmationTouchesNothing) {
    const std::string a = Make("a.txt", "a");
    host.answerYes = false;
    EXPECT_EQ(Shred({a}), JobOutcome::Declined);
    EXPECT_EQ(Content(a), "a");
    EXPECT_TRUE(host.statuses.empty());
    EXPECT_EQ(host.ended, std::vector<JobKind>{JobKind::Shred});
}

TEST_F(Shredder, RunningTwiceOnTheSameListEndsAtTheFirstRowNotFound) {
    const std::string a = Make("a.txt", "a");
    const std::string b = Make("b.txt", "b");
    EXPECT_EQ(Shred({a, b}), JobOutcome::Completed);
    EXPECT_EQ(Shred({a, b}), JobOutcome::Failed);
    EXPECT_EQ(host.messages, std::vector<std::string>{"没有找到 " + a + "。"});
    EXPECT_EQ(host.LastStatus(), kUnfinished);
}

TEST_F(Shredder, AFullFileSystemStopsTheJobAndKeepsTheFile) {
    // 5000 bytes take five 1 KiB blocks; the zeros run to 8192 bytes and need three more.
    const std::string grows = Make("grows.txt", Filled("GROWS ", 5000));
    const std::string next = Make("next.txt", "next");
    test::RunTool("dd if=/dev/zero of=" + Quote(Path("fill")) + " bs=1k status=none");
    test::RunOrThrow("sync");
    EXPECT_EQ(Shred({grows, next}), JobOutcome::Failed);
    EXPECT_EQ(host.messages, std::vector<std::string>{"在存取 " + grows + " 时磁盘已满。"});
    EXPECT_TRUE(fs::exists(grows));
    EXPECT_EQ(Content(next), "next");
    EXPECT_EQ(host.LastStatus(), kUnfinished);
}

// Without writing 4 GiB: the length that decides how much is overwritten is the whole 64-bit size.
TEST(ShredFile, AFileOfMoreThan4GiBIsMeasuredWhole) {
    test::TempDir dir;
    const std::string big = dir.File("big");
    test::SparseImage(big, (std::uint64_t{4} << 30) + 5000);
    ShredFile file;
    ASSERT_EQ(file.Open(big), 0);
    EXPECT_EQ(file.SizeBytes(), (std::uint64_t{4} << 30) + 5000);
}

} // namespace
} // namespace kelvane
