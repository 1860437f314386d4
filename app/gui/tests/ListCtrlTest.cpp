// The packet list widget over a hand-made tree: bookmarks through the dialog,
// the mark walk, trigger conditions, copy, the row and column menus, the
// layout kept in setting.xml, the filter bar, keys, a bookmarked row's tip, the
// hidden-packet balloon, and work that stays the same however long the list.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QDialog>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QWheelEvent>

#include <functional>
#include <memory>
#include <thread>

#include "CBookmarkDlg.h"
#include "CCaptureWorker.h"
#include "CEventPublisher.h"
#include "CListHeader.h"
#include "COrvaneDoc.h"
#include "CPacketListModel.h"
#include "CUsbListCtrl.h"
#include "IPrompt.h"
#include "PacketListTestTree.h"
#include "QtTestEnvironment.h"
#include "SettingStore.h"
#include "SetupXml.h"
#include "TestFiles.h"

using namespace orvane;
using namespace orvane::app;
using namespace orvane::testing;
using Cmd = CPacketListCommands;

namespace {

[[maybe_unused]] ::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

QString U(const char* text) { return QString::fromUtf8(text); }

// Answers every prompt from the test and keeps what was asked.
struct ScriptPrompt : IPrompt {
    QStringList messages;
    QMessageBox::StandardButton answer = QMessageBox::Ok;
    std::function<int(QDialog&)> dialog = [](QDialog&) { return int(QDialog::Rejected); };

    ScriptPrompt() { SetPrompt(this); }
    ~ScriptPrompt() override { SetPrompt(nullptr); }
    QMessageBox::StandardButton Message(QWidget*, QMessageBox::Icon, const QString& text, QMessageBox::StandardButtons,
                                        QMessageBox::StandardButton) override {
        messages << text;
        return answer;
    }
    int Exec(QDialog& d) override { return dialog(d); }
    QString OpenFileName(QWidget*, const QString&, const QString&, const QString&, const QString&) override {
        return {};
    }
    QString SaveFileName(QWidget*, const QString&, const QString&, const QString&, const QString&) override {
        return {};
    }
};

struct EventLog : IEventHandler {
    std::vector<int32_t> types;
    std::vector<intptr_t> selected;  // the items of the selections, 0 for none
    int32_t SetPublisher(IEventPublisher*) override { return 0; }
    int32_t OnEvent(IEventHandler*, int32_t type, intptr_t item, intptr_t) override {
        types.push_back(type);
        if (type == EventItemSelected) selected.push_back(item);
        return 0;
    }
    int Count(int32_t type) const { return int(std::count(types.begin(), types.end(), type)); }
};

// Rows: 0-5 IN transactions of three packets each (records 3i .. 3i+2; the
// third with a NAK, the fifth hidden by the packet filter so it makes no
// row), then a NAK group of twenty transactions (records 100-139).
struct ListCtrlTest : ::testing::Test {
    TestTree tree;
    FakeDecode decoder;
    COrvaneDoc doc;
    CEventPublisher bus;
    EventLog log;
    CPacketListModel model;
    std::unique_ptr<CUsbListCtrl> list;
    ScriptPrompt prompt;

