#include "device/PhysicalDrive.h"
#include "platform/Mounts.h"

#include <cstring>
#include <optional>

namespace kelvane {
namespace {

constexpr std::array<std::string_view, 256> BuildTypeNames() {
    std::array<std::string_view, 256> names{};
    for (std::size_t t = 0x17; t <= 0xFD; ++t)
        names[t] = "Unknown";
    names[0x00] = "Free";
    names[0x01] = "FAT12";
    names[0x02] = "XENIX root";
    names[0x03] = "XENIX user";
    names[0x04] = "FAT16";
    names[0x05] = "DOS Extended";
    names[0x06] = "FAT16 Huge";
    names[0x07] = "NTFS";
    names[0x08] = "OS/2 < V1.3 or DELL drive array or commodore DOS or ATX";
    names[0x09] = "ATX boot or file system";
    names[0x0A] = "OS/2 Boot Manager or OPUS or Swap";
    names[0x0B] = "FAT32";
    names[0x0C] = "FAT32";
    names[0x0D] = "NTFS LBA";
    names[0x0E] = "FAT16 LBA";
    names[0x0F] = "DOS Extended LBA";
    names[0x10] = "OPUS";
    names[0x11] = "OS/2 Boot Manager inactive type 01";
    names[0x12] = "Compaq diagnostics";
    names[0x13] = "Unknownos/2 Boot Manager,inactive,type 04 or Novell Dos 7.0 Fdisk.Unknown";
    names[0x14] = "os/2 Boot Manager,inactive,type 06";
    names[0x15] = "os/2 Boot Manager,inactive,type 07";
    names[0x16] = "AST window swap file or Compaq System DiagnosticsUnknown";
    for (std::size_t t : {0x1E, 0x20, 0x23, 0x2D, 0x2F, 0x30, 0x32})
        names[t] = "Reserved";
    names[0x21] = "NEC version of MS_DOS";
    names[0x38] = "PowerQuest PartitionMagic recovery";
    names[0x3C] = "Venix 80286";
    names[0x3D] = "Personal RISC Boot or PowerPC boot";
    names[0x3E] = "Secure File System (Corvelle)";
    names[0x4B] = "Oberon boot and data";
    names[0x4C] = "OnTrack Disk Manager (read-only)";
    names[0x4D] = "OnTrack Disk Manager or Novell";
    names[0x4E] = "CP/M or Microport";
    names[0x4F] = "OnTrack Disk Manager (write-only)";
    names[0x50] = "OnTrack Disk Manager (DDO)";
    names[0x52] = "GoldenBow VFeature";
    names[0xFE] = "";
    // 0xFF (Xenix bad-block table) is no partition a user could want erased by name.
    names[0xFF] = "Unknown";
    return names;
}

constexpr int kEntryOffsets[] = {0x1BE, 0x1CE, 0x1DE, 0x1EE};
// A chain of extended boot records can point back to itself or run on without end; a real disk
// never needs more tables than this.
constexpr std::size_t kMaxPartitionTables = 256;

bool HasBootSignature(std::span<const std::uint8_t> sector) {
    return sector[510] == 0x55 && sector[511] == 0xAA;
}

// NTFS sectors per cluster: up to 0x80 a count; above, 2^(256 - value) sectors (clusters over 64 KiB).
std::optional<std::uint32_t> DecodeNtfsSectorsPerCluster(std::uint32_t value) {
    const std::uint32_t sectors = value <= 0x80 ? value : (256 - value <= 24 ? 1u << (256 - value) : 0u);
    if (sectors == 0 || (sectors & (sectors - 1)) != 0)
        return std::nullopt;
    return sectors;
}

// Clusters per file record: a positive byte counts clusters, a negative one is 2^-value bytes.
std::uint64_t NtfsFileRecordBytes(std::uint32_t value, std::uint32_t sectorsPerCluster) {
    const auto byteValue = static_cast<std::int8_t>(value & 0xFF);
    if (byteValue > 0)
        return std::uint64_t(byteValue) * sectorsPerCluster * kSectorBytes;
    const int shift = -byteValue;
    return shift > 0 && shift < 32 ? std::uint64_t{1} << shift : 0;
}

} // namespace

const std::array<std::string_view, 256> PartitionTypeNames = BuildTypeNames();

std::uint64_t CPhysicalDrive::GetBootField(std::span<const std::uint8_t> sector, int offset, int length) {
    if (offset < 0 || length < 0 || offset + length > static_cast<int>(kSectorBytes) ||
        sector.size() < kSectorBytes) {
        Diagnostic("boot-sector field " + std::to_string(offset) + "+" + std::to_string(length) +
                   " lies outside the sector");
        return 0;
    }
    std::uint64_t v = 0;
    for (int i = std::min(length, 4); i-- > 0;)
        v = (v << 8) | sector[static_cast<std::size_t>(offset + i)];
    return v;
}

int CPhysicalDrive::ScanPartitionTable(std::uint64_t sector) {
    std::unordered_set<std::uint64_t> visited;
    return ScanTable(sector, sector == 0, visited);
}

int CPhysicalDrive::ScanTable(std::uint64_t sector, bool isMaster,
                              std::unordered_set<std::uint64_t>& visited) {
    if (!m_bOpen)
        return 0;
    // A chain that leads back to a table already read, or runs on too long, ends here.
    if (visited.size() >= kMaxPartitionTables || !visited.insert(sector).second)
        return 0;
    std::vector<std::uint8_t> table(kSectorBytes, 0);
    std::uint32_t bytesRead = 0;
    if (!ReadSectors(table.data(), sector, 1, &bytesRead) || !HasBootSignature(table))
        return 0;
    const std::uint64_t limit = GetTotalSectors() + 1;
    for (int entry : kEntryOffsets) {
        const auto type = static_cast<std::uint8_t>(GetBootField(table, entry + 4, 1));
        const std::uint64_t relative = GetBootField(table, entry + 8, 4);
        if (type == 0x00)
            continue;
        if (type == 0x05 || type == 0x0F) {
            // The master's extended entry starts the chain and sets its base, whatever its type;
            // every link inside the chain counts from that base and leaves it as it is.
            const std::uint64_t start = isMaster ? relative + sector : relative + m_extendedBase;
            if (start > limit)
                continue;
            if (isMaster)
                m_extendedBase = start;
            ScanTable(start, false, visited);
            continue;
        }
        const std::uint64_t start = relative + sector;
        if (start > limit)
            continue;
        PartitionInfo node;
        node.startSector = start;
        node.sectorCount = GetBootField(table, entry + 12, 4);
        node.tableSector = sector;
        node.entryOffset = entry;
        node.number = ++m_partitionCount;
        node.typeName = std::string(PartitionTypeNames[type]);
        const auto indicator = table[static_cast<std::size_t>(entry)];
        node.bootable = indicator == 0x80 ? "Yes" : indicator == 0x00 ? "No" : "Error";
        if (!DetectFileSystem(&node))
            node.typeName = " ";
        m_partitions.push_back(std::move(node));
    }
    return 1;
}

int CPhysicalDrive::DetectFileSystem(PartitionInfo* node) {
    if (node == nullptr)
        return 0;
    std::vector<std::uint8_t> boot(kSectorBytes, 0);
    std::uint32_t bytesRead = 0;
    if (!ReadSectors(boot.data(), node->startSector, 1, &bytesRead) || !HasBootSignature(boot))
        return 0;
    if (node->typeName == "NTFS") {
        if (std::memcmp(boot.data() + 3, "NTFS", 4) != 0) {
            node->typeName = " ";
            return 1;
        }
        NtfsParams p;
        p.partitionStart = node->startSector;
        // A value above 0x80 encodes a power of two; read as a count it would misplace every cluster.
        const auto spc = DecodeNtfsSectorsPerCluster(static_cast<std::uint32_t>(GetBootField(boot, 0x0D, 1)));
        p.sectorsPerCluster = spc.value_or(0);
        p.mftStart = GetBootField(boot, 0x30, 8) * p.sectorsPerCluster;
        p.mftMirrorStart = GetBootField(boot, 0x38, 8) * p.sectorsPerCluster;
        p.indexBlockSectors = static_cast<std::uint32_t>(GetBootField(boot, 0x44, 4)) * p.sectorsPerCluster;
        p.bytesPerSector = static_cast<std::uint32_t>(GetBootField(boot, 0x0B, 2));
        p.totalSectors = GetBootField(boot, 0x28, 8);
        // Only 1024-byte file records are read; a volume with others is not guessed at.
        const bool recordSizeOk = NtfsFileRecordBytes(static_cast<std::uint32_t>(GetBootField(boot, 0x40, 4)),
                                                      p.sectorsPerCluster) == 1024;
        if (p.sectorsPerCluster == 0 || p.indexBlockSectors == 0 || p.mftMirrorStart == 0 ||
            p.mftStart == 0 || p.bytesPerSector == 0 || p.totalSectors == 0 || !recordSizeOk) {
            node->typeName = " ";
            return 0;
        }
        node->fsParams = p;
        node->volumeSerial = static_cast<std::uint32_t>(GetBootField(boot, 0x48, 8));
        return 1;
    }
    if (IsFatTypeName(node->typeName)) {
        FatParams p;
        p.sectorsPerCluster = static_cast<std::uint32_t>(GetBootField(boot, 0x0D, 1));
        p.reservedSectors = GetBootField(boot, 0x0E, 2);
        p.sectorsPerFat = GetBootField(boot, 0x24, 4);
        p.totalSectors = GetBootField(boot, 0x20, 4);
        node->fsParams = p;
        node->volumeSerial = static_cast<std::uint32_t>(GetBootField(boot, 0x43, 4));
    }
    return 1;
}

const PartitionInfo* CPhysicalDrive::FindPartition(int number) const {
    for (const auto& node : m_partitions)
        if (node.number == number)
            return &node;
    return nullptr;
}

int CPhysicalDrive::MapDriveLetters() {
    // A partition's "letter" is where this system mounted it, matched by identity: the mounted device
    // is that partition (its node, or a loop device over the same file at the same offset).
    const auto drive = ResolvePath(m_devicePath);
    if (!drive)
        return 1;
    struct Mounted {
        ByteOrigin origin;
        std::string mountPoint;
    };
    std::vector<Mounted> mounted;
    for (const auto& m : ReadMountTable()) {
        if (m.major == 0)
            continue;
        if (auto origin = ResolveBlockDevice(m.major, m.minor); origin && SameBacking(*origin, *drive))
            mounted.push_back({*origin, m.mountPoint});
    }
    for (auto& node : m_partitions) {
        const std::uint64_t offset = drive->offsetBytes + node.startSector * kSectorBytes;
        for (const auto& m : mounted) {
            if (m.origin.offsetBytes == offset) {
                node.driveLetter = m.mountPoint;
                break;
            }
        }
    }
    return 1;
}

} // namespace kelvane
