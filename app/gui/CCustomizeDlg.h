// The reduced customise dialog: a shortcut per command and which buttons the
// "Standard" toolbar shows. Both are kept under "CommandBars" in the
// program's settings.
#pragma once

#include <QDialog>
#include <QList>

#include <vector>

class QSettings;
class QTableWidget;
class QListWidget;

namespace orvane::app {

class CCommandRegistry;

class CCustomizeDlg : public QDialog {
    Q_OBJECT
public:
    // `toolbar`: the toolbar's button ids in order (0 for a bar).
    CCustomizeDlg(CCommandRegistry& commands, const std::vector<int>& toolbar, QWidget* parent = nullptr);

    QTableWidget* ShortcutTable() const { return keys_; }
    QListWidget* ButtonList() const { return buttons_; }

    // Sets the edited shortcuts on the actions and stores them with the hidden buttons.
    void Apply(QSettings& settings) const;

    // What an earlier Apply stored.
    static void LoadShortcuts(QSettings& settings, CCommandRegistry& commands);
    static QList<int> HiddenButtons(QSettings& settings);

private:
    CCommandRegistry& commands_;
    QTableWidget* keys_;
    QListWidget* buttons_;
};

}  // namespace orvane::app