    ListCtrlTest() {
        model.List().SetBookmarks(&doc.Bookmarks());
        model.List().SetTriggerRecord(doc.TriggerRecordAddress());
        model.SetRoot(&tree.root);
        model.SetRowDecoder(&decoder);
        for (uint32_t i = 0; i < 6; ++i) {
            UsbItem* t = MakeTransaction(i * 3, 3, i == 4 ? ItemHiddenByFilter : 0);
            model.AppendItem(t);
            ItemSummary s;
            s.name = "IN";
            s.address = 1;
            s.endpoint = 2;
            s.interface = 0;
            s.speed = 3;
            s.status = i == 2 ? 2 : 0;
            s.size = 8;
            s.time = 60 * i;
            decoder.summaries[t] = s;
        }
        UsbItem* naks = MakeItem(ItemNakGroup, 100);
        for (uint32_t i = 0; i < 20; ++i) naks->Append(MakeTransaction(100 + 2 * i, 2));
        model.AppendItem(naks);
        model.SetRowCount(model.RebuildRows());
        bus.Subscribe(&log);
        model.SetPublisher(&bus);
        list = std::make_unique<CUsbListCtrl>(&model);
        list->SetDocument(&doc, nullptr);
        // Clear of the screen's top edge, so a tip fits above a row.
        list->setGeometry(40, 200, 900, 400);
        list->show();
    }
    ~ListCtrlTest() override {
        list.reset();
        bus.Unsubscribe(&model);
    }
    int Selected() { return list->SelectedRow(); }
    QString Cell(int row, int column) { return model.index(row, column).data().toString(); }
};

TEST_F(ListCtrlTest, BookmarksAddEditWalkAndDelete) {
    ASSERT_EQ(model.rowCount(), 6);
    // Adding proposes the row's name; the dialog's edits are what is stored.
    QString title, proposed;
    prompt.dialog = [&](QDialog& d) {
        auto& dlg = dynamic_cast<CBookmarkDlg&>(d);
        title = dlg.windowTitle();
        proposed = dlg.Name();
        dlg.CommentEdit()->setText(U("注释一"));
        return int(QDialog::Accepted);
    };
    list->SelectRow(1);
    list->OnAddMark();
    EXPECT_EQ(title, U("添加标签"));
    EXPECT_EQ(proposed, "IN");
    Mark mark;
    ASSERT_TRUE(doc.Bookmarks().GetAt(0, &mark));
    EXPECT_EQ(mark.packet, 3);
    EXPECT_EQ(mark.comment, "注释一");
    EXPECT_EQ(log.Count(EventMarksChanged), 1);
    EXPECT_TRUE(list->IsCommandEnabled(Cmd::CmdEditMark));

    // Editing shows the stored texts and replaces them; cancelling changes nothing.
    prompt.dialog = [&](QDialog& d) {
        auto& dlg = dynamic_cast<CBookmarkDlg&>(d);
        title = dlg.windowTitle();
        proposed = dlg.Comment();
        dlg.NameEdit()->setText("renamed");
        return int(QDialog::Accepted);
    };
    list->OnEditMark();
    EXPECT_EQ(title, U("编辑标签"));
    EXPECT_EQ(proposed, U("注释一"));
    ASSERT_TRUE(doc.Bookmarks().GetAt(0, &mark));
    EXPECT_EQ(mark.name, "renamed");
    prompt.dialog = [](QDialog& d) {
        dynamic_cast<CBookmarkDlg&>(d).NameEdit()->setText("lost");
        return int(QDialog::Rejected);
    };
    list->OnEditMark();
    list->SelectRow(3);
    list->OnAddMark();
    EXPECT_EQ(doc.Bookmarks().GetCount(), 1);
    EXPECT_EQ(log.Count(EventMarksChanged), 2);

    // Marks on the hidden transaction (record 13) and on row 5 (record 16).
    doc.Bookmarks().Add({13, "hidden", ""});
    doc.Bookmarks().Add({16, "last", ""});
    bus.Publish(nullptr, EventMarksChanged, 0, 0);
    list->SelectRow(0);
    list->OnNextMark();
    EXPECT_EQ(Selected(), 1);
    list->OnNextMark();
    EXPECT_EQ(Selected(), 4) << "the hidden mark is passed over";
    list->OnPrevMark();
    EXPECT_EQ(Selected(), 1);
    list->OnNextMark();
    list->OnNextMark();
    EXPECT_EQ(prompt.messages, QStringList{U("到达文件结尾！")});
    EXPECT_EQ(Selected(), 4);
    list->SelectRow(5);
    list->OnNextMark();
    EXPECT_EQ(Selected(), 1) << "from the last row Next starts again at the first mark";
    list->OnPrevMark();
    EXPECT_EQ(prompt.messages.last(), U("到达文件开头！"));
    EXPECT_EQ(Selected(), 1);
    list->SelectRow(0);
    list->OnPrevMark();  // record 0: nothing to do, nothing said
    EXPECT_EQ(prompt.messages.size(), 2);

    // Only the hidden mark remains ahead of row 2.
    doc.Bookmarks().Remove(2);
    bus.Publish(nullptr, EventMarksChanged, 0, 0);
    list->SelectRow(2);
    list->OnNextMark();
    EXPECT_EQ(prompt.messages.last(), U("到达文件结尾！"));
    EXPECT_EQ(Selected(), 2);

    // Delete on a row without a mark does nothing; delete all asks first.
    list->OnDeleteMark();
    EXPECT_EQ(doc.Bookmarks().GetCount(), 2);
    list->SelectRow(1);
    list->OnDeleteMark();
    EXPECT_EQ(doc.Bookmarks().GetCount(), 1);
    prompt.answer = QMessageBox::No;
    list->OnDeleteAllMarks();
    EXPECT_EQ(prompt.messages.last(), U("确认删除所有标签？"));
    EXPECT_EQ(doc.Bookmarks().GetCount(), 1);
    prompt.answer = QMessageBox::Yes;
    list->OnDeleteAllMarks();
    EXPECT_EQ(doc.Bookmarks().GetCount(), 0);
    const int asked = int(prompt.messages.size());
    list->OnDeleteAllMarks();
    EXPECT_EQ(prompt.messages.size(), asked) << "nothing to delete: no question";
}

TEST_F(ListCtrlTest, TriggerFromTwentyPacketsIsRefusedAndTheOldTriggerStays) {
    SetupXml setup;
    ASSERT_TRUE(setup.WriteTriggerSteps({TriggerStep{4, 2, 0x441, "12 H"}}, false));
    doc.SetSetup(setup.Text());
    doc.SetTriggerRecord(7);
    doc.SetModified(false);
    const std::string before = doc.GetSetup();

    list->SelectRow(5);  // the NAK group: twenty steps
    list->OnSetTriggerCondition();
    EXPECT_EQ(prompt.messages, QStringList{U(SetupXml::kTooManyStepsText)});
    EXPECT_EQ(doc.GetSetup(), before);
    EXPECT_EQ(doc.TriggerRecord(), 7);
    EXPECT_FALSE(doc.IsModified());

    // One transaction is taken, marks the project and moves the trigger row.
    list->SelectRow(2);
    list->OnAddTriggerCondition();
    SetupXml stored;
    ASSERT_TRUE(stored.Load(doc.GetSetup()));
    EXPECT_EQ(stored.LoadTriggerSteps().size(), 2u);
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(doc.TriggerRecord(), 8);
    list->SelectRow(0);
    ASSERT_TRUE(list->IsCommandEnabled(Cmd::CmdGoToTrigger));
    list->OnGoToTrigger();
    EXPECT_EQ(Selected(), 2);
}

TEST_F(ListCtrlTest, CopyGivesTheDefaultColumnsTabSeparated) {
    QGuiApplication::clipboard()->setText("before");
    list->OnCopy();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "before") << "nothing selected: nothing copied";
    list->SelectRow(2);
    list->OnCopy();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "IN\t1\t2\t0\tFS\tNAK\t8 bytes\t0.000 002 004\t");
}

