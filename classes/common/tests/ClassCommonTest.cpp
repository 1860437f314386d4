#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "BoundedFetch.h"
#include "CByteCursor.h"
#include "CFakeHost.h"
#include "Document.h"
#include "FieldTable.h"
#include "SetupPacket.h"

using namespace orvane;

namespace {

TEST(ByteCursor, ReadsBothOrdersAtFixedPlacesNeverPastTheEnd)
{
    const uint8_t bytes[] = {0x12, 0x34, 0x56, 0x78, 0x9A};
    const CByteCursor cursor(bytes, sizeof bytes);
    // offset, count, little-endian, big-endian (nullopt: outside)
    const std::vector<std::tuple<size_t, size_t, std::optional<uint64_t>, std::optional<uint64_t>>> rows = {
        {0, 2, 0x3412, 0x1234},
        {1, 4, 0x9A785634, 0x3456789A},
        {4, 1, 0x9A, 0x9A},
        {5, 0, 0, 0},
        {4, 2, std::nullopt, std::nullopt},
        {6, 0, std::nullopt, std::nullopt},
        {0, 9, std::nullopt, std::nullopt},
        {size_t(-1), 2, std::nullopt, std::nullopt},
    };
    for (const auto& [offset, count, le, be] : rows) {
        EXPECT_EQ(cursor.LEAt(offset, count), le) << offset << "+" << count;
        EXPECT_EQ(cursor.BEAt(offset, count), be) << offset << "+" << count;
    }
    CByteCursor moving(bytes, sizeof bytes);
    EXPECT_EQ(moving.ReadBE(3), 0x123456u);
    EXPECT_EQ(moving.ReadBE(3), std::nullopt) << "nothing is consumed when too few remain";
    EXPECT_EQ(moving.ReadBE(2), 0x789Au);
}

std::string Hex8(uint64_t v) { return "hex " + std::to_string(v); }

constexpr const char* kColours[] = {"red", "green", nullptr, "blue"};

TEST(FieldTable, EachFieldReadsItsBitsAndPicksItsText)
{
    const uint8_t data[] = {0xA5, 0x01, 0x02, 0x03, 0x04, 0xFF};
    // field, expected value text (nullopt: left out)
    const std::vector<std::pair<ClassField, std::optional<std::string>>> rows = {
        {{.name = "low", .byte = 0, .bit = 0, .bits = 4, .format = "0x%X"}, "0x5"},
        {{.name = "high", .byte = 0, .bit = 4, .bits = 4, .format = "%u"}, "10"},
        {{.name = "le32", .byte = 1, .bits = 32, .format = "0x%08X"}, "0x04030201"},
        {{.name = "be32", .byte = 1, .bits = 32, .format = "0x%08X", .order = ByteOrder::Big}, "0x01020304"},
        {{.name = "be12", .byte = 1, .bit = 4, .bits = 12, .format = "%u", .order = ByteOrder::Big}, "16"},
        {{.name = "named", .byte = 1, .bits = 8, .names = kColours}, "green"},
        {{.name = "null name", .byte = 2, .bits = 8, .format = "Reserved", .names = kColours}, "Reserved"},
        {{.name = "beyond", .byte = 5, .bits = 8, .format = "other %u", .names = kColours}, "other 255"},
        {{.name = "beyond, no fallback", .byte = 5, .bits = 8, .names = kColours}, ""},
        {{.name = "custom", .byte = 3, .bits = 8, .formatter = Hex8}, "hex 3"},
        {{.name = "fixed", .byte = 0, .bits = 48, .format = "6 bytes"}, "6 bytes"},
        {{.name = "fixed, past the end", .byte = 1, .bits = 48, .format = "6 bytes"}, std::nullopt},
        {{.name = "past the end", .byte = 5, .bits = 16, .format = "%u"}, std::nullopt},
        {{.name = "far past the end", .byte = 600, .bits = 1, .format = "%u"}, std::nullopt},
    };
    for (const auto& [field, expected] : rows) {
        const auto record = DescribeField(field, data);
        ASSERT_EQ(record.has_value(), expected.has_value()) << field.name;
        if (!record) continue;
        EXPECT_EQ(record->value, *expected) << field.name;
        EXPECT_EQ(record->tip, record->value) << "the value is the tip by default";
        EXPECT_EQ(record->bits, field.bits);
    }
    const auto tipped = DescribeField({.name = "t", .format = "%u", .tip = "fixed tip"}, data);
    ASSERT_TRUE(tipped);
    EXPECT_EQ(tipped->tip, "fixed tip");
}

TEST(FieldTable, WalkerWritesOnlyTheFieldsTheDataHold)
{
    static constexpr ClassField kFields[] = {
        {.name = "a", .byte = 0, .bits = 8, .format = "%u"},
        {.name = "b", .byte = 1, .bits = 16, .format = "%u"},
        {.name = "c", .byte = 3, .bits = 8, .format = "%u"},
    };
    const uint8_t data[] = {7, 1, 1, 9};
    for (uint32_t length : {4u, 3u, 1u, 0u}) {
        CDecodeResultWriter document;
        int64_t offset = 8;
        WriteFieldGroup(document, "G", kFields, std::span(data, length), offset);
        xml::Document parsed;
        ASSERT_TRUE(parsed.loadXML(document.Text()));
        const size_t expected = length >= 4 ? 3 : length >= 3 ? 2 : length >= 1 ? 1 : 0;
        EXPECT_EQ(parsed.selectNodes("/groups/group[@name='G']/item").size(), expected) << length;
        EXPECT_EQ(offset, 8 + int64_t(expected == 3 ? 32 : expected == 2 ? 24 : expected == 1 ? 8 : 0));
    }
}

TEST(FieldTable, ProblemsOfATableAreNamed)
{
    static constexpr const char* kTwo[] = {"a", "b"};
    // table, structure bytes, contiguous, expected count of problems
    struct Row {
        std::vector<ClassField> fields;
        uint32_t bytes;
        bool contiguous;
        size_t problems;
    };
    const std::vector<Row> rows = {
        {{{.name = "x", .bits = 8, .format = "%u"}, {.name = "y", .byte = 1, .bits = 8, .format = "%u"}}, 2, true, 0},
        {{{.name = "outside", .byte = 2, .bits = 8, .format = "%u"}}, 2, false, 1},
        {{{.name = "gap", .bits = 4, .format = "%u"}, {.name = "y", .byte = 1, .bits = 8, .format = "%u"}}, 2, true, 1},
        {{{.name = "no width", .bits = 0, .format = "%u"}}, 2, false, 1},
        {{{.name = "wide", .bits = 72, .format = "%u"}}, 9, false, 1},
        {{{.name = "fixed wide", .bits = 72, .format = "9 bytes"}}, 9, true, 0},
        {{{.name = "few names", .bits = 2, .names = kTwo}}, 1, false, 1},
        {{{.name = "few names, fallback", .bits = 2, .format = "Reserved", .names = kTwo}}, 1, false, 0},
        {{{.name = "no text", .bits = 8}}, 1, false, 1},
        {{{.name = "", .bits = 8, .format = "%u"}}, 1, false, 1},
    };
    for (const Row& row : rows)
        EXPECT_EQ(FieldTableProblems(row.fields, row.bytes, row.contiguous).size(), row.problems)
            << row.fields[0].name;
    EXPECT_TRUE(FieldTableProblems(kRequestTypeFields, SetupPacket::kSize, true).empty());
}

TEST(BoundedFetch, ReadsNoMoreThanTheBufferAndKeepsNoStaleBytes)
{
    CFakeHost host;
    UsbItem* seven = host.Out({1, 2, 3, 4, 5, 6, 7});
    UsbItem* empty = host.Out({});
    UsbItem foreign(ItemOutTransaction, 99);

    uint8_t buffer[8];
    std::memset(buffer, 0xEE, sizeof buffer);
    EXPECT_EQ(FetchBounded(&host, seven, std::span(buffer, 4)), 7);
    EXPECT_EQ(buffer[3], 4);
    EXPECT_EQ(buffer[4], 0xEE) << "nothing past the capacity";
    EXPECT_LT(FetchBounded(&host, &foreign, buffer), 0);
    EXPECT_LT(FetchBounded(nullptr, seven, buffer), 0);

    // buffer size, item, exact?
    for (auto [size, item, exact] : {std::tuple{7u, seven, true}, std::tuple{8u, seven, false},
                                      std::tuple{6u, seven, false}, std::tuple{0u, empty, true},
                                      std::tuple{4u, &foreign, false}}) {
        std::memset(buffer, 0xEE, sizeof buffer);
        EXPECT_EQ(FetchExact(&host, item, std::span(buffer, size)), exact) << size;
        if (exact) continue;
        for (uint32_t i = 0; i < size; ++i) EXPECT_EQ(buffer[i], 0) << "a wrong size leaves zeros, not bytes";
    }

    std::vector<uint8_t> out = {9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
    EXPECT_EQ(FetchAll(&host, seven, out, 3), 7u);
    EXPECT_EQ(out, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(FetchAll(&host, seven, out), 7u);
    EXPECT_EQ(out.size(), 7u);
    EXPECT_EQ(FetchAll(&host, &foreign, out), 0u);
    EXPECT_TRUE(out.empty());
    UsbItem* big = host.In(std::vector<uint8_t>(5000, 0x5A));
    EXPECT_EQ(FetchAll(&host, big, out), 5000u);
    EXPECT_EQ(out.size(), 5000u);
    EXPECT_EQ(out.back(), 0x5A);
}

TEST(BoundedFetch, ConcatenatesTheChosenChildrenUpToTheCapacity)
{
    CFakeHost host;
    UsbItem* run = host.Item(300, {host.In({1, 2}), host.In({3}, PidNak), host.In({4, 5, 6}), host.In({})});
    const auto acked = [](const UsbItem& child) { return child.status == PidAck; };
    uint8_t buffer[8];
    std::memset(buffer, 0xEE, sizeof buffer);
    EXPECT_EQ(ConcatChildData(&host, *run, buffer, 4, acked), 5);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 5), (std::vector<uint8_t>{1, 2, 4, 5, 0xEE}));
    EXPECT_EQ(ConcatChildData(&host, *run, nullptr, 100), 6) << "without a buffer only the length";
    EXPECT_EQ(ConcatChildData(nullptr, *run, buffer, 8), 0);
}

TEST(SetupPacket, ReadsTheEightBytesOfATransactionOrATransfer)
{
    CFakeHost host;
    const uint8_t getMaxLun[] = {0xA1, 0xFE, 0x00, 0x00, 0x02, 0x00, 0x01, 0x00};
    UsbItem* transfer = host.ControlTransfer(getMaxLun, {0});
    const auto setup = SetupPacket::FetchOfTransfer(&host, transfer);
    ASSERT_TRUE(setup);
    EXPECT_EQ(std::tie(setup->bmRequestType, setup->bRequest, setup->wValue, setup->wIndex, setup->wLength),
              std::make_tuple(uint8_t(0xA1), uint8_t(0xFE), uint16_t(0), uint16_t(2), uint16_t(1)));
    EXPECT_TRUE(setup->IsClass() && setup->IsDeviceToHost());
    EXPECT_EQ(setup->RequestRecipient(), SetupPacket::RecipientInterface);
    EXPECT_EQ(transfer->interface, 2) << "as the standard-request decoder places it";

    EXPECT_FALSE(SetupPacket::Fetch(&host, host.Transaction(ItemSetupTransaction, PidAck, {0x80, 6, 0})));
    EXPECT_FALSE(SetupPacket::FetchOfTransfer(&host, host.Item(ItemControlTransfer)));
    EXPECT_FALSE(SetupPacket::From(std::span(getMaxLun, 7)));

    std::vector<FieldRecord> fields;
    EnumerateFields(kRequestTypeFields, getMaxLun, fields);
    ASSERT_EQ(fields.size(), 3u);
    EXPECT_EQ(fields[0].value, "Interface");
    EXPECT_EQ(fields[1].value, "Class");
    EXPECT_EQ(fields[2].value, "Device-to-host");
    const uint8_t reserved[] = {0x1F};
    fields.clear();
    EnumerateFields(kRequestTypeFields, reserved, fields);
    EXPECT_EQ(fields[0].value, "Reserved");
}

TEST(FakeHost, AnswersAsTheParserForItsItemsAndFreesOnlyTheDecodersOwn)
{
    CFakeHost host;
    host.SetDevice(5, 0);
    const uint8_t classRequest[] = {0x21, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    const uint8_t standard[] = {0x80, 0x06, 0x00, 0x01, 0x00, 0x00, 0x12, 0x00};
    UsbItem* reset = host.ControlTransfer(classRequest);
    UsbItem* descriptor = host.ControlTransfer(standard, std::vector<uint8_t>(18, 1), 8);
    ASSERT_EQ(descriptor->children.size(), 5u) << "SETUP, three IN packets, the status";
    EXPECT_EQ(host.GetData(descriptor, nullptr, 0), 18);
    ItemSummary row;
    EXPECT_EQ(host.Summarize(reset, &row), 0) << "a class request is the interface decoder's";
    EXPECT_EQ(host.Summarize(descriptor, &row), 1);
    EXPECT_EQ(row.size, 18);
    UsbItem* naks = host.NakRun(ItemInTransaction, 3);
    EXPECT_EQ(naks->children.size(), 3u);
    ASSERT_EQ(host.Summarize(naks->children[0], &row), 1);
    EXPECT_EQ(std::tie(row.status, row.size), std::make_tuple(int32_t(StatusNak), -1));

    // A decoder's item holding host items: only it is freed.
    auto* made = new UsbItem(258, 1);
    made->Append(host.In({1}));
    auto* outer = new UsbItem(0xFF28, 1);
    outer->Append(made);
    host.FreeDecoderItems({outer, reset});
    EXPECT_EQ(host.GetData(reset, nullptr, 0), 0) << "the host's items live on";
    EXPECT_EQ(DescribeTree(host, reset), "256#" + std::to_string(reset->firstRecord));
}

}  // namespace
