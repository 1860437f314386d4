// The data pane offscreen: its context menu's checks and rules, a field
// picked in the detail pane highlighted and scrolled to, copy, and the find
// dialog's states.
#include <gtest/gtest.h>

#include "QtTestApp.h"

#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QSettings>
#include <QTest>

#include <numeric>

#include "CDataPane.h"
#include "CNembrinView.h"
#include "IDecode.h"
#include "NembrinPrompt.h"
#include "UsbItem.h"

using namespace orvane;
using namespace orvane::nembrin;

namespace {

[[maybe_unused]] ::testing::Environment* const kQt =
    ::testing::AddGlobalTestEnvironment(new orvane::velmora::test::QtTestApp);

struct Bytes : IDecode {
    std::vector<uint8_t> bytes;
    void Release() override {}
    int32_t Summarize(UsbItem*, ItemSummary*) override { return 0; }
    int32_t GetData(UsbItem*, uint8_t* buffer, uint32_t capacity) override {
        if (buffer) std::copy_n(bytes.begin(), std::min<size_t>(capacity, bytes.size()), buffer);
        return int32_t(bytes.size());
    }
    int32_t GetDetail(UsbItem*, std::string&) override { return 0; }
    const ImageList* GetImageList(UsbItem*) override { return nullptr; }
    int32_t OnNotify(int32_t code, void*, intptr_t param) override {
        if (code == NotifyDataLength) *reinterpret_cast<uint32_t*>(param) = uint32_t(bytes.size());
        return 0;
    }
};

struct Messages : IPrompt {
    QStringList texts;
    void Message(QWidget*, QMessageBox::Icon, const QString&, const QString& text) override { texts << text; }
};

void ClearSettings() { QSettings("Kavrin", "Orvane").remove("Nembrin"); }

std::vector<int32_t> Checked(CDataPane& pane)
{
    std::vector<int32_t> ids;
    for (int32_t id = 32806; id <= 32823; ++id)
        if (QAction* a = pane.CommandAction(id); a && a->isChecked()) ids.push_back(id);
    return ids;
}

class DataPaneTest : public ::testing::Test {
protected:
    void Open() {
        if (!view) view = std::make_unique<CNembrinView>();
        host.resize(800, 400);
        pane = static_cast<CDataPane*>(static_cast<QWidget*>(view->Create(&host)));
        ASSERT_NE(pane, nullptr);
        pane->setGeometry(0, 0, 800, 400);
        host.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    }
    void Select(std::vector<uint8_t> data) {
        decode.bytes = std::move(data);
        view->Control().OnEvent(nullptr, EventItemSelected, intptr_t(&item), intptr_t(&decode));
    }
    void TearDown() override {
        SetPrompt(nullptr);
        view.reset();
        ClearSettings();
    }
    QWidget host;
    std::unique_ptr<CNembrinView> view;
    CDataPane* pane = nullptr;
    Bytes decode;
    UsbItem item;
};

}  // namespace

TEST_F(DataPaneTest, AFreshUserGetsTheDefaultChecks)
{
    ClearSettings();
    Open();
    EXPECT_EQ(Checked(*pane), (std::vector<int32_t>{32807, 32808, 32813, 32820, 32822}));
    EXPECT_EQ(pane->ContextMenu()->title(), "主菜单");
    EXPECT_EQ(pane->ContextMenu()->actions().size(), 8) << "five sub-menus, a separator, copy and find";
}

TEST_F(DataPaneTest, ARowSelectedBeforeThePaneWasOpenedShowsWhenItOpens)
{
    ClearSettings();
    view = std::make_unique<CNembrinView>();
    std::vector<uint8_t> bytes(4000);
    std::iota(bytes.begin(), bytes.end(), uint8_t(0));
    Select(bytes);
    Open();
    QTest::qWait(20);
    EXPECT_EQ(view->Control().Length(), 4000u);
    EXPECT_GT(pane->verticalScrollBar()->maximum(), 0) << "its rows are laid out in the new window";
    QImage shown = pane->viewport()->grab().toImage();
    Select({});
    QTest::qWait(20);
    EXPECT_NE(pane->viewport()->grab().toImage(), shown) << "the bytes were drawn";
}