TEST_F(ListCtrlTest, RowMenuEntriesAndGreyOut) {
    auto enabledIds = [&] {
        std::unique_ptr<QMenu> menu(list->CreateRowMenu(nullptr));
        std::vector<int> ids;
        int entries = 0;
        for (QAction* action : menu->actions()) {
            if (action->isSeparator()) continue;
            ++entries;
            if (action->isEnabled()) ids.push_back(action->data().toInt());
        }
        EXPECT_EQ(entries, 16);
        EXPECT_EQ(menu->actions().size(), 19);
        return ids;
    };
    EXPECT_EQ(enabledIds(), (std::vector<int>{Cmd::CmdFindSettings, Cmd::CmdFindPrev, Cmd::CmdFindNext,
                                              Cmd::CmdAddTrigger, Cmd::CmdTriggerSettings}));
    doc.Bookmarks().Add({4, "", ""});
    bus.Publish(nullptr, EventMarksChanged, 0, 0);
    doc.SetTriggerRecord(4);
    list->SelectRow(1);
    std::vector<int> all;
    for (const Cmd::MenuEntry& e : Cmd::RowMenu())
        if (e.id) all.push_back(e.id);
    EXPECT_EQ(enabledIds(), all);
    list->SelectRow(0);
    std::vector<int> noMarkHere = all;
    std::erase_if(noMarkHere, [](int id) { return id == Cmd::CmdEditMark || id == Cmd::CmdDeleteMark; });
    EXPECT_EQ(enabledIds(), noMarkHere);

    // An entry runs its command.
    std::unique_ptr<QMenu> menu(list->CreateRowMenu(nullptr));
    for (QAction* action : menu->actions())
        if (action->data().toInt() == Cmd::CmdToggleSubtree) action->trigger();
    EXPECT_EQ(model.rowCount(), 9);
    EXPECT_EQ(menu->actions().front()->text(), U("复制"));
}

