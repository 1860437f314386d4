// The data pane's arithmetic: settings, widths, rows, colours and copy texts.
#include <gtest/gtest.h>

#include <map>

#include "HexLayout.h"

using namespace orvane::nembrin;

TEST(HexSettings, OnlyOfferedValuesReplaceADefault)
{
    std::map<std::string, int32_t> stored = {
        {"AddressType", 1}, {"Width", 0}, {"GroupType", 0}, {"LeftArea", 1}, {"RigthArea", 7}};
    DisplaySettings s = LoadSettings([&](const char* name, int32_t* v) {
        auto it = stored.find(name);
        if (it == stored.end()) return false;
        *v = it->second;
        return true;
    });
    EXPECT_EQ(s.addressType, AddressDecimal);
    EXPECT_EQ(s.width, kAutoWidth) << "a width of 0 would divide by zero";
    EXPECT_EQ(s.bytesPerRow, kAutoWidth);
    EXPECT_EQ(s.groupType, 1) << "a group of 0 would divide by zero";
    EXPECT_EQ(s.leftArea, AreaChars);
    EXPECT_EQ(s.rightArea, AreaBinary);

    stored = {{"Width", 16}, {"GroupType", 4}};
    s = LoadSettings([&](const char* name, int32_t* v) {
        auto it = stored.find(name);
        if (it == stored.end()) return false;
        *v = it->second;
        return true;
    });
    EXPECT_EQ(s.width, 16);
    EXPECT_EQ(s.bytesPerRow, 16);
    EXPECT_EQ(s.groupType, 4);
}

TEST(HexSettings, WidthAndGroupingRulesRunBeforeTheCommand)
{
    using Changes = std::vector<std::pair<SettingIndex, int32_t>>;
    DisplaySettings s;
    s.Set(SetWidth, 4);
    EXPECT_EQ(CommandChanges(s, 32816), (Changes{{SetWidth, 8}, {SetGroupType, 8}}));
    s.Set(SetWidth, kAutoWidth);
    EXPECT_EQ(CommandChanges(s, 32816), (Changes{{SetWidth, 16}, {SetGroupType, 8}}));
    EXPECT_EQ(CommandChanges(s, 32814), (Changes{{SetWidth, 8}, {SetGroupType, 2}}));
    EXPECT_EQ(CommandChanges(s, 32815), (Changes{{SetWidth, 16}, {SetGroupType, 4}}));
    s.groupType = 4;
    EXPECT_EQ(CommandChanges(s, 32808), (Changes{{SetGroupType, 1}, {SetWidth, kAutoWidth}}));
    s.groupType = 8;
    EXPECT_EQ(CommandChanges(s, 32809), (Changes{{SetGroupType, 4}, {SetWidth, 4}}));
    EXPECT_EQ(CommandChanges(s, 32810), (Changes{{SetWidth, 8}}));
    EXPECT_EQ(CommandChanges(s, 32822), (Changes{{SetRightArea, AreaBinary}}));
    EXPECT_TRUE(CommandChanges(s, 32818).empty()) << "no such command";
}

TEST(HexLayout, AreaAndAddressWidths)
{
    EXPECT_EQ(AddressCells(AddressDecimal, 1000), 6);
    EXPECT_EQ(AddressCells(AddressDecimal, 9), 3);
    EXPECT_EQ(AddressCells(AddressDecimal, 0), 3);
    EXPECT_EQ(AddressCells(AddressHex, 1000), 12);
    EXPECT_EQ(AreaCells(AreaChars, 16, 4), 18);
    EXPECT_EQ(AreaCells(AreaHex, 16, 1), 16 + 32 + 1);
    EXPECT_EQ(AreaCells(AreaBinary, 8, 2), 4 + 64 + 1);
    EXPECT_EQ(FitBytesPerRow(700, AreaHex, AreaBinary), 8);
    EXPECT_EQ(FitBytesPerRow(20, AreaHex, AreaBinary), 0) << "too narrow for two bytes";
    EXPECT_EQ(FitBytesPerRow(0, AreaHex, AreaBinary), 0);
    for (int32_t n : {3, 8, 16}) {
        EXPECT_EQ(FitBytesPerRow(FittedWidth(n, AreaHex, AreaChars), AreaHex, AreaChars), n);
        EXPECT_EQ(FitBytesPerRow(FittedWidth(n, AreaHex, AreaChars) - 1, AreaHex, AreaChars), n - 1);
    }
}

TEST(HexLayout, ScrollClampsNeverStartAboveTheData)
{
    EXPECT_EQ(ScrollRowFor(2, 0, 10, 3), 0) << "short data: the row is in view";
    EXPECT_EQ(ScrollRowFor(12, 0, 10, 3), 0) << "never a negative first row";
    EXPECT_EQ(ScrollRowFor(50, 0, 10, 100), 45);
    EXPECT_EQ(ScrollRowFor(99, 0, 10, 100), 90);
    EXPECT_EQ(ScrollRowFor(5, 3, 10, 100), 3);
    EXPECT_EQ(ClampScroll(500, 99, 10), 90);
    EXPECT_EQ(ClampScroll(-3, 99, 10), 0);
    EXPECT_EQ(ClampScroll(7, 5, 10), 0);
    EXPECT_EQ(ClampScroll(7, 10, 10), 1) << "one row more than the page: the last is reached";
    EXPECT_EQ(ClampScroll(7, 9, 10), 0) << "exactly a page";
}

