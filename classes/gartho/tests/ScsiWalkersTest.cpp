// The SCSI walkers from published command bytes and device answers.
#include <gtest/gtest.h>

#include "ScsiWalkers.h"
#include "TransportWalkers.h"

using namespace orvane;
using namespace orvane::gartho;

namespace {

struct Walked {
    std::string title;
    std::vector<FieldRecord> fields;

    // The last field of that name ("Reserved" stands in many places).
    std::string Value(const std::string& name) const
    {
        std::string value = "(absent)";
        for (const FieldRecord& f : fields)
            if (f.name == name) value = f.value;
        return value;
    }
};

Walked Walk(uint16_t key, std::vector<uint8_t> bytes)
{
    auto walker = MakeWalker(key);
    EXPECT_TRUE(walker) << key;
    Walked out;
    if (!walker) return out;
    walker->SetData(bytes.data(), uint32_t(bytes.size()));
    walker->GetName(out.title);
    walker->Enumerate(out.fields);
    return out;
}

std::vector<uint8_t> Block16(std::vector<uint8_t> bytes)
{
    bytes.resize(kCommandBlockBytes, 0);
    return bytes;
}

TEST(ScsiWalkers, CommandBlocksNameTheirTransferAndShowTheirFields)
{
    // bytes, title, field, value
    const std::vector<std::tuple<std::vector<uint8_t>, std::string, std::string, std::string>> rows = {
        {{0x28, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x08, 0x00}, "Read (Lun 0,Lba 0x00001000)", "Transfer Length", "8 blocks"},
        {{0x12, 0x00, 0x00, 0x00, 0x24, 0x00}, "Inquery (Lun 0)", "Allocation Length", "36 bytes"},
        {{0x12, 0x01}, "Inquery (Lun 0)", "EVPD", "Yes"},
        {{0x00, 0x40}, "Test Unit Ready (Lun 2)", "Padding", "14 bytes"},
        {{0x03, 0x00, 0, 0, 18}, "Reuest Sense (Lun 0)", "Allocation Length", "18 bytes"},
        {{0x04, 0x18, 7, 0x01, 0x02}, "Format Unit (Lun 0,Track 7)", "Interleave", "258"},
        {{0x1A, 0x00, 0xDC, 0x00, 0xC0}, "Mode Sense (Lun 0)", "Page Code", "Timer and Protect Page"},
        {{0x1A, 0x00, 0xBF}, "Mode Sense (Lun 0)", "Page Control", "Default Values"},
        {{0x1D, 0x04}, "Send Diagnostic (Lun 0)", "Self Test", "perform default self-test"},
        {{0x1E, 0x00, 0x01}, "Prevent/Allow Medium Removal (Lun 0)", "Prevent", "disable (prevent) removal of the medium"},
        {{0x23, 0, 0, 0, 0, 0, 0, 0x00, 0xFC}, "Read Format Capacities (Lun 0)", "Allocation Length", "252 bytes"},
        {{0x25, 0x20, 0, 0, 0x01, 0x00}, "Read Capacity (Lun 1,Lba 0x00000100)", "Logical Block Address", "0x00000100"},
        {{0x2A, 0x08, 0, 0, 0, 0x3F, 0, 0, 0x80}, "Write (Lun 0,Lba 0x0000003F)", "Force Unit Access", "Yes"},
        {{0x2B, 0x00, 0, 0, 0x04, 0x00}, "Seek (Lun 0,Lba 1024)", "Logical Block Address", "1 KB(1024 bytes)"},
        {{0x2E, 0x02, 0, 0, 0, 1, 0, 0, 2}, "Write And Verify (Lun 0,Lba 0x00000001)", "Byte Check", "1"},
        {{0x2F, 0x00, 0, 0, 0, 9, 0, 0x02, 0x00}, "Verify (Lun 0,Lba 0x00000009)", "Transfer Length", "512 bytes"},
        {{0x55, 0x11, 0, 0, 0, 0, 0, 0, 0x18}, "Mode Select (Lun 0)", "Page Format", "1"},
        {{0x5A, 0x00, 0x3F}, "Mode Sense (Lun 0)", "Page Code", "63"},
        {{0xA8, 0x00, 0, 0, 0, 2, 0, 0, 1, 0}, "Read (Lun 0,Lba 0x00000002)", "Transfer Length", "256 blocks"},
        {{0xAA, 0x00, 0, 0, 0, 2, 0, 0, 0, 4, 0x5A}, "Write (Lun 0,Lba 0x00000002)", "Reserved", "0x5A"},
    };
    for (const auto& [bytes, title, field, value] : rows) {
        const Walked walked = Walk(bytes[0], Block16(bytes));
        EXPECT_EQ(walked.title, title);
        EXPECT_EQ(walked.Value(field), value) << title << " " << field;
        EXPECT_EQ(walked.fields.front().name, "Operation Code");
    }
    EXPECT_FALSE(MakeWalker(0x35)) << "an operation code without a walker";
    EXPECT_FALSE(HasWalker(0x35));
    EXPECT_FALSE(MakeWalker(0xFF28)) << "READ(10) data have no walker";
}

TEST(ScsiWalkers, EveryTableLiesInsideItsStructureEndToEnd)
{
    for (const auto& [bytes, fields] : FieldTables()) {
        const auto problems = FieldTableProblems(fields, bytes, true);
        EXPECT_TRUE(problems.empty()) << fields[0].name << ": " << (problems.empty() ? "" : problems[0]);
    }
    for (auto fields : {DeviceRequestFields(), CommandBlockWrapperFields(), CommandStatusWrapperFields()}) {
        uint32_t bits = 0;
        for (const ClassField& f : fields) bits += f.bits;
        EXPECT_TRUE(FieldTableProblems(fields, (bits + 7) / 8, true).empty()) << fields[0].name;
    }
    // Each walker's fields fill no more than the 16-byte command block.
    for (uint16_t code = 0; code < 0x100; ++code) {
        auto walker = MakeWalker(code);
        if (!walker) continue;
        const std::vector<uint8_t> block(kCommandBlockBytes, 0xFF);
        walker->SetData(block.data(), kCommandBlockBytes);
        std::vector<FieldRecord> fields;
        walker->Enumerate(fields);
        uint32_t bits = 0;
        for (const FieldRecord& f : fields) bits += f.bits;
        EXPECT_LE(bits, kCommandBlockBytes * 8) << code;
        EXPECT_GE(fields.size(), 3u) << code;
    }
}

TEST(ScsiWalkers, DataWalkersShowOnlyWhatTheAnswerHolds)
{
    const Walked capacity = Walk(kReadCapacityData, {0x00, 0x00, 0xF9, 0xFF, 0x00, 0x00, 0x02, 0x00});
    EXPECT_EQ(capacity.title, "Capacity Data");
    EXPECT_EQ(capacity.Value("Last Logical Block Address"), "0x0000F9FF");
    EXPECT_EQ(capacity.Value("Block Length In Bytes"), "512 bytes");
    EXPECT_EQ(Walk(kReadCapacityData, {0x00, 0x00, 0xF9, 0xFF, 0x00}).fields.size(), 1u);
    EXPECT_TRUE(Walk(kReadCapacityData, {}).fields.empty());

    std::vector<uint8_t> list = {0, 0, 0, 16, 0x00, 0x03, 0xD0, 0x00, 0x02, 0x00, 0x02, 0x00};
    const std::vector<uint8_t> formattable = {0x00, 0x00, 0x0B, 0x40, 0x00, 0x00, 0x02, 0x00};
    // answer bytes, records, name and value of the last
    std::vector<uint8_t> twenty = list;
    twenty.insert(twenty.end(), formattable.begin(), formattable.end());
    std::vector<uint8_t> twentySix = twenty;
    twentySix.resize(26, 0);
    const std::vector<std::tuple<std::vector<uint8_t>, size_t, std::string, std::string>> lists = {
        {list, 8, "Capacity Descriptor.Block Length", "512 bytes"},
        {twenty, 11, "Formattable Capacity Descriptor[0].Length", "512 bytes"},
        {twentySix, 11, "Formattable Capacity Descriptor[0].Length", "512 bytes"},
        {std::vector<uint8_t>(list.begin(), list.begin() + 9), 7, "Capacity Descriptor.Reserved", "0x00"},
        {{}, 0, "", ""},
    };
    for (const auto& [bytes, count, name, value] : lists) {
        const Walked walked = Walk(kFormatCapacityData, bytes);
        EXPECT_EQ(walked.title, "Capacity List");
        ASSERT_EQ(walked.fields.size(), count) << bytes.size();
        if (count == 0) continue;
        EXPECT_EQ(walked.fields.back().name, name);
        EXPECT_EQ(walked.fields.back().value, value);
    }
    EXPECT_EQ(Walk(kFormatCapacityData, twenty).Value("Capacity Descriptor.Descriptor Code"),
              "Formatted Media - Current media capacity");
    EXPECT_EQ(Walk(kFormatCapacityData, twenty).Value("Formattable Capacity Descriptor[0].Number of Blocks"),
              "2880 blocks");

    // MODE SENSE(6) answers of 3, 4 and 12 bytes; the page at byte 4.
    const std::vector<uint8_t> timer = {0x0B, 0x00, 0x00, 0x08, 0x1C, 0x06, 0x00, 0x05, 0x03, 0x00, 0x00, 0x00};
    // bytes, records
    for (const auto& [length, records] : std::vector<std::pair<size_t, size_t>>{{3, 3}, {4, 4}, {12, 15}, {6, 8}}) {
        const Walked walked = Walk(kModeSense6Data, std::vector<uint8_t>(timer.begin(), timer.begin() + long(length)));
        EXPECT_EQ(walked.title, "Mode Parameter List");
        EXPECT_EQ(walked.fields.size(), records) << length;
    }
    const Walked page = Walk(kModeSense6Data, timer);
    EXPECT_EQ(page.Value("Medium Type Code"), "Default medium type (current mounted medium type)");
    EXPECT_EQ(page.Value("Page Length"), "6 bytes");
    EXPECT_EQ(page.Value("Inactivity Time Multiplier"), "2 s");
    std::vector<uint8_t> other = timer;
    other[4] = 0x01;  // Read-Write Error Recovery: known, but no fields
    EXPECT_EQ(Walk(kModeSense6Data, other).fields.size(), 4u);
}

TEST(ScsiWalkers, InactivityTimesAndSizes)
{
    std::vector<uint8_t> page = {0, 0, 0, 0, 0x1C, 6, 0, 0, 0, 0, 0, 0};
    // multiplier, text
    for (const auto& [n, text] : std::vector<std::pair<uint8_t, std::string>>{
             {0, "Infinite"}, {1, "125 ms"}, {3, "500 ms"}, {4, "1 s"}, {5, "2 s"}, {9, "32 s"}, {10, "1 min"}, {15, "32 min"}}) {
        page[7] = n;
        EXPECT_EQ(Walk(kModeSense6Data, page).Value("Inactivity Time Multiplier"), text) << int(n);
    }
    // bytes, text
    for (const auto& [bytes, text] : std::vector<std::pair<uint64_t, std::string>>{
             {0, "0 bytes"}, {512, "512 bytes"}, {1023, "1023 bytes"}, {1024, "1 KB(1024 bytes)"},
             {1536, "1.5 KB(1536 bytes)"}, {4096, "4 KB(4096 bytes)"}, {0x200000, "2 MB(2097152 bytes)"},
             {0xFFFFFFFF, "4096 MB(4294967295 bytes)"}}) {
        EXPECT_EQ(FormatSize(bytes), text);
    }
}

}  // namespace