TEST_F(ListCtrlTest, ColumnMenuAndLayoutRoundTripThroughSettings) {
    TempDir dir;
    const std::string path = dir / "setting.xml";
    {
        SettingStore store(path);
        list->SetSettings(&store);
        std::unique_ptr<QMenu> menu(list->Header()->CreateColumnMenu(nullptr));
        ASSERT_EQ(menu->actions().size(), 12);
        EXPECT_FALSE(menu->actions()[0]->isEnabled()) << "Item stays";
        EXPECT_TRUE(menu->actions()[1]->isChecked());
        EXPECT_FALSE(menu->actions()[11]->isChecked());
        list->header()->resizeSection(1, 130);
        menu->actions()[1]->trigger();   // hide Address
        menu->actions()[11]->trigger();  // show Packet #
        list->header()->moveSection(list->header()->visualIndex(8), 0);  // Time first
        QCoreApplication::processEvents();
        EXPECT_TRUE(list->header()->isSectionHidden(1));
        EXPECT_FALSE(list->header()->isSectionHidden(11));
        EXPECT_EQ(list->header()->sectionSize(11), 80);
        ASSERT_TRUE(store.Save());
        list->SetSettings(nullptr);
    }
    SettingStore reread(path);
    CPacketListModel otherModel;
    CUsbListCtrl other(&otherModel);
    other.SetSettings(&reread);
    QHeaderView* h = other.header();
    EXPECT_TRUE(h->isSectionHidden(1));
    EXPECT_FALSE(h->isSectionHidden(11));
    EXPECT_EQ(h->logicalIndex(0), 8);
    EXPECT_EQ(h->logicalIndex(1), 0);
    // Address comes back at the width it had when hidden.
    other.ToggleColumn(1);
    EXPECT_EQ(h->sectionSize(1), 130);
    EXPECT_FALSE(other.IsCommandEnabled(0));
}

