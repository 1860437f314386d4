// The hex control against a scripted pane and decoder: fetching an item's
// bytes, the field highlight and its scroll, the selection by mouse and
// keys, the find and stepping through its hits.
#include <gtest/gtest.h>

#include <numeric>

#include "CShowDataCtrl.h"
#include "IDecode.h"
#include "UsbItem.h"

using namespace orvane;
using namespace orvane::nembrin;

namespace {

struct FakePane : IDataPaneHost {
    int32_t width = 700, height = 15 * 11;  // ten data rows under the header
    int64_t vMax = -1, vPage = -1, vPos = 0;
    int repaints = 0, notFound = 0, atEnd = 0, dragStops = 0;
    bool caret = false;
    int32_t caretX = 0, caretY = 0;
    std::vector<std::pair<SettingIndex, int32_t>> changed;
    std::vector<std::function<void()>> posted;
    bool gui = true;

    int32_t ClientWidth() const override { return width; }
    int32_t ClientHeight() const override { return height; }
    void SetScrollBar(bool vertical, int64_t maximum, int64_t page) override {
        if (vertical) vMax = maximum, vPage = page;
    }
    void SetScrollPos(bool vertical, int64_t position) override {
        if (vertical) vPos = position;
    }
    void Repaint() override { ++repaints; }
    void StopDragTimer() override { ++dragStops; }
    void ShowCaret(int32_t x, int32_t y) override { caret = true, caretX = x, caretY = y; }
    void HideCaret() override { caret = false; }
    void SettingChanged(SettingIndex i, int32_t v) override { changed.push_back({i, v}); }
    void FindNotFound() override { ++notFound; }
    void FindAtEnd() override { ++atEnd; }
    bool OnGuiThread() const override { return gui; }
    void Post(std::function<void()> fn) override {
        if (gui) fn();
        else posted.push_back(std::move(fn));
    }
};

// Serves `bytes` for any item; tells the size beforehand only when asked to.
struct FakeDecode : IDecode {
    std::vector<uint8_t> bytes;
    bool tellsSize = true;
    bool lost = false;  // the data stop at a packet whose payload the capture lacks
    const char* lostText = nullptr;  // the text the lost answer gives, if any
    int32_t fail = 0;
    bool readFails = false;  // the payload's read from the analyser fails as it is fetched
    void Release() override {}
    int32_t Summarize(UsbItem*, ItemSummary*) override { return 0; }
    int32_t GetData(UsbItem*, uint8_t* buffer, uint32_t capacity) override {
        if (fail) return fail;
        if (readFails) lost = true, lostText = kPayloadUnreadText;
        if (buffer) std::copy_n(bytes.begin(), std::min<size_t>(capacity, bytes.size()), buffer);
        return int32_t(bytes.size());
    }
    int32_t GetDetail(UsbItem*, std::string&) override { return 0; }
    const ImageList* GetImageList(UsbItem*) override { return nullptr; }
    int32_t OnNotify(int32_t code, void*, intptr_t param) override {
        if (code == NotifyPayloadLost && lost && param && lostText) *reinterpret_cast<const char**>(param) = lostText;
        if (code == NotifyPayloadLost) return lost ? 1 : 0;
        if (code == NotifyDataLength && tellsSize) *reinterpret_cast<uint32_t*>(param) = uint32_t(bytes.size());
        return 0;
    }
};

std::vector<uint8_t> Counting(size_t n)
{
    std::vector<uint8_t> v(n);
    std::iota(v.begin(), v.end(), uint8_t(0));
    return v;
}

class ShowDataCtrlTest : public ::testing::Test {
protected:
    void SetUp() override {
        ctrl.SetHost(&pane);
        ctrl.SetCellSize(7, 15);
        ctrl.Settings().Set(SetWidth, 16);
    }
    void Select(std::vector<uint8_t> bytes) {
        decode.bytes = std::move(bytes);
        ctrl.OnEvent(nullptr, EventItemSelected, intptr_t(&item), intptr_t(&decode));
    }
    FakePane pane;
    FakeDecode decode;
    UsbItem item;
    CShowDataCtrl ctrl;
};

}  // namespace

