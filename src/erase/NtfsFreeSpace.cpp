#include "device/MftRecord.h"
#include "device/ZeroWriter.h"
#include "erase/EraseEngine.h"

#include <algorithm>
#include <cstring>

namespace kelvane {
namespace {

// The $Bitmap data as the job reads it: one cluster a request, from the runs in order.
class BitmapReader {
  public:
    BitmapReader(CPhysicalDrive& drive, std::uint64_t partitionStart, const MftRecordInfo& record,
                 std::uint32_t sectorsPerCluster)
        : m_drive(drive), m_start(partitionStart), m_record(record), m_spc(sectorsPerCluster) {}

    // Delivers the next `length` (one cluster) bytes into `dest`: their count, 0 at the end, or -1
    // when the clusters cannot be read.
    std::int64_t Read(std::uint8_t* dest, std::size_t length) {
        const std::uint64_t left = m_record.dataSize > m_position ? m_record.dataSize - m_position : 0;
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length, left));
        if (n == 0)
            return 0;
        if (m_record.nonResident == 0) {
            std::memcpy(dest, m_record.residentValue.data() + m_position, n);
        } else {
            std::uint64_t sector = m_position / kSectorBytes;
            const DataRun* run = nullptr;
            for (const auto& r : m_record.runs) {
                if (sector < r.sectorCount) {
                    run = &r;
                    break;
                }
                sector -= r.sectorCount;
            }
            if (run == nullptr)
                return -1;
            std::uint32_t bytes = 0;
            if (!m_drive.ReadSectors(dest, m_start + static_cast<std::uint64_t>(run->startSector) + sector,
                                     m_spc, &bytes))
                return -1;
        }
        m_position += n;
        return static_cast<std::int64_t>(n);
    }

  private:
    CPhysicalDrive& m_drive;
    std::uint64_t m_start;
    const MftRecordInfo& m_record;
    std::uint32_t m_spc;
    std::uint64_t m_position = 0;
};

// Why the bitmap found in record 6 cannot be trusted to name every free cluster, or empty.
std::string BitmapDoubt(const MftRecordInfo& record, std::uint64_t volumeSectors, std::uint64_t clusters) {
    if (record.name != "$Bitmap")
        return "MFT 记录 6 不是 $Bitmap";
    if (!record.hasData || record.dataSize == 0)
        return "$Bitmap 没有数据属性";
    if (record.dataSize * 8 < clusters)
        return "$Bitmap 小于分区的簇数";
    if (record.nonResident == 0)
        return record.residentValue.size() >= record.dataSize ? "" : "$Bitmap 的常驻数据不完整";
    // A sparse or missing run would shift the bitmap against the cluster numbers and zero used clusters.
    if (record.skippedRuns != 0)
        return "$Bitmap 含有稀疏数据段";
    std::uint64_t sectors = 0;
    for (const auto& run : record.runs) {
        if (run.startSector <= 0 || static_cast<std::uint64_t>(run.startSector) > volumeSectors ||
            run.sectorCount > volumeSectors - static_cast<std::uint64_t>(run.startSector))
            return "$Bitmap 的数据段超出分区";
        sectors += run.sectorCount;
    }
    if (sectors * kSectorBytes < record.dataSize)
        return "$Bitmap 的数据段不足以覆盖其数据长度";
    return {};
}

} // namespace

void CEraseEngine::RunNtfsBranch(const Volume& volume, const PartitionInfo& partition) {
    const auto* ntfs = std::get_if<NtfsParams>(&partition.fsParams);
    if (ntfs == nullptr || ntfs->sectorsPerCluster == 0 || ntfs->bytesPerSector != kSectorBytes) {
        m_host.ShowMessage("无法识别分区的 NTFS 结构，没有写入任何数据。");
        m_nStopFlag.store(kStopUnsupported);
        return;
    }
    const std::uint32_t S = ntfs->sectorsPerCluster;
    const std::size_t clusterBytes = std::size_t{S} * kSectorBytes;
    MftRecordInfo record;
    record.recordNumber = 6;
    if (!ReadMftRecord(m_drive, volume.start + ntfs->mftStart + 12, static_cast<int>(S), &record)) {
        m_host.ShowMessage("无法读取 NTFS 簇位图 (MFT 记录 6 无法解析)，没有写入任何数据。");
        m_nStopFlag.store(kStopWriteFailed);
        return;
    }
    const std::uint64_t clusterTotal = volume.sectors / S;
    // Only clusters that lie wholly inside both the volume and the partition are ever written.
    const std::uint64_t clusterLimit = std::min(volume.sectors, ntfs->totalSectors) / S;
    if (const std::string doubt = BitmapDoubt(record, volume.sectors, clusterLimit); !doubt.empty()) {
        m_host.ShowMessage("无法读取 NTFS 簇位图 (" + doubt + ")，没有写入任何数据。");
        m_nStopFlag.store(kStopWriteFailed);
        return;
    }
    const std::uint64_t step = clusterTotal / static_cast<std::uint64_t>(m_host.ProgressMax());
    ZeroWriter writer(m_drive, volume.start, volume.start + clusterLimit * S);
    BitmapReader bitmap(m_drive, volume.start, record, S);
    std::vector<std::uint8_t> chunk(clusterBytes, 0);
    std::uint64_t cluster = 0;
    std::uint64_t examined = 0;
    for (std::uint64_t requested = 0; requested < record.dataSize; requested += clusterBytes) {
        const std::int64_t n = bitmap.Read(chunk.data(), clusterBytes);
        if (n < 0) {
            m_nStopFlag.store(kStopWriteFailed); // a bitmap we cannot read names no free cluster
            break;
        }
        for (std::size_t i = 0; i < static_cast<std::size_t>(n) && examined < record.dataSize; ++i) {
            const std::uint8_t byte = chunk[i];
            if (byte == 0xFF && cluster + 8 <= clusterLimit) {
                cluster += 8; // nothing free here, nothing to write between two stop polls
            } else {
                for (int bit = 0; bit < 8; ++bit, ++cluster) {
                    if (cluster < clusterLimit && (byte >> bit & 1) == 0 &&
                        !writer.Zero(volume.start + cluster * S, S)) {
                        m_nStopFlag.store(kStopWriteFailed);
                        break;
                    }
                    if (m_nStopFlag.load() == kStopRequested) {
                        ++cluster;
                        break;
                    }
                }
                if (m_nStopFlag.load() != kStopNone)
                    break;
            }
            ++examined;
            if (i % 100 == 0) {
                ClusterStatus(volume.title, cluster, clusterTotal);
                Progress(cluster, step);
            }
            if (m_nStopFlag.load() != kStopNone)
                break;
        }
        if (m_nStopFlag.load() != kStopNone)
            break;
    }
    if (m_nStopFlag.load() != kStopWriteFailed && !writer.Finish())
        m_nStopFlag.store(kStopWriteFailed);
}

} // namespace kelvane