TEST_F(DataPaneTest, ItAsksForTheWidthOfItsColumns)
{
    ClearSettings();
    Open();
    for (int32_t id : {0, 32810}) {  // fitted to the pane (hex and bits), then eight bytes a row
        if (id) pane->CommandAction(id)->trigger();
        pane->resize(pane->sizeHint().width(), 300);
        const CShowDataCtrl::Geometry g = view->Control().Layout();
        if (id)
            EXPECT_EQ(g.bytesPerRow, 8);
        else
            EXPECT_GE(g.bytesPerRow, 4) << "room for four bytes in both areas";
        EXPECT_LE(g.rightEnd, pane->viewport()->width()) << id << ": both areas whole";
    }
}

TEST_F(DataPaneTest, StoredChoicesAreCheckedAndRulesRunFirst)
{
    {
        QSettings s("Kavrin", "Orvane");
        s.setValue("Nembrin/RigthArea", 3);
        s.setValue("Nembrin/Width", 4);
        s.setValue("Nembrin/GroupType", 0);  // damaged: the default stays
    }
    Open();
    EXPECT_EQ(Checked(*pane), (std::vector<int32_t>{32807, 32809, 32813, 32820, 32823}));
    pane->CommandAction(32816)->trigger();  // "64 位" while "4 字节"
    EXPECT_EQ(Checked(*pane), (std::vector<int32_t>{32807, 32810, 32816, 32820, 32823}));
    QSettings s("Kavrin", "Orvane");
    EXPECT_EQ(s.value("Nembrin/Width").toInt(), 8);
    EXPECT_EQ(s.value("Nembrin/GroupType").toInt(), 8);
    EXPECT_EQ(view->Control().Settings().bytesPerRow, 8);

    pane->CommandAction(32808)->trigger();  // automatic width resets the grouping
    EXPECT_EQ(s.value("Nembrin/GroupType").toInt(), 1);
    EXPECT_EQ(s.value("Nembrin/Width").toInt(), 10);
    EXPECT_GT(view->Control().Settings().bytesPerRow, 1) << "fitted to the pane";
    EXPECT_TRUE(pane->CommandAction(32813)->isChecked());
}

TEST_F(DataPaneTest, AFieldFromTheDetailPaneIsHighlightedAndScrolledTo)
{
    QSettings("Kavrin", "Orvane").setValue("Nembrin/Width", 16);
    Open();
    std::vector<uint8_t> data(16 * 200);
    std::iota(data.begin(), data.end(), uint8_t(0));
    Select(data);
    const int64_t byte = 16 * 150 + 3;
    view->Control().OnEvent(nullptr, EventByteRangeSelected, intptr_t(8 * byte), 16);
    const int64_t first = view->Control().FirstRow();
    EXPECT_LE(first, 150);
    EXPECT_GT(first + view->Control().Layout().visibleRows, 150) << "the field's row is in view";
    EXPECT_EQ(pane->verticalScrollBar()->value(), first);

    QImage shot = pane->viewport()->grab().toImage();
    const CShowDataCtrl::Geometry g = view->Control().Layout();
    const int y = int(g.h * (150 - first + 1) + 2);  // above the glyphs
    auto greenAt = [&](int64_t x) {
        QColor c = shot.pixelColor(int(x), y);
        return c.green() > 200 && c.red() < 80 && c.blue() < 80;
    };
    // Byte 3 and 4 in the hexadecimal area: cells 1 + 3 * 3 and on; not byte 2 nor 5.
    auto cellX = [&](int64_t areaX, int32_t area, int32_t column, int32_t digit) {
        return areaX + int64_t(g.w) * (CellOfColumn(area, column, 1) + digit) + 1;
    };
    EXPECT_TRUE(greenAt(cellX(g.leftX, AreaHex, 3, 0)));
    EXPECT_TRUE(greenAt(cellX(g.leftX, AreaHex, 4, 1)));
    EXPECT_FALSE(greenAt(cellX(g.leftX, AreaHex, 2, 1)));
    EXPECT_FALSE(greenAt(cellX(g.leftX, AreaHex, 5, 0)));
    EXPECT_TRUE(greenAt(cellX(g.rightX, AreaBinary, 3, 7)));
    EXPECT_FALSE(greenAt(cellX(g.rightX, AreaBinary, 2, 7)));
}

