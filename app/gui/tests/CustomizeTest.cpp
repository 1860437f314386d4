// The customise sheet and the command bars in the window: commands dropped onto
// the toolbar and into menus, a new menu, options, reset and shortcuts, all
// kept over a restart (a new window with the same settings), also from the
// older stored form; the drop handler on the bars; the panes' icons.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDockWidget>
#include <QDropEvent>
#include <QHelpEvent>
#include <QKeySequenceEdit>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>

#include <memory>

#include "CCommandBarsManager.h"
#include "CCustomizeDlg.h"
#include "CMainFrame.h"
#include "GuiTestSupport.h"
#include "PaneIcons.h"

using namespace orvane::app;
using namespace orvane::app::test;

namespace {

CMainFrame::Options NoDemos() { return CMainFrame::Options{.demoFolder = "/nonexistent"}; }

QList<int> Ids(const QList<QAction*>& actions) {
    QList<int> ids;
    for (QAction* action : actions) ids.append(action->isSeparator() ? 0 : CCommandRegistry::IdOf(action));
    return ids;
}

QStringList MenuTitles(CMainFrame& frame) {
    QStringList titles;
    for (QAction* action : frame.menuBar()->actions()) titles.append(action->text());
    return titles;
}

QMenu* MenuTitled(CMainFrame& frame, const char* title) {
    for (QAction* action : frame.menuBar()->actions())
        if (action->text() == QString::fromUtf8(title)) return action->menu();
    return nullptr;
}

const QList<int> kFirstToolbar = {57600, 57601, 57603, 0, 32780, 32781, 0, 32784, 32785, 0, 32788, 32789, 32790, 0,
                                  32852, 32854, 32855, 32856, 32857, 32851, 0, 32846, 32848, 32849, 0, 32782, 32850,
                                  32834};

// Runs the sheet through the prompt with `edit` doing what the user would.
void Customise(CMainFrame& frame, ScriptedPrompt& prompt, std::function<void(CCustomizeDlg&)> edit) {
    prompt.onExec = [&](QDialog& dialog) {
        EXPECT_TRUE(frame.CommandBars().Customising());
        edit(static_cast<CCustomizeDlg&>(dialog));
        return int(QDialog::Rejected);  // closed: everything applied already
    };
    ASSERT_TRUE(frame.Commands().Execute(cmd::Customize));
    EXPECT_FALSE(frame.CommandBars().Customising());
}

}  // namespace