TEST_F(ShowDataCtrlTest, AnItemIsFetchedWholeIntoABufferOfTheRightSize)
{
    Select(Counting(100));
    EXPECT_EQ(ctrl.Length(), 100u);
    EXPECT_EQ(ctrl.Data()[99], 99);
    EXPECT_FALSE(ctrl.OwnsLargeBuffer());
    EXPECT_EQ(pane.vMax, 6) << "7 rows of 16";

    Select(std::vector<uint8_t>(0x100000, 7));
    EXPECT_EQ(ctrl.Length(), 0x100000u);
    EXPECT_FALSE(ctrl.OwnsLargeBuffer()) << "exactly 1 MiB fits the built-in buffer";

    Select(std::vector<uint8_t>(0x100001, 9));
    EXPECT_EQ(ctrl.Length(), 0x100001u);
    EXPECT_TRUE(ctrl.OwnsLargeBuffer());
    EXPECT_EQ(ctrl.Data()[0x100000], 9);

    decode.tellsSize = false;
    Select(std::vector<uint8_t>(3 << 20, 5));
    EXPECT_EQ(ctrl.Length(), uint64_t(3 << 20)) << "a decoder that does not tell the size is asked again";
    EXPECT_EQ(ctrl.Data()[(3 << 20) - 1], 5);

    decode.fail = -1;
    Select(Counting(10));
    EXPECT_EQ(ctrl.Length(), 0u);
    EXPECT_EQ(ctrl.Data(), nullptr);
    decode.fail = 0;

    ctrl.OnEvent(nullptr, EventItemSelected, intptr_t(&item), 0);
    EXPECT_EQ(ctrl.Length(), 0u) << "no decoder, no data";
}

TEST_F(ShowDataCtrlTest, DataThatLostPayloadGetANoteRowInTheScrollRange)
{
    decode.lost = true;
    Select({0xC3});
    EXPECT_TRUE(ctrl.PayloadLost());
    EXPECT_STREQ(ctrl.LostText(), kPayloadLostText);
    EXPECT_EQ(pane.vMax, 1) << "the PID's row and the note's";
    decode.lostText = kPayloadUnreadText;
    Select({0xC3});
    EXPECT_STREQ(ctrl.LostText(), kPayloadUnreadText) << "the note says which";
    decode.lost = false, decode.lostText = nullptr, decode.readFails = true;
    Select({0xC3});
    EXPECT_STREQ(ctrl.LostText(), kPayloadUnreadText) << "a read that failed as the pane fetched it";
    decode.readFails = false;
    Select(Counting(1600));
    ctrl.ScrollVert(ScrollBottom);
    EXPECT_EQ(ctrl.FirstRow(), 91) << "a row past the data's last: the note is scrolled to";
    decode.lost = false;
    Select(Counting(1600));
    EXPECT_FALSE(ctrl.PayloadLost());
    EXPECT_EQ(pane.vMax, 99);
}

TEST_F(ShowDataCtrlTest, TheLastRowIsReachedWhenTheDataAreOneRowMoreThanFits)
{
    Select(Counting(16 * 11));  // ten rows fit
    ctrl.ScrollVert(ScrollBottom);
    EXPECT_EQ(ctrl.FirstRow(), 1);
    ctrl.ScrollVert(ScrollLineDown);
    EXPECT_EQ(ctrl.FirstRow(), 1) << "and no further";
    decode.lost = true;
    Select(Counting(16 * 10));
    ctrl.ScrollVert(ScrollBottom);
    EXPECT_EQ(ctrl.FirstRow(), 1) << "the note row after ten rows of data";
    Select(Counting(16 * 9));
    ctrl.ScrollVert(ScrollBottom);
    EXPECT_EQ(ctrl.FirstRow(), 0) << "nine rows and the note fit";
}

TEST_F(ShowDataCtrlTest, EventsAreTakenWhileThePaneHasNoWindow)
{
    pane.width = pane.height = 0;
    Select(Counting(10));
    EXPECT_EQ(ctrl.Length(), 10u) << "a pane opened later shows the selected row";
    ctrl.OnEvent(nullptr, EventCaptureCleared, 0, 0);
    EXPECT_EQ(ctrl.Length(), 0u) << "and nothing of a cleared capture";
    EXPECT_EQ(ctrl.OnEvent(nullptr, EventMarksChanged, 0, 0), 1);
}

