#include "DiskImage.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace kelvane::test {

void PutLe(std::span<std::uint8_t> buffer, std::size_t pos, std::uint64_t value, std::size_t size) {
    if (pos + size > buffer.size())
        throw std::out_of_range("PutLe past the buffer");
    for (std::size_t i = 0; i < size; ++i)
        buffer[pos + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint64_t GetLe(std::span<const std::uint8_t> buffer, std::size_t pos, std::size_t size) {
    if (pos + size > buffer.size())
        throw std::out_of_range("GetLe past the buffer");
    std::uint64_t v = 0;
    for (std::size_t i = size; i-- > 0;)
        v = (v << 8) | buffer[pos + i];
    return v;
}

TempDir::TempDir() {
    char pattern[] = "/tmp/kelvane-test-XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

SparseImage::SparseImage(std::string path, std::uint64_t sizeBytes)
    : m_path(std::move(path)), m_sizeBytes(sizeBytes) {
    const int fd = ::open(m_path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(sizeBytes)) != 0)
        throw std::runtime_error("cannot create image " + m_path);
    ::close(fd);
}

SparseImage SparseImage::Existing(const std::string& path) {
    SparseImage image;
    image.m_path = path;
    image.m_sizeBytes = std::filesystem::file_size(path);
    return image;
}

void SparseImage::Write(std::uint64_t byteOffset, std::span<const std::uint8_t> bytes) const {
    if (byteOffset + bytes.size() > m_sizeBytes)
        throw std::out_of_range("write past the image's end");
    const int fd = ::open(m_path.c_str(), O_WRONLY | O_CLOEXEC);
    const bool ok = fd >= 0 && ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(byteOffset)) ==
                                   static_cast<ssize_t>(bytes.size());
    if (fd >= 0)
        ::close(fd);
    if (!ok)
        throw std::runtime_error("cannot write image " + m_path);
}

Bytes SparseImage::Read(std::uint64_t byteOffset, std::size_t count) const {
    Bytes out(count, 0);
    const int fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool ok = fd >= 0 && ::pread(fd, out.data(), count, static_cast<off_t>(byteOffset)) ==
                                   static_cast<ssize_t>(count);
    if (fd >= 0)
        ::close(fd);
    if (!ok)
        throw std::runtime_error("cannot read image " + m_path);
    return out;
}

Sector PartitionTable(const std::vector<TableEntry>& entries, bool signature) {
    if (entries.size() > 4)
        throw std::invalid_argument("a partition table has four entries");
    Sector s{};
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::size_t at = 0x1BE + 16 * i;
        s[at] = entries[i].bootIndicator;
        s[at + 4] = entries[i].type;
        PutLe(s, at + 8, entries[i].relativeStart, 4);
        PutLe(s, at + 12, entries[i].sectorCount, 4);
    }
    if (signature) {
        s[510] = 0x55;
        s[511] = 0xAA;
    }
    return s;
}

namespace {

void PutText(std::span<std::uint8_t> buffer, std::size_t pos, std::string_view text, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i)
        buffer[pos + i] = static_cast<std::uint8_t>(i < text.size() ? text[i] : ' ');
}

void FatCommon(Sector& s, const FatBoot& fat) {
    s[0] = 0xEB;
    s[1] = 0x58;
    s[2] = 0x90;
    PutText(s, 3, "MSWIN4.1", 8);
    PutLe(s, 11, fat.bytesPerSector, 2);
    s[13] = fat.sectorsPerCluster;
    PutLe(s, 14, fat.reservedSectors, 2);
    s[16] = fat.fatCopies;
    s[21] = 0xF8;
    PutLe(s, 24, 63, 2);
    PutLe(s, 26, 255, 2);
    PutLe(s, 28, fat.hiddenSectors, 4);
    PutLe(s, 32, fat.totalSectors, 4);
    s[510] = 0x55;
    s[511] = 0xAA;
}

} // namespace

