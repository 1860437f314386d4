#include "StandardCommands.h"

#include <QAction>
#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QStyle>

#include <cstring>

#include "CCommandRegistry.h"
#include "CommandIds.h"

namespace orvane::app {

namespace {

struct CommandSpec {
    int id;
    const char* text;
    std::vector<QKeySequence> keys;
    bool checkable = false;
    QStyle::StandardPixmap icon = QStyle::SP_CustomBase;  // SP_CustomBase: none
    const char* glyph = nullptr;  // drawn as the icon of a toolbar button without one
};

// A small boxed text, so the toolbar stays one row of icons.
QIcon GlyphIcon(const char* glyph) {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(60, 90, 140), 2));
    painter.setBrush(QColor(225, 235, 250));
    painter.drawRoundedRect(QRectF(2, 2, 28, 28), 5, 5);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(std::strlen(glyph) > 1 ? 12 : 17);
    painter.setFont(font);
    painter.setPen(QColor(30, 50, 90));
    painter.drawText(QRect(0, 0, 32, 32), Qt::AlignCenter, QString::fromUtf8(glyph));
    return QIcon(pixmap);
}

QKeySequence K(QKeyCombination key) { return QKeySequence(key); }

const std::vector<CommandSpec>& Table() {
    using namespace cmd;
    static const std::vector<CommandSpec> table = {
        {FileNew, "新建(&N)", {K(Qt::CTRL | Qt::Key_N)}, false, QStyle::SP_FileIcon},
        {FileOpen, "打开(&O)...", {K(Qt::CTRL | Qt::Key_O)}, false, QStyle::SP_DialogOpenButton},
        {FileSave, "保存(&S)", {K(Qt::CTRL | Qt::Key_S)}, false, QStyle::SP_DialogSaveButton},
        {FileSaveAs, "另存为(&A)...", {}},
        {FilePrint, "打印(&P)...", {K(Qt::CTRL | Qt::Key_P)}},
        {AppExit, "退出(&X)", {}},
        {EditCopy, "复制(&C)", {K(Qt::CTRL | Qt::Key_C), K(Qt::CTRL | Qt::Key_Insert)}},
        {EditCut, "剪切(&T)", {K(Qt::CTRL | Qt::Key_X), K(Qt::SHIFT | Qt::Key_Delete)}},
        {EditPaste, "粘贴(&P)", {K(Qt::CTRL | Qt::Key_V), K(Qt::SHIFT | Qt::Key_Insert)}},
        {EditUndo, "撤消(&U)", {K(Qt::CTRL | Qt::Key_Z), K(Qt::ALT | Qt::Key_Backspace)}},
        {StartRecord, "开始(&S)", {K(Qt::Key_F5)}, false, QStyle::SP_MediaPlay},
        {StopRecord, "停止(&P)", {K(Qt::Key_F7)}, false, QStyle::SP_MediaStop},
        {StorageSettings, "存储设置(&R)", {}, false, QStyle::SP_FileDialogInfoView},
        {TransactionLevel, "事务级别显示", {}, true, QStyle::SP_FileDialogListView},
        {TransferLevel, "传输级别显示", {}, true, QStyle::SP_FileDialogDetailedView},
        {HideSof, "隐藏 &SOFs", {}, true, QStyle::SP_CustomBase, "S"},
        {HideNak, "隐藏 &NAKs", {}, true, QStyle::SP_CustomBase, "N"},
        {HideBusState, "隐藏总线状态(&B)", {}, true, QStyle::SP_CustomBase, "B"},
        {ClearFilter, "清除过滤(&C)", {}},
        {SetTrigger, "设为触发条件", {}, false, QStyle::SP_CustomBase, "T="},
        {AddTrigger, "添加触发条件", {}},
        {FindSettings, "查找设置...", {K(Qt::CTRL | Qt::Key_F)}, false, QStyle::SP_FileDialogContentsView},
        {SetFindCondition, "设为查找条件", {}},
        {FindPrevious, "上一个", {}, false, QStyle::SP_ArrowUp},
        {FindNext, "下一个", {}, false, QStyle::SP_ArrowDown},
        {TriggerSettings, "触发设置...", {}, false, QStyle::SP_CustomBase, "TS"},
        {GoToTrigger, "到触发位置", {}, false, QStyle::SP_CustomBase, "T"},
        {AddMark, "添加标签...", {}, false, QStyle::SP_CustomBase, "M+"},
        {EditMark, "编辑标签...", {}},
        {DeleteMark, "删除标签", {}, false, QStyle::SP_CustomBase, "M-"},
        {DeleteAllMarks, "删除全部标签", {}, false, QStyle::SP_CustomBase, "M*"},
        {PreviousMark, "上一个标签", {}, false, QStyle::SP_CustomBase, "<M"},
        {NextMark, "下一个标签", {}, false, QStyle::SP_CustomBase, "M>"},
        {ToggleSubtree, "展开/折叠", {}},
        {CopyRows, "复制", {}},
        {ViewToolBar, "工具栏(&B)", {}, true},
        {ViewStatusBar, "状态栏(&S)", {}, true},
        {PaneDevice, "设备(&D)", {}},
        {PaneDetail, "解码(&T)", {}},
        {NextPane, "下一窗格", {K(Qt::Key_F6)}},
        {PreviousPane, "上一窗格", {K(Qt::SHIFT | Qt::Key_F6)}},
        {Customize, "自定义(&C)...", {}},
        {HelpTopics, "帮助主题(&H)", {}},
        {CheckUpdate, "检查更新(&U)", {}},
        {About, "关于 Orvane...", {}},
    };
    return table;
}

}  // namespace