TEST_F(ListCtrlTest, TheItemColumnStaysPutUnderTheMouseWhileOthersMove) {
    QHeaderView* h = list->header();
    QWidget* titles = h->viewport();
    auto drag = [&](int logical, int toX) {
        const int y = titles->height() / 2;
        const QPoint from(h->sectionViewportPosition(logical) + h->sectionSize(logical) / 2, y);
        QTest::mousePress(titles, Qt::LeftButton, {}, from);
        for (int x = from.x(); x != toX; x += toX > x ? 5 : -5)
            QTest::mouseMove(titles, QPoint(x, y));
        QTest::mouseMove(titles, QPoint(toX, y));
        QTest::mouseRelease(titles, Qt::LeftButton, {}, QPoint(toX, y));
    };
    ASSERT_EQ(h->logicalIndex(0), CPacketListCells::ColItem);
    drag(CPacketListCells::ColItem, h->sectionViewportPosition(3) + 5);
    EXPECT_EQ(h->visualIndex(CPacketListCells::ColItem), 0) << "the Item column is not dragged";
    drag(3, 5);
    EXPECT_EQ(h->visualIndex(CPacketListCells::ColItem), 0) << "nothing is dropped before it";
    EXPECT_EQ(h->visualIndex(3), 1);
    drag(3, h->sectionViewportPosition(2) + 5);
    EXPECT_EQ(h->visualIndex(3), 2) << "other columns move";
}

TEST_F(ListCtrlTest, FilterBarAppliesAndClears) {
    QLineEdit* status = list->Header()->FilterEdit(CPacketListCells::ColStatus);
    ASSERT_NE(status, nullptr);
    QTest::keyClicks(status, "nak");
    QTest::keyClick(status, Qt::Key_Return);
    EXPECT_EQ(model.rowCount(), 1);
    EXPECT_EQ(Cell(0, CPacketListCells::ColTime), "0.000 002 004");
    // A pause in typing applies it too.
    status->clear();
    QTest::keyClicks(status, "ack");
    EXPECT_TRUE(QTest::qWaitFor([&] { return model.rowCount() == 4; }, 5000));

    list->OnClearFilter();
    EXPECT_EQ(model.rowCount(), 6);
    EXPECT_TRUE(status->text().isEmpty());
    // The capture worker clears the bar on its own resets: the edits follow.
    QTest::keyClicks(status, "nak");
    QTest::keyClick(status, Qt::Key_Return);
    model.ClearHeaderFilter();
    model.SetRowCount(model.RebuildRows());
    EXPECT_TRUE(status->text().isEmpty());
    EXPECT_EQ(model.rowCount(), 6);
}

TEST_F(ListCtrlTest, KeysAndDoubleClickExpandAndCollapse) {
    list->setFocus();
    list->SelectRow(1);
    QTest::keyClick(list.get(), Qt::Key_Right);
    EXPECT_EQ(model.rowCount(), 9);
    EXPECT_EQ(Selected(), 1);
    QTest::keyClick(list.get(), Qt::Key_Right);
    EXPECT_EQ(Selected(), 2) << "an open row moves to its first child";
    QTest::keyClick(list.get(), Qt::Key_Right);
    EXPECT_EQ(Selected(), 2) << "a packet has nothing to open";
    QTest::keyClick(list.get(), Qt::Key_Left);
    EXPECT_EQ(Selected(), 1) << "to the parent";
    QTest::keyClick(list.get(), Qt::Key_Left);
    EXPECT_EQ(model.rowCount(), 6);
    QTest::keyClick(list.get(), Qt::Key_Left);
    EXPECT_EQ(Selected(), 1) << "a top-level row has no parent row";

    const QPoint cell = list->visualRect(model.index(3, CPacketListCells::ColAddress)).center();
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, cell);
    EXPECT_EQ(model.rowCount(), 9);
    EXPECT_EQ(Selected(), 3);
}

