#include "CCommandBarsManager.h"

#include <QAction>
#include <QApplication>
#include <QDrag>
#include <QDropEvent>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QSettings>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <optional>

#include "CCommandRegistry.h"
#include "CommandIds.h"

namespace orvane::app {

const char* const CCommandBarsManager::kMimeType = "application/x-orvane-command";
const char* const CCommandBarsManager::kToolBar = "Standard";

namespace {

const char* const kGroup = "CommandBars";
const char* const kStateKey = "CommandBars/State";
const char* const kOlderHiddenKey = "CommandBars/HiddenButtons";
const char* const kShortcutGroup = "CommandBars/Shortcuts";

QString U(const char* text) { return QString::fromUtf8(text); }

// What a drag carries: "command" or "menu", the id or menu key (empty: a new
// menu), and for an entry dragged from a bar that bar and the entry's index.
struct Dragged {
    QString kind;
    QString value;
    std::string from;
    int fromEntry = -1;
};

std::optional<Dragged> Read(const QMimeData* data) {
    if (!data || !data->hasFormat(CCommandBarsManager::kMimeType)) return std::nullopt;
    const QStringList lines = QString::fromUtf8(data->data(CCommandBarsManager::kMimeType)).split('\n');
    if (lines.size() < 2 || (lines[0] != "command" && lines[0] != "menu")) return std::nullopt;
    Dragged dragged{lines[0], lines[1], {}, -1};
    if (lines.size() >= 4) {
        dragged.from = lines[2].toStdString();
        dragged.fromEntry = lines[3].toInt();
    }
    return dragged;
}

QMimeData* Make(const QString& kind, const QString& value, const std::string& from = {}, int entry = -1) {
    QString text = kind + '\n' + value;
    if (!from.empty()) text += '\n' + QString::fromStdString(from) + '\n' + QString::number(entry);
    auto* data = new QMimeData;
    data->setData(CCommandBarsManager::kMimeType, text.toUtf8());
    return data;
}

// A double chevron: the entry that shows a menu whole.
QIcon ChevronIcon() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(40, 60, 100), 1.6));
    for (int y : {4, 9}) p.drawPolyline(QPolygonF({QPointF(4, y), QPointF(8, y + 3), QPointF(12, y)}));
    return QIcon(pixmap);
}

// Separators a bar made itself go when it is cleared.
void ClearBar(QWidget* bar) {
    const QList<QAction*> actions = bar->actions();
    for (QAction* action : actions) {
        bar->removeAction(action);
        if (action->parent() == bar) delete action;
    }
}

}  // namespace

CCommandBarsManager::CCommandBarsManager(QMainWindow* window, QToolBar* toolbar, CCommandRegistry& commands,
                                         std::vector<CommandBar> firstState, MarkerFill fill)
    : QObject(window),
      window_(window),
      toolbar_(toolbar),
      menuBar_(window->menuBar()),
      commands_(commands),
      model_(std::move(firstState)),
      fill_(std::move(fill)),
      smallIcons_(toolbar->iconSize()) {
    // Printing is there for the keyboard, not for every opening of the File menu.
    model_.SetRarelyUsed({cmd::FilePrint});
    for (int id : commands_.Ids()) firstKeys_[id] = commands_.Action(id)->shortcuts();
}

QMenu* CCommandBarsManager::Menu(const std::string& key) const {
    auto it = menus_.find(key);
    return it == menus_.end() ? nullptr : it->second;
}

void CCommandBarsManager::Load() {
    QSettings settings("Kavrin", "Orvane");
    settings.beginGroup(kShortcutGroup);
    for (const QString& key : settings.childKeys()) {
        bool ok = false;
        QAction* action = commands_.Action(key.toInt(&ok));
        if (!ok || !action) continue;
        const QKeySequence sequence(settings.value(key).toString(), QKeySequence::PortableText);
        action->setShortcuts(sequence.isEmpty() ? QList<QKeySequence>() : QList<QKeySequence>{sequence});
    }
    settings.endGroup();
    const QString state = settings.value(kStateKey).toString();
    std::string error;
    if (!state.isEmpty()) {
        if (!model_.Load(state.toStdString(), &error))
            qWarning("orvane: stored command bars ignored: %s", error.c_str());
    } else if (settings.contains(kOlderHiddenKey)) {
        std::vector<int> hidden;
        for (const QVariant& id : settings.value(kOlderHiddenKey).toList()) hidden.push_back(id.toInt());
        model_.HideButtons(hidden);
    }
    Rebuild();
}

