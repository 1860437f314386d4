#include "CCommandRegistry.h"

#include <QAction>
#include <QMenu>
#include <QWidget>

namespace orvane::app {

namespace {

const char* const kIdProperty = "orvaneCommandId";

}  // namespace

CCommandRegistry::CCommandRegistry(QWidget* window) : QObject(window), window_(window) {}

QAction* CCommandRegistry::Define(int id, const QString& text, const QList<QKeySequence>& keys, bool checkable) {
    if (QAction* existing = Action(id)) return existing;
    auto* action = new QAction(text, window_);
    action->setObjectName(QStringLiteral("cmd%1").arg(id));
    action->setProperty(kIdProperty, id);
    action->setShortcuts(keys);
    action->setCheckable(checkable);
    action->setEnabled(false);
    window_->addAction(action);
    connect(action, &QAction::triggered, this, [this, id] { Run(id); });
    commands_[id].action = action;
    order_.push_back(id);
    return action;
}

bool CCommandRegistry::Bind(int id, Handler run, State enabled, State checked) {
    auto it = commands_.find(id);
    if (it == commands_.end()) return false;
    it->second.run = std::move(run);
    it->second.enabled = std::move(enabled);
    it->second.checked = std::move(checked);
    Apply(it->second);
    return true;
}

bool CCommandRegistry::SetStates(int id, State enabled, State checked) {
    auto it = commands_.find(id);
    if (it == commands_.end()) return false;
    it->second.enabled = std::move(enabled);
    it->second.checked = std::move(checked);
    Apply(it->second);
    return true;
}

QAction* CCommandRegistry::Action(int id) const {
    auto it = commands_.find(id);
    return it == commands_.end() ? nullptr : it->second.action;
}

int CCommandRegistry::IdOf(const QAction* action) {
    if (!action) return -1;
    const QVariant id = action->property(kIdProperty);
    return id.isValid() ? id.toInt() : -1;
}

bool CCommandRegistry::Execute(int id) {
    auto it = commands_.find(id);
    if (it == commands_.end()) return false;
    Apply(it->second);
    if (!it->second.action->isEnabled()) return false;
    Run(id);
    return true;
}

void CCommandRegistry::Update() {
    for (const auto& [id, command] : commands_) Apply(command);
    emit Updated();
}

void CCommandRegistry::WatchMenu(QMenu* menu) {
    connect(menu, &QMenu::aboutToShow, this, &CCommandRegistry::Update);
}

void CCommandRegistry::Run(int id) {
    auto it = commands_.find(id);
    if (it == commands_.end() || !it->second.run) return;
    // A shortcut can fire between two update passes: the state is checked now.
    if (it->second.enabled && !it->second.enabled()) {
        Apply(it->second);
        return;
    }
    // Copied: the handler may rebind its own command.
    Handler run = it->second.run;
    run();
    Update();
    emit Executed(id);
}

void CCommandRegistry::Apply(const Command& command) {
    command.action->setEnabled(command.run && (!command.enabled || command.enabled()));
    if (command.checked) command.action->setChecked(command.checked());
}

}  // namespace orvane::app
