#include "device/PhysicalDrive.h"

#include <cerrno>
#include <limits>

namespace kelvane {

CPhysicalDrive::CPhysicalDrive(IMessageSink& sink) : m_sink(sink) {}

CPhysicalDrive::~CPhysicalDrive() {
    Close();
}

int CPhysicalDrive::Open(std::uint16_t index, Access access) {
    if (m_bOpen)
        return 1;
    const auto& table = DriveTable();
    if (index >= table.size()) {
        m_openError = ENXIO;
        return 0;
    }
    auto device = OpenDriveDevice(table[index].path, access, m_openError);
    if (!device)
        return 0;
    m_index = index;
    m_device = std::move(device);
    m_bOpen = true;
    // The "no geometry" road always: the exact size, so the whole capacity is erasable.
    m_totalBytes = m_device->SizeBytes();
    m_totalSectors = m_totalBytes / kSectorBytes;
    m_devicePath = table[index].path;
    m_partitionCount = 0;
    // A base left by the previous drive would misplace this drive's logical partitions.
    m_extendedBase = 0;
    m_bDeviceInfoRead = ReadDeviceInfo() != 0;
    return 1;
}

int CPhysicalDrive::Close() {
    if (!m_bOpen)
        return 0;
    m_device.reset();
    m_bOpen = false;
    FreePartitions();
    m_totalBytes = 0;
    m_totalSectors = 0;
    m_partitionCount = 0;
    m_index = 0xFFFF;
    m_devicePath.clear();
    m_bDeviceInfoRead = false;
    return 1;
}

int CPhysicalDrive::ReadDeviceInfo() {
    if (!m_bOpen)
        return 0;
    if (!QueryDeviceProperty()) {
        m_sink.ShowMessage("读设备信息错误!");
        return 0;
    }
    if (!ScanPartitionTable(0))
        return 0;
    MapDriveLetters();
    return 1;
}

int CPhysicalDrive::QueryDeviceProperty() {
    if (!m_bOpen)
        return 0;
    const DriveProperties props = ReadDriveProperties(m_devicePath);
    m_productId = props.productId;
    m_busType = props.busType;
    return 1;
}

std::string CPhysicalDrive::GetBusTypeName() const {
    switch (m_busType) {
    case 1:
        return "SCSI";
    case 2:
        return "ATAPI";
    case 3:
        return "ATA";
    case 4:
        return "IEEE 1394";
    case 5:
        return "SSA";
    case 6:
        return "FIBRE";
    case 7:
        return "USB";
    case 8:
        return "RAID";
    default:
        return "Unkown";
    }
}

std::string CPhysicalDrive::GetDisplayName() const {
    return m_productId.empty() ? GetDevicePath() : m_productId;
}

std::int64_t CPhysicalDrive::Seek(std::uint64_t sector) {
    if (!m_bOpen) {
        Diagnostic("Drive is not open!");
        return 0;
    }
    if (sector > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) / kSectorBytes) {
        m_sink.ShowMessage(m_devicePath + " 定位到" + std::to_string(sector) + "失败!");
        return -1;
    }
    return static_cast<std::int64_t>(sector * kSectorBytes);
}

int CPhysicalDrive::ReadSectors(std::uint8_t* buffer, std::uint64_t sector, std::uint32_t count,
                                std::uint32_t* bytesRead) {
    if (!m_bOpen) {
        m_sink.ShowMessage("设备没有打开!");
        return 0;
    }
    if (!IsOpen())
        return 0;
    if (Seek(sector) == -1)
        return 0;
    std::uint64_t position = 0;
    return ReadSectorsRetry(buffer, sector, count, &position, bytesRead) ? 1 : 0;
}

int CPhysicalDrive::ReadSectorsRetry(std::uint8_t* buffer, std::uint64_t sector, std::uint32_t count,
                                     std::uint64_t* position, std::uint32_t* bytesRead) {
    for (int retries = 0;; ++retries) {
        if (!m_bOpen) {
            m_sink.ShowMessage("设备没有打开!");
            return 0;
        }
        const std::int64_t at = Seek(sector);
        if (at == -1)
            return 0;
        const std::size_t bytes = std::size_t{count} * kSectorBytes;
        if (m_device->ReadAt({buffer, bytes}, static_cast<std::uint64_t>(at)) == 0) {
            *position = sector;
            if (bytesRead != nullptr)
                *bytesRead = static_cast<std::uint32_t>(bytes);
            return 1;
        }
        if (retries == kTransferRetries) {
            m_sink.ShowMessage(m_devicePath + ",在" + std::to_string(sector) + "位置,重试" +
                               std::to_string(kTransferRetries) + "次无效!");
            return 0;
        }
    }
}

int CPhysicalDrive::WriteSectors(const std::uint8_t* buffer, std::uint64_t sector, std::uint32_t count,
                                 std::uint32_t* bytesWritten) {
    for (int retries = 0;; ++retries) {
        if (!m_bOpen) {
            m_sink.ShowMessage("设备没有打开!");
            return 0;
        }
        const std::int64_t at = Seek(sector);
        if (at == -1) {
            m_sink.ShowMessage("设备定位错误!");
            return 0;
        }
        const std::size_t bytes = std::size_t{count} * kSectorBytes;
        const int error = m_device->WriteAt({buffer, bytes}, static_cast<std::uint64_t>(at));
        if (error == 0) {
            if (bytesWritten != nullptr)
                *bytesWritten = static_cast<std::uint32_t>(bytes);
            return 1;
        }
        // A full device stays full: no retry, and a 2 is never mistaken for a written run.
        if (error == ENOSPC) {
            m_sink.ShowMessage(m_devicePath);
            return 2;
        }
        if (retries == kTransferRetries) {
            m_sink.ShowMessage(m_devicePath + ",在" + std::to_string(sector) + ",重试" +
                               std::to_string(kTransferRetries) + "次无效!");
            return 0;
        }
    }
}

int CPhysicalDrive::Flush() {
    if (!m_bOpen) {
        m_sink.ShowMessage("设备没有打开!");
        return 0;
    }
    if (m_device->Flush() != 0) {
        m_sink.ShowMessage(m_devicePath + ",数据写入磁盘失败!");
        return 0;
    }
    return 1;
}

int CPhysicalDrive::IsSameDriveAsListed() const {
    const auto& table = DriveTable();
    if (!m_bOpen || m_index >= table.size() || !table[m_index].identity)
        return 0;
    const auto now = ReadDriveIdentity(m_devicePath);
    return now && *now == *table[m_index].identity ? 1 : 0;
}

} // namespace kelvane
