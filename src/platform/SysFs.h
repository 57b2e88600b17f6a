#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace kelvane {

// Contents of a sysfs attribute without its trailing newline; empty when it cannot be read.
std::string ReadSysText(const std::filesystem::path& file);
std::optional<std::uint64_t> ReadSysNumber(const std::filesystem::path& file);

// The canonical sysfs directory of block device major:minor (for example
// /sys/devices/pci0000:00/.../block/sda/sda1); empty when there is none.
std::filesystem::path SysDevBlockDir(unsigned major, unsigned minor);

} // namespace kelvane
