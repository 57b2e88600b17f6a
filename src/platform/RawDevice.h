#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <sys/types.h>

namespace kelvane {

// A drive as the operating system gives it: a block device or an image file, addressed in bytes.
// Every transfer is whole or it fails; a short read or write is continued, never counted as success.
class RawDevice {
  public:
    virtual ~RawDevice() = default;

    // Each returns 0, or the errno that stopped the transfer. A transfer that would pass the end of
    // the device fails with ENOSPC and transfers nothing, so an image file never grows.
    virtual int ReadAt(std::span<std::uint8_t> buffer, std::uint64_t byteOffset) = 0;
    virtual int WriteAt(std::span<const std::uint8_t> buffer, std::uint64_t byteOffset) = 0;
    // Makes every write so far durable (fdatasync); 0 or the errno.
    virtual int Flush() = 0;
    virtual std::uint64_t SizeBytes() const = 0;
};

enum class Access { Read, ReadWrite };

// Opens a block device or a regular image file. Returns null with `error` set on failure.
using RawDeviceOpener =
    std::function<std::unique_ptr<RawDevice>(const std::string& path, Access access, int& error)>;

std::unique_ptr<RawDevice> OpenRawDevice(const std::string& path, Access access, int& error);

// The opener every CPhysicalDrive uses; tests put a fault-injecting one in its place.
// Passing an empty function restores the real one.
void SetRawDeviceOpener(RawDeviceOpener opener);
std::unique_ptr<RawDevice> OpenDriveDevice(const std::string& path, Access access, int& error);

// Test hook: the pread/pwrite that image and device transfers call, so a test can make them short or
// interrupted. Null restores the system's own.
using PreadFunction = ssize_t (*)(int fd, void* buffer, size_t bytes, off_t offset);
using PwriteFunction = ssize_t (*)(int fd, const void* buffer, size_t bytes, off_t offset);
void SetRawIoFunctions(PreadFunction readFn, PwriteFunction writeFn);

// Alignment that lets a run go to the disk with O_DIRECT.
inline constexpr std::size_t kDirectIoAlignment = 4096;

// A zero-filled buffer aligned for direct I/O.
struct AlignedFree {
    void operator()(std::uint8_t* p) const noexcept;
};
using AlignedBuffer = std::unique_ptr<std::uint8_t[], AlignedFree>;
AlignedBuffer AllocateAligned(std::size_t bytes);

} // namespace kelvane
