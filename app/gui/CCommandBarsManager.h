// The window's menu bar, toolbar and menus built from CCommandBars: the
// customise options applied to them, commands dropped onto them and dragged
// off them while the customise sheet is open, and everything kept under
// "CommandBars" in the program's settings.
//
// Drops and drags carry kMimeType: what is placed (a command, a menu, a new
// menu) and, for an entry dragged from a bar, where it came from. A drop on a
// menu's title in the menu bar puts a command last in that menu.
#pragma once

#include <QKeySequence>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QSize>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "CCommandBars.h"

class QAction;
class QMainWindow;
class QMenu;
class QMenuBar;
class QMimeData;
class QSettings;
class QToolBar;
class QWidget;

namespace orvane::app {

class CCommandRegistry;

class CCommandBarsManager : public QObject {
    Q_OBJECT
public:
    static const char* const kMimeType;
    static const char* const kToolBar;  // the key of the "Standard" toolbar

    // Fills a marker entry (the demonstration files, the recent files) into a menu.
    using MarkerFill = std::function<void(QMenu* menu, int marker)>;

    // `toolbar` is the window's "Standard" toolbar; the menus are made here.
    CCommandBarsManager(QMainWindow* window, QToolBar* toolbar, CCommandRegistry& commands,
                        std::vector<CommandBar> firstState, MarkerFill fill);

    const CCommandBars& Model() const { return model_; }
    CCommandRegistry& Commands() const { return commands_; }
    QToolBar* ToolBar() const { return toolbar_; }
    // The menu of a bar key, null for none.
    QMenu* Menu(const std::string& key) const;

    // Shortcuts, bars and options as stored (also the older form); then builds.
    void Load();
    // Widgets from the model, options applied.
    void Rebuild();

    // ---- what the sheet and the drops change; each rebuilds and stores ----
    // A command, menu or new menu of `data` at `position` of `bar` (-1: last);
    // an entry dragged from a bar moves. False when nothing changed.
    bool Drop(const std::string& bar, int position, const QMimeData* data);
    // The bar and place a drop at `pos` of `widget` (a bar's widget) goes to, and does it.
    bool DropAt(QWidget* widget, QPoint pos, const QMimeData* data);
    // Where a drop at `pos` of `widget` goes; false when `widget` is no bar.
    bool DropTarget(QWidget* widget, QPoint pos, const QMimeData* data, std::string* bar, int* position) const;
    // An entry dragged off its bar.
    bool TakeOff(const std::string& bar, int position);
    bool RenameMenu(const std::string& key, const QString& title);
    void SetOptions(const BarOptions& options);
    void Reset();
    void SetShortcut(int id, const QKeySequence& key);
    void ResetShortcuts();

    // While the sheet is open: bars take drops, and their entries are dragged, not run.
    void SetCustomising(bool on);
    bool Customising() const { return customising_; }

    static QMimeData* CommandData(int id);
    static QMimeData* MenuData(const std::string& key);  // empty key: a new menu

signals:
    void Changed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Placed {
        QAction* action;
        int entry;
    };

    QMenu* EnsureMenu(const CommandBar& bar);
    void FillMenu(QMenu* menu, const CommandBar& bar, bool whole);
    void ApplyOptions();
    void Store();
    void Changes();
    // The bar widget `object` is or sits in, null for none.
    QWidget* BarWidget(QObject* object) const;
    std::string KeyOf(const QWidget* bar) const;
    // The entry of the bar under `pos` of `bar`; -1 for none.
    int EntryAt(QWidget* bar, QPoint pos, QAction** action = nullptr) const;
    bool MouseOnBar(QWidget* bar, QEvent* event);
    bool DragOnBar(QWidget* bar, QEvent* event);

    QMainWindow* window_;
    QToolBar* toolbar_;
    QMenuBar* menuBar_;
    CCommandRegistry& commands_;
    CCommandBars model_;
    MarkerFill fill_;
    QSize smallIcons_;
    std::map<std::string, QMenu*> menus_;
    std::map<const QWidget*, std::vector<Placed>> placed_;
    std::map<const QMenu*, bool> filledWhole_;
    QMenu* expanding_ = nullptr;
    std::map<int, QList<QKeySequence>> firstKeys_;
    bool customising_ = false;
    // While a drag from a bar runs its widgets must stay: changes wait for its end.
    bool dragging_ = false;
    bool changedInDrag_ = false;
    // A press on a bar while customising: where, and on which entry.
    QWidget* pressBar_ = nullptr;
    QPoint pressPos_;
    int pressEntry_ = -1;
};

}  // namespace orvane::app
