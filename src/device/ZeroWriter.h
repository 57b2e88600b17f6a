#pragma once

#include "platform/RawDevice.h"

#include <cstdint>

namespace kelvane {

class CPhysicalDrive;

// Writes zeros for the jobs. The jobs keep their own units (a 36-sector chunk, a cluster) and call
// Zero once per unit in ascending order; adjacent units are merged here and reach the disk as large
// runs aligned to 4 KiB, since one small write through the page cache per unit runs at a fraction
// of the disk's speed. Nothing outside [firstSector, endSector) is ever written.
class ZeroWriter {
  public:
    ZeroWriter(CPhysicalDrive& drive, std::uint64_t firstSector, std::uint64_t endSector);

    // Queues sectors [sector, sector + count). False when a write failed (the device has told the user;
    // a full device counts as failed) or the run leaves the fence; nothing more is written then.
    bool Zero(std::uint64_t sector, std::uint64_t count);
    // Writes whatever is queued. False as above.
    bool Finish();

    std::uint64_t SectorsWritten() const { return m_written; }

    // The largest single write: 4 MiB.
    static constexpr std::uint64_t kMaxRunSectors = 8192;

  private:
    bool WritePending(bool all);

    CPhysicalDrive& m_drive;
    std::uint64_t m_first;
    std::uint64_t m_end;
    std::uint64_t m_pendingStart = 0;
    std::uint64_t m_pendingCount = 0;
    std::uint64_t m_written = 0;
    bool m_failed = false;
    AlignedBuffer m_zeros;
};

} // namespace kelvane