Sector Fat32BootSector(const FatBoot& fat) {
    Sector s{};
    FatCommon(s, fat);
    PutLe(s, 36, fat.sectorsPerFat, 4);
    PutLe(s, 44, 2, 4); // root directory cluster
    PutLe(s, 48, 1, 2);
    PutLe(s, 50, 6, 2);
    s[64] = 0x80;
    s[66] = 0x29;
    PutLe(s, 67, fat.serial, 4);
    PutText(s, 71, fat.label, 11);
    PutText(s, 82, "FAT32", 8);
    return s;
}

Sector Fat16BootSector(const FatBoot& fat) {
    Sector s{};
    FatCommon(s, fat);
    PutLe(s, 17, 512, 2); // root entries
    PutLe(s, 22, fat.sectorsPerFat, 2);
    s[36] = 0x80;
    s[38] = 0x29;
    PutLe(s, 39, fat.serial, 4);
    PutText(s, 43, fat.label, 11);
    PutText(s, 54, "FAT16", 8);
    // Boot code: bytes that a reader using the FAT32 positions (36, 67) would take for fields.
    for (std::size_t i = 62; i < 510; ++i)
        s[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return s;
}

Sector NtfsBootSector(const NtfsBoot& ntfs) {
    Sector s{};
    s[0] = 0xEB;
    s[1] = 0x52;
    s[2] = 0x90;
    if (ntfs.oemName)
        PutText(s, 3, "NTFS", 8);
    PutLe(s, 11, ntfs.bytesPerSector, 2);
    s[13] = ntfs.sectorsPerClusterByte;
    s[21] = 0xF8;
    PutLe(s, 24, 63, 2);
    PutLe(s, 26, 255, 2);
    PutLe(s, 28, ntfs.hiddenSectors, 4);
    PutLe(s, 40, ntfs.totalSectors, 8);
    PutLe(s, 48, ntfs.mftCluster, 8);
    PutLe(s, 56, ntfs.mftMirrorCluster, 8);
    s[64] = ntfs.clustersPerFileRecord;
    s[68] = ntfs.clustersPerIndexBuffer;
    PutLe(s, 72, ntfs.serial, 8);
    s[510] = 0x55;
    s[511] = 0xAA;
    return s;
}

Bytes EncodeRun(std::uint64_t length, std::int64_t delta) {
    auto unsignedBytes = [](std::uint64_t v) {
        std::size_t n = 1;
        while (n < 8 && (v >> (8 * n)) != 0)
            ++n;
        return n;
    };
    auto signedBytes = [](std::int64_t v) {
        std::size_t n = 1;
        while (n < 8) {
            const std::int64_t lo = -(std::int64_t{1} << (8 * n - 1));
            const std::int64_t hi = (std::int64_t{1} << (8 * n - 1)) - 1;
            if (v >= lo && v <= hi)
                break;
            ++n;
        }
        return n;
    };
    const std::size_t m = unsignedBytes(length);
    const std::size_t n = signedBytes(delta);
    Bytes run(1 + m + n, 0);
    run[0] = static_cast<std::uint8_t>(n << 4 | m);
    PutLe(run, 1, length, m);
    PutLe(run, 1 + m, static_cast<std::uint64_t>(delta), n);
    return run;
}

namespace {

Bytes AttributeHeader(std::uint32_t type, std::size_t length, bool nonResident) {
    Bytes a(length, 0);
    PutLe(a, 0, type, 4);
    PutLe(a, 4, length, 4);
    a[8] = nonResident ? 1 : 0;
    PutLe(a, 10, nonResident ? 64 : 24, 2); // name offset (no name)
    return a;
}

std::size_t Align8(std::size_t n) {
    return (n + 7) / 8 * 8;
}

Bytes Resident(std::uint32_t type, const Bytes& value) {
    Bytes a = AttributeHeader(type, Align8(24 + value.size()), false);
    PutLe(a, 16, value.size(), 4);
    PutLe(a, 20, 24, 2);
    std::memcpy(a.data() + 24, value.data(), value.size());
    return a;
}

} // namespace

FileRecord& FileRecord::StandardInformation(std::uint64_t created, std::uint64_t modified) {
    Bytes value(48, 0);
    PutLe(value, 0, created, 8);
    PutLe(value, 8, modified, 8);
    PutLe(value, 16, modified, 8);
    PutLe(value, 24, modified, 8);
    PutLe(value, 32, 0x20, 4);
    return Raw(Resident(0x10, value));
}

FileRecord& FileRecord::FileName(std::uint64_t parent, const std::u16string& name, std::uint8_t nameSpace) {
    Bytes value(66 + 2 * name.size(), 0);
    PutLe(value, 0, parent, 6);
    PutLe(value, 6, 1, 2);
    value[64] = static_cast<std::uint8_t>(name.size());
    value[65] = nameSpace;
    for (std::size_t i = 0; i < name.size(); ++i)
        PutLe(value, 66 + 2 * i, name[i], 2);
    return Raw(Resident(0x30, value));
}

FileRecord& FileRecord::AttributeList(const std::vector<std::pair<std::uint32_t, std::uint64_t>>& entries) {
    Bytes value;
    for (const auto& [type, recordNumber] : entries) {
        Bytes e(32, 0);
        PutLe(e, 0, type, 4);
        PutLe(e, 4, e.size(), 2);
        e[7] = 26;
        PutLe(e, 16, recordNumber, 6);
        PutLe(e, 22, 1, 2);
        value.insert(value.end(), e.begin(), e.end());
    }
    return Raw(Resident(0x20, value));
}

FileRecord& FileRecord::ResidentData(const Bytes& value, std::uint32_t type) {
    return Raw(Resident(type, value));
}

FileRecord& FileRecord::NonResidentData(const Bytes& runList, std::uint64_t allocatedSize,
                                        std::uint64_t dataSize, std::uint32_t type) {
    Bytes a = AttributeHeader(type, Align8(64 + runList.size() + 1), true);
    PutLe(a, 32, 64, 2);
    PutLe(a, 40, allocatedSize, 8);
    PutLe(a, 48, dataSize, 8);
    PutLe(a, 56, dataSize, 8);
    std::memcpy(a.data() + 64, runList.data(), runList.size());
    return Raw(a);
}

FileRecord& FileRecord::Raw(const Bytes& attribute) {
    m_attributes.insert(m_attributes.end(), attribute.begin(), attribute.end());
    return *this;
}

FileRecord& FileRecord::Filler(std::uint32_t length) {
    return Raw(AttributeHeader(0x40, length, false));
}

std::array<std::uint8_t, 1024> FileRecord::Build(std::uint16_t usn, std::uint32_t usedSize,
                                                 std::uint16_t firstAttribute) const {
    std::array<std::uint8_t, 1024> r{};
    const std::size_t end = kFirstAttribute + m_attributes.size();
    if (end + 8 > r.size())
        throw std::length_error("attributes do not fit a 1024-byte record");
    std::memcpy(r.data(), "FILE", 4);
    PutLe(r, 4, kUsaOffset, 2);
    PutLe(r, 6, 3, 2);
    PutLe(r, 16, 1, 2);
    PutLe(r, 18, 1, 2);
    PutLe(r, 20, firstAttribute != 0 ? firstAttribute : kFirstAttribute, 2);
    PutLe(r, 22, m_flags, 2);
    PutLe(r, 24, usedSize != 0 ? usedSize : end + 8, 4);
    PutLe(r, 28, r.size(), 4);
    PutLe(r, 40, 8, 2);
    std::memcpy(r.data() + kFirstAttribute, m_attributes.data(), m_attributes.size());
    PutLe(r, end, 0xFFFFFFFF, 4);
    PutLe(r, kUsaOffset, usn, 2);
    for (std::size_t i = 0; i < 2; ++i) {
        const std::size_t sectorEnd = 512 * (i + 1) - 2;
        r[kUsaOffset + 2 + 2 * i] = r[sectorEnd];
        r[kUsaOffset + 3 + 2 * i] = r[sectorEnd + 1];
        PutLe(r, sectorEnd, usn, 2);
    }
    return r;
}

} // namespace kelvane::test
