#pragma once

#include <string>
#include <vector>

namespace kelvane {

// Exit statuses of every command.
inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitStopped = 3;

int RunListCommand(const std::vector<std::string>& args);
int RunWipeDiskCommand(std::vector<std::string> args);
int RunWipeFreeCommand(std::vector<std::string> args);
int RunShredCommand(std::vector<std::string> args);
int RunWipePartitionCommand(std::vector<std::string> args);

} // namespace kelvane
