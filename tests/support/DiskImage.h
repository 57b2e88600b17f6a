#pragma once

// Builds the on-disk structures the device layer reads, byte by byte at offsets the tests state, so
// that an assertion never leans on the reader it checks.

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace kelvane::test {

using Sector = std::array<std::uint8_t, 512>;
using Bytes = std::vector<std::uint8_t>;

// Little-endian store of the low `size` bytes of `value`.
void PutLe(std::span<std::uint8_t> buffer, std::size_t pos, std::uint64_t value, std::size_t size);
std::uint64_t GetLe(std::span<const std::uint8_t> buffer, std::size_t pos, std::size_t size);

// A directory under /tmp that is removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return m_path; }
    std::string File(const std::string& name) const { return (m_path / name).string(); }

  private:
    std::filesystem::path m_path;
};

// A sparse image file: only the sectors written take space.
class SparseImage {
  public:
    SparseImage(std::string path, std::uint64_t sizeBytes);
    // An image file that exists already, left as it is.
    static SparseImage Existing(const std::string& path);
    const std::string& Path() const { return m_path; }
    std::uint64_t SizeBytes() const { return m_sizeBytes; }
    std::uint64_t Sectors() const { return m_sizeBytes / 512; }
    void Write(std::uint64_t byteOffset, std::span<const std::uint8_t> bytes) const;
    void WriteSector(std::uint64_t sector, std::span<const std::uint8_t> bytes) const {
        Write(sector * 512, bytes);
    }
    Bytes Read(std::uint64_t byteOffset, std::size_t count) const;

  private:
    SparseImage() = default;
    std::string m_path;
    std::uint64_t m_sizeBytes = 0;
};

// One 16-byte entry of a master or extended boot record.
struct TableEntry {
    std::uint8_t type = 0;
    std::uint32_t relativeStart = 0;
    std::uint32_t sectorCount = 0;
    std::uint8_t bootIndicator = 0;
};

// A partition table sector: up to four entries from 0x1BE, and 0x55 0xAA at 510 unless told not to.
Sector PartitionTable(const std::vector<TableEntry>& entries, bool signature = true);

struct FatBoot {
    std::uint16_t bytesPerSector = 512;
    std::uint8_t sectorsPerCluster = 8;
    std::uint16_t reservedSectors = 32;
    std::uint8_t fatCopies = 2;
    std::uint32_t hiddenSectors = 0;
    std::uint32_t totalSectors = 0;
    std::uint32_t sectorsPerFat = 0; // FAT32: the 32-bit field at 36; FAT16: the 16-bit field at 22
    std::uint32_t serial = 0;
    std::string label = "NO NAME    ";
};
// FAT32 layout: serial at 67, label at 71, "FAT32   " at 82.
Sector Fat32BootSector(const FatBoot& fat);
// FAT12/16 layout: serial at 39, label at 43, "FAT16   " at 54; boot code from 62 on.
Sector Fat16BootSector(const FatBoot& fat);

struct NtfsBoot {
    std::uint16_t bytesPerSector = 512;
    std::uint8_t sectorsPerClusterByte = 8;
    std::uint64_t totalSectors = 0;
    std::uint64_t mftCluster = 4;
    std::uint64_t mftMirrorCluster = 2;
    std::uint8_t clustersPerFileRecord = 0xF6; // 2^10 = 1024 bytes
    std::uint8_t clustersPerIndexBuffer = 1;
    std::uint64_t serial = 0;
    std::uint32_t hiddenSectors = 0;
    bool oemName = true; // "NTFS    " at 3
};
Sector NtfsBootSector(const NtfsBoot& ntfs);

// One run of a run list: its length in clusters and its offset from the previous run's cluster,
// each stored in the fewest bytes that keep its sign.
Bytes EncodeRun(std::uint64_t length, std::int64_t delta);

// An NTFS file record of 1024 bytes: header, attributes in the order added, the 0xFFFFFFFF end
// marker, and the update sequence applied the way NTFS writes it.
class FileRecord {
  public:
    static constexpr std::size_t kUsaOffset = 48;
    static constexpr std::size_t kFirstAttribute = 56;

    explicit FileRecord(std::uint16_t flags = 1) : m_flags(flags) {}

    FileRecord& StandardInformation(std::uint64_t created, std::uint64_t modified);
    FileRecord& FileName(std::uint64_t parent, const std::u16string& name, std::uint8_t nameSpace);
    // Attribute list entries: {type, record number}.
    FileRecord& AttributeList(const std::vector<std::pair<std::uint32_t, std::uint64_t>>& entries);
    FileRecord& ResidentData(const Bytes& value, std::uint32_t type = 0x80);
    FileRecord& NonResidentData(const Bytes& runList, std::uint64_t allocatedSize, std::uint64_t dataSize,
                                std::uint32_t type = 0x80);
    // Any attribute, given whole; its length field is taken as written.
    FileRecord& Raw(const Bytes& attribute);
    // An attribute of a type the reader ignores, `length` bytes long: moves what follows along.
    FileRecord& Filler(std::uint32_t length);

    // Offset at which the next attribute will start.
    std::size_t Position() const { return kFirstAttribute + m_attributes.size(); }

    // The record with its sector ends replaced by `usn`; the originals go to the update sequence array.
    // `usedSize`/`firstAttribute` override the header values (0: computed).
    std::array<std::uint8_t, 1024> Build(std::uint16_t usn = 0x0007, std::uint32_t usedSize = 0,
                                         std::uint16_t firstAttribute = 0) const;

  private:
    std::uint16_t m_flags;
    Bytes m_attributes;
};

} // namespace kelvane::test
