#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kelvane {

class CPhysicalDrive;
class IMessageSink;

inline constexpr std::size_t kFileRecordBytes = 1024;

// One run of a non-resident attribute, in volume-relative sectors.
struct DataRun {
    std::int64_t startSector = 0;  // starting cluster × sectors per cluster
    std::uint64_t sectorCount = 0; // run length × sectors per cluster
};

// What one NTFS file record yields.
struct MftRecordInfo {
    std::int64_t parentReference = -1; // -1 until a file-name attribute is read
    int isDirectory = 0;
    std::int64_t recordNumber = -1;
    std::string name; // UTF-8
    std::uint64_t dataSize = 0;
    std::uint64_t allocatedSize = 0;
    std::uint64_t creationTime = 0;
    std::uint64_t modificationTime = 0;
    std::uint32_t recordFlags = 0;
    std::vector<DataRun> runs;    // empty when the data is resident or absent
    int skippedRuns = 0;          // sparse or empty runs left out of `runs`
    bool runListComplete = false; // the run list ended at its terminating zero byte
    bool hasData = false;         // a data (or index allocation) attribute was found
    int nonResident = 0;
    std::vector<std::uint8_t> residentValue;
};

// Reads and parses the 1024-byte file record at `firstSector` (absolute) of the open drive.
// 1 when a file name was found; 0 on a read failure ("读MFT信息错误!"), a torn record (its sector ends do
// not carry the update sequence number), an out-of-range length or offset, or no file name.
int ReadMftRecord(CPhysicalDrive& drive, std::uint64_t firstSector, int sectorsPerCluster,
                  MftRecordInfo* record);

// Parses a record already in memory; the same results as ReadMftRecord after its read.
int ParseMftRecord(std::span<std::uint8_t, kFileRecordBytes> buffer, int sectorsPerCluster,
                   MftRecordInfo* record, IMessageSink& sink);

// Decodes the run list at `offset` of `attribute` into `record`'s runs. False when the first header
// byte is not 0x01..0x62 (the list cannot be a run list).
bool DecodeRunList(std::span<const std::uint8_t> attribute, std::size_t offset,
                   std::uint32_t sectorsPerCluster, MftRecordInfo& record);

// UTF-16LE name at `pos` as UTF-8, for the Win32 name spaces (1 and 3); empty text for any other.
std::string WideToAnsi(std::span<const std::uint8_t> buffer, std::size_t pos, std::size_t byteLength,
                       int nameSpace);

} // namespace kelvane