TEST_F(DataPaneTest, CopyPutsTheSelectionOnTheClipboard)
{
    QSettings("Kavrin", "Orvane").setValue("Nembrin/Width", 4);
    Open();
    Select({0, 1, 2, 3, 4, 5, 6, 7});
    const CShowDataCtrl::Geometry g = view->Control().Layout();
    const int y = g.h + 4;
    const int x0 = int(g.leftX + g.w * CellOfColumn(AreaHex, 0, 1) + 1);
    pane->setFocus();
    QTest::mousePress(pane->viewport(), Qt::LeftButton, {}, QPoint(x0, y));
    QTest::mouseMove(pane->viewport(), QPoint(x0 + g.w * 3, y + g.h));
    QTest::mouseRelease(pane->viewport(), Qt::LeftButton, {}, QPoint(x0 + g.w * 3, y + g.h));
    QApplication::clipboard()->clear();
    pane->CommandAction(CDataPane::kCopyCommand)->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), " 00 01 02 03 \r\n 04 05");
}

TEST_F(DataPaneTest, TheFindDialogTurnsToNextAfterAHit)
{
    Messages messages;
    SetPrompt(&messages);
    Open();
    Select({1, 0xAB, 2, 0xAB, 3});
    pane->OpenFind();
    CMyFindDialog* find = pane->FindDialog();
    ASSERT_NE(find, nullptr);
    EXPECT_EQ(find->FindButton()->text(), "查找所有");
    EXPECT_TRUE(find->PrevButton()->isHidden());

    find->PatternEdit()->setText("AB");
    find->FindButton()->click();
    EXPECT_EQ(messages.texts, QStringList{"输入的查找内容有误"}) << "AB reads as binary digits";

    find->PatternEdit()->setText("0xCD");
    find->FindButton()->click();
    EXPECT_EQ(messages.texts.last(), "未找到相应数据！");
    EXPECT_EQ(find->FindButton()->text(), "查找所有") << "nothing found keeps find-all";

    find->PatternEdit()->setText(" (AB)16 ");
    find->FindButton()->click();
    EXPECT_EQ(view->Control().Hits().size(), 2u);
    EXPECT_EQ(find->FindButton()->text(), "下一个");
    EXPECT_FALSE(find->PrevButton()->isHidden());
    find->FindButton()->click();
    EXPECT_EQ(view->Control().CurrentHit(), 1);
    find->FindButton()->click();
    EXPECT_EQ(messages.texts.last(), "已到达查找其实位置");
    find->PrevButton()->click();
    EXPECT_EQ(view->Control().CurrentHit(), 0);

    find->RadixBox()->setCurrentIndex(2);
    find->close();
    pane->OpenFind();
    EXPECT_TRUE(view->Control().Hits().empty()) << "opening clears the hits";
    EXPECT_EQ(find->FindButton()->text(), "查找所有");
    EXPECT_EQ(QSettings("Kavrin", "Orvane").value("Nembrin/FindDialog/JZType").toInt(), 2);

    find->PatternEdit()->setText("   ");
    messages.texts.clear();
    find->FindButton()->click();
    EXPECT_TRUE(messages.texts.isEmpty()) << "blanks only clear the hits";
}
