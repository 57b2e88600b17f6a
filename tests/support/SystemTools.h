#pragma once

// Shell tools, loop devices and mounts for tests that need the real kernel. Every loop device is
// detached and every mount undone by its destructor, also when the test fails.

#include <cstdint>
#include <string>
#include <vector>

namespace kelvane::test {

struct ToolResult {
    int exitStatus = -1; // -1 when the command did not exit normally (killed, timed out)
    std::string out;
    std::string err;
};

// Runs `command` through /bin/sh, killed after `timeoutSeconds`.
ToolResult RunTool(const std::string& command, int timeoutSeconds = 120);
// Runs `command` and throws with its output when it does not exit with 0.
std::string RunOrThrow(const std::string& command);

// Shell-quotes one word.
std::string Quote(const std::string& word);

bool IsRoot();
// Why loop devices cannot be used here, or empty when they can.
std::string LoopUnavailableReason();

class LoopDevice {
  public:
    // losetup -f --show [-o offset] [--sizelimit size] [-P] image. With `partitions`, partition nodes
    // are added by partx where nothing else creates them.
    explicit LoopDevice(const std::string& image, std::uint64_t offsetBytes = 0, std::uint64_t sizeBytes = 0,
                        bool partitions = false);
    ~LoopDevice();
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;
    const std::string& Path() const { return m_path; }
    std::string PartitionPath(int number) const { return m_path + "p" + std::to_string(number); }

  private:
    std::string m_path;
};

class Mount {
  public:
    Mount(const std::string& source, const std::string& mountPoint, const std::string& options = "");
    ~Mount();
    Mount(const Mount&) = delete;
    Mount& operator=(const Mount&) = delete;
    const std::string& Point() const { return m_point; }

  private:
    std::string m_point;
};

} // namespace kelvane::test