QMenu* CCommandBarsManager::EnsureMenu(const CommandBar& bar) {
    QMenu*& menu = menus_[bar.key];
    if (!menu) {
        menu = new QMenu(window_);
        menu->setObjectName(QString::fromStdString(bar.key));
        commands_.WatchMenu(menu);
        const std::string key = bar.key;
        connect(menu, &QMenu::aboutToShow, this, [this, menu, key] {
            const CommandBar* shown = model_.Find(key);
            const bool whole = model_.Options().fullMenus || expanding_ == menu;
            if (shown && filledWhole_[menu] != whole) FillMenu(menu, *shown, whole);
        });
        connect(menu, &QMenu::aboutToHide, this, [this, menu] {
            if (expanding_ == menu && filledWhole_[menu]) expanding_ = nullptr;
        });
    }
    menu->setTitle(QString::fromStdString(bar.title));
    menu->setAcceptDrops(customising_);
    return menu;
}

void CCommandBarsManager::FillMenu(QMenu* menu, const CommandBar& bar, bool whole) {
    menu->clear();
    std::vector<Placed>& placed = placed_[menu];
    placed.clear();
    for (int index : model_.Shown(bar, whole)) {
        const BarEntry& entry = bar.entries[index];
        if (entry.IsPopup()) {
            if (QMenu* sub = Menu(entry.popup)) placed.push_back({menu->addMenu(sub), index});
        } else if (entry.id == 0) {
            placed.push_back({menu->addSeparator(), index});
        } else if (entry.id < 0) {
            const qsizetype before = menu->actions().size();
            if (fill_) fill_(menu, entry.id);
            for (qsizetype i = before; i < menu->actions().size(); ++i) placed.push_back({menu->actions()[i], index});
        } else if (QAction* action = commands_.Action(entry.id)) {
            menu->addAction(action);
            placed.push_back({action, index});
        }
    }
    if (!whole && model_.LeavesOut(bar)) {
        menu->addSeparator();
        QAction* more = menu->addAction(ChevronIcon(), U("展开菜单"));
        connect(more, &QAction::triggered, this, [this, menu] {
            expanding_ = menu;
            const QPoint at = menu->pos();
            QTimer::singleShot(0, menu, [menu, at] { menu->popup(at); });
        });
    }
    filledWhole_[menu] = whole;
}

void CCommandBarsManager::Rebuild() {
    // Menus first: the menu bar, the toolbar and other menus open them.
    std::set<std::string> keys;
    for (const CommandBar& bar : model_.Bars())
        if (bar.kind == BarKind::Menu) {
            EnsureMenu(bar);
            keys.insert(bar.key);
        }
    for (auto it = menus_.begin(); it != menus_.end();) {
        if (keys.count(it->first)) {
            ++it;
            continue;
        }
        placed_.erase(it->second);
        filledWhole_.erase(it->second);
        if (expanding_ == it->second) expanding_ = nullptr;
        it->second->deleteLater();
        it = menus_.erase(it);
    }
    for (const CommandBar& bar : model_.Bars())
        if (bar.kind == BarKind::Menu) FillMenu(menus_[bar.key], bar, model_.Options().fullMenus);

    for (const CommandBar& bar : model_.Bars()) {
        if (bar.kind == BarKind::Menu) continue;
        QWidget* widget = bar.kind == BarKind::MenuBar ? static_cast<QWidget*>(menuBar_) : toolbar_;
        if (bar.kind == BarKind::ToolBar && bar.key != kToolBar) continue;  // one toolbar
        ClearBar(widget);
        std::vector<Placed>& placed = placed_[widget];
        placed.clear();
        for (int index : model_.Shown(bar, true)) {
            const BarEntry& entry = bar.entries[index];
            QAction* action = nullptr;
            if (entry.IsPopup()) {
                if (QMenu* menu = Menu(entry.popup)) action = menu->menuAction();
            } else if (entry.id == 0) {
                action = new QAction(widget);
                action->setSeparator(true);
            } else if (entry.id > 0) {
                action = commands_.Action(entry.id);
            }
            if (!action) continue;
            widget->addAction(action);
            placed.push_back({action, index});
            if (entry.IsPopup() && widget == toolbar_)
                if (auto* button = qobject_cast<QToolButton*>(toolbar_->widgetForAction(action)))
                    button->setPopupMode(QToolButton::InstantPopup);
        }
    }
    ApplyOptions();
}