void DefineStandardCommands(CCommandRegistry& registry) {
    QStyle* style = QApplication::style();
    for (const CommandSpec& spec : Table()) {
        QAction* action = registry.Define(spec.id, QString::fromUtf8(spec.text),
                                          QList<QKeySequence>(spec.keys.begin(), spec.keys.end()), spec.checkable);
        if (spec.icon != QStyle::SP_CustomBase) action->setIcon(style->standardIcon(spec.icon));
        else if (spec.glyph) action->setIcon(GlyphIcon(spec.glyph));
    }
}

const std::vector<MenuLayout>& StandardMenus() {
    using namespace cmd;
    static const std::vector<MenuLayout> menus = {
        {"文件(&F)",
         {FileNew, FileOpen, MenuDemoFiles, FileSave, FileSaveAs, MenuSeparator, MenuRecentFiles, MenuSeparator,
          AppExit}},
        {"编辑(&E)",
         {CopyRows, ToggleSubtree, MenuSeparator, FindSettings, SetFindCondition, FindPrevious, FindNext}},
        // Plug-in panes go in right after "解码(&T)" (position 5).
        {"视图(&V)",
         {ViewToolBar, ViewStatusBar, MenuSeparator, PaneDevice, PaneDetail, MenuSeparator, TransactionLevel,
          TransferLevel, MenuSeparator, HideSof, HideNak, HideBusState, ClearFilter, MenuSeparator, NextPane,
          PreviousPane, MenuSeparator, Customize}},
        {"记录(&R)",
         {StartRecord, StopRecord, MenuSeparator, StorageSettings, TriggerSettings, MenuSeparator, SetTrigger,
          AddTrigger, GoToTrigger}},
        {"标签(&M)",
         {AddMark, EditMark, DeleteMark, DeleteAllMarks, MenuSeparator, PreviousMark, NextMark}},
        {"帮助(&H)", {HelpTopics, CheckUpdate, MenuSeparator, About}},
    };
    return menus;
}

const std::vector<int>& StandardToolbar() {
    using namespace cmd;
    static const std::vector<int> buttons = {
        FileNew, FileOpen, FileSave, MenuSeparator,
        StartRecord, StopRecord, MenuSeparator,
        TransactionLevel, TransferLevel, MenuSeparator,
        HideSof, HideNak, HideBusState, MenuSeparator,
        AddMark, DeleteMark, DeleteAllMarks, PreviousMark, NextMark, GoToTrigger, MenuSeparator,
        FindSettings, FindPrevious, FindNext, MenuSeparator,
        StorageSettings, TriggerSettings, SetTrigger,
    };
    return buttons;
}

}  // namespace orvane::app
