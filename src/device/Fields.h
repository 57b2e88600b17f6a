#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <span>

namespace kelvane {

class IMessageSink;

struct FieldDesc {
    int offset;
    int size; // 0: variable length
};

// Little-endian value of `size` bytes at `pos`, or nothing if it would leave `window`.
std::optional<std::uint64_t> ReadLe(std::span<const std::uint8_t> window, std::size_t pos, std::size_t size);

// The same through a field of a structure at `base`; the value, or "参数错误" shown and 0 when the field
// leaves the window. A size of 0 (variable length) yields 0.
std::uint64_t ReadField(std::span<const std::uint8_t> window, std::size_t base, const FieldDesc& field,
                        IMessageSink& sink);
std::uint64_t ReadField(std::span<const std::uint8_t> window, std::size_t pos, std::size_t size,
                        IMessageSink& sink);

// FAT boot sector (FAT32 layout); offsets count from the sector's first byte.
enum FatBootField {
    kFatOemName,
    kFatBytesPerSector,
    kFatSectorsPerCluster,
    kFatReservedSectors,
    kFatRootEntries,
    kFatTotalSectors16,
    kFatMedia,
    kFatSectorsPerFat16,
    kFatSectorsPerTrack,
    kFatHeads,
    kFatHiddenSectors,
    kFatTotalSectors32,
    kFatSectorsPerFat32,
    kFatExtFlagsLow,
    kFatExtFlagsHigh,
    kFatVersionMinor,
    kFatVersionMajor,
    kFatRootCluster,
    kFatFsInfoSector,
    kFatBackupBootSector,
    kFatVolumeSerial,
    kFatFsTypeText,
    kFatBootFieldCount
};
inline constexpr FieldDesc FatBootSectorFields[] = {
    {3, 8},  {11, 2}, {13, 1}, {14, 2}, // the first FAT starts here
    {17, 2}, {19, 2}, {21, 1}, {22, 2}, {24, 2}, {26, 2}, {28, 4}, {32, 4}, {36, 4},
    {40, 1}, {41, 1}, {42, 1}, {43, 1}, {44, 4}, {48, 2}, {50, 2}, {67, 4}, {82, 8},
};
static_assert(std::size(FatBootSectorFields) == kFatBootFieldCount);

// The number of FAT copies has no place in the FAT32 table above, but the data region follows it.
inline constexpr FieldDesc FatCopiesField = {16, 1};
// FAT12/16 keep their serial at 39, not 67.
inline constexpr FieldDesc Fat16VolumeSerialField = {39, 4};

// NTFS boot sector; offsets count from the sector's first byte.
enum NtfsBootField {
    kNtfsOemName,
    kNtfsBytesPerSector,
    kNtfsSectorsPerCluster,
    kNtfsMedia,
    kNtfsSectorsPerTrack,
    kNtfsHeads,
    kNtfsHiddenSectors,
    kNtfsTotalSectors,
    kNtfsMftCluster,
    kNtfsMftMirrorCluster,
    kNtfsClustersPerRecord,
    kNtfsClustersPerIndex,
    kNtfsVolumeSerial,
    kNtfsBootFieldCount
};
inline constexpr FieldDesc NtfsBootSectorFields[] = {
    {3, 8},  {11, 2}, {13, 1}, {21, 1}, {24, 2}, {26, 2}, {28, 4},
    {40, 8}, {48, 8}, {56, 8}, {64, 4}, {68, 4}, {72, 8},
};
static_assert(std::size(NtfsBootSectorFields) == kNtfsBootFieldCount);

// NTFS file record header; offsets count from the record's first byte.
enum FileRecordField {
    kFrMagic,
    kFrUsaOffset,
    kFrUsaCount,
    kFrLsn,
    kFrSequence,
    kFrLinkCount,
    kFrFirstAttribute,
    kFrFlags,
    kFrUsedSize,
    kFrAllocatedSize,
    kFrBaseRecord,
    kFrNextAttributeId,
    kFileRecordFieldCount
};
inline constexpr FieldDesc FileRecordHeaderFields[] = {
    {0, 4}, {4, 2}, {6, 2}, {8, 8}, {16, 2}, {18, 2}, {20, 2}, {22, 2}, {24, 4}, {28, 4}, {32, 8}, {40, 2},
};
static_assert(std::size(FileRecordHeaderFields) == kFileRecordFieldCount);

// Offsets count from the attribute's first byte.
enum AttributeField {
    kAttrType,
    kAttrLength,
    kAttrNonResident,
    kAttrNameLength,
    kAttrNameOffset,
    kAttrFlags,
    kAttrId,
    kAttributeFieldCount
};
inline constexpr FieldDesc AttributeHeaderFields[] = {{0, 4},  {4, 4},  {8, 1}, {9, 1},
                                                      {10, 2}, {12, 2}, {14, 2}};
static_assert(std::size(AttributeHeaderFields) == kAttributeFieldCount);

enum ResidentField { kResValueLength, kResValueOffset, kResIndexedFlag, kResidentFieldCount };
inline constexpr FieldDesc ResidentAttributeFields[] = {{16, 4}, {20, 2}, {22, 2}};
static_assert(std::size(ResidentAttributeFields) == kResidentFieldCount);

enum NonResidentField {
    kNrStartVcn,
    kNrLastVcn,
    kNrRunListOffset,
    kNrCompressionUnit,
    kNrPadding,
    kNrAllocatedSize,
    kNrDataSize,
    kNrInitialisedSize,
    kNonResidentFieldCount
};
inline constexpr FieldDesc NonResidentAttributeFields[] = {{16, 8}, {24, 8}, {32, 2}, {34, 2},
                                                           {36, 4}, {40, 8}, {48, 8}, {56, 8}};
static_assert(std::size(NonResidentAttributeFields) == kNonResidentFieldCount);

// Offsets count from the entry's first byte.
enum AttributeListField {
    kAlType,
    kAlLength,
    kAlNameLength,
    kAlNameOffset,
    kAlStartVcn,
    kAlRecord,
    kAlSequence,
    kAttributeListFieldCount
};
inline constexpr FieldDesc AttributeListEntryFields[] = {{0, 4}, {4, 2},  {6, 1}, {7, 1},
                                                         {8, 8}, {16, 6}, {22, 2}};
static_assert(std::size(AttributeListEntryFields) == kAttributeListFieldCount);

// Offsets count from the attribute value's first byte.
enum StandardInfoField {
    kSiCreated,
    kSiModified,
    kSiMftChanged,
    kSiAccessed,
    kSiAttributes,
    kStandardInfoFieldCount
};
inline constexpr FieldDesc StandardInformationFields[] = {{0, 8}, {8, 8}, {16, 8}, {24, 8}, {32, 4}};
static_assert(std::size(StandardInformationFields) == kStandardInfoFieldCount);

enum FileNameField {
    kFnParent,
    kFnParentSequence,
    kFnCreated,
    kFnModified,
    kFnMftChanged,
    kFnAccessed,
    kFnAllocatedSize,
    kFnDataSize,
    kFnFlags,
    kFnNameLength,
    kFnNameSpace,
    kFnName,
    kFileNameFieldCount
};
inline constexpr FieldDesc FileNameFields[] = {{0, 6},  {6, 2},  {8, 8},  {16, 8}, {24, 8}, {32, 8},
                                               {40, 8}, {48, 8}, {56, 8}, {64, 1}, {65, 1}, {66, 0}};
static_assert(std::size(FileNameFields) == kFileNameFieldCount);

inline constexpr std::uint32_t kAttrStandardInformation = 0x10;
inline constexpr std::uint32_t kAttrAttributeList = 0x20;
inline constexpr std::uint32_t kAttrFileName = 0x30;
inline constexpr std::uint32_t kAttrData = 0x80;
inline constexpr std::uint32_t kAttrIndexAllocation = 0xA0;

} // namespace kelvane