void CCommandBarsManager::ApplyOptions() {
    const BarOptions& options = model_.Options();
    toolbar_->setIconSize(options.largeIcons ? QSize(32, 32) : smallIcons_);
    for (int id : commands_.Ids()) {
        QAction* action = commands_.Action(id);
        QString tip = QString::fromStdString(CCommandBars::PlainText(action->text().toStdString()));
        if (options.shortcutsInTips && !action->shortcut().isEmpty())
            tip += QStringLiteral(" (%1)").arg(action->shortcut().toString(QKeySequence::NativeText));
        action->setToolTip(tip);
    }
    // The buttons' tips are let through or not by eventFilter.
    for (QAction* action : toolbar_->actions())
        if (QWidget* button = toolbar_->widgetForAction(action)) button->installEventFilter(this);
}

void CCommandBarsManager::Store() {
    QSettings settings("Kavrin", "Orvane");
    settings.setValue(kStateKey, QString::fromStdString(model_.Save()));
    settings.remove(kOlderHiddenKey);
}

void CCommandBarsManager::Changes() {
    if (dragging_) {
        changedInDrag_ = true;
        return;
    }
    Rebuild();
    Store();
    emit Changed();
}

// ---------------------------------------------------------------- changes

bool CCommandBarsManager::Drop(const std::string& bar, int position, const QMimeData* data) {
    const std::optional<Dragged> dragged = Read(data);
    if (!dragged || !model_.Find(bar)) return false;
    bool done = false;
    if (!dragged->from.empty()) {
        done = model_.Move(dragged->from, dragged->fromEntry, bar, position);
    } else if (dragged->kind == "command") {
        bool ok = false;
        const int id = dragged->value.toInt(&ok);
        done = ok && id > 0 && model_.Insert(bar, position, {id, {}});
    } else {
        std::string menu = dragged->value.toStdString();
        if (menu.empty()) menu = model_.AddMenu(U("新菜单").toStdString());
        done = model_.Insert(bar, position, {0, menu});
    }
    if (done) Changes();
    return done;
}

bool CCommandBarsManager::DropAt(QWidget* widget, QPoint pos, const QMimeData* data) {
    std::string bar;
    int position = -1;
    return DropTarget(widget, pos, data, &bar, &position) && Drop(bar, position, data);
}

bool CCommandBarsManager::TakeOff(const std::string& bar, int position) {
    if (!model_.Remove(bar, position)) return false;
    Changes();
    return true;
}

bool CCommandBarsManager::RenameMenu(const std::string& key, const QString& title) {
    if (!model_.Rename(key, title.trimmed().toStdString())) return false;
    Changes();
    return true;
}

void CCommandBarsManager::SetOptions(const BarOptions& options) {
    if (options == model_.Options()) return;
    model_.SetOptions(options);
    Changes();
}

void CCommandBarsManager::Reset() {
    model_.Reset();
    Changes();
}

void CCommandBarsManager::SetShortcut(int id, const QKeySequence& key) {
    QAction* action = commands_.Action(id);
    if (!action || key == action->shortcut()) return;
    QSettings settings("Kavrin", "Orvane");
    auto store = [&settings](int command, QAction* owner, const QList<QKeySequence>& keys) {
        owner->setShortcuts(keys);
        settings.setValue(QStringLiteral("%1/%2").arg(kShortcutGroup).arg(command),
                          owner->shortcut().toString(QKeySequence::PortableText));
    };
    // A key goes to one command only: another that had it loses it.
    if (!key.isEmpty())
        for (int other : commands_.Ids()) {
            QAction* owner = commands_.Action(other);
            QList<QKeySequence> keys = owner->shortcuts();
            if (other != id && keys.removeAll(key)) store(other, owner, keys);
        }
    // The first shortcut is the one edited; the others (Ctrl+Insert beside Ctrl+C) go with it.
    store(id, action, key.isEmpty() ? QList<QKeySequence>() : QList<QKeySequence>{key});
    ApplyOptions();
    emit Changed();
}

