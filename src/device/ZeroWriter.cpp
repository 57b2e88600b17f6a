#include "device/ZeroWriter.h"

#include "device/PhysicalDrive.h"

#include <algorithm>

namespace kelvane {
namespace {
constexpr std::uint64_t kAlignSectors = kDirectIoAlignment / kSectorBytes;
}

ZeroWriter::ZeroWriter(CPhysicalDrive& drive, std::uint64_t firstSector, std::uint64_t endSector)
    : m_drive(drive), m_first(firstSector), m_end(endSector),
      m_zeros(AllocateAligned(kMaxRunSectors * kSectorBytes)) {}

bool ZeroWriter::Zero(std::uint64_t sector, std::uint64_t count) {
    if (m_failed)
        return false;
    if (sector < m_first || sector > m_end || count > m_end - sector) {
        // A job asked for a sector outside its target: a fault of ours, never to reach the disk.
        m_drive.Sink().ShowMessage(m_drive.GetDevicePath() + ",写入位置" + std::to_string(sector) +
                                   "超出擦除范围,已停止!");
        m_failed = true;
        return false;
    }
    if (count == 0)
        return true;
    if (m_pendingCount > 0 && m_pendingStart + m_pendingCount != sector) {
        if (!WritePending(true))
            return false;
    }
    if (m_pendingCount == 0)
        m_pendingStart = sector;
    m_pendingCount += count;
    return m_pendingCount < kMaxRunSectors || WritePending(false);
}

bool ZeroWriter::Finish() {
    return !m_failed && WritePending(true);
}

bool ZeroWriter::WritePending(bool all) {
    if (!m_zeros) {
        m_drive.Sink().ShowMessage("内存不足!");
        m_failed = true;
        return false;
    }
    while (m_pendingCount > 0) {
        const std::uint64_t s = m_pendingStart;
        std::uint64_t n = 0;
        if (s % kAlignSectors != 0)
            n = std::min(kAlignSectors - s % kAlignSectors, m_pendingCount); // the head up to alignment
        else if (m_pendingCount >= kMaxRunSectors)
            n = kMaxRunSectors;
        else if (!all)
            break; // keep a short run: the next units may extend it
        else if (m_pendingCount >= kAlignSectors)
            n = m_pendingCount - m_pendingCount % kAlignSectors;
        else
            n = m_pendingCount;
        std::uint32_t bytes = 0;
        // 2 (device full) is a failed write here: the zeros did not reach the disk.
        if (m_drive.WriteSectors(m_zeros.get(), s, static_cast<std::uint32_t>(n), &bytes) != 1) {
            m_failed = true;
            m_pendingCount = 0;
            return false;
        }
        m_written += n;
        m_pendingStart += n;
        m_pendingCount -= n;
    }
    return true;
}

} // namespace kelvane
