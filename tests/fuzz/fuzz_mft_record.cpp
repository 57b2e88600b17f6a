// One 1024-byte file record with its update sequence, as read from the MFT.

#include "FaultyDevice.h"
#include "FuzzTarget.h"
#include "device/MftRecord.h"

#include <algorithm>
#include <array>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const int sectorsPerCluster = 1 << (data[0] % 8);
    std::array<std::uint8_t, kelvane::kFileRecordBytes> record{};
    std::copy_n(data + 1, std::min(size - 1, record.size()), record.begin());
    kelvane::test::RecordingSink sink;
    kelvane::MftRecordInfo info;
    const int result = kelvane::ParseMftRecord(record, sectorsPerCluster, &info, sink);
    if (result == 1 && info.parentReference == -1)
        std::abort(); // success means a file name was read
    if (info.residentValue.size() > static_cast<std::size_t>(sectorsPerCluster) * 512)
        std::abort();
    return 0;
}