void CCommandBarsManager::ResetShortcuts() {
    for (const auto& [id, keys] : firstKeys_)
        if (QAction* action = commands_.Action(id)) action->setShortcuts(keys);
    QSettings("Kavrin", "Orvane").remove(kShortcutGroup);
    ApplyOptions();
    emit Changed();
}

QMimeData* CCommandBarsManager::CommandData(int id) { return Make("command", QString::number(id)); }

QMimeData* CCommandBarsManager::MenuData(const std::string& key) { return Make("menu", QString::fromStdString(key)); }

// ---------------------------------------------------------------- customising

void CCommandBarsManager::SetCustomising(bool on) {
    if (on == customising_) return;
    customising_ = on;
    pressBar_ = nullptr;
    toolbar_->setAcceptDrops(on);
    menuBar_->setAcceptDrops(on);
    for (auto& [key, menu] : menus_) menu->setAcceptDrops(on);
    if (on) qApp->installEventFilter(this);
    else qApp->removeEventFilter(this);
}

QWidget* CCommandBarsManager::BarWidget(QObject* object) const {
    for (auto* widget = qobject_cast<QWidget*>(object); widget; widget = widget->parentWidget()) {
        if (widget == toolbar_ || widget == menuBar_) return widget;
        if (auto* menu = qobject_cast<QMenu*>(widget)) return placed_.count(menu) ? menu : nullptr;
        if (widget->isWindow()) return nullptr;
    }
    return nullptr;
}

std::string CCommandBarsManager::KeyOf(const QWidget* bar) const {
    if (bar == toolbar_) return kToolBar;
    if (bar == menuBar_) return CCommandBars::kMenuBar;
    for (const auto& [key, menu] : menus_)
        if (menu == bar) return key;
    return {};
}

int CCommandBarsManager::EntryAt(QWidget* bar, QPoint pos, QAction** found) const {
    QAction* action = nullptr;
    if (bar == toolbar_) action = toolbar_->actionAt(pos);
    else if (bar == menuBar_) action = menuBar_->actionAt(pos);
    else if (auto* menu = qobject_cast<QMenu*>(bar)) action = menu->actionAt(pos);
    if (found) *found = action;
    auto it = placed_.find(bar);
    if (!action || it == placed_.end()) return -1;
    for (const Placed& placed : it->second)
        if (placed.action == action) return placed.entry;
    return -1;
}

bool CCommandBarsManager::DropTarget(QWidget* widget, QPoint pos, const QMimeData* data, std::string* bar,
                                     int* position) const {
    const std::optional<Dragged> dragged = Read(data);
    const std::string key = KeyOf(widget);
    if (!dragged || key.empty()) return false;
    QAction* action = nullptr;
    const int entry = EntryAt(widget, pos, &action);
    // A command on a menu's title goes last into that menu.
    if (widget == menuBar_ && action && action->menu() && dragged->kind == "command") {
        const std::string menu = KeyOf(action->menu());
        if (!menu.empty()) {
            *bar = menu;
            *position = -1;
            return true;
        }
    }
    *bar = key;
    *position = -1;
    if (entry < 0) return true;
    QRect at;
    bool across = false;
    if (widget == toolbar_) {
        if (QWidget* button = toolbar_->widgetForAction(action)) at = button->geometry();
        across = toolbar_->orientation() == Qt::Horizontal;
    } else if (widget == menuBar_) {
        at = menuBar_->actionGeometry(action);
        across = true;
    } else {
        at = static_cast<QMenu*>(widget)->actionGeometry(action);
    }
    const bool after = across ? pos.x() > at.center().x() : pos.y() > at.center().y();
    *position = entry + (after ? 1 : 0);
    return true;
}

bool CCommandBarsManager::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ToolTip && !model_.Options().toolTips) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && widget->parentWidget() == toolbar_) return true;
    }
    if (!customising_) return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
        if (QWidget* bar = BarWidget(watched)) return MouseOnBar(bar, event);
        return false;
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        if (QWidget* bar = BarWidget(watched); bar && bar == watched) return DragOnBar(bar, event);
        return false;
    default:
        return false;
    }
}

