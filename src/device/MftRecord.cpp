#include "device/MftRecord.h"

#include "device/Fields.h"
#include "device/PhysicalDrive.h"

#include <cstring>
#include <limits>

namespace kelvane {
namespace {

// Sign-extends an n-byte little-endian value.
std::int64_t SignExtend(std::uint64_t raw, std::size_t bytes) {
    if (bytes < 8 && (raw >> (8 * bytes - 1)) & 1)
        raw |= ~std::uint64_t{0} << (8 * bytes);
    return static_cast<std::int64_t>(raw);
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

constexpr std::size_t kUpdateSequenceEntries = kFileRecordBytes / kSectorBytes + 1;

// Checks and undoes the update sequence: each sector's last two bytes must carry the sequence number
// (entry 0) and are replaced by the saved bytes. A mismatch is a torn write, not a record.
bool ApplyFixup(std::span<std::uint8_t, kFileRecordBytes> record) {
    const auto usaOffset = *ReadLe(record, 4, 2);
    const auto usaCount = *ReadLe(record, 6, 2);
    if (usaCount != kUpdateSequenceEntries || usaOffset < 42 || usaOffset % 2 != 0 ||
        usaOffset + 2 * usaCount > kSectorBytes - 2)
        return false;
    for (std::size_t i = 0; i + 1 < kUpdateSequenceEntries; ++i) {
        const std::size_t end = (i + 1) * kSectorBytes - 2;
        const std::size_t saved = usaOffset + 2 + 2 * i;
        if (record[end] != record[usaOffset] || record[end + 1] != record[usaOffset + 1])
            return false;
        record[end] = record[saved];
        record[end + 1] = record[saved + 1];
    }
    return true;
}

std::size_t Off(const FieldDesc& f) {
    return static_cast<std::size_t>(f.offset);
}
std::size_t Len(const FieldDesc& f) {
    return static_cast<std::size_t>(f.size);
}

} // namespace

std::string WideToAnsi(std::span<const std::uint8_t> buffer, std::size_t pos, std::size_t byteLength,
                       int nameSpace) {
    if ((nameSpace != 1 && nameSpace != 3) || pos > buffer.size() || byteLength > buffer.size() - pos)
        return {};
    std::string out;
    for (std::size_t i = 0; i + 1 < byteLength; i += 2) {
        std::uint32_t unit = buffer[pos + i] | (std::uint32_t{buffer[pos + i + 1]} << 8);
        if (unit == 0)
            break; // the text ends at its first zero, as a C string would
        if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < byteLength) {
            const std::uint32_t low = buffer[pos + i + 2] | (std::uint32_t{buffer[pos + i + 3]} << 8);
            if (low >= 0xDC00 && low < 0xE000) {
                AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        if (unit >= 0xD800 && unit < 0xE000)
            unit = 0xFFFD; // a lone surrogate has no character
        AppendUtf8(out, unit);
    }
    return out;
}

bool DecodeRunList(std::span<const std::uint8_t> attribute, std::size_t offset,
                   std::uint32_t sectorsPerCluster, MftRecordInfo& record) {
    if (offset >= attribute.size() || attribute[offset] < 0x01 || attribute[offset] > 0x62)
        return false;
    const auto S = static_cast<std::int64_t>(sectorsPerCluster);
    std::int64_t cluster = 0;
    std::size_t j = offset;
    for (std::uint8_t h = attribute[j]; h != 0;) {
        const std::size_t n = h >> 4;
        const std::size_t m = h & 0x0F;
        if (n == 0 || m == 0) {
            ++record.skippedRuns; // sparse: no clusters on disk
        } else {
            if (n > 8 || m > 8)
                return true;
            const auto length = ReadLe(attribute, j + 1, m);
            const auto delta = ReadLe(attribute, j + 1 + m, n);
            if (!length || !delta)
                return true; // the run leaves its attribute
            const std::int64_t count = SignExtend(*length, m);
            const std::int64_t step = SignExtend(*delta, n);
            if (count <= 0 || __builtin_add_overflow(cluster, step, &cluster) || cluster <= 0)
                return true;
            std::int64_t startSector = 0;
            std::int64_t sectors = 0;
            if (__builtin_mul_overflow(cluster, S, &startSector) ||
                __builtin_mul_overflow(count, S, &sectors))
                return true;
            record.runs.push_back({startSector, static_cast<std::uint64_t>(sectors)});
        }
        j += n + m + 1;
        if (j >= attribute.size())
            return true;
        h = attribute[j];
        if (h == 0)
            record.runListComplete = true;
    }
    return true;
}

int ParseMftRecord(std::span<std::uint8_t, kFileRecordBytes> buffer, int sectorsPerCluster,
                   MftRecordInfo* record, IMessageSink& sink) {
    const std::span<const std::uint8_t> whole(buffer);
    auto field = [&](std::size_t base, const FieldDesc& f) { return ReadField(whole, base, f, sink); };
    const auto finish = [&] { return record->parentReference != -1 ? 1 : 0; };

    if (std::memcmp(buffer.data(), "FILE", 4) != 0)
        return finish();
    if (!ApplyFixup(buffer)) {
        sink.ShowMessage("读MFT信息错误!");
        return 0;
    }
    const auto flags = static_cast<std::uint32_t>(field(0, FileRecordHeaderFields[kFrFlags]));
    record->recordFlags = flags;
    if (flags == 2 || flags == 3)
        record->isDirectory = 1;
    else if (flags == 0 || flags == 1)
        record->isDirectory = 0;

    const std::uint64_t used = field(0, FileRecordHeaderFields[kFrUsedSize]);
    const std::uint64_t first = field(0, FileRecordHeaderFields[kFrFirstAttribute]);
    if (used > kFileRecordBytes || first > used)
        return 0;
    // Every attribute must lie inside the bytes in use; nothing past them is read.
    const std::span<const std::uint8_t> inUse = whole.first(used);
    auto at = [&](std::size_t pos, std::size_t size) { return ReadField(inUse, pos, size, sink); };

    for (std::uint64_t pos = first; pos < used;) {
        const auto type = static_cast<std::uint32_t>(at(pos, Len(AttributeHeaderFields[kAttrType])));
        if (type == 0 || static_cast<std::int32_t>(type) < 0)
            break;
        const std::uint64_t length = at(pos + Off(AttributeHeaderFields[kAttrLength]), 4);
        const bool handled = type == kAttrStandardInformation || type == kAttrAttributeList ||
                             type == kAttrFileName || type == kAttrData || type == kAttrIndexAllocation;
        if (handled && (length < 1 || length > kFileRecordBytes || length > used - pos))
            return 0;
        const std::span<const std::uint8_t> attr =
            handled ? inUse.subspan(pos, length) : inUse.subspan(pos, 0);
        auto in = [&](std::size_t off, std::size_t size) { return ReadField(attr, off, size, sink); };
        const std::uint64_t valueOffset = handled ? in(Off(ResidentAttributeFields[kResValueOffset]), 2) : 0;
        const bool resident = handled && in(Off(AttributeHeaderFields[kAttrNonResident]), 1) == 0;

        if (type == kAttrStandardInformation && valueOffset + 16 <= length) {
            record->creationTime = in(valueOffset + Off(StandardInformationFields[kSiCreated]), 8);
            record->modificationTime = in(valueOffset + Off(StandardInformationFields[kSiModified]), 8);
        } else if (type == kAttrAttributeList && resident && valueOffset + 1 <= length) {
            for (std::uint64_t e = valueOffset; e + 24 <= length;) {
                const std::uint64_t entryLength = in(e + Off(AttributeListEntryFields[kAlLength]), 2);
                if (in(e, 4) == kAttrData)
                    record->recordNumber =
                        static_cast<std::int64_t>(in(e + Off(AttributeListEntryFields[kAlRecord]), 6));
                if (entryLength == 0)
                    break;
                e += entryLength;
            }
        } else if (type == kAttrFileName && valueOffset + 66 <= length) {
            record->parentReference =
                static_cast<std::int64_t>(in(valueOffset + Off(FileNameFields[kFnParent]), 6));
            const std::uint64_t nameChars = in(valueOffset + Off(FileNameFields[kFnNameLength]), 1);
            const auto nameSpace = static_cast<int>(in(valueOffset + Off(FileNameFields[kFnNameSpace]), 1));
            if (nameSpace != 2 && valueOffset + 66 + 2 * nameChars <= length)
                record->name =
                    WideToAnsi(attr, valueOffset + Off(FileNameFields[kFnName]), 2 * nameChars, nameSpace);
        } else if (type == kAttrData || type == kAttrIndexAllocation) {
            record->nonResident = resident ? 0 : 1;
            if (!resident) {
                const std::uint64_t dataSize = in(Off(NonResidentAttributeFields[kNrDataSize]), 8);
                const std::uint64_t runListOffset = in(Off(NonResidentAttributeFields[kNrRunListOffset]), 2);
                if (static_cast<std::int64_t>(dataSize) >= 0 && runListOffset < length) {
                    record->allocatedSize = in(Off(NonResidentAttributeFields[kNrAllocatedSize]), 8);
                    record->dataSize = dataSize;
                    record->hasData = true;
                    if (!DecodeRunList(attr, runListOffset, static_cast<std::uint32_t>(sectorsPerCluster),
                                       *record))
                        return 0;
                    break;
                }
            } else {
                const std::uint64_t valueLength = in(Off(ResidentAttributeFields[kResValueLength]), 4);
                if (valueLength > std::uint64_t(sectorsPerCluster) * kSectorBytes)
                    return 0;
                record->dataSize = valueLength;
                record->allocatedSize = valueLength;
                record->hasData = true;
                if (valueLength == 0)
                    break;
                if (valueOffset <= length && valueLength <= length - valueOffset) {
                    const auto value = attr.subspan(valueOffset, valueLength);
                    record->residentValue.assign(value.begin(), value.end());
                    break;
                }
            }
        }
        if (static_cast<std::int32_t>(length) <= 0)
            break;
        pos += length;
    }
    return finish();
}

int ReadMftRecord(CPhysicalDrive& drive, std::uint64_t firstSector, int sectorsPerCluster,
                  MftRecordInfo* record) {
    if (record == nullptr || !drive.IsOpen())
        return 0;
    std::vector<std::uint8_t> buffer(kFileRecordBytes, 0);
    std::uint32_t bytesRead = 0;
    if (!drive.ReadSectors(buffer.data(), firstSector, kFileRecordBytes / kSectorBytes, &bytesRead)) {
        drive.Sink().ShowMessage("读MFT信息错误!");
        return 0;
    }
    return ParseMftRecord(std::span<std::uint8_t, kFileRecordBytes>(buffer.data(), kFileRecordBytes),
                          sectorsPerCluster, record, drive.Sink());
}

} // namespace kelvane
