#include "platform/RawDevice.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvane {
namespace {

PreadFunction g_pread = ::pread;
PwriteFunction g_pwrite = ::pwrite;

class FileRawDevice final : public RawDevice {
  public:
    FileRawDevice(int fd, int directFd, std::uint64_t sizeBytes)
        : m_fd(fd), m_directFd(directFd), m_sizeBytes(sizeBytes) {}
    ~FileRawDevice() override {
        if (m_directFd >= 0)
            ::close(m_directFd);
        ::close(m_fd);
    }
    FileRawDevice(const FileRawDevice&) = delete;
    FileRawDevice& operator=(const FileRawDevice&) = delete;

    int ReadAt(std::span<std::uint8_t> buffer, std::uint64_t byteOffset) override {
        if (!Inside(buffer.size(), byteOffset))
            return ENOSPC;
        std::size_t done = 0;
        while (done < buffer.size()) {
            const ssize_t n = g_pread(m_fd, buffer.data() + done, buffer.size() - done,
                                      static_cast<off_t>(byteOffset + done));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return errno;
            }
            if (n == 0)
                return EIO; // the device ended before its reported size
            done += static_cast<std::size_t>(n);
        }
        return 0;
    }

    int WriteAt(std::span<const std::uint8_t> buffer, std::uint64_t byteOffset) override {
        if (!Inside(buffer.size(), byteOffset))
            return ENOSPC;
        int fd = UsesDirect(buffer, byteOffset) ? m_directFd : m_fd;
        std::size_t done = 0;
        while (done < buffer.size()) {
            const ssize_t n = g_pwrite(fd, buffer.data() + done, buffer.size() - done,
                                       static_cast<off_t>(byteOffset + done));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return errno;
            }
            if (n == 0)
                return ENOSPC;
            done += static_cast<std::size_t>(n);
            // O_DIRECT refuses the rest of a run cut short off the alignment; the page cache takes it.
            if (done % kDirectIoAlignment != 0)
                fd = m_fd;
        }
        return 0;
    }

    int Flush() override { return ::fdatasync(m_fd) == 0 ? 0 : errno; }
    std::uint64_t SizeBytes() const override { return m_sizeBytes; }

  private:
    bool Inside(std::size_t bytes, std::uint64_t byteOffset) const {
        return byteOffset <= m_sizeBytes && bytes <= m_sizeBytes - byteOffset;
    }
    // A direct write must start, end and sit in memory on the alignment; a short direct transfer
    // continued at an odd offset would fail, so only whole aligned runs take this road.
    bool UsesDirect(std::span<const std::uint8_t> buffer, std::uint64_t byteOffset) const {
        return m_directFd >= 0 && byteOffset % kDirectIoAlignment == 0 &&
               buffer.size() % kDirectIoAlignment == 0 &&
               reinterpret_cast<std::uintptr_t>(buffer.data()) % kDirectIoAlignment == 0;
    }

    int m_fd;
    int m_directFd;
    std::uint64_t m_sizeBytes;
};

RawDeviceOpener& CurrentOpener() {
    static RawDeviceOpener opener;
    return opener;
}

} // namespace

void AlignedFree::operator()(std::uint8_t* p) const noexcept {
    std::free(p);
}

AlignedBuffer AllocateAligned(std::size_t bytes) {
    const std::size_t rounded = (bytes + kDirectIoAlignment - 1) / kDirectIoAlignment * kDirectIoAlignment;
    void* p = std::aligned_alloc(kDirectIoAlignment, rounded == 0 ? kDirectIoAlignment : rounded);
    if (p == nullptr)
        return nullptr;
    std::memset(p, 0, rounded == 0 ? kDirectIoAlignment : rounded);
    return AlignedBuffer(static_cast<std::uint8_t*>(p));
}

std::unique_ptr<RawDevice> OpenRawDevice(const std::string& path, Access access, int& error) {
    const int flags = (access == Access::ReadWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC;
    const int fd = ::open(path.c_str(), flags);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error = errno;
        ::close(fd);
        return nullptr;
    }
    std::uint64_t sizeBytes = 0;
    if (S_ISBLK(st.st_mode)) {
        if (::ioctl(fd, BLKGETSIZE64, &sizeBytes) != 0) {
            error = errno;
            ::close(fd);
            return nullptr;
        }
        // A job must see the disk as it is now, not pages cached before another device node
        // (a partition node, a loop device) wrote to it.
        if (access == Access::ReadWrite)
            (void)::ioctl(fd, BLKFLSBUF, 0);
    } else if (S_ISREG(st.st_mode)) {
        sizeBytes = static_cast<std::uint64_t>(st.st_size);
    } else {
        error = ENODEV;
        ::close(fd);
        return nullptr;
    }
    // Bulk zeroing goes around the page cache where the target allows it (tmpfs does not).
    int directFd = -1;
    if (access == Access::ReadWrite)
        directFd = ::open(path.c_str(), O_RDWR | O_DIRECT | O_CLOEXEC);
    error = 0;
    return std::make_unique<FileRawDevice>(fd, directFd, sizeBytes);
}

void SetRawIoFunctions(PreadFunction readFn, PwriteFunction writeFn) {
    g_pread = readFn != nullptr ? readFn : ::pread;
    g_pwrite = writeFn != nullptr ? writeFn : ::pwrite;
}

void SetRawDeviceOpener(RawDeviceOpener opener) {
    CurrentOpener() = std::move(opener);
}

std::unique_ptr<RawDevice> OpenDriveDevice(const std::string& path, Access access, int& error) {
    if (CurrentOpener())
        return CurrentOpener()(path, access, error);
    return OpenRawDevice(path, access, error);
}

} // namespace kelvane
