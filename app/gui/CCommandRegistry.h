// Every command of the window under one id (CommandIds.h): one QAction per id,
// what it runs, and when it is enabled or checked. Menus, the toolbar, the
// shortcuts and the customise dialog share these actions.
//
// Use:
//   registry.Define(cmd::AddMark, "添加标签...");            // once, by the frame
//   registry.Bind(cmd::AddMark, [&] { AddMark(); },          // by whoever serves it
//                 [&] { return HasSelection(); });           // enabled (null: always)
//   registry.Update();                                       // applies every state
//
// A defined command without a handler stays disabled. Update() runs before
// every menu of WatchMenu() shows, after every command, and whenever the owner
// calls it (the frame does on each worker state change).
#pragma once

#include <QList>
#include <QKeySequence>
#include <QObject>
#include <QString>

#include <functional>
#include <map>
#include <vector>

class QAction;
class QMenu;
class QWidget;

namespace orvane::app {

class CCommandRegistry : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void()>;
    using State = std::function<bool()>;

    // The actions are children of `window` and added to it, so their shortcuts
    // work wherever the focus is inside it.
    explicit CCommandRegistry(QWidget* window);

    // Makes the action of `id`; a second call for the same id returns the first action.
    QAction* Define(int id, const QString& text, const QList<QKeySequence>& keys = {}, bool checkable = false);
    // What `id` runs and when it is enabled and checked; null `enabled` means
    // always, null `checked` leaves the check mark alone. False for an undefined id.
    bool Bind(int id, Handler run, State enabled = {}, State checked = {});
    // Replaces only the states of a bound command.
    bool SetStates(int id, State enabled, State checked = {});

    // Null for an undefined id.
    QAction* Action(int id) const;
    // The command id of one of the registry's actions, -1 for any other.
    static int IdOf(const QAction* action);
    // Every id in the order it was defined.
    const std::vector<int>& Ids() const { return order_; }

    // Runs `id` as its menu item would: only when bound and enabled. False otherwise.
    bool Execute(int id);
    // Applies every command's enabled and checked state.
    void Update();
    // Updates before `menu` shows.
    void WatchMenu(QMenu* menu);

signals:
    // After a command ran and the states were updated.
    void Executed(int id);
    // After every update pass.
    void Updated();

private:
    struct Command {
        QAction* action = nullptr;
        Handler run;
        State enabled;
        State checked;
    };

    void Run(int id);
    void Apply(const Command& command);

    QWidget* window_;
    std::map<int, Command> commands_;
    std::vector<int> order_;
};

}  // namespace orvane::app