bool CCommandBarsManager::MouseOnBar(QWidget* bar, QEvent* event) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    const QPoint pos = bar->mapFromGlobal(mouse->globalPosition().toPoint());
    // A click outside an open menu closes it as usual.
    if (qobject_cast<QMenu*>(bar) && !bar->rect().contains(pos) && event->type() != QEvent::MouseMove) return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        pressBar_ = nullptr;
        // What a menu adds of its own (the entry that shows it whole) still works.
        if (qobject_cast<QMenu*>(bar) && EntryAt(bar, pos) < 0) return false;
        if (mouse->button() != Qt::LeftButton) return true;
        pressBar_ = bar;
        pressPos_ = pos;
        pressEntry_ = EntryAt(bar, pos);
        return true;
    case QEvent::MouseButtonDblClick:
        return true;
    case QEvent::MouseButtonRelease: {
        if (pressBar_ != bar && qobject_cast<QMenu*>(bar)) return false;
        // A click opens a menu, so that what is in it can be dragged.
        QAction* action = nullptr;
        if (pressBar_ == bar && EntryAt(bar, pos, &action) == pressEntry_ && action && action->menu()) {
            if (bar == menuBar_)
                action->menu()->popup(menuBar_->mapToGlobal(menuBar_->actionGeometry(action).bottomLeft()));
            else if (auto* menu = qobject_cast<QMenu*>(bar))
                menu->setActiveAction(action);
        }
        pressBar_ = nullptr;
        return true;
    }
    case QEvent::MouseMove: {
        if (pressBar_ != bar || !(mouse->buttons() & Qt::LeftButton) || pressEntry_ < 0 ||
            (pos - pressPos_).manhattanLength() < QApplication::startDragDistance())
            return pressBar_ == bar;
        const std::string key = KeyOf(bar);
        const CommandBar* model = model_.Find(key);
        const int entry = pressEntry_;
        pressBar_ = nullptr;
        if (!model || entry >= int(model->entries.size())) return true;
        const BarEntry dragged = model->entries[entry];
        if (!dragged.IsPopup() && dragged.id <= 0) return true;  // separators and what the frame fills stay
        auto* drag = new QDrag(bar);
        drag->setMimeData(dragged.IsPopup() ? Make("menu", QString::fromStdString(dragged.popup), key, entry)
                                            : Make("command", QString::number(dragged.id), key, entry));
        if (QAction* action = dragged.IsPopup() ? nullptr : commands_.Action(dragged.id); action && !action->icon().isNull())
            drag->setPixmap(action->icon().pixmap(16, 16));
        // The bars are rebuilt only after the drag: the widget under the press must live until then.
        dragging_ = true;
        changedInDrag_ = false;
        const Qt::DropAction result = drag->exec(Qt::MoveAction);
        dragging_ = false;
        // Dropped where nothing takes it: off the bar.
        if (result == Qt::IgnoreAction) changedInDrag_ = model_.Remove(key, entry) || changedInDrag_;
        if (changedInDrag_) QMetaObject::invokeMethod(this, [this] { Changes(); }, Qt::QueuedConnection);
        return true;
    }
    default:
        return false;
    }
}

bool CCommandBarsManager::DragOnBar(QWidget* bar, QEvent* event) {
    auto* drop = static_cast<QDropEvent*>(event);
    const QPoint pos = drop->position().toPoint();
    std::string key;
    int position = -1;
    if (!DropTarget(bar, pos, drop->mimeData(), &key, &position)) return false;
    const bool move = Read(drop->mimeData())->from.size() > 0;
    drop->setDropAction(move ? Qt::MoveAction : Qt::CopyAction);
    if (event->type() == QEvent::Drop) {
        Drop(key, position, drop->mimeData());
    } else if (bar == menuBar_) {
        // Over a menu's title the menu opens, so the command can go to a place inside it.
        QAction* action = menuBar_->actionAt(pos);
        if (action && action->menu() && !action->menu()->isVisible())
            action->menu()->popup(menuBar_->mapToGlobal(menuBar_->actionGeometry(action).bottomLeft()));
    }
    drop->accept();
    return true;
}

}  // namespace orvane::app
