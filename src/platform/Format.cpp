#include "platform/Format.h"

#include "platform/SysFs.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace kelvane {
namespace {

struct Run {
    int status = -1; // exit status; -1 when it could not start or did not exit
    std::string output;
    bool missing = false;
};

// Runs a tool without a shell (no quoting of labels or paths to get wrong), capturing its output.
Run RunTool(const std::vector<std::string>& argv) {
    Run run;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        run.missing = spawned == ENOENT;
        return run;
    }
    char buffer[4096];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        run.output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status))
        run.status = WEXITSTATUS(status);
    // posix_spawnp reports a missing program through the child's exit status 127.
    run.missing = run.missing || run.status == 127;
    return run;
}

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

// The partition node of a disk whose start and size are exactly the range, if the system has one.
std::string PartitionNode(const std::string& drivePath, std::uint64_t startSector,
                          std::uint64_t sectorCount) {
    struct stat st {};
    if (::stat(drivePath.c_str(), &st) != 0 || !S_ISBLK(st.st_mode))
        return {};
    const auto disk = SysDevBlockDir(major(st.st_rdev), minor(st.st_rdev));
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(disk, ec)) {
        if (!std::filesystem::exists(entry.path() / "partition"))
            continue;
        if (ReadSysNumber(entry.path() / "start") == startSector &&
            ReadSysNumber(entry.path() / "size") == sectorCount) {
            const std::string node = "/dev/" + entry.path().filename().string();
            struct stat nodeStat {};
            if (::stat(node.c_str(), &nodeStat) == 0 && S_ISBLK(nodeStat.st_mode))
                return node;
        }
    }
    return {};
}

// A loop device over exactly the range, detached when this goes.
class RangeLoop {
  public:
    RangeLoop(const std::string& drivePath, std::uint64_t startSector, std::uint64_t sectorCount) {
        const Run run = RunTool({"losetup", "--find", "--show", "--offset", std::to_string(startSector * 512),
                                 "--sizelimit", std::to_string(sectorCount * 512), drivePath});
        if (run.status == 0)
            m_path = Trimmed(run.output);
        else
            m_error = run.missing ? "没有找到 losetup" : Trimmed(run.output);
    }
    ~RangeLoop() {
        if (!m_path.empty())
            RunTool({"losetup", "--detach", m_path});
    }
    RangeLoop(const RangeLoop&) = delete;
    RangeLoop& operator=(const RangeLoop&) = delete;
    const std::string& Path() const { return m_path; }
    const std::string& Error() const { return m_error; }

  private:
    std::string m_path;
    std::string m_error;
};

} // namespace

std::uint32_t DefaultFat32ClusterBytes(std::uint64_t sectorCount) {
    const std::uint64_t bytes = sectorCount * 512;
    const std::uint64_t gib = 1024ull * 1024 * 1024;
    std::uint32_t cluster = bytes <= 8 * gib    ? 4096
                            : bytes <= 16 * gib ? 8192
                            : bytes <= 32 * gib ? 16384
                                                : 32768;
    while (cluster > 512 && bytes / cluster < 65525 + 1024) // room for the FATs and reserved sectors
        cluster /= 2;
    return cluster;
}

FormatOutcome FormatPartition(const std::string& drivePath, std::uint64_t startSector,
                              std::uint64_t sectorCount, const FormatChoice& choice) {
    std::string device = PartitionNode(drivePath, startSector, sectorCount);
    std::unique_ptr<RangeLoop> loop;
    if (device.empty()) {
        loop = std::make_unique<RangeLoop>(drivePath, startSector, sectorCount);
        if (loop->Path().empty())
            return {FormatResult::Error, "无法为分区建立回环设备: " + loop->Error()};
        device = loop->Path();
    }
    std::vector<std::string> argv;
    if (choice.fileSystem == FileSystemKind::Fat32) {
        const std::uint32_t cluster =
            choice.clusterBytes != 0 ? choice.clusterBytes : DefaultFat32ClusterBytes(sectorCount);
        argv = {
            "mkfs.fat", "-F", "32", "-s", std::to_string(cluster / 512), "-h", std::to_string(startSector)};
        if (!choice.label.empty())
            argv.insert(argv.end(), {"-n", choice.label});
    } else {
        // The boot sector's hidden-sectors field must name the partition's start, or some systems
        // will not boot or mount it; a loop device has no geometry to take it from.
        argv = {"mkntfs", "-F", "-q", "-p", std::to_string(startSector), "-H", "255", "-S", "63"};
        if (choice.quick)
            argv.push_back("-Q");
        if (choice.clusterBytes != 0)
            argv.insert(argv.end(), {"-c", std::to_string(choice.clusterBytes)});
        if (!choice.label.empty())
            argv.insert(argv.end(), {"-L", choice.label});
    }
    argv.push_back(device);
    const Run run = RunTool(argv);
    if (run.missing)
        return {FormatResult::Error,
                "没有找到 " + argv[0] + " (请安装 " +
                    (choice.fileSystem == FileSystemKind::Fat32 ? "dosfstools" : "ntfs-3g") + ")"};
    if (run.status != 0)
        return {FormatResult::Error, argv[0] + ": " + Trimmed(run.output)};
    // The new volume is on the disk before the job reads it back through the whole drive.
    const int fd = ::open(device.c_str(), O_RDONLY | O_CLOEXEC);
    const bool synced = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0)
        ::close(fd);
    if (!synced)
        return {FormatResult::Error, device + ": 无法把格式化结果写入磁盘"};
    return {FormatResult::Success, {}};
}

} // namespace kelvane