TEST(CustomizeSheet, DroppedCommandsAndANewMenuSurviveARestart) {
    ClearProgramSettings();
    ScriptedPrompt prompt;
    {
        CMainFrame frame(NoDemos());
        frame.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
        CCommandBarsManager& bars = frame.CommandBars();
        QToolBar* toolbar = frame.StandardBar();
        Customise(frame, prompt, [&](CCustomizeDlg& sheet) {
            // The sheet's pages: categories from the menus, then the three of the commands page.
            EXPECT_EQ(sheet.KeyCategories()->itemText(0), QString::fromUtf8("文件"));
            EXPECT_EQ(sheet.KeyCategories()->itemText(sheet.KeyCategories()->count() - 1), QString::fromUtf8("所有命令"));
            QListWidget* categories = sheet.Categories();
            ASSERT_EQ(categories->count(), 9);
            EXPECT_EQ(categories->item(2)->text(), QString::fromUtf8("视图"));
            EXPECT_EQ(categories->item(6)->text(), QString::fromUtf8("所有命令"));
            EXPECT_EQ(categories->item(7)->text(), QString::fromUtf8("内置菜单"));
            EXPECT_EQ(categories->item(8)->text(), QString::fromUtf8("新菜单"));
            categories->setCurrentRow(4);  // 标签
            QListWidget* list = sheet.CommandList();
            ASSERT_EQ(list->item(1)->text(), QString::fromUtf8("编辑标签..."));

            // "编辑标签..." from the list onto the toolbar's first button, left half: first.
            std::unique_ptr<QMimeData> data(list->model()->mimeData({list->model()->index(1, 0)}));
            const QRect first = toolbar->widgetForAction(toolbar->actions()[0])->geometry();
            ASSERT_TRUE(bars.DropAt(toolbar, first.center() - QPoint(first.width() / 4, 0), data.get()));
            // "关于 Orvane..." onto the title of the Edit menu: last in that menu.
            const QRect edit = frame.menuBar()->actionGeometry(frame.menuBar()->actions()[1]);
            data.reset(bars.CommandData(cmd::About));
            ASSERT_TRUE(bars.DropAt(frame.menuBar(), edit.center(), data.get()));
            // "隐藏 SOFs" dragged off the toolbar.
            ASSERT_TRUE(bars.TakeOff(CCommandBarsManager::kToolBar, kFirstToolbar.indexOf(cmd::HideSof) + 1));

            // A new menu after the last title, named, with a command in it.
            categories->setCurrentRow(8);
            ASSERT_EQ(list->count(), 1);
            data.reset(list->model()->mimeData({list->model()->index(0, 0)}));
            ASSERT_TRUE(bars.DropAt(frame.menuBar(), QPoint(frame.menuBar()->width() - 2, 5), data.get()));
            ASSERT_EQ(list->count(), 3) << "the new menu is listed, under a heading, to be named";
            list->setCurrentRow(2);
            ASSERT_TRUE(sheet.RenameButton()->isEnabled());
            sheet.MenuNameEdit()->setText(QString::fromUtf8("常用"));
            sheet.RenameButton()->click();
            data.reset(bars.CommandData(cmd::NextMark));
            ASSERT_TRUE(bars.Drop("Custom1", -1, data.get()));
        });
        EXPECT_EQ(Ids(toolbar->actions()).mid(0, 3), (QList<int>{cmd::EditMark, 57600, 57601}));
    }
    CMainFrame frame(NoDemos());
    const QList<int> toolbar = Ids(frame.StandardBar()->actions());
    EXPECT_EQ(toolbar.first(), cmd::EditMark);
    EXPECT_FALSE(toolbar.contains(cmd::HideSof));
    EXPECT_TRUE(toolbar.contains(cmd::HideNak));
    ASSERT_NE(MenuTitled(frame, "编辑(&E)"), nullptr);
    EXPECT_EQ(Ids(MenuTitled(frame, "编辑(&E)")->actions()).last(), cmd::About);
    EXPECT_EQ(MenuTitles(frame).last(), QString::fromUtf8("常用"));
    ASSERT_NE(MenuTitled(frame, "常用"), nullptr);
    EXPECT_EQ(Ids(MenuTitled(frame, "常用")->actions()), QList<int>{cmd::NextMark});
    EXPECT_EQ(frame.ViewMenu()->title(), QString::fromUtf8("视图(&V)"));
}

