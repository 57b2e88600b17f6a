#include "SystemTools.h"

#include "DiskImage.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace kelvane::test {
namespace {

std::string Slurp(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Trim(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
        s.pop_back();
    return s;
}

} // namespace

std::string Quote(const std::string& word) {
    std::string out = "'";
    for (char c : word)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

ToolResult RunTool(const std::string& command, int timeoutSeconds) {
    TempDir dir;
    const std::string out = dir.File("out");
    const std::string err = dir.File("err");
    const std::string line = "timeout -k 5 " + std::to_string(timeoutSeconds) + " /bin/sh -c " +
                             Quote(command) + " >" + Quote(out) + " 2>" + Quote(err) + " </dev/null";
    const int status = std::system(line.c_str());
    ToolResult r;
    r.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (r.exitStatus == 124 || r.exitStatus == 137)
        r.exitStatus = -1; // timeout's own statuses: the command did not finish
    r.out = Slurp(out);
    r.err = Slurp(err);
    return r;
}

std::string RunOrThrow(const std::string& command) {
    const ToolResult r = RunTool(command);
    if (r.exitStatus != 0)
        throw std::runtime_error("'" + command + "' failed (" + std::to_string(r.exitStatus) + "): " + r.err +
                                 r.out);
    return r.out;
}

bool IsRoot() {
    return ::geteuid() == 0;
}

std::string LoopUnavailableReason() {
    if (!IsRoot())
        return "needs root for loop devices and mounts";
    if (!std::filesystem::exists("/dev/loop-control"))
        return "no /dev/loop-control on this machine";
    return {};
}

LoopDevice::LoopDevice(const std::string& image, std::uint64_t offsetBytes, std::uint64_t sizeBytes,
                       bool partitions) {
    std::string command = "losetup -f --show";
    if (offsetBytes != 0)
        command += " -o " + std::to_string(offsetBytes);
    if (sizeBytes != 0)
        command += " --sizelimit " + std::to_string(sizeBytes);
    if (partitions)
        command += " -P";
    m_path = Trim(RunOrThrow(command + " " + Quote(image)));
    if (m_path.rfind("/dev/loop", 0) != 0)
        throw std::runtime_error("losetup gave no loop device: " + m_path);
    if (!partitions)
        return;
    // Without udev the kernel may know the partitions but no node appears for them.
    for (int i = 0; i < 20 && !std::filesystem::exists(PartitionPath(1)); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!std::filesystem::exists(PartitionPath(1)))
        RunTool("partx -a " + Quote(m_path));
}

LoopDevice::~LoopDevice() {
    // A busy device (a mount not yet gone) may need a moment before it lets go.
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (RunTool("losetup -d " + Quote(m_path)).exitStatus == 0)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

Mount::Mount(const std::string& source, const std::string& mountPoint, const std::string& options)
    : m_point(mountPoint) {
    std::filesystem::create_directories(mountPoint);
    RunOrThrow("mount " + (options.empty() ? std::string() : "-o " + Quote(options) + " ") + Quote(source) +
               " " + Quote(mountPoint));
}

Mount::~Mount() {
    if (RunTool("umount " + Quote(m_point)).exitStatus != 0)
        RunTool("umount -l " + Quote(m_point));
}

} // namespace kelvane::test
