#pragma once

#include "device/MessageSink.h"
#include "device/PartitionInfo.h"
#include "platform/DriveTable.h"
#include "platform/RawDevice.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

namespace kelvane {

inline constexpr std::uint32_t kSectorBytes = 512;
inline constexpr int kTransferRetries = 5;

// A drive of the drive table opened as a raw device by its number: size, name, bus type, sector runs
// with retries, and the partition list built when it opens. Failures return 0 (and mostly show a
// message through the sink); nothing throws.
class CPhysicalDrive {
  public:
    explicit CPhysicalDrive(IMessageSink& sink);
    virtual ~CPhysicalDrive();
    CPhysicalDrive(const CPhysicalDrive&) = delete;
    CPhysicalDrive& operator=(const CPhysicalDrive&) = delete;

    // 1 if the drive is open afterwards (also when it already was), 0 otherwise. Listing opens
    // read-only; only a job asks for writing.
    int Open(std::uint16_t index, Access access = Access::Read);
    // 1 if the drive was open, 0 if not.
    int Close();
    virtual int IsOpen() const { return m_bOpen ? 1 : 0; }
    virtual int ReadDeviceInfo();
    int QueryDeviceProperty();

    std::string GetBusTypeName() const;
    std::string GetDisplayName() const;
    std::string GetDevicePath() const { return m_devicePath; }
    std::uint64_t GetTotalSectors() const { return m_totalSectors; }
    std::uint64_t GetTotalBytes() const { return m_totalBytes; }
    int GetPartitionCount() const { return m_partitionCount; }
    int GetBusType() const { return m_busType; }
    // 1 when opening read the partition table (0x55 0xAA at sector 0) and mapped the mounts.
    int DeviceInfoRead() const { return m_bDeviceInfoRead ? 1 : 0; }
    // The errno of the last failed Open (ENXIO for a number past the table).
    int LastOpenError() const { return m_openError; }
    std::uint16_t GetIndex() const { return m_index; }
    IMessageSink& Sink() const { return m_sink; }

    // Byte position of the sector; -1 (with a message) when it cannot be reached; 0 when not open.
    std::int64_t Seek(std::uint64_t sector);
    // Nonzero on success, 0 on failure (after 5 retries, with the message naming the sector).
    virtual int ReadSectors(std::uint8_t* buffer, std::uint64_t sector, std::uint32_t count,
                            std::uint32_t* bytesRead);
    virtual int ReadSectorsRetry(std::uint8_t* buffer, std::uint64_t sector, std::uint32_t count,
                                 std::uint64_t* position, std::uint32_t* bytesRead);
    // 1 on success; 2 when the device is full; 0 on failure after 5 retries.
    int WriteSectors(const std::uint8_t* buffer, std::uint64_t sector, std::uint32_t count,
                     std::uint32_t* bytesWritten);
    // Makes every write durable: 1, or 0 with a message naming the device.
    int Flush();
    // 1 when the drive behind this number is still the one listed when the table was built.
    int IsSameDriveAsListed() const;

    // Partition half. Callers walk the list; pointers stay valid until Close or FreePartitions.
    virtual int ScanPartitionTable(std::uint64_t sector);
    virtual const PartitionInfo* FindPartition(int number) const;
    std::span<const PartitionInfo> GetPartitionList() const { return m_partitions; }
    virtual void FreePartitions() { m_partitions.clear(); }
    int DetectFileSystem(PartitionInfo* node);
    int MapDriveLetters();

    // Little-endian value of a boot-sector field: only its first four bytes count; 0 outside the sector.
    static std::uint64_t GetBootField(std::span<const std::uint8_t> sector, int offset, int length);

  private:
    int ScanTable(std::uint64_t sector, bool isMaster, std::unordered_set<std::uint64_t>& visited);

    IMessageSink& m_sink;
    std::vector<PartitionInfo> m_partitions;
    int m_partitionCount = 0;
    std::uint64_t m_totalBytes = 0;
    std::uint64_t m_totalSectors = 0;
    std::uint16_t m_index = 0xFFFF;
    bool m_bOpen = false;
    std::string m_devicePath;
    std::uint64_t m_extendedBase = 0;
    std::string m_productId;
    int m_busType = 0;
    bool m_bDeviceInfoRead = false;
    int m_openError = 0;
    std::unique_ptr<RawDevice> m_device;
};

} // namespace kelvane
