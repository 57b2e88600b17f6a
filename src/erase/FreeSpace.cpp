#include "device/FatVolume.h"
#include "device/ZeroWriter.h"
#include "erase/EraseEngine.h"

#include <algorithm>

namespace kelvane {
namespace {

// The first FAT, read in runs of sectors as the entries ask for it. Entries of 12 bits may straddle
// two sectors, so a run is loaded from the sector that holds an entry's first byte.
class FatTable {
  public:
    FatTable(CPhysicalDrive& drive, std::uint64_t firstSector, const FatVolume& volume)
        : m_drive(drive), m_first(firstSector), m_sectors(volume.sectorsPerFat), m_bits(volume.fatBits),
          m_buffer(kRunSectors * kSectorBytes) {}

    // The entry of cluster k, or nothing when its sector cannot be read.
    std::optional<std::uint32_t> Entry(std::uint64_t k) {
        const std::uint64_t byte = k * static_cast<std::uint64_t>(m_bits) / 8;
        const std::uint64_t width = m_bits == 32 ? 4 : 2;
        if (byte < m_loadedFrom * kSectorBytes ||
            byte + width > (m_loadedFrom + m_loadedCount) * kSectorBytes) {
            if (!Load(byte / kSectorBytes))
                return std::nullopt;
        }
        const std::uint8_t* p = m_buffer.data() + (byte - m_loadedFrom * kSectorBytes);
        if (m_bits == 32)
            return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
                   std::uint32_t{p[3]} << 24;
        const std::uint32_t v = std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8;
        if (m_bits == 16)
            return v;
        return k % 2 == 0 ? v & 0x0FFF : v >> 4;
    }

  private:
    static constexpr std::uint64_t kRunSectors = 128;

    bool Load(std::uint64_t sector) {
        // Two sectors at least, so that a straddling 12-bit entry is always whole in the buffer.
        const std::uint64_t count = std::min(kRunSectors, m_sectors > sector ? m_sectors - sector : 0);
        std::uint32_t bytes = 0;
        if (count == 0 || !m_drive.ReadSectors(m_buffer.data(), m_first + sector,
                                               static_cast<std::uint32_t>(count), &bytes))
            return false;
        m_loadedFrom = sector;
        m_loadedCount = count;
        return true;
    }

    CPhysicalDrive& m_drive;
    std::uint64_t m_first;
    std::uint64_t m_sectors;
    int m_bits;
    std::vector<std::uint8_t> m_buffer;
    std::uint64_t m_loadedFrom = 0;
    std::uint64_t m_loadedCount = 0;
};

} // namespace

JobOutcome CEraseEngine::EraseFreeSpace(int disk, int partition) {
    if (!m_drive.Open(static_cast<std::uint16_t>(disk), Access::ReadWrite)) {
        m_host.SetStatus("清除分区出错，打开硬盘失败!");
        m_drive.Close();
        return JobOutcome::Failed;
    }
    const std::string name = m_drive.GetDisplayName();
    const auto list = m_drive.GetPartitionList();
    const PartitionInfo* node = nullptr;
    if (m_drive.GetPartitionCount() < 1)
        node = list.empty() ? nullptr : &list.front();
    else
        node = m_drive.FindPartition(partition);
    if (node == nullptr) {
        m_host.SetStatus("清除磁盘 " + name + " 上的数据发生错误,打开分区失败!");
        m_drive.Close();
        return JobOutcome::Failed;
    }
    Volume volume;
    volume.start = node->startSector;
    // An entry may claim more than the drive holds; nothing past the drive's end is the partition's.
    const std::uint64_t driveSectors = m_drive.GetTotalSectors();
    volume.sectors =
        volume.start >= driveSectors ? 0 : std::min(node->sectorCount, driveSectors - volume.start);
    volume.title = "正在清除硬盘 " + name + " 中的分区 " + node->driveLetter + " 上的残留数据...";
    m_host.SetStatus(volume.title);

    if (!TargetIsFree(volume.start, volume.sectors, true))
        m_nStopFlag.store(kStopWriteFailed);
    else if (IsNtfsTypeName(node->typeName))
        RunNtfsBranch(volume, *node);
    else if (IsFatTypeName(node->typeName))
        RunFatBranch(volume);
    else
        m_nStopFlag.store(kStopUnsupported);
    // A stopped job wrote too: its zeros are flushed before it says so.
    if (m_nStopFlag.load() == kStopNone || m_nStopFlag.load() == kStopRequested)
        FlushDrive();

    const int flag = m_nStopFlag.load();
    m_host.SetStatus("清除磁盘 " + name + "上的分区" + node->driveLetter +
                     (flag == kStopRequested ? " 中的数据被用户停止!"
                      : flag == kStopNone    ? " 中的数据完成!"
                                             : " 中的数据发生意外错误!"));
    const JobOutcome outcome = OutcomeOfStopFlag();
    m_drive.Close();
    return outcome;
}

void CEraseEngine::RunFatBranch(const Volume& volume) {
    std::vector<std::uint8_t> boot(kSectorBytes, 0);
    std::uint32_t bytes = 0;
    if (!m_drive.ReadSectors(boot.data(), volume.start, 1, &bytes)) {
        m_nStopFlag.store(kStopWriteFailed);
        return;
    }
    std::string why;
    const auto fat = ReadFatVolume(boot, volume.sectors, why);
    if (!fat) {
        m_host.ShowMessage("无法识别分区的 FAT 结构 (" + why + ")，没有写入任何数据。");
        m_nStopFlag.store(kStopUnsupported);
        return;
    }
    const std::uint64_t spc = fat->sectorsPerCluster;
    const std::uint64_t clusterTotal = volume.sectors / spc;
    const std::uint64_t step = clusterTotal / static_cast<std::uint64_t>(m_host.ProgressMax());
    const std::uint64_t dataStart = volume.start + fat->dataStart;
    ZeroWriter writer(m_drive, dataStart, volume.start + fat->totalSectors);
    FatTable table(m_drive, volume.start + fat->reservedSectors, *fat);
    const auto bits = static_cast<std::uint64_t>(fat->fatBits);
    // Entries 0 and 1 are reserved; the clusters of the rest lie wholly inside the volume.
    for (std::uint64_t k = 2; k < fat->clusterCount + 2; ++k) {
        const auto entry = table.Entry(k);
        if (!entry) {
            m_host.ShowMessage("读FAT表信息出错");
            m_nStopFlag.store(kStopWriteFailed);
            break;
        }
        // A cluster is free only when its whole entry is zero; reserved top bits alone mean "leave it".
        if (*entry == 0 && !writer.Zero(dataStart + (k - 2) * spc, spc)) {
            m_nStopFlag.store(kStopWriteFailed);
            break;
        }
        ClusterStatus(volume.title, k, clusterTotal);
        Progress(k + 1, step);
        // The stop request is honoured where a FAT sector's entries end.
        const bool sectorEnds = (k * bits) / (kSectorBytes * 8) != ((k + 1) * bits) / (kSectorBytes * 8);
        if (sectorEnds && m_nStopFlag.load() == kStopRequested)
            break;
    }
    if (m_nStopFlag.load() != kStopWriteFailed && !writer.Finish())
        m_nStopFlag.store(kStopWriteFailed);
}

} // namespace kelvane
