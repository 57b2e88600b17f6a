#include "device/MftRecord.h"

#include "DiskImage.h"
#include "FaultyDevice.h"
#include "device/PhysicalDrive.h"

#include <gtest/gtest.h>

namespace kelvane {

// Found by argument lookup, so in the namespace of DataRun.
inline bool operator==(const DataRun& a, const DataRun& b) {
    return a.startSector == b.startSector && a.sectorCount == b.sectorCount;
}
inline void PrintTo(const DataRun& r, std::ostream* os) {
    *os << "{" << r.startSector << ", " << r.sectorCount << "}";
}

namespace {

using test::Bytes;
using test::FileRecord;
using test::RecordingSink;

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

int Parse(std::array<std::uint8_t, 1024>& bytes, MftRecordInfo& record, RecordingSink& sink, int spc = 8) {
    return ParseMftRecord(std::span<std::uint8_t, kFileRecordBytes>(bytes), spc, &record, sink);
}

std::vector<DataRun> Decode(const Bytes& list, std::uint32_t spc, MftRecordInfo& record,
                            bool expectOk = true) {
    EXPECT_EQ(DecodeRunList(list, 0, spc, record), expectOk);
    return record.runs;
}

TEST(RunList, SixteenClustersAtCluster0x2000) {
    MftRecordInfo r;
    EXPECT_EQ(Decode({0x31, 0x10, 0x00, 0x20, 0x00, 0x00}, 8, r), (std::vector<DataRun>{{0x10000, 128}}));
    EXPECT_TRUE(r.runListComplete);
    EXPECT_EQ(r.skippedRuns, 0);
}

TEST(RunList, ANegativeOffsetStartsBeforeThePreviousRun) {
    MftRecordInfo r;
    const Bytes list = Concat({test::EncodeRun(0x10, 0x2000), test::EncodeRun(8, -0x1000), {0}});
    ASSERT_EQ(list[4], 0x21); // one length byte, two offset bytes
    ASSERT_EQ(list[7], 0xF0); // the offset's last byte carries the sign
    EXPECT_EQ(Decode(list, 4, r), (std::vector<DataRun>{{0x2000 * 4, 0x10 * 4}, {0x1000 * 4, 8 * 4}}));
}

TEST(RunList, AHighFirstHeaderIsRefusedButTheSameByteLaterIsARun) {
    MftRecordInfo refused;
    Decode({0x63, 0x05, 0, 0, 0x00, 0x10, 0, 0, 0, 0, 0}, 8, refused, false);
    EXPECT_TRUE(refused.runs.empty());

    MftRecordInfo r;
    const Bytes list =
        Concat({test::EncodeRun(0x10, 0x2000), {0x63, 0x05, 0, 0, 0x00, 0x10, 0, 0, 0, 0}, {0}});
    EXPECT_EQ(Decode(list, 1, r), (std::vector<DataRun>{{0x2000, 0x10}, {0x3000, 5}}));
    EXPECT_TRUE(r.runListComplete);
}

TEST(RunList, SparseRunsAreSkippedAndTheRunsAfterThemDecoded) {
    MftRecordInfo r;
    const Bytes list = Concat({test::EncodeRun(0x10, 0x2000), {0x01, 0x08}, test::EncodeRun(4, 0x10), {0}});
    EXPECT_EQ(Decode(list, 2, r), (std::vector<DataRun>{{0x2000 * 2, 0x20}, {0x2010 * 2, 8}}));
    EXPECT_EQ(r.skippedRuns, 1);
    EXPECT_TRUE(r.runListComplete);
}

TEST(RunList, EndsAtAClusterBelowOneAndAtTheAttributesEnd) {
    MftRecordInfo toZero;
    Decode(Concat({test::EncodeRun(0x10, 0x100), test::EncodeRun(1, -0x100), test::EncodeRun(1, 0x500), {0}}),
           1, toZero);
    EXPECT_EQ(toZero.runs, (std::vector<DataRun>{{0x100, 0x10}}));
    EXPECT_FALSE(toZero.runListComplete);

    MftRecordInfo cut;
    Decode({0x11, 0x10, 0x20, 0x32, 0x01}, 1, cut); // the second run's fields leave the attribute
    EXPECT_EQ(cut.runs, (std::vector<DataRun>{{0x20, 0x10}}));
    EXPECT_FALSE(cut.runListComplete);
}

TEST(WideToAnsi, Win32NamesBecomeUtf8AndOtherNameSpacesGiveNothing) {
    const std::u16string name = u"报告\U0001F600.txt";
    Bytes raw(2 + 2 * name.size(), 0xEE);
    for (std::size_t i = 0; i < name.size(); ++i)
        test::PutLe(raw, 2 + 2 * i, name[i], 2);
    const std::string utf8 = "报告\xF0\x9F\x98\x80.txt";
    EXPECT_EQ(WideToAnsi(raw, 2, 2 * name.size(), 1), utf8);
    EXPECT_EQ(WideToAnsi(raw, 2, 2 * name.size(), 3), utf8);
    EXPECT_EQ(WideToAnsi(raw, 2, 2 * name.size(), 2), "");
    EXPECT_EQ(WideToAnsi(raw, 2, 2 * name.size(), 0), "");
    EXPECT_EQ(WideToAnsi(raw, 2, 2 * name.size() + 2, 1), ""); // runs past the buffer
}

TEST(MftRecord, ReadsTimesNameParentAndRunsOfAPlainFile) {
    auto bytes = FileRecord(1)
                     .StandardInformation(0x01D0000000000001, 0x01D0000000000002)
                     .FileName(0x2A, u"data.bin", 3)
                     .NonResidentData(test::EncodeRun(0x10, 0x2000), 0x10000, 0xFFF0)
                     .Build();
    MftRecordInfo r;
    RecordingSink sink;
    EXPECT_EQ(Parse(bytes, r, sink), 1);
    EXPECT_EQ(r.parentReference, 0x2A);
    EXPECT_EQ(r.name, "data.bin");
    EXPECT_EQ(r.creationTime, 0x01D0000000000001u);
    EXPECT_EQ(r.modificationTime, 0x01D0000000000002u);
    EXPECT_EQ(r.isDirectory, 0);
    EXPECT_EQ(r.nonResident, 1);
    EXPECT_EQ(r.allocatedSize, 0x10000u);
    EXPECT_EQ(r.dataSize, 0xFFF0u);
    EXPECT_EQ(r.runs, (std::vector<DataRun>{{0x2000 * 8, 0x10 * 8}}));
    EXPECT_TRUE(sink.messages.empty());
}

TEST(MftRecord, ADosNameIsPassedOverForTheWin32NameAfterIt) {
    auto bytes = FileRecord().FileName(5, u"BAOGAO~1.TXT", 2).FileName(5, u"报告文件.txt", 1).Build();
    MftRecordInfo r;
    RecordingSink sink;
    EXPECT_EQ(Parse(bytes, r, sink), 1);
    EXPECT_EQ(r.name, "报告文件.txt");

    auto dosAfter = FileRecord().FileName(5, u"报告文件.txt", 1).FileName(5, u"BAOGAO~1.TXT", 2).Build();
    MftRecordInfo a;
    EXPECT_EQ(Parse(dosAfter, a, sink), 1);
    EXPECT_EQ(a.name, "报告文件.txt");

    auto dosOnly = FileRecord().FileName(7, u"BAOGAO~1.TXT", 2).Build();
    MftRecordInfo d;
    EXPECT_EQ(Parse(dosOnly, d, sink), 1);
    EXPECT_EQ(d.parentReference, 7);
    EXPECT_EQ(d.name, "");
}

TEST(MftRecord, FirstAttributeAtTheUsedSizeYieldsZeroAndLeavesTheRecordAlone) {
    auto bytes = FileRecord().FileName(5, u"x", 3).Build(7, 56, 56);
    MftRecordInfo r;
    r.name = "keep";
    r.dataSize = 77;
    RecordingSink sink;
    EXPECT_EQ(Parse(bytes, r, sink), 0);
    EXPECT_EQ(r.parentReference, -1);
    EXPECT_EQ(r.name, "keep");
    EXPECT_EQ(r.dataSize, 77u);
    EXPECT_TRUE(r.runs.empty());
}

TEST(MftRecord, ATornRecordIsRefusedAsUnreadable) {
    for (std::size_t end : {510u, 1023u}) {
        SCOPED_TRACE("torn at " + std::to_string(end));
        auto bytes = FileRecord().FileName(5, u"x", 3).Build(0x1234);
        bytes[end] ^= 0xFF;
        MftRecordInfo r;
        RecordingSink sink;
        EXPECT_EQ(Parse(bytes, r, sink), 0);
        EXPECT_EQ(sink.messages, std::vector<std::string>{"读MFT信息错误!"});
        EXPECT_EQ(r.parentReference, -1);
        EXPECT_EQ(r.name, "");
    }
}

TEST(MftRecord, TheUpdateSequenceGivesBackTheBytesAtTheSectorEnd) {
    // A run list that crosses offset 510: its bytes there live in the update sequence array.
    FileRecord rec;
    rec.StandardInformation(1, 2).FileName(5, u"a.bin", 3);
    rec.Filler(static_cast<std::uint32_t>(440 - rec.Position()));
    ASSERT_EQ(rec.Position(), 440u); // run list at 504..512
    rec.NonResidentData(Concat({test::EncodeRun(0x10, 0x123456), test::EncodeRun(0x20, 0x100)}), 0x30000,
                        0x30000);
    auto bytes = rec.Build(0xBEEF);
    ASSERT_EQ(test::GetLe(bytes, 510, 2), 0xBEEFu);
    MftRecordInfo r;
    RecordingSink sink;
    EXPECT_EQ(Parse(bytes, r, sink), 1);
    EXPECT_EQ(r.runs, (std::vector<DataRun>{{0x123456 * 8, 0x80}, {(0x123456 + 0x100) * 8, 0x100}}));
    EXPECT_TRUE(r.runListComplete);
}

TEST(MftRecord, ADataAttributePastTheFirst512BytesIsFound) {
    FileRecord rec;
    rec.StandardInformation(1, 2).FileName(5, u"far.bin", 3).Filler(400);
    ASSERT_GT(rec.Position(), 600u);
    rec.NonResidentData(test::EncodeRun(3, 0x777), 3 * 4096, 9000);
    auto bytes = rec.Build();
    MftRecordInfo r;
    RecordingSink sink;
    EXPECT_EQ(Parse(bytes, r, sink), 1);
    EXPECT_EQ(r.runs, (std::vector<DataRun>{{0x777 * 8, 24}}));
    EXPECT_EQ(r.dataSize, 9000u);
    EXPECT_TRUE(sink.messages.empty());
}

TEST(MftRecord, AnAttributeRunningPastTheBytesInUseFailsTheRecord) {
    auto bytes = FileRecord().StandardInformation(1, 2).FileName(5, u"x", 3).Build();
    const std::size_t fileName = FileRecord::kFirstAttribute + 72;
    ASSERT_EQ(test::GetLe(bytes, fileName, 4), 0x30u);
    ASSERT_LT(test::GetLe(bytes, 24, 4), 600u);
    test::PutLe(bytes, fileName + 4, 600, 4);
    MftRecordInfo r;
    RecordingSink sink;
    EXPECT_EQ(Parse(bytes, r, sink), 0);
    EXPECT_EQ(r.parentReference, -1);
}

TEST(MftRecord, ARunListWithAHighFirstHeaderFailsTheRecord) {
    auto bytes = FileRecord()
                     .FileName(5, u"x", 3)
                     .NonResidentData({0x63, 1, 0, 0, 1, 0, 0, 0, 0, 0}, 4096, 4096)
                     .Build();
    MftRecordInfo r;
    RecordingSink sink;
    EXPECT_EQ(Parse(bytes, r, sink), 0);
    EXPECT_TRUE(r.runs.empty());
}

TEST(MftRecord, ResidentDataIsCopiedUpToOneCluster) {
    const Bytes value{'h', 'e', 'l', 'l', 'o', 0, 0xFF};
    auto bytes = FileRecord().FileName(5, u"small", 3).ResidentData(value).Build();
    MftRecordInfo r;
    RecordingSink sink;
    EXPECT_EQ(Parse(bytes, r, sink), 1);
    EXPECT_EQ(r.residentValue, value);
    EXPECT_EQ(r.dataSize, value.size());
    EXPECT_EQ(r.nonResident, 0);
    EXPECT_TRUE(r.runs.empty());

    auto big = FileRecord().FileName(5, u"big", 3).ResidentData(Bytes(600, 0x41)).Build();
    auto again = big; // parsing undoes the fixup in place
    MftRecordInfo one;
    EXPECT_EQ(Parse(big, one, sink, 1), 0); // 600 bytes cannot sit in a 512-byte cluster
    MftRecordInfo two;
    EXPECT_EQ(Parse(again, two, sink, 2), 1);
    EXPECT_EQ(two.residentValue.size(), 600u);
}

TEST(MftRecord, AttributeListPointsAtTheRecordHoldingTheData) {
    auto bytes = FileRecord()
                     .AttributeList({{0x10, 0x11}, {0x30, 0x22}, {0x80, 0x123456}})
                     .FileName(5, u"x", 3)
                     .Build();
    MftRecordInfo r;
    r.recordNumber = 99;
    RecordingSink sink;
    EXPECT_EQ(Parse(bytes, r, sink), 1);
    EXPECT_EQ(r.recordNumber, 0x123456);
}

TEST(MftRecord, DirectoryFlagFollowsTheRecordFlags) {
    RecordingSink sink;
    for (const auto& [flags, before, after] :
         {std::tuple{3, 0, 1}, {2, 0, 1}, {1, 1, 0}, {0, 1, 0}, {5, 1, 1}}) {
        SCOPED_TRACE("flags " + std::to_string(flags));
        auto bytes = FileRecord(static_cast<std::uint16_t>(flags)).FileName(5, u"d", 3).Build();
        MftRecordInfo r;
        r.isDirectory = before;
        EXPECT_EQ(Parse(bytes, r, sink), 1);
        EXPECT_EQ(r.isDirectory, after);
        EXPECT_EQ(r.recordFlags, static_cast<std::uint32_t>(flags));
    }
}

class MftOnDrive : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto bytes = FileRecord().FileName(5, u"on-disk", 3).Build();
        image.Write(100 * 512, bytes);
        SetDriveTable({image.Path()});
    }
    test::TempDir dir;
    test::SparseImage image{dir.File("disk.img"), 1 << 20};
    RecordingSink sink;
};

TEST_F(MftOnDrive, ReadsTheRecordFromItsSectors) {
    CPhysicalDrive drive(sink);
    MftRecordInfo r;
    EXPECT_EQ(ReadMftRecord(drive, 100, 8, &r), 0); // not open
    ASSERT_EQ(drive.Open(0), 1);
    EXPECT_EQ(ReadMftRecord(drive, 100, 8, nullptr), 0);
    EXPECT_EQ(ReadMftRecord(drive, 100, 8, &r), 1);
    EXPECT_EQ(r.name, "on-disk");
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(MftOnDrive, AnUnreadableSecondSectorLeavesTheRecordUntouched) {
    test::FaultInjection faults;
    faults.Plan().badSector = 101;
    CPhysicalDrive drive(sink);
    ASSERT_EQ(drive.Open(0), 1);
    MftRecordInfo r;
    EXPECT_EQ(ReadMftRecord(drive, 100, 8, &r), 0);
    ASSERT_FALSE(sink.messages.empty());
    EXPECT_EQ(sink.messages.back(), "读MFT信息错误!");
    EXPECT_EQ(r.name, "");
    EXPECT_EQ(r.parentReference, -1);
}

} // namespace
} // namespace kelvane
