#include "device/Fields.h"

#include "DiskImage.h"
#include "FaultyDevice.h"
#include "device/PhysicalDrive.h"

#include <gtest/gtest.h>
#include <limits>

namespace kelvane {
namespace {

test::Sector Numbered() {
    test::Sector s{};
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<std::uint8_t>(i ^ 0x5A);
    return s;
}

TEST(ReadLe, StaysInsideItsWindowWithoutOverflow) {
    const auto s = Numbered();
    const std::span<const std::uint8_t> w(s);
    EXPECT_EQ(ReadLe(w, 504, 8), test::GetLe(s, 504, 8));
    EXPECT_EQ(ReadLe(w, 512, 0), 0u);
    EXPECT_FALSE(ReadLe(w, 505, 8));
    EXPECT_FALSE(ReadLe(w, 513, 0));
    EXPECT_FALSE(ReadLe(w, 0, 9));
    EXPECT_FALSE(ReadLe(w, std::numeric_limits<std::size_t>::max() - 2, 4)); // pos + size wraps to 1
    EXPECT_FALSE(ReadLe(w.first(3), 0, 4));
}

TEST(ReadField, AFieldLeavingTheSectorShowsParameterErrorAndYieldsZero) {
    const auto s = Numbered();
    test::RecordingSink sink;
    EXPECT_EQ(ReadField(s, 510, 4, sink), 0u);
    EXPECT_EQ(sink.messages, std::vector<std::string>{"参数错误"});
    sink.messages.clear();
    const std::uint64_t last = std::uint64_t{s[508]} | std::uint64_t{s[509]} << 8 |
                               std::uint64_t{s[510]} << 16 | std::uint64_t{s[511]} << 24;
    EXPECT_EQ(ReadField(s, 508, 4, sink), last);
    EXPECT_EQ(ReadField(s, 0, FileNameFields[kFnName], sink), 0u); // variable length: no value
    EXPECT_EQ(ReadField(s, 400, FileNameFields[kFnNameSpace], sink), s[465]);
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_EQ(ReadField(s, 500, FileRecordHeaderFields[kFrUsedSize], sink), 0u); // 524..527
    EXPECT_EQ(sink.messages.size(), 1u);
}

TEST(GetBootField, OnlyTheFirstFourBytesCountAndNothingOutsideTheSector) {
    const auto s = Numbered();
    EXPECT_EQ(CPhysicalDrive::GetBootField(s, 0x48, 8), test::GetLe(s, 0x48, 4));
    EXPECT_EQ(CPhysicalDrive::GetBootField(s, 0x0D, 2), test::GetLe(s, 0x0D, 2));
    EXPECT_EQ(CPhysicalDrive::GetBootField(s, 508, 4), test::GetLe(s, 508, 4));
    EXPECT_EQ(CPhysicalDrive::GetBootField(s, 506, 8), 0u);
    EXPECT_EQ(CPhysicalDrive::GetBootField(s, 511, 2), 0u);
    EXPECT_EQ(CPhysicalDrive::GetBootField(std::span<const std::uint8_t>(s).first(100), 0, 4), 0u);
}

} // namespace
} // namespace kelvane