TEST_F(ListCtrlTest, SelectionShowsInsideTheExpandBoxAndTheHoverFollowsTheWheel) {
    list->SelectRow(1);
    const QRect box = list->ExpandBox(model.index(1, 0));
    const QImage shot = list->viewport()->grab().toImage();
    EXPECT_NE(shot.pixelColor(box.topLeft() + QPoint(3, 3)), QColor(Qt::white)) << "the box's white is its mask";

    model.ToggleExpand(5);  // twenty more rows, so the list scrolls
    const QPoint at = list->visualRect(model.index(2, CPacketListCells::ColAddress)).center();
    // From elsewhere first: a cursor an earlier test left at `at` makes no move.
    QTest::mouseMove(list->viewport(), at + QPoint(0, 3 * CPacketList::kRowHeight));
    QTest::mouseMove(list->viewport(), at);
    ASSERT_EQ(list->HoverRow(), 2);
    QWheelEvent wheel(at, list->viewport()->mapToGlobal(at), {}, {0, -120}, Qt::NoButton, {}, Qt::NoScrollPhase,
                      false);
    QApplication::sendEvent(list->viewport(), &wheel);
    const int under = list->indexAt(at).row();
    EXPECT_GT(under, 2);
    EXPECT_EQ(list->HoverRow(), under);
}

TEST_F(ListCtrlTest, GoToPacketSelectsOrShowsTheBalloon) {
    CTooltipWindow& tip = list->Tooltip();
    list->SelectRow(0);
    bus.Publish(nullptr, EventGoToPacket, 13, 0);  // the hidden transaction
    EXPECT_EQ(Selected(), 0);
    EXPECT_TRUE(tip.isVisible());
    EXPECT_EQ(QString::fromStdU16String(tip.Drawer().PreparedText()), U("节点被隐藏而无法显示！"));
    EXPECT_TRUE(tip.Core().CurrentTool().behaviour & NoAutoPop);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !tip.isVisible(); }, 5000));

    bus.Publish(nullptr, EventGoToPacket, 10, 0);  // inside the collapsed row 3
    EXPECT_EQ(Selected(), 3);
    EXPECT_FALSE(tip.isVisible());
    EXPECT_GE(log.Count(EventItemSelected), 2);
}

TEST_F(ListCtrlTest, ThePanesAreToldWhatTheListShowsSelected) {
    // Each reset drops the selection: hiding SOFs (a rebuild), the filter
    // bar, an open or a switch of level (a new tree).
    const std::pair<const char*, std::function<void()>> resets[] = {
        {"rebuild", [&] { model.SetRowCount(model.RebuildRows()); }},
        {"filter bar", [&] { list->OnClearFilter(); }},
        {"new tree", [&] {
             model.SetRoot(&tree.root);
             model.SetRowCount(model.RebuildRows());
         }},
    };
    const auto told = [&] { return log.selected.empty() ? intptr_t(-1) : log.selected.back(); };
    const auto itemAt = [&](int row) { return reinterpret_cast<intptr_t>(model.ItemAt(row)); };
    for (const auto& [name, reset] : resets) {
        list->SelectRow(2);
        EXPECT_EQ(told(), itemAt(2)) << name;
        reset();
        EXPECT_EQ(Selected(), -1) << name;
        EXPECT_EQ(told(), 0) << name << ": the panes let go of the row";
        // The focus coming back makes row 0 current, without selecting it.
        QFocusEvent focus(QEvent::FocusIn, Qt::TabFocusReason);
        QApplication::sendEvent(list.get(), &focus);
        EXPECT_EQ(list->currentIndex().row(), 0) << name;
        EXPECT_EQ(Selected(), -1) << name;
        EXPECT_EQ(told(), 0) << name << ": a current row without the selection is no selection";
        QTest::keyClick(list.get(), Qt::Key_Space);
        EXPECT_EQ(Selected(), 0) << name;
        EXPECT_EQ(told(), itemAt(0)) << name << ": selecting the current row shows it";
        QTest::keyClick(list.get(), Qt::Key_Space, Qt::ControlModifier);
        EXPECT_EQ(Selected(), -1) << name;
        EXPECT_EQ(told(), 0) << name << ": and letting go of it clears the panes";
    }
}

