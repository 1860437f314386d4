#include "CCustomizeDlg.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPixmap>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include "CCommandBarsManager.h"
#include "CCommandRegistry.h"
#include "CommandIds.h"

namespace orvane::app {

namespace {

QString U(const char* text) { return QString::fromUtf8(text); }

// Commands page rows beyond the menus.
enum Category : int { AllCommands = -1, BuiltInMenus = -2, NewMenu = -3 };

QString Plain(const QString& text) { return QString::fromStdString(CCommandBars::PlainText(text.toStdString())); }

// Every command a user can place or give a key: not the recent and demo entries the frame fills.
std::vector<int> PlaceableCommands(const CCommandRegistry& registry) {
    std::vector<int> ids;
    for (int id : registry.Ids()) {
        if ((id >= cmd::FileMru1 && id < cmd::FileMru1 + 4) || (id >= cmd::DemoFirst && id <= cmd::DemoLast)) continue;
        if (!registry.Action(id)->text().isEmpty()) ids.push_back(id);
    }
    return ids;
}

// The commands list hands out what it shows as command or menu drags.
class CCommandSource : public QListWidget {
public:
    using QListWidget::QListWidget;

protected:
    QStringList mimeTypes() const override { return {CCommandBarsManager::kMimeType}; }
    QMimeData* mimeData(const QList<QListWidgetItem*>& items) const override {
        if (items.isEmpty()) return nullptr;
        const QVariant menu = items[0]->data(CCustomizeDlg::kMenuRole);
        return menu.isValid() ? CCommandBarsManager::MenuData(menu.toString().toStdString())
                              : CCommandBarsManager::CommandData(items[0]->data(CCustomizeDlg::kIdRole).toInt());
    }
    // A copy: the list keeps its row.
    Qt::DropActions supportedDropActions() const override { return Qt::CopyAction; }
};

}  // namespace

CCustomizeDlg::CCustomizeDlg(CCommandBarsManager& bars, QWidget* parent) : QDialog(parent), bars_(bars) {
    setWindowTitle(U("自定义"));
    auto* tabs = new QTabWidget(this);
    tabs->addTab(KeyboardPage(), U("键盘"));
    tabs->addTab(OptionsPage(), U("选项"));
    tabs->addTab(CommandsPage(), U("命令"));
    auto* box = new QDialogButtonBox(QDialogButtonBox::Close, this);
    box->button(QDialogButtonBox::Close)->setText(U("关闭"));
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addWidget(box);
    connect(&bars_, &CCommandBarsManager::Changed, this, [this] {
        ShowOptions();
        if (categories_->currentItem() && categories_->currentItem()->data(Qt::UserRole).toInt() == NewMenu)
            ShowCommands();
    });
    resize(560, 480);
}

void CCustomizeDlg::setVisible(bool visible) {
    if (visible) setAttribute(Qt::WA_ShowModal, false);
    QDialog::setVisible(visible);
}

// ---------------------------------------------------------------- keyboard

QWidget* CCustomizeDlg::KeyboardPage() {
    auto* page = new QWidget(this);
    keyCategories_ = new QComboBox(page);
    for (const CommandCategory& category : bars_.Model().Categories())
        keyCategories_->addItem(QString::fromStdString(category.title));
    keyCategories_->addItem(U("所有命令"));
    keys_ = new QTableWidget(page);
    keys_->setColumnCount(2);
    keys_->setHorizontalHeaderLabels({U("命令"), U("快捷键")});
    keys_->horizontalHeader()->setStretchLastSection(true);
    keys_->verticalHeader()->hide();
    CCommandRegistry& registry = bars_.Commands();
    for (int id : PlaceableCommands(registry)) {
        QAction* action = registry.Action(id);
        const int row = keys_->rowCount();
        keys_->insertRow(row);
        auto* name = new QTableWidgetItem(action->icon(), Plain(action->text()));
        name->setData(kIdRole, id);
        name->setFlags(Qt::ItemIsEnabled);
        keys_->setItem(row, 0, name);
        auto* edit = new QKeySequenceEdit(keys_);
        keys_->setCellWidget(row, 1, edit);
        connect(edit, &QKeySequenceEdit::keySequenceChanged, this, [this, id](const QKeySequence& key) {
            if (filling_) return;
            bars_.SetShortcut(id, key);
            FillKeys();  // a key taken from another command leaves it
        });
    }
    FillKeys();
    keys_->resizeColumnToContents(0);
    resetKeys_ = new QPushButton(U("全部重设(&R)"), page);
    connect(resetKeys_, &QPushButton::clicked, this, [this] {
        bars_.ResetShortcuts();
        FillKeys();
    });
    connect(keyCategories_, &QComboBox::currentIndexChanged, this, &CCustomizeDlg::ShowKeyCategory);
    ShowKeyCategory();

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(U("类别："), page));
    top->addWidget(keyCategories_, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(resetKeys_);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(top);
    layout->addWidget(keys_);
    layout->addLayout(bottom);
    return page;
}

void CCustomizeDlg::FillKeys() {
    filling_ = true;
    for (int row = 0; row < keys_->rowCount(); ++row) {
        QAction* action = bars_.Commands().Action(keys_->item(row, 0)->data(kIdRole).toInt());
        static_cast<QKeySequenceEdit*>(keys_->cellWidget(row, 1))->setKeySequence(action->shortcut());
    }
    filling_ = false;
}

void CCustomizeDlg::ShowKeyCategory() {
    const std::vector<CommandCategory> categories = bars_.Model().Categories();
    const int index = keyCategories_->currentIndex();
    for (int row = 0; row < keys_->rowCount(); ++row) {
        const int id = keys_->item(row, 0)->data(kIdRole).toInt();
        bool shown = index < 0 || index >= int(categories.size());
        if (!shown) {
            const std::vector<int>& ids = categories[index].commands;
            shown = std::find(ids.begin(), ids.end(), id) != ids.end();
        }
        keys_->setRowHidden(row, !shown);
    }
}

// ---------------------------------------------------------------- options

QWidget* CCustomizeDlg::OptionsPage() {
    auto* page = new QWidget(this);
    auto* menus = new QGroupBox(U("个性化菜单和工具栏"), page);
    fullMenus_ = new QCheckBox(U("始终显示整个菜单(&N)"), menus);
    auto* menusLayout = new QVBoxLayout(menus);
    menusLayout->addWidget(fullMenus_);
    auto* other = new QGroupBox(U("其他"), page);
    largeIcons_ = new QCheckBox(U("大图标(&L)"), other);
    toolTips_ = new QCheckBox(U("在工具栏上显示屏幕提示(&T)"), other);
    shortcutsInTips_ = new QCheckBox(U("在屏幕提示中显示快捷键(&H)"), other);
    auto* otherLayout = new QVBoxLayout(other);
    otherLayout->addWidget(largeIcons_);
    otherLayout->addWidget(toolTips_);
    otherLayout->addWidget(shortcutsInTips_);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(menus);
    layout->addWidget(other);
    layout->addStretch();
    ShowOptions();
    for (QCheckBox* box : {fullMenus_, largeIcons_, toolTips_, shortcutsInTips_})
        connect(box, &QCheckBox::toggled, this, &CCustomizeDlg::ApplyOptions);
    return page;
}

void CCustomizeDlg::ShowOptions() {
    if (!fullMenus_) return;
    filling_ = true;
    const BarOptions& options = bars_.Model().Options();
    fullMenus_->setChecked(options.fullMenus);
    largeIcons_->setChecked(options.largeIcons);
    toolTips_->setChecked(options.toolTips);
    shortcutsInTips_->setChecked(options.shortcutsInTips);
    shortcutsInTips_->setEnabled(options.toolTips);
    filling_ = false;
}

void CCustomizeDlg::ApplyOptions() {
    if (filling_) return;
    BarOptions options;
    options.fullMenus = fullMenus_->isChecked();
    options.largeIcons = largeIcons_->isChecked();
    options.toolTips = toolTips_->isChecked();
    options.shortcutsInTips = shortcutsInTips_->isChecked();
    bars_.SetOptions(options);
}

// ---------------------------------------------------------------- commands

QWidget* CCustomizeDlg::CommandsPage() {
    auto* page = new QWidget(this);
    categories_ = new QListWidget(page);
    const std::vector<CommandCategory> categories = bars_.Model().Categories();
    for (int i = 0; i < int(categories.size()); ++i)
        (new QListWidgetItem(QString::fromStdString(categories[i].title), categories_))->setData(Qt::UserRole, i);
    for (auto [text, kind] : {std::pair{"所有命令", AllCommands}, {"内置菜单", BuiltInMenus}, {"新菜单", NewMenu}})
        (new QListWidgetItem(U(text), categories_))->setData(Qt::UserRole, int(kind));
    commands_ = new CCommandSource(page);
    commands_->setDragEnabled(true);
    commands_->setDragDropMode(QAbstractItemView::DragOnly);
    commands_->setDefaultDropAction(Qt::CopyAction);
    commands_->setIconSize(QSize(16, 16));
    menuName_ = new QLineEdit(page);
    rename_ = new QPushButton(U("重命名(&M)"), page);
    resetBars_ = new QPushButton(U("重置工具栏和菜单(&R)"), page);
    connect(categories_, &QListWidget::currentRowChanged, this, &CCustomizeDlg::ShowCommands);
    connect(commands_, &QListWidget::currentItemChanged, this, [this](QListWidgetItem* item) {
        const QString key = item ? item->data(kMenuRole).toString() : QString();
        const CommandBar* menu = key.isEmpty() ? nullptr : bars_.Model().Find(key.toStdString());
        const bool custom = menu && menu->custom;
        menuName_->setEnabled(custom);
        rename_->setEnabled(custom);
        menuName_->setText(custom ? QString::fromStdString(menu->title) : QString());
    });
    connect(rename_, &QPushButton::clicked, this, [this] {
        QListWidgetItem* item = commands_->currentItem();
        if (item) bars_.RenameMenu(item->data(kMenuRole).toString().toStdString(), menuName_->text());
    });
    connect(menuName_, &QLineEdit::returnPressed, rename_, &QPushButton::click);
    connect(resetBars_, &QPushButton::clicked, this, [this] { bars_.Reset(); });
    categories_->setCurrentRow(0);

    auto* lists = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    left->addWidget(new QLabel(U("类别："), page));
    left->addWidget(categories_);
    auto* right = new QVBoxLayout;
    right->addWidget(new QLabel(U("命令："), page));
    right->addWidget(commands_);
    lists->addLayout(left, 2);
    lists->addLayout(right, 3);
    auto* name = new QHBoxLayout;
    name->addWidget(new QLabel(U("菜单名称："), page));
    name->addWidget(menuName_, 1);
    name->addWidget(rename_);
    auto* hint = new QLabel(U("把命令拖到工具栏或菜单上即可添加；把工具栏按钮或菜单项拖离即可删除。"
                              "把“新菜单”拖到菜单栏或工具栏上即可新建菜单。"),
                            page);
    hint->setWordWrap(true);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(resetBars_);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(lists);
    layout->addWidget(hint);
    layout->addLayout(name);
    layout->addLayout(bottom);
    return page;
}

void CCustomizeDlg::ShowCommands() {
    const QString selected = commands_->currentItem() ? commands_->currentItem()->data(kMenuRole).toString() : QString();
    commands_->clear();
    QListWidgetItem* category = categories_->currentItem();
    if (!category) return;
    const int kind = category->data(Qt::UserRole).toInt();
    const CCommandBars& model = bars_.Model();
    auto addMenu = [this](const QString& text, const std::string& key) {
        auto* item = new QListWidgetItem(text, commands_);
        item->setData(kMenuRole, QString::fromStdString(key));
        return item;
    };
    if (kind == BuiltInMenus) {
        for (const CommandBar& bar : model.Defaults())
            if (bar.kind == BarKind::Menu) addMenu(Plain(QString::fromStdString(bar.title)), bar.key);
    } else if (kind == NewMenu) {
        addMenu(U("新菜单"), {})->setToolTip(U("拖到菜单栏或工具栏上即可新建菜单"));
        // The menus made so far, to be named here.
        bool heading = false;
        for (const CommandBar& bar : model.Bars()) {
            if (!bar.custom) continue;
            if (!heading) (new QListWidgetItem(U("已建的菜单："), commands_))->setFlags(Qt::NoItemFlags);
            heading = true;
            QListWidgetItem* item = addMenu(QString::fromStdString(bar.title), bar.key);
            if (item->data(kMenuRole).toString() == selected) commands_->setCurrentItem(item);
        }
    } else {
        // Rows without an icon keep their text in line with the others.
        QPixmap empty(16, 16);
        empty.fill(Qt::transparent);
        const QIcon blank(empty);
        const std::vector<CommandCategory> categories = model.Categories();
        const std::vector<int> ids = kind == AllCommands ? PlaceableCommands(bars_.Commands()) : categories[kind].commands;
        for (int id : ids) {
            QAction* action = bars_.Commands().Action(id);
            if (!action || action->text().isEmpty()) continue;
            auto* item = new QListWidgetItem(action->icon().isNull() ? blank : action->icon(), Plain(action->text()), commands_);
            item->setData(kIdRole, id);
        }
    }
    if (!commands_->currentItem()) {
        menuName_->setEnabled(false);
        rename_->setEnabled(false);
        menuName_->clear();
    }
}

}  // namespace orvane::app
