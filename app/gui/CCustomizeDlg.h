// The customise sheet (View → 自定义): the keyboard page (a shortcut per
// command, by menu category), the options page and the commands page (commands
// by menu category, all commands, the built-in menus and a new menu, dragged
// onto the toolbar or into the menus). Every change applies at once through
// CCommandBarsManager, which keeps it; while the sheet is open the bars take
// drops and their entries are dragged off rather than run.
#pragma once

#include <QDialog>

#include <string>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTableWidget;

namespace orvane::app {

class CCommandBarsManager;

class CCustomizeDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kIdRole = Qt::UserRole + 1;    // a command's id
    static constexpr int kMenuRole = Qt::UserRole + 2;  // a menu's key; "" for a new one

    CCustomizeDlg(CCommandBarsManager& bars, QWidget* parent = nullptr);

    // Keyboard page.
    QComboBox* KeyCategories() const { return keyCategories_; }
    QTableWidget* ShortcutTable() const { return keys_; }
    QPushButton* ResetKeysButton() const { return resetKeys_; }
    // Options page.
    QCheckBox* FullMenusBox() const { return fullMenus_; }
    QCheckBox* LargeIconsBox() const { return largeIcons_; }
    QCheckBox* ToolTipsBox() const { return toolTips_; }
    QCheckBox* ShortcutsInTipsBox() const { return shortcutsInTips_; }
    // Commands page.
    QListWidget* Categories() const { return categories_; }
    QListWidget* CommandList() const { return commands_; }
    QLineEdit* MenuNameEdit() const { return menuName_; }
    QPushButton* RenameButton() const { return rename_; }
    QPushButton* ResetBarsButton() const { return resetBars_; }

    // Drops on the bars need them to take input while the sheet is up.
    void setVisible(bool visible) override;

private:
    QWidget* KeyboardPage();
    QWidget* OptionsPage();
    QWidget* CommandsPage();
    void FillKeys();
    void ShowKeyCategory();
    void ShowCommands();
    void ApplyOptions();
    void ShowOptions();

    CCommandBarsManager& bars_;
    QComboBox* keyCategories_ = nullptr;
    QTableWidget* keys_ = nullptr;
    QPushButton* resetKeys_ = nullptr;
    QCheckBox* fullMenus_ = nullptr;
    QCheckBox* largeIcons_ = nullptr;
    QCheckBox* toolTips_ = nullptr;
    QCheckBox* shortcutsInTips_ = nullptr;
    QListWidget* categories_ = nullptr;
    QListWidget* commands_ = nullptr;
    QLineEdit* menuName_ = nullptr;
    QPushButton* rename_ = nullptr;
    QPushButton* resetBars_ = nullptr;
    bool filling_ = false;
};

}  // namespace orvane::app