// Collects the text runs a drawing pass draws.
struct TextCanvas : IHtmlCanvas {
    QString text;
    void DrawText(int, int, std::u16string_view run, const HtmlFont&, const HtmlTextPaint&) override {
        text += QString::fromUtf16(run.data(), qsizetype(run.size()));
    }
    void DrawLine(int, int, int, int, Colorref, int, int) override {}
    void FillEffect(const HtmlRect&, int, Colorref, Colorref, Colorref, int) override {}
    void DrawStyledRect(const HtmlRect&, Colorref, Colorref, int, int) override {}
    void DrawImage(const HtmlImage&, const HtmlRect&, int, int, int, int, const HtmlImagePaint&) override {}
    void TileImage(const HtmlImage&, const HtmlRect&) override {}
};

TEST_F(ListCtrlTest, ABookmarkedRowShowsItsMarkInATip) {
    // Record 3 is row 1's; the name tries to be a link.
    doc.Bookmarks().Add({3, "<a href=\"http://example.com\">x</a>", "<b>注释</b>"});
    list->Tooltip().Core().SetDelayTimes(20, 5000);
    CTooltipWindow& tip = list->Tooltip();
    auto hover = [&](int row) {
        const QPoint local = list->visualRect(model.index(row, CPacketListCells::ColAddress)).center();
        const QPoint global = list->viewport()->mapToGlobal(local);
        QCursor::setPos(global);
        QTest::mouseMove(list->viewport(), local);
        return global;
    };
    const QPoint cursor = hover(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return tip.isVisible(); }, 3000));
    EXPECT_EQ(tip.Core().CurrentTool().transparency, CUsbListCtrl::kTipTransparency);
    EXPECT_EQ(QString::fromStdU16String(tip.Drawer().PreparedText()),
              U("<<a href=\"http://example.com\">x<</a><br><hr color=blue><font color=blue><br><<b>注释<</b></font>"));
    EXPECT_TRUE(tip.Drawer().LinkAreas().empty()) << "a name never becomes a link";
    TextCanvas canvas;
    tip.Drawer().DrawPreparedOutput(canvas, tip.Placement().text);
    EXPECT_EQ(canvas.text, U("<a href=\"http://example.com\">x</a><b>注释</b>"));

    // Above the cursor with the tail's tip on it; the window is the balloon and its shadow.
    const TipPlacement& t = tip.Placement();
    EXPECT_EQ(t.direction, 16u);
    EXPECT_EQ(tip.geometry().topLeft(), cursor - QPoint(t.anchor.x, t.anchor.y));
    EXPECT_EQ(tip.size(), QSize(t.width + tip.Shadow().offsetX, t.height + tip.Shadow().offsetY));
    EXPECT_EQ(t.height, t.body.bottom + tip.Metrics().tailHeight);
    EXPECT_EQ(tip.mask(), tip.WindowRegion());
    EXPECT_FALSE(tip.mask().contains(QPoint(0, 0))) << "a rounded corner";
    EXPECT_TRUE(tip.mask().contains(QPoint(t.width / 2, t.body.bottom / 2)));
    EXPECT_TRUE(tip.mask().contains(QPoint(t.anchor.x + 1, t.anchor.y - 4))) << "the tail";
    EXPECT_TRUE(tip.mask().contains(QPoint(t.width + 2, t.body.bottom))) << "the shadow";

    // A row without a mark shows nothing.
    hover(0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !tip.isVisible(); }, 3000));
    QTest::qWait(100);
    EXPECT_FALSE(tip.isVisible());
}

}  // namespace

namespace {

TEST_F(ListCtrlTest, DeviceTreeEditedElsewhereReachesTheDocument) {
    CCaptureWorker worker(doc, nullptr, &model);
    model.SetWorker(&worker);
    doc.SetModified(false);
    const std::string own = "<devices><device address=\"1\"/></devices>";
    bus.Publish(&model, EventDeviceTreeChanged, reinterpret_cast<intptr_t>(&own), 0);
    QCoreApplication::processEvents();
    EXPECT_FALSE(doc.IsModified()) << "the list's own publication is not an edit";
    {
        // The text lives only while it is published.
        const std::string edited = "<devices><device address=\"2\"/></devices>";
        bus.Publish(nullptr, EventDeviceTreeChanged, reinterpret_cast<intptr_t>(&edited), 0);
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return doc.IsModified(); }, 5000));
    EXPECT_EQ(doc.GetConfiguration(), "<devices><device address=\"2\"/></devices>");
    model.SetWorker(nullptr);
    worker.Shutdown();
}

}  // namespace

