#pragma once

#include <cstdint>
#include <string>

namespace kelvane {

// A regular file opened for overwriting in place: never through a link, never a FIFO or device,
// exclusively (an flock held elsewhere is a sharing violation).
class ShredFile {
  public:
    ShredFile() = default;
    ~ShredFile();
    ShredFile(const ShredFile&) = delete;
    ShredFile& operator=(const ShredFile&) = delete;

    // 0, or the errno that refused the file. A file without any write permission bit is read-only to
    // us even when we are root (EACCES); a file that is not regular gives ENOTREGULAR.
    int Open(const std::string& path);
    std::uint64_t SizeBytes() const { return m_sizeBytes; }
    // Writes `blocks` blocks of `blockBytes` zeros from offset 0: 0 or the errno.
    int OverwriteWithZeros(std::uint64_t blocks, std::size_t blockBytes);
    // fdatasync: the zeros are on the disk before the name goes.
    int Flush();
    int Close();

    // The name of a copy-on-write or log-structured file system under `path`, where an overwrite in
    // place does not reach the old blocks; empty for any other.
    static std::string CopyOnWriteFileSystem(const std::string& path);

  private:
    int m_fd = -1;
    std::uint64_t m_sizeBytes = 0;
};

// Not a regular file (a FIFO, a device node, a folder, a socket).
inline constexpr int ENOTREGULAR = 10001;

// Deletes the file's name: 0 or the errno.
int RemoveFile(const std::string& path);

// Asks the kernel to read a disk's partition table again (BLKRRPART); a refusal is not an error,
// and an image file has nothing to re-read.
void RereadPartitionTable(const std::string& path);

} // namespace kelvane