TEST_F(ShowDataCtrlTest, OffTheGuiThreadTheBytesAreFetchedThenHandedOver)
{
    pane.gui = false;
    decode.readFails = true;  // told as the bytes are fetched
    Select(Counting(40));
    EXPECT_EQ(ctrl.Length(), 0u);
    ASSERT_EQ(pane.posted.size(), 1u);
    decode.bytes.clear();  // the item may be gone by now
    pane.gui = true;
    pane.posted[0]();
    EXPECT_EQ(ctrl.Length(), 40u);
    EXPECT_EQ(ctrl.Data()[39], 39);
    EXPECT_TRUE(ctrl.PayloadLost());
    EXPECT_STREQ(ctrl.LostText(), kPayloadUnreadText);
}

TEST_F(ShowDataCtrlTest, AFieldIsHighlightedAndBroughtIntoView)
{
    Select(Counting(1600));  // 100 rows
    ctrl.OnEvent(nullptr, EventByteRangeSelected, 8 * 800 + 4, 12);
    EXPECT_EQ(ctrl.Field().start, 6404);
    EXPECT_EQ(ctrl.Field().end, 6416);
    EXPECT_EQ(ctrl.FirstRow(), 45) << "row 50 in the middle of ten";
    EXPECT_EQ(pane.vPos, 45);
    EXPECT_EQ(ctrl.Lit().At(6405), KindField);

    ctrl.OnEvent(nullptr, EventByteRangeSelected, 8 * 1599, 8);
    EXPECT_EQ(ctrl.FirstRow(), 90) << "the last row at the bottom";
    ctrl.OnEvent(nullptr, EventByteRangeSelected, -7, 8);
    EXPECT_EQ(ctrl.FirstRow(), 0) << "just before the data: row 0";

    Select(Counting(20));
    ctrl.OnEvent(nullptr, EventByteRangeSelected, 8 * 19, 8);
    EXPECT_EQ(ctrl.FirstRow(), 0) << "short data never starts above its first row";
    EXPECT_TRUE(ctrl.Field().Overlaps(152, 160));
}

TEST_F(ShowDataCtrlTest, ASelectionByMouseAndKeysIsCopiedInItsAreasFormat)
{
    Select(Counting(64));
    const CShowDataCtrl::Geometry g = ctrl.Layout();
    // Byte 2 of row 0 in the left (hexadecimal) area, then drag to byte 5.
    const int32_t y = 15 + 3;
    auto xOf = [&](int64_t area, int32_t column) { return int32_t(area) + 7 * CellOfColumn(AreaHex, column, 1) + 1; };
    ctrl.OnButtonDown(xOf(g.leftX, 2), y);
    EXPECT_TRUE(ctrl.Selection().Empty());
    EXPECT_TRUE(pane.caret);
    ctrl.OnDrag(xOf(g.leftX, 5), y);
    ctrl.OnButtonUp(xOf(g.leftX, 5), y);
    EXPECT_EQ(ctrl.Selection().start, 16);
    EXPECT_EQ(ctrl.Selection().end, 48);
    EXPECT_EQ(ctrl.GetSelectionText(), " 02 03 04 05");

    // Dragging back over the anchor and into the next row.
    ctrl.OnButtonDown(xOf(g.leftX, 2), y + 15);
    ctrl.OnDrag(xOf(g.leftX, 14), y);
    EXPECT_EQ(ctrl.Selection().start, 8 * 14);
    EXPECT_EQ(ctrl.Selection().end, 8 * 19);
    EXPECT_EQ(ctrl.GetSelectionText(), " 0E 0F \r\n 10 11 12");
    ctrl.OnButtonUp(xOf(g.leftX, 14), y);

    // Shift and the arrow keys move the free end.
    ctrl.OnButtonDown(xOf(g.leftX, 0), y);
    ctrl.SetShift(true);
    ctrl.OnArrowKey(KeyRight);
    ctrl.OnArrowKey(KeyDown);
    ctrl.SetShift(false);
    EXPECT_EQ(ctrl.Selection().start, 0);
    EXPECT_EQ(ctrl.Selection().end, 8 * 18);

    // A selection begun in the right area copies binary.
    const int32_t rightX = int32_t(g.rightX) + 7 * CellOfColumn(AreaBinary, 1, 1) + 1;
    ctrl.OnButtonDown(rightX, y);
    ctrl.OnDoubleClick(rightX, y);
    EXPECT_EQ(ctrl.GetSelectionText(), " 00000001");

    ctrl.ResetView(ResetAll);
    EXPECT_TRUE(ctrl.Selection().Empty());
    EXPECT_EQ(ctrl.GetSelectionText(), "");
}