namespace {

// Counts what the view asks of the model: a view that visits every row asks
// once per row at least.
struct CountingModel : CPacketListModel {
    mutable int64_t asks = 0;
    int rowCount(const QModelIndex& parent = {}) const override {
        ++asks;
        return CPacketListModel::rowCount(parent);
    }
    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override {
        ++asks;
        return CPacketListModel::index(row, column, parent);
    }
    QVariant data(const QModelIndex& index, int role) const override {
        ++asks;
        return CPacketListModel::data(index, role);
    }
};

struct StepAsks {
    int64_t push = 0, expand = 0, collapse = 0, key = 0, scroll = 0;
};

// A list of `rows` rows on screen; the first row is a transaction of three packets.
StepAsks AsksAtLength(int rows) {
    TestTree tree;
    FakeDecode decoder;
    CountingModel model;
    model.SetRoot(&tree.root);
    model.SetRowDecoder(&decoder);
    std::vector<UsbItem*> items;
    items.reserve(size_t(rows));
    items.push_back(MakeTransaction(0, 3));
    for (int i = 1; i < rows; ++i) items.push_back(MakeItem(ItemInTransaction, uint32_t(i + 2)));
    constexpr int kPush = 100;
    model.AppendItems(items.data(), items.size() - kPush);
    model.SetRowCount(model.RebuildRows());
    CUsbListCtrl list(&model);
    list.setGeometry(40, 200, 900, 400);
    list.show();
    list.setFocus();
    QCoreApplication::processEvents();
    list.grab();

    StepAsks asks;
    auto measure = [&](int64_t& into, const std::function<void()>& step) {
        const int64_t before = model.asks;
        step();
        QCoreApplication::processEvents();
        list.grab();
        into = model.asks - before;
    };
    // The worker's push: the rows appended since, announced from its thread.
    measure(asks.push, [&] {
        model.AppendItems(items.data() + items.size() - kPush, kPush);
        std::thread([&] { model.SetRowCount(model.RowCount()); }).join();
        QCoreApplication::processEvents();
    });
    EXPECT_EQ(model.rowCount(), rows);
    measure(asks.expand, [&] { model.ToggleExpand(0); });
    EXPECT_EQ(model.rowCount(), rows + 3);
    measure(asks.collapse, [&] { model.ToggleExpand(0); });
    EXPECT_EQ(model.rowCount(), rows);
    // A letter finds nothing in a list with a find of its own.
    measure(asks.key, [&] { QTest::keyClick(&list, Qt::Key_Z); });
    measure(asks.scroll, [&] { QTest::keyClick(&list, Qt::Key_End); });
    EXPECT_EQ(list.SelectedRow(), rows - 1);
    return asks;
}

TEST(ListCtrlLength, PushExpandCollapseKeysAndScrollCostTheSameAtAHundredTimesTheRows) {
    const StepAsks small = AsksAtLength(10000);
    const StepAsks large = AsksAtLength(1000000);
    auto same = [](int64_t atSmall, int64_t atLarge, const char* step) {
        EXPECT_LT(atLarge, 2 * atSmall + 50) << step << ": " << atSmall << " asks at 10 k rows, " << atLarge
                                             << " at 1 M";
    };
    same(small.push, large.push, "push");
    same(small.expand, large.expand, "expand");
    same(small.collapse, large.collapse, "collapse");
    same(small.key, large.key, "letter key");
    same(small.scroll, large.scroll, "End");
}

}  // namespace