TEST(CustomizeSheet, BarsTakeTheDataOnlyWhileTheSheetIsOpen) {
    ClearProgramSettings();
    CMainFrame frame(NoDemos());
    frame.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
    CCommandBarsManager& bars = frame.CommandBars();
    QToolBar* toolbar = frame.StandardBar();
    std::unique_ptr<QMimeData> data(bars.CommandData(cmd::ClearFilter));
    const QPoint end(toolbar->width() - 2, toolbar->height() / 2);

    QDragEnterEvent closed(end, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    closed.ignore();
    QApplication::sendEvent(toolbar, &closed);
    EXPECT_FALSE(closed.isAccepted()) << "not while the sheet is closed";

    bars.SetCustomising(true);
    EXPECT_TRUE(toolbar->acceptDrops());
    QDragEnterEvent enter(end, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    enter.ignore();
    QApplication::sendEvent(toolbar, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QMimeData text;
    text.setText("32791");
    QDragEnterEvent other(end, Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    other.ignore();
    QApplication::sendEvent(toolbar, &other);
    EXPECT_FALSE(other.isAccepted()) << "only the command data";
    QDropEvent drop(QPointF(end), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    drop.ignore();
    QApplication::sendEvent(toolbar, &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_EQ(Ids(toolbar->actions()).last(), cmd::ClearFilter);

    // While customising a click on a button does not run its command.
    int runs = 0;
    QObject::connect(&frame.Commands(), &CCommandRegistry::Executed, [&runs](int) { ++runs; });
    auto* button = qobject_cast<QToolButton*>(toolbar->widgetForAction(toolbar->actions().last()));
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(runs, 0);
    EXPECT_FALSE(frame.close()) << "the sheet runs inside the window";
    bars.SetCustomising(false);
    EXPECT_FALSE(toolbar->acceptDrops());
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(runs, 1);
}

TEST(CustomizeSheet, OptionsApplyAtOnceAndAreRestored) {
    ClearProgramSettings();
    ScriptedPrompt prompt;
    {
        CMainFrame frame(NoDemos());
        frame.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
        QToolBar* toolbar = frame.StandardBar();
        QAction* open = frame.Commands().Action(cmd::FileOpen);
        EXPECT_EQ(open->toolTip(), QString::fromUtf8("打开... (Ctrl+O)"));
        QAction* print = frame.Commands().Action(cmd::FilePrint);
        QMenu* file = MenuTitled(frame, "文件(&F)");
        ASSERT_NE(file, nullptr);
        Customise(frame, prompt, [&](CCustomizeDlg& sheet) {
            EXPECT_FALSE(sheet.LargeIconsBox()->isChecked());
            EXPECT_TRUE(sheet.ToolTipsBox()->isChecked());
            sheet.LargeIconsBox()->setChecked(true);
            EXPECT_EQ(toolbar->iconSize(), QSize(32, 32)) << "at once";
            sheet.ShortcutsInTipsBox()->setChecked(false);
            EXPECT_EQ(open->toolTip(), QString::fromUtf8("打开..."));
            sheet.ToolTipsBox()->setChecked(false);
            EXPECT_FALSE(sheet.ShortcutsInTipsBox()->isEnabled());

            // Printing, put into the File menu, waits there until the menu is shown whole.
            std::unique_ptr<QMimeData> data(frame.CommandBars().CommandData(cmd::FilePrint));
            ASSERT_TRUE(frame.CommandBars().Drop("Menu0", 0, data.get()));
            EXPECT_FALSE(file->actions().contains(print));
            EXPECT_EQ(file->actions().last()->text(), QString::fromUtf8("展开菜单"));
            sheet.FullMenusBox()->setChecked(true);
            EXPECT_EQ(file->actions().first(), print);
        });
    }
    CMainFrame frame(NoDemos());
    frame.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
    QToolBar* toolbar = frame.StandardBar();
    EXPECT_EQ(toolbar->iconSize(), QSize(32, 32));
    EXPECT_EQ(frame.Commands().Action(cmd::FileOpen)->toolTip(), QString::fromUtf8("打开..."));
    EXPECT_EQ(MenuTitled(frame, "文件(&F)")->actions().first(), frame.Commands().Action(cmd::FilePrint));
    // No tip on the toolbar's buttons.
    QWidget* button = toolbar->widgetForAction(frame.Commands().Action(cmd::FileOpen));
    QHelpEvent tip(QEvent::ToolTip, QPoint(2, 2), button->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(button, &tip);
    EXPECT_FALSE(QToolTip::isVisible());
    EXPECT_EQ(frame.CommandBars().Model().Options(), (BarOptions{true, false, false, true}));
}

TEST(CustomizeSheet, ResetReturnsTheFirstBarsAndShortcutsAreKeptApart) {
    ClearProgramSettings();
    // The older stored form: buttons switched off, one shortcut.
    QSettings("Kavrin", "Orvane").setValue("CommandBars/HiddenButtons", QVariantList{cmd::HideSof, cmd::FindNext});
    QSettings("Kavrin", "Orvane").setValue("CommandBars/Shortcuts/32852", "Ctrl+B");
    ScriptedPrompt prompt;
    {
        CMainFrame frame(NoDemos());
        QList<int> toolbar = Ids(frame.StandardBar()->actions());
        EXPECT_FALSE(toolbar.contains(cmd::HideSof));
        EXPECT_FALSE(toolbar.contains(cmd::FindNext));
        EXPECT_EQ(frame.Commands().Action(cmd::AddMark)->shortcut(), QKeySequence("Ctrl+B"));

        Customise(frame, prompt, [&](CCustomizeDlg& sheet) {
            // Keyboard page: the Edit category shows only its commands; a key taken from another command.
            sheet.KeyCategories()->setCurrentIndex(1);
            QTableWidget* keys = sheet.ShortcutTable();
            int shown = 0;
            for (int row = 0; row < keys->rowCount(); ++row) {
                if (keys->isRowHidden(row)) continue;
                ++shown;
                if (keys->item(row, 0)->text() == QString::fromUtf8("下一个"))
                    static_cast<QKeySequenceEdit*>(keys->cellWidget(row, 1))->setKeySequence(QKeySequence("F5"));
            }
            EXPECT_EQ(shown, 6);
            EXPECT_EQ(frame.Commands().Action(cmd::FindNext)->shortcut(), QKeySequence("F5"));
            EXPECT_TRUE(frame.Commands().Action(cmd::StartRecord)->shortcut().isEmpty()) << "F5 moved";

            std::unique_ptr<QMimeData> data(frame.CommandBars().MenuData("Menu4"));
            ASSERT_TRUE(frame.CommandBars().Drop(CCommandBarsManager::kToolBar, 0, data.get()));
            EXPECT_EQ(frame.StandardBar()->actions().first()->menu(), MenuTitled(frame, "标签(&M)"))
                << "a built-in menu opens from the toolbar";
            ASSERT_TRUE(frame.CommandBars().TakeOff(CCommandBars::kMenuBar, 5));  // 帮助
            ASSERT_TRUE(frame.CommandBars().TakeOff("Menu1", 0));
            sheet.ResetBarsButton()->click();
        });
        EXPECT_EQ(Ids(frame.StandardBar()->actions()), kFirstToolbar);
        EXPECT_EQ(MenuTitles(frame).size(), 6);
        EXPECT_EQ(Ids(MenuTitled(frame, "编辑(&E)")->actions()).first(), cmd::CopyRows);
        EXPECT_EQ(frame.Commands().Action(cmd::FindNext)->shortcut(), QKeySequence("F5")) << "keys are not bars";
        EXPECT_FALSE(QSettings("Kavrin", "Orvane").contains("CommandBars/HiddenButtons")) << "stored anew";
    }
    CMainFrame frame(NoDemos());
    EXPECT_EQ(Ids(frame.StandardBar()->actions()), kFirstToolbar);
    EXPECT_EQ(frame.Commands().Action(cmd::FindNext)->shortcut(), QKeySequence("F5"));
    EXPECT_EQ(frame.Commands().Action(cmd::AddMark)->shortcut(), QKeySequence("Ctrl+B"));
    Customise(frame, prompt, [&](CCustomizeDlg& sheet) { sheet.ResetKeysButton()->click(); });
    EXPECT_EQ(frame.Commands().Action(cmd::StartRecord)->shortcut(), QKeySequence("F5"));
    EXPECT_TRUE(frame.Commands().Action(cmd::AddMark)->shortcut().isEmpty());
    CMainFrame again(NoDemos());
    EXPECT_EQ(again.Commands().Action(cmd::StartRecord)->shortcut(), QKeySequence("F5"));
}

TEST(CustomizeSheet, PaneIconsForTheFourBuiltInSlots) {
    ClearProgramSettings();
    for (uint32_t id : {4000u, 4001u, 4002u, 4003u}) {
        const QImage image = PaneIcon(id).pixmap(16, 16).toImage();
        ASSERT_EQ(image.size(), QSize(16, 16)) << id;
        EXPECT_NE(image, PaneIcon(id == 4003 ? 4000 : id + 1).pixmap(16, 16).toImage()) << id;
    }
    EXPECT_TRUE(PaneIcon(4004).isNull());
    CMainFrame frame(NoDemos());
    EXPECT_FALSE(frame.Pane(cmd::PaneDevice)->windowIcon().isNull());
    EXPECT_FALSE(frame.Pane(cmd::PaneDetail)->windowIcon().isNull());
    EXPECT_FALSE(frame.Commands().Action(cmd::PaneDevice)->icon().isNull());
}