TEST(HexLayout, RowTextsInEveryMode)
{
    const uint8_t bytes[8] = {0x41, 0x00, 0x7F, 0x20, 0xFE, 0x39, 0xA5, 0x0F};
    EXPECT_EQ(RowText(AreaChars, bytes, 8, 2), "A.. .9..");
    EXPECT_EQ(RowText(AreaHex, bytes, 8, 1), "41 00 7F 20 FE 39 A5 0F");
    EXPECT_EQ(RowText(AreaHex, bytes, 8, 4), "41007F20 FE39A50F");
    const std::string binary = RowText(AreaBinary, bytes, 8, 2);
    EXPECT_EQ(std::count(binary.begin(), binary.end(), ' '), 3) << "8 bytes in 2-byte groups";
    EXPECT_EQ(binary.substr(0, 17), "0100000100000000 ");
}

TEST(HexLayout, ColumnsAndCellsAgree)
{
    // Hexadecimal, 4 bytes a row in 2-byte groups: gap, 4 digits, gap, 4 digits, trailing cell.
    EXPECT_EQ(CellOfColumn(AreaHex, 0, 2), 1);
    EXPECT_EQ(CellOfColumn(AreaHex, 2, 2), 6);
    EXPECT_EQ(ColumnAtCell(AreaHex, 6, 4, 2).column, 2);
    EXPECT_EQ(ColumnAtCell(AreaHex, 4, 4, 2).column, 1);
    CellHit gap = ColumnAtCell(AreaHex, 5, 4, 2);
    EXPECT_EQ(gap.column, 1);
    EXPECT_TRUE(gap.gapAfterGroup) << "the gap belongs to the group before it";
    EXPECT_EQ(ColumnAtCell(AreaHex, 40, 4, 2).column, 3) << "past the end: the last column";
    EXPECT_EQ(ColumnAtCell(AreaChars, 3, 8, 1).column, 2);
}

TEST(HexHighlights, ColourGoesToTheMostRecentKind)
{
    Recency recency;
    recency.Activate(KindField);
    recency.Activate(KindSelection);
    std::vector<BitRange> hits;
    Highlights lit{{0, 16}, {8, 24}, &hits};
    const uint8_t bytes[4] = {1, 2, 3, 4};
    std::vector<RowCell> cells = RowCells(AreaHex, bytes, 4, 1, 0, lit, recency);
    ASSERT_EQ(cells.size(), 11u);
    EXPECT_EQ(cells[0].kind, KindField);
    EXPECT_EQ(cells[3].kind, KindSelection) << "both cover byte 1: the selection is newer";
    EXPECT_EQ(cells[2].kind, KindField) << "a gap between two coloured cells takes the older kind";
    EXPECT_EQ(cells[6].kind, KindSelection);
    EXPECT_EQ(cells[8].kind, 0);
    EXPECT_EQ(cells[9].kind, 0);

    recency.Activate(KindField);
    cells = RowCells(AreaHex, bytes, 4, 1, 0, lit, recency);
    EXPECT_EQ(cells[3].kind, KindField) << "activating again makes it the newest";
    EXPECT_EQ(cells[5].kind, KindSelection);

    // A field of bits 4-7 (the high nibble, as USB numbers bits) colours one
    // hexadecimal digit, four binary digits and one character.
    Highlights nibble{{4, 8}, {}, nullptr};
    cells = RowCells(AreaHex, bytes, 1, 1, 0, nibble, recency);
    EXPECT_EQ(cells[0].kind, KindField);
    EXPECT_EQ(cells[1].kind, 0);
    Highlights direction{{7, 8}, {}, nullptr};  // bmRequestType's D7
    cells = RowCells(AreaBinary, bytes, 1, 1, 0, direction, recency);
    EXPECT_EQ(cells[0].kind, KindField) << "the leftmost binary digit";
    EXPECT_EQ(cells[7].kind, 0);
    cells = RowCells(AreaChars, bytes, 2, 1, 0, nibble, recency);
    EXPECT_EQ(cells[0].kind, KindField);
    EXPECT_EQ(cells[1].kind, 0);

    hits = {{16, 24}};
    Highlights found{{}, {}, &hits};
    EXPECT_TRUE(found.AnyIn(0, 32));
    EXPECT_FALSE(found.AnyIn(0, 16));
    EXPECT_EQ(found.At(17), KindHit);
}

TEST(HexCopy, SelectionTextsInEveryMode)
{
    std::vector<uint8_t> data = {0, 1, 2, 3, 4, 5, 6, 7, 0x41};
    BitRange all{0, 64};
    EXPECT_EQ(SelectionText(data.data(), data.size(), all, AreaHex, 1, 4),
              " 00 01 02 03 \r\n 04 05 06 07 \r\n");
    EXPECT_EQ(SelectionText(data.data(), data.size(), {8, 40}, AreaHex, 2, 16), "01 0203 04")
        << "a blank before each group by its place in the data";
    EXPECT_EQ(SelectionText(data.data(), data.size(), {0, 16}, AreaBinary, 1, 16), " 00000000 00000001");
    EXPECT_EQ(SelectionText(data.data(), data.size(), {48, 72}, AreaChars, 1, 16), "..A")
        << "a zero byte no longer cuts the copied text";
    EXPECT_EQ(SelectionText(data.data(), data.size(), {8, 8}, AreaHex, 1, 16), "") << "an empty selection";
    EXPECT_EQ(SelectionText(data.data(), data.size(), {64, 200}, AreaHex, 1, 16), " 41") << "stops at the data's end";
}

TEST(HexCopy, AddressLabels)
{
    EXPECT_EQ(AddressText(AddressHex, 0x20), "0x00000020");
    EXPECT_EQ(AddressText(AddressDecimal, 1000), "1000");
    EXPECT_EQ(AddressText(AddressHex, 0x123456789ull), "0x123456789") << "offsets past 4 GiB";
}