TEST_F(ShowDataCtrlTest, TheFitSetsBytesPerRowAndResetsTheGrouping)
{
    ctrl.Settings().Set(SetWidth, kAutoWidth);
    ctrl.Settings().groupType = 4;
    pane.width = 700 + 12 * 7;  // 700 pixels beside the address column
    ctrl.FitWidth();
    EXPECT_EQ(ctrl.Settings().bytesPerRow, 8);
    EXPECT_EQ(ctrl.Settings().groupType, 1);
    ASSERT_EQ(pane.changed.size(), 1u);
    EXPECT_EQ(pane.changed[0], std::make_pair(SetGroupType, 1));

    ctrl.Settings().Set(SetWidth, 32);
    ctrl.FitWidth();
    EXPECT_EQ(ctrl.Settings().bytesPerRow, 32) << "a fixed width is kept";
}

TEST_F(ShowDataCtrlTest, FindHitsAreSteppedUntilEitherEnd)
{
    std::vector<uint8_t> data(320, 0);
    data[5] = data[6] = 0xAB;
    data[200] = data[201] = 0xAB;
    data[300] = data[301] = 0xAB;
    Select(data);
    ctrl.FindPattern({0xAB, 0xAB}, false);
    ASSERT_EQ(ctrl.Hits().size(), 3u);
    EXPECT_EQ(ctrl.CurrentHit(), 0);
    EXPECT_EQ(ctrl.Lit().At(8 * 5), KindHit);
    ctrl.GoToHit(+1);
    EXPECT_EQ(ctrl.CurrentHit(), 1);
    EXPECT_EQ(ctrl.FirstRow(), 7) << "row 12 brought into view";
    EXPECT_EQ(pane.caretY, 15 * (12 - 7 + 1));
    ctrl.GoToHit(+1);
    ctrl.GoToHit(+1);
    EXPECT_EQ(ctrl.CurrentHit(), 2);
    EXPECT_EQ(pane.atEnd, 1) << "past the last hit";
    ctrl.GoToHit(-1);
    ctrl.GoToHit(-1);
    ctrl.GoToHit(-1);
    EXPECT_EQ(ctrl.CurrentHit(), 0);
    EXPECT_EQ(pane.atEnd, 2) << "before the first";

    ctrl.ScrollVert(ScrollTop);
    ctrl.FindPattern({0xAB, 0xAB}, true);
    EXPECT_EQ(ctrl.Hits().size(), 1u) << "only the rows in view";
    ctrl.FindPattern({0xCD}, false);
    EXPECT_TRUE(ctrl.Hits().empty());
    EXPECT_EQ(pane.notFound, 1);

    ctrl.FindPattern({0xAB}, false);
    Select(data);
    EXPECT_TRUE(ctrl.Hits().empty()) << "a new item clears the hits";
}

TEST_F(ShowDataCtrlTest, ScrollingIsClampedAndStopsTheDragAtAnEnd)
{
    Select(Counting(1600));
    ctrl.ScrollVert(ScrollBottom);
    EXPECT_EQ(ctrl.FirstRow(), 90);
    ctrl.ScrollVert(ScrollDragOn);
    EXPECT_EQ(ctrl.FirstRow(), 90);
    EXPECT_GE(pane.dragStops, 1);
    ctrl.ScrollVert(ScrollPageUp);
    EXPECT_EQ(ctrl.FirstRow(), 80);
    ctrl.ScrollVert(ScrollThumbTrack, 33);
    EXPECT_EQ(ctrl.FirstRow(), 33);
    ctrl.ResetView(ResetAll);
    EXPECT_EQ(ctrl.FirstRow(), 0);
}
