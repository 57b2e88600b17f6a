#include "platform/Files.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <vector>

namespace kelvane {

ShredFile::~ShredFile() {
    Close();
}

int ShredFile::Open(const std::string& path) {
    struct stat before {};
    if (::lstat(path.c_str(), &before) != 0)
        return errno;
    if (S_ISLNK(before.st_mode))
        return ELOOP; // a link is never followed, whatever it points to
    if (!S_ISREG(before.st_mode))
        return ENOTREGULAR;
    // The read-only attribute's stand-in holds for root too, who would otherwise open anything.
    if ((before.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return EACCES;
    // O_NONBLOCK: a FIFO swapped in after the check must not hang the job waiting for a reader.
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    struct stat after {};
    if (::fstat(fd, &after) != 0 || !S_ISREG(after.st_mode) || after.st_ino != before.st_ino ||
        after.st_dev != before.st_dev) {
        ::close(fd);
        return ENOTREGULAR;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        return error;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    m_fd = fd;
    m_sizeBytes = static_cast<std::uint64_t>(after.st_size);
    return 0;
}

int ShredFile::OverwriteWithZeros(std::uint64_t blocks, std::size_t blockBytes) {
    const std::vector<std::uint8_t> zeros(blockBytes, 0);
    for (std::uint64_t b = 0; b < blocks; ++b) {
        std::size_t done = 0;
        while (done < blockBytes) {
            const ssize_t n = ::pwrite(m_fd, zeros.data() + done, blockBytes - done,
                                       static_cast<off_t>(b * blockBytes + done));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return errno;
            }
            if (n == 0)
                return ENOSPC;
            done += static_cast<std::size_t>(n);
        }
    }
    return 0;
}

int ShredFile::Flush() {
    return ::fdatasync(m_fd) == 0 ? 0 : errno;
}

int ShredFile::Close() {
    if (m_fd < 0)
        return 0;
    const int result = ::close(m_fd) == 0 ? 0 : errno;
    m_fd = -1;
    return result;
}

std::string ShredFile::CopyOnWriteFileSystem(const std::string& path) {
    struct statfs fs {};
    if (::statfs(path.c_str(), &fs) != 0)
        return {};
    switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x9123683EUL:
        return "btrfs";
    case 0x2FC12FC1UL:
        return "zfs";
    case 0xF2F52010UL:
        return "f2fs";
    case 0x3434UL:
        return "nilfs2";
    case 0xCA451A4EUL:
        return "bcachefs";
    default:
        return {};
    }
}

int RemoveFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0 ? 0 : errno;
}

void RereadPartitionTable(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISBLK(st.st_mode))
        (void)::ioctl(fd, BLKRRPART);
    ::close(fd);
}

} // namespace kelvane
