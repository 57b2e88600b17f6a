// Run-list decoding: the first byte picks the sectors per cluster, the rest is the attribute.

#include "FuzzTarget.h"
#include "device/MftRecord.h"

#include <cstdlib>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const std::uint32_t sectorsPerCluster = 1u << (data[0] % 13);
    kelvane::MftRecordInfo record;
    const std::span<const std::uint8_t> attribute(data + 1, size - 1);
    kelvane::DecodeRunList(attribute, 0, sectorsPerCluster, record);
    // Every run that was kept lies on the disk: a positive start, a nonzero length.
    for (const auto& run : record.runs)
        if (run.startSector <= 0 || run.sectorCount == 0)
            std::abort();
    return 0;
}
