#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kelvane {

// The label libblkid finds in the byte range of a drive; empty when there is none or it cannot be read.
std::string ReadVolumeLabel(const std::string& drivePath, std::uint64_t offsetBytes, std::uint64_t sizeBytes);

// Free bytes of the file system mounted at `mountPoint`, as statvfs reports them; nothing on failure.
std::optional<std::uint64_t> FreeBytes(const std::string& mountPoint);

} // namespace kelvane
