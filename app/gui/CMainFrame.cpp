#include "CMainFrame.h"

#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDockWidget>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QMimeData>
#include <QPixmap>
#include <QProgressBar>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include "AppDirectory.h"
#include "CAboutDlg.h"
#include "CCommandBarsManager.h"
#include "CCustomizeDlg.h"
#include "CPacketListModel.h"
#include "CPanelDetail.h"
#include "CPanelDevice.h"
#include "CProgressDlg.h"
#include "CUsbListCtrl.h"
#include "CViewFactory.h"
#include "DesktopServices.h"
#include "IPrompt.h"
#include "PaneIcons.h"
#include "SettingStore.h"
#include "CRecordSheet.h"
#include "SetupXml.h"
#include "StandardCommands.h"
#include "WindowLayout.h"

namespace orvane::app {

namespace {

const char* const kFileFilter = "Orvane Files (*.usb)";
const char* const kLayoutKey = "NormalLayout";
// Set while a saved layout is being restored: found at a start, that restore
// ended the program.
const char* const kRestoringKey = "RestoringLayout";
const char* const kRecentKey = "Recent File List";
constexpr int kRecentCount = 4;
constexpr int kDemoLimit = cmd::DemoLast - cmd::DemoFirst + 1;

QString U(const char* text) { return QString::fromUtf8(text); }

QString PaneName(uint32_t id) { return QStringLiteral("Pane%1").arg(id); }

// The first icon of a plug-in's strip; none when it has no image.
QIcon FirstIcon(const ImageList& list) {
    QPixmap strip;
    if (!list.png || !list.pngSize || !strip.loadFromData(list.png, list.pngSize)) return {};
    return QIcon(strip.copy(0, 0, int(list.iconWidth), int(list.iconHeight)));
}

// The menu bar, the "Standard" toolbar and the menus as the program first has
// them; the plug-ins' items follow "解码(&T)" in the menu that holds it.
std::vector<CommandBar> FirstBars(const std::vector<int>& paneItems, std::string* viewMenu) {
    CommandBar menuBar{CCommandBars::kMenuBar, {}, BarKind::MenuBar, false, {}};
    CommandBar toolbar{CCommandBarsManager::kToolBar, {}, BarKind::ToolBar, false, {}};
    for (int id : StandardToolbar()) toolbar.entries.push_back({id, {}});
    std::vector<CommandBar> bars;
    for (const MenuLayout& layout : StandardMenus()) {
        CommandBar menu{"Menu" + std::to_string(bars.size()), layout.title, BarKind::Menu, false, {}};
        for (int entry : layout.entries) {
            menu.entries.push_back({entry, {}});
            if (entry != cmd::PaneDetail) continue;
            *viewMenu = menu.key;
            for (int id : paneItems) menu.entries.push_back({id, {}});
        }
        menuBar.entries.push_back({0, menu.key});
        bars.push_back(std::move(menu));
    }
    bars.insert(bars.begin(), {std::move(menuBar), std::move(toolbar)});
    return bars;
}

bool IsProjectFile(const QString& path) { return path.endsWith(".usb", Qt::CaseInsensitive); }

// The first local ".usb" file of a drag, empty when there is none.
QString DroppedProject(const QMimeData* data) {
    if (!data || !data->hasUrls()) return {};
    for (const QUrl& url : data->urls())
        if (url.isLocalFile() && IsProjectFile(url.toLocalFile())) return url.toLocalFile();
    return {};
}

}  // namespace

IDevice* CMainFrame::LoadDevice() {
    const std::string library = GetAppDirectory() + "/libpardix.so";
    // Kept loaded for the whole run: the device object's code lives there.
    void* module = dlopen(library.c_str(), RTLD_NOW);
    auto create = module ? reinterpret_cast<CreateDeviceFn>(dlsym(module, kCreateDeviceExport)) : nullptr;
    return create ? create() : nullptr;
}

CMainFrame::CMainFrame(IDevice* device, QWidget* parent) : CMainFrame(Options{.device = device}, parent) {}

CMainFrame::CMainFrame(Options options, QWidget* parent)
    : QMainWindow(parent),
      device_(options.device),
      ownFactory_(options.factory ? nullptr : std::make_unique<CDecodeFactory>()),
      factory_(options.factory ? options.factory : ownFactory_.get()),
      ownSettings_(options.settings ? nullptr : std::make_unique<SettingStore>(std::string())),
      settings_(options.settings ? options.settings : ownSettings_.get()),
      doc_(factory_),
      model_(std::make_unique<CPacketListModel>()),
      demoFolder_(options.demoFolder.empty() ? GetAppDirectory() + "/../demo" : options.demoFolder) {
    setObjectName("CMainFrame");
    setAcceptDrops(true);
    setDockOptions(dockOptions() | QMainWindow::AllowTabbedDocks);
    list_ = new CUsbListCtrl(model_.get(), this);
    setCentralWidget(list_);

    progress_ = new QProgressBar(this);
    progress_->setRange(0, 100);
    progress_->setFixedWidth(200);
    progress_->setToolTip(U("进度"));
    progress_->hide();
    status_ = new QLabel(this);
    status_->setFixedWidth(200);
    status_->setToolTip(U("设备状态"));
    statusBar()->addPermanentWidget(progress_);
    statusBar()->addPermanentWidget(status_);

    CPacketList& list = model_->List();
    list.SetBookmarks(&doc_.Bookmarks());
    list.SetTriggerRecord(doc_.TriggerRecordAddress());
    model_->SetRoot(&doc_.TransactionRoot());
    model_->SetRowDecoder(&doc_.Parser());
    model_->SetRowCount(model_->RebuildRows());

    CCaptureWorker::Options workerOptions;
    // Worker thread: the bar is moved and the commands updated on the UI thread.
    workerOptions.progress = [this](int32_t position) {
        QMetaObject::invokeMethod(this, [this, position] { SetProgress(position); }, Qt::QueuedConnection);
    };
    workerOptions.stateChanged = [this] {
        QMetaObject::invokeMethod(this, [this] { UpdateCommands(); }, Qt::QueuedConnection);
    };
    workerOptions.warning = [this](const std::string& text) {
        QMetaObject::invokeMethod(
            this, [this, text] { Tell(QMessageBox::Warning, QString::fromStdString(text)); }, Qt::QueuedConnection);
    };
    worker_ = std::make_unique<CCaptureWorker>(doc_, device_, model_.get(), std::move(workerOptions));
    model_->SetWorker(worker_.get());
    list_->SetDocument(&doc_, &worker_->DocumentMutex());
    list_->SetSettings(settings_);
    worker_->SetPublisher(&bus_);

    devicePane_ = new CPanelDevice(this);
    detail_ = new CPanelDetail(this);
    devicePane_->setObjectName(PaneName(cmd::PaneDevice));
    devicePane_->SetSettings(settings_);
    // A reset list has lost its rows, and maybe the tree they showed: the
    // detail pane must not go on showing, or ask about, an item of it.
    connect(model_.get(), &QAbstractItemModel::modelReset, detail_, &CPanelDetail::Clear);
    detail_->setObjectName(PaneName(cmd::PaneDetail));
    addDockWidget(Qt::LeftDockWidgetArea, devicePane_);
    addDockWidget(Qt::RightDockWidgetArea, detail_);
    resizeDocks({devicePane_, detail_}, {260, 320}, Qt::Horizontal);
    // Detail pane first, then the device pane, the view plug-ins and last the
    // list: the order handlers hear events in.
    bus_.Subscribe(detail_);
    bus_.Subscribe(devicePane_);
    detail_->SetPublisher(&bus_);
    devicePane_->SetPublisher(&bus_);

    commands_ = new CCommandRegistry(this);
    DefineStandardCommands(*commands_);
    for (uint32_t id : {uint32_t(cmd::PaneDevice), uint32_t(cmd::PaneDetail)}) {
        commands_->Action(int(id))->setIcon(PaneIcon(id));
        Pane(id)->setWindowIcon(PaneIcon(id));
    }
    BindCommands();
    toolbar_ = addToolBar("Standard");
    toolbar_->setObjectName("Standard");
    demoMenu_ = new QMenu(U("演示文件"), this);
    commands_->WatchMenu(demoMenu_);
    for (int i = 0; i < kRecentCount; ++i) {
        const int id = cmd::FileMru1 + i;
        recentActions_.append(commands_->Define(id, QString()));
        commands_->Bind(id, [this, i] { OpenRecentFile(i); }, [this] { return worker_->CanReplaceCapture(); });
    }
    views_ = std::make_unique<CViewFactory>(options.viewFolder.empty() ? GetAppDirectory() + "/view"
                                                                        : options.viewFolder);
    CreatePluginPanes();
    model_->SetPublisher(&bus_);
    CreateDemoMenu();
    CreateMenus();

    resize(1280, 720);
    const QByteArray layout = SavedLayout();
    restoreState(layout);
    DockPluginPanes();
    if (!layout.isEmpty()) {
        QSettings settings("Kavrin", "Orvane");
        settings.remove(kRestoringKey);
        settings.sync();
    }

    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, &CMainFrame::UpdateStatus);
    timer_->start(200);
    // A changed layout or a named configuration reaches the disk soon, not only
    // at exit: a killed or crashed program keeps what the user set.
    settingsSave_ = new QTimer(this);
    settingsSave_->setSingleShot(true);
    settingsSave_->setInterval(kSettingsSaveDelayMs);
    connect(settingsSave_, &QTimer::timeout, this, [this] {
        if (settings_->GetPath().empty()) return;  // in memory only
        std::string error;
        if (!settings_->Save(&error)) qWarning("%s", error.c_str());
    });
    connect(list_, &CUsbListCtrl::SettingsChanged, settingsSave_, qOverload<>(&QTimer::start));
    connect(devicePane_, &CPanelDevice::SettingsChanged, settingsSave_, qOverload<>(&QTimer::start));
    UpdateStatus();
    UpdateTitle();
}

CMainFrame::~CMainFrame() {
    timer_->stop();
    ReleaseDevice();
    delete list_;
    list_ = nullptr;
    // The views go before their libraries: the factory unloads them.
    for (auto& [id, pane] : plugins_) {
        if (pane.dock) pane.dock->setWidget(nullptr);
        if (pane.view) pane.view->Release();
        pane.view = nullptr;
    }
    views_.reset();
    // The panes point at the bus, the document and the settings, which go
    // with the members, before the window deletes its children.
    bus_.Unsubscribe(detail_);
    bus_.Unsubscribe(devicePane_);
    removeDockWidget(detail_);
    removeDockWidget(devicePane_);
    delete detail_;
    delete devicePane_;
    detail_ = nullptr;
    devicePane_ = nullptr;
}

void CMainFrame::ReleaseDevice() {
    if (released_) return;
    released_ = true;
    // A save still writing (a quit while its dialog is up) uses the device: it goes first.
    EndSave(true);
    // Nothing feeds the list or publishes once the worker has ended.
    worker_->Stop();
    // On this thread and at once: the list, the panes and the views drop
    // what they show and hold of the capture, and their queued work for it.
    bus_.Publish(model_.get(), EventCaptureCleared, 0, 0);
    doc_.Parser().SetDataSource(nullptr);
    device_ = nullptr;
    worker_->Shutdown();
}

void CMainFrame::SetSettings(SettingStore* settings) {
    if (!settings && !ownSettings_) ownSettings_ = std::make_unique<SettingStore>(std::string());
    settings_ = settings ? settings : ownSettings_.get();
    list_->SetSettings(settings_);
    devicePane_->SetSettings(settings_);
}

// ---------------------------------------------------------------- commands and menus

void CMainFrame::BindCommands() {
    CCommandRegistry& c = *commands_;
    CCaptureWorker& w = *worker_;
    auto idle = [&w] { return w.IsIdle(); };
    auto replaceable = [&w] { return w.CanReplaceCapture(); };
    c.Bind(cmd::FileNew, [this] { OnFileNew(); }, replaceable);
    c.Bind(cmd::FileOpen, [this] { OnFileOpen(); }, replaceable);
    c.Bind(cmd::FileSave, [this] { OnFileSave(); }, idle);
    c.Bind(cmd::FileSaveAs, [this] { OnFileSaveAs(); }, idle);
    c.Bind(cmd::AppExit, [this] { close(); });
    c.Bind(cmd::StartRecord, [this] { OnStartRecord(); }, [&w] { return w.CanStart(); });
    c.Bind(cmd::StopRecord, [this] { OnStopRecord(); }, [&w] { return w.CanStop(); });
    c.Bind(cmd::StorageSettings, [this] { OnStorageSettings(); });
    c.Bind(cmd::TransactionLevel, [this] { OnTransactionLevel(); }, idle,
           [&w] { return !w.TransferLevelShown(); });
    c.Bind(cmd::TransferLevel, [this] { OnTransferLevel(); }, [&w] { return w.IsIdle() && w.DataAvailable(); },
           [&w] { return w.TransferLevelShown(); });
    const std::pair<int, uint32_t> hides[] = {{cmd::HideSof, CCaptureWorker::HideSof},
                                              {cmd::HideNak, CCaptureWorker::HideNak},
                                              {cmd::HideBusState, CCaptureWorker::HideBusState}};
    for (auto [id, flag] : hides)
        c.Bind(id, [this, flag] { OnToggleHide(flag); }, idle,
               [&w, flag] { return (w.HideFilterFlags() & flag) != 0; });
    // The packet list serves its own commands, from the menus and the toolbar as from its row menu.
    for (int id : {cmd::ClearFilter, cmd::CopyRows, cmd::ToggleSubtree, cmd::SetTrigger, cmd::AddTrigger,
                   cmd::GoToTrigger, cmd::AddMark, cmd::EditMark, cmd::DeleteMark, cmd::DeleteAllMarks,
                   cmd::PreviousMark, cmd::NextMark, cmd::FindSettings, cmd::SetFindCondition, cmd::FindPrevious,
                   cmd::FindNext, cmd::TriggerSettings})
        c.Bind(id, [this, id] { list_->OnCommand(id); }, [this, id] { return list_->IsCommandEnabled(id); });
    // The standard copy key copies the list's rows whenever they can be copied.
    // The row menu runs the same actions, so its entries show their shortcuts
    // and every command picked there is followed by one update pass.
    list_->SetRowMenuRoute([&c](int id) { return c.Action(id); });
    connect(list_, &CUsbListCtrl::RowMenuAboutToShow, &c, &CCommandRegistry::Update);
    c.Bind(cmd::EditCopy, [&c] { c.Execute(cmd::CopyRows); },
           [&c] { return c.Action(cmd::CopyRows)->isEnabled(); });
    c.Bind(cmd::ViewToolBar, [this] { toolbar_->setVisible(!toolbar_->isVisible()); }, {},
           [this] { return toolbar_ && !toolbar_->isHidden(); });
    c.Bind(cmd::ViewStatusBar, [this] { statusBar()->setVisible(!statusBar()->isVisible()); }, {},
           [this] { return !statusBar()->isHidden(); });
    c.Bind(cmd::PaneDevice, [this] { ShowPane(cmd::PaneDevice); });
    c.Bind(cmd::PaneDetail, [this] { ShowPane(cmd::PaneDetail); });
    c.Bind(cmd::NextPane, [this] { CyclePane(true); });
    c.Bind(cmd::PreviousPane, [this] { CyclePane(false); });
    c.Bind(cmd::Customize, [this] { OnCustomize(); });
    c.Bind(cmd::About, [this] { OnAbout(); });
    c.Bind(cmd::HelpTopics, [] { OpenHelp(); });
    c.Bind(cmd::CheckUpdate, [] { StartUpdater(); });
}

void CMainFrame::CreateMenus() {
    std::string viewKey;
    std::vector<CommandBar> first = FirstBars(paneItems_, &viewKey);
    bars_ = new CCommandBarsManager(this, toolbar_, *commands_, std::move(first), [this](QMenu* menu, int marker) {
        if (marker == MenuDemoFiles) {
            menu->addMenu(demoMenu_);
        } else if (marker == MenuRecentFiles) {
            fileMenu_ = menu;
            menu->addActions(recentActions_);
            recentAnchor_ = menu->addSeparator();
            connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateRecentMenu, Qt::UniqueConnection);
            UpdateRecentMenu();
        }
    });
    bars_->Load();
    viewMenu_ = bars_->Menu(viewKey);
}

void CMainFrame::CreatePluginPanes() {
    for (int32_t i = 0; i < views_->GetCount(); ++i) {
        IUsbView* view = views_->CreateView(i);
        if (!view) continue;
        ViewInfo info;
        view->GetInfo(&info);
        const uint32_t id = info.id;
        if (id < cmd::PluginPaneFirst || id > cmd::PaneLast || plugins_.count(id)) {
            std::fprintf(stderr, "orvane: view plug-in %s skipped: pane id %u is not free\n",
                         views_->GetPath(i).c_str(), id);
            view->Release();
            continue;
        }
        PluginPane& pane = plugins_[id];
        pane.view = view;
        pane.path = views_->GetPath(i);
        view->Attach(&bus_);
        const QString title = QString::fromStdString(info.title);
        QAction* item = commands_->Define(int(id), title);
        commands_->Bind(int(id), [this, id] { ShowPane(id); });
        // Each goes right after "解码(&T)", so the plug-ins list in reverse factory order.
        paneItems_.insert(paneItems_.begin(), int(id));

        pane.title = title;
        pane.icon = FirstIcon(info.icon);
        item->setIcon(pane.icon);
    }
}

void CMainFrame::DockPluginPanes() {
    // Made after the layout is restored, so each can ask it for its own place.
    for (auto& [id, pane] : plugins_) {
        pane.dock = new QDockWidget(pane.title, this);
        pane.dock->setObjectName(PaneName(id));
        pane.dock->setWindowIcon(pane.icon);
        // The window is made on the first showing, also when a restored layout shows it.
        connect(pane.dock, &QDockWidget::visibilityChanged, this, [this, id = id](bool visible) {
            if (visible) EnsurePaneWindow(id);
        });
        if (restoreDockWidget(pane.dock)) continue;
        // Out of the layout until it is first shown: a layout stored before
        // then does not hold it either.
        pane.dock->hide();
        pane.unplaced = true;
    }
}

void CMainFrame::PlaceFirstShown(QDockWidget* dock) {
    // A pane the layout never held opens at a usable size: its window's
    // preferred size, and at least a third of the window's height. Beside the
    // panes already open at the bottom when all fit, else as a tab of one.
    QList<QDockWidget*> row;  // one of each tab group
    const QSize hint = dock->sizeHint();
    int needed = hint.width();
    for (QDockWidget* other : findChildren<QDockWidget*>(Qt::FindDirectChildrenOnly)) {
        if (other == dock || other->isHidden() || other->isFloating() || dockWidgetArea(other) != Qt::BottomDockWidgetArea)
            continue;
        const QList<QDockWidget*> tabs = tabifiedDockWidgets(other);
        if (std::any_of(row.begin(), row.end(), [&](QDockWidget* d) { return tabs.contains(d); })) continue;
        int widest = other->sizeHint().width();
        for (QDockWidget* tab : tabs) widest = std::max(widest, tab->sizeHint().width());
        row.append(other);
        needed += widest;
    }
    addDockWidget(Qt::BottomDockWidgetArea, dock);
    const bool tabbed = !row.isEmpty() && needed > width();
    if (tabbed) tabifyDockWidget(row.last(), dock);
    dock->show();
    dock->raise();
    layout()->activate();
    // Its place (its tab group) gets the width it wants; the others give it up
    // in proportion to what they have.
    QDockWidget* mine = tabbed ? row.last() : dock;
    const QList<QDockWidget*> places = tabbed ? row : row + QList<QDockWidget*>{dock};
    if (places.size() > 1) {
        const int target = std::max(hint.width(), tabbed ? mine->width() : 0);
        int total = 0, others = 0;
        for (QDockWidget* place : places) {
            total += place->width();
            if (place != mine) others += place->width();
        }
        const int left = std::max(total - target, int(places.size()) - 1);
        QList<int> widths;
        for (QDockWidget* place : places)
            widths.append(place == mine ? target : int(int64_t(place->width()) * left / std::max(others, 1)));
        resizeDocks(places, widths, Qt::Horizontal);
    }
    const int wanted = std::max(hint.height(), height() / 3);
    resizeDocks({dock}, {wanted}, Qt::Vertical);
    layout()->activate();
    // Tabs take their bar's height from the area: the pane keeps what it wanted.
    if (dock->height() < wanted) resizeDocks({dock}, {2 * wanted - dock->height()}, Qt::Vertical);
}

std::map<uint32_t, std::string> CMainFrame::ViewPlugins() const {
    std::map<uint32_t, std::string> paths;
    for (const auto& [id, pane] : plugins_) paths[id] = pane.path;
    return paths;
}

void CMainFrame::EnsurePaneWindow(uint32_t id) {
    auto it = plugins_.find(id);
    if (it == plugins_.end() || !it->second.view || it->second.dock->widget()) return;
    IUsbView* view = it->second.view;
    auto* window = static_cast<QWidget*>(view->GetHwnd());
    if (!window) window = static_cast<QWidget*>(view->Create(this));
    if (!window) return;
    it->second.dock->setWidget(window);
    window->show();
}

void CMainFrame::CreateDemoMenu() {
    QDir folder(QString::fromStdString(demoFolder_));
    const QStringList names = folder.entryList({"*.usb"}, QDir::Files, QDir::Name);
    for (const QString& name : names) {
        if (demoFiles_.size() == kDemoLimit) break;
        const int id = cmd::DemoFirst + int(demoFiles_.size());
        const int index = int(demoFiles_.size());
        demoFiles_.append(folder.absoluteFilePath(name));
        demoMenu_->addAction(commands_->Define(id, name));
        commands_->Bind(id, [this, index] { OpenDemoFile(index); }, [this] { return worker_->CanReplaceCapture(); });
    }
    demoMenu_->setEnabled(!demoFiles_.isEmpty());
}

QDockWidget* CMainFrame::Pane(uint32_t id) const {
    if (id == cmd::PaneDevice) return devicePane_;
    if (id == cmd::PaneDetail) return detail_;
    auto it = plugins_.find(id);
    return it == plugins_.end() ? nullptr : it->second.dock;
}

void CMainFrame::ShowPane(uint32_t id) {
    QDockWidget* dock = Pane(id);
    if (!dock) return;
    if (auto it = plugins_.find(id); it != plugins_.end() && it->second.unplaced) {
        it->second.unplaced = false;
        EnsurePaneWindow(id);  // its window tells the size it wants
        PlaceFirstShown(dock);
    } else {
        dock->show();
        dock->raise();
        EnsurePaneWindow(id);
    }
    if (QWidget* inside = dock->widget()) inside->setFocus(Qt::OtherFocusReason);
}

void CMainFrame::CyclePane(bool forward) {
    QList<QWidget*> panes{list_};
    for (QDockWidget* dock : findChildren<QDockWidget*>(Qt::FindDirectChildrenOnly))
        if (dock->isVisible() && dock->widget()) panes.append(dock->widget());
    int current = -1;
    for (QWidget* focus = QApplication::focusWidget(); focus && current < 0; focus = focus->parentWidget())
        current = int(panes.indexOf(focus));
    const int count = int(panes.size());
    const int next = current < 0 ? 0 : (current + (forward ? 1 : count - 1)) % count;
    panes[next]->setFocus(Qt::OtherFocusReason);
}

// ---------------------------------------------------------------- recent files

QStringList CMainFrame::RecentFiles() const {
    QSettings settings("Kavrin", "Orvane");
    QStringList files;
    for (int i = 1; i <= kRecentCount; ++i) {
        const QString file = settings.value(QStringLiteral("%1/File%2").arg(kRecentKey).arg(i)).toString();
        if (!file.isEmpty()) files.append(file);
    }
    return files;
}

void CMainFrame::AddRecentFile(const QString& path) {
    QStringList files = RecentFiles();
    const QString full = QFileInfo(path).absoluteFilePath();
    files.removeAll(full);
    files.prepend(full);
    QSettings settings("Kavrin", "Orvane");
    for (int i = 0; i < kRecentCount; ++i)
        settings.setValue(QStringLiteral("%1/File%2").arg(kRecentKey).arg(i + 1), i < files.size() ? files[i] : QString());
    UpdateRecentMenu();
}

void CMainFrame::UpdateRecentMenu() {
    const QStringList files = RecentFiles();
    for (int i = 0; i < int(recentActions_.size()); ++i) {
        QAction* action = recentActions_[i];
        action->setVisible(i < files.size());
        if (i < files.size()) action->setText(QStringLiteral("&%1 %2").arg(i + 1).arg(QFileInfo(files[i]).fileName()));
    }
    if (recentAnchor_) recentAnchor_->setVisible(!files.isEmpty());
}

void CMainFrame::OpenRecentFile(int index) {
    const QStringList files = RecentFiles();
    if (index < 0 || index >= files.size()) return;
    const CCaptureWorker::DecodingPause pause(*worker_);
    if (!SaveModified()) return;
    OpenProject(files[index]);
}

// ---------------------------------------------------------------- layout, drops, close

QByteArray CMainFrame::SavedLayout() {
    QSettings settings("Kavrin", "Orvane");
    const QByteArray layout = settings.value(kLayoutKey).toByteArray();
    const std::string_view bytes(layout.constData(), size_t(layout.size()));
    std::string error;
    if (settings.value(kRestoringKey).toBool())
        error = "its restore ended the last start";
    else if (!layout.isEmpty() && !CheckWindowLayout(bytes, &error))
        error = "it is damaged (" + error + ")";
    if (!error.empty()) {
        // The default layout, and the next close saves a sound one.
        qWarning("The saved window layout is dropped for the default one: %s.", error.c_str());
        settings.remove(kLayoutKey);
        settings.remove(kRestoringKey);
        settings.sync();
        return {};
    }
    // On disk before the restore: a restore that takes the program down is not tried again.
    if (!layout.isEmpty()) {
        settings.setValue(kRestoringKey, true);
        settings.sync();
    }
    return layout;
}

void CMainFrame::SaveLayout() {
    QSettings settings("Kavrin", "Orvane");
    settings.setValue(kLayoutKey, saveState());
}

void CMainFrame::QuitAtOnce() {
    quitting_ = true;
    close();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (released_) {
        event->accept();
        return;
    }
    // The customise sheet runs inside this window's command: a close waits
    // for it, a quit closes it too (its loop ends once this returns).
    if (bars_->Customising() && !quitting_) {
        event->ignore();
        return;
    }
    if (customize_) customize_->reject();
    // A save asked for here needs the worker idle.
    const CCaptureWorker::DecodingPause pause(*worker_);
    if (!quitting_ && !SaveModified()) {
        event->ignore();
        return;
    }
    SaveLayout();
    ReleaseDevice();
    event->accept();
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    if (!DroppedProject(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event) {
    const QString path = DroppedProject(event->mimeData());
    if (path.isEmpty()) return;
    event->acceptProposedAction();
    if (!worker_->CanReplaceCapture()) return;
    const CCaptureWorker::DecodingPause pause(*worker_);
    if (!SaveModified()) return;
    OpenProject(path);
}

// ---------------------------------------------------------------- status

void CMainFrame::UpdateTitle() { setWindowTitle(DisplayName() + " - Orvane"); }

QString CMainFrame::DisplayName() const { return path_.isEmpty() ? U("无标题") : QFileInfo(path_).fileName(); }

void CMainFrame::UpdateStatus() {
    status_->setText(QString::fromStdString(worker_->StatusText()));
    UpdateCommands();
}

void CMainFrame::UpdateCommands() { commands_->Update(); }

void CMainFrame::SetProgress(int position) {
    progress_->setVisible(position >= 0);
    if (position >= 0) progress_->setValue(position);
}

void CMainFrame::ShowError(const std::string& error) {
    if (!error.empty()) Tell(QMessageBox::Warning, QString::fromStdString(error));
}

void CMainFrame::Tell(QMessageBox::Icon icon, const QString& text) {
    // A box after the close would run its loop over a window that is gone.
    if (!released_) Prompt().Message(this, icon, text);
}

// ---------------------------------------------------------------- projects

bool CMainFrame::SaveModified() {
    if (!doc_.IsModified()) return true;
    const QMessageBox::StandardButton answer =
        Prompt().Message(this, QMessageBox::Question, U("是否将更改保存到 %1？").arg(DisplayName()),
                         QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes);
    if (answer == QMessageBox::No) return true;
    if (answer != QMessageBox::Yes) return false;
    return OnFileSave(false);
}

void CMainFrame::OnFileNew() {
    if (!worker_->CanReplaceCapture()) return;
    // A class decoding gives way: a save needs the worker idle.
    const CCaptureWorker::DecodingPause pause(*worker_);
    if (!SaveModified()) return;
    if (!worker_->NewProject()) return;
    path_.clear();
    UpdateTitle();
}

void CMainFrame::OnFileOpen() {
    if (!worker_->CanReplaceCapture()) return;
    const CCaptureWorker::DecodingPause pause(*worker_);
    if (!SaveModified()) return;
    const QString path = Prompt().OpenFileName(this, QString(), kFileFilter);
    if (!path.isEmpty()) OpenProject(path);
}

void CMainFrame::OpenDemoFile(int index) {
    if (index < 0 || index >= demoFiles_.size()) return;
    const CCaptureWorker::DecodingPause pause(*worker_);
    if (!SaveModified()) return;
    OpenProject(demoFiles_[index]);
}

bool CMainFrame::OpenProject(const QString& path) {
    std::string error;
    CaptureCheck check;
    bool opened = worker_->OpenProject(path.toStdString(), &error, &check);
    if (!opened && !check.mismatches.empty()) {
        // Damaged capture files may still be worth opening; the user decides, "no" by default.
        const QString question = QString::fromStdString(COrvaneDoc::OpenAnywayQuestion(check.mismatches));
        if (Prompt().Message(this, QMessageBox::Warning, question, QMessageBox::Yes | QMessageBox::No,
                             QMessageBox::No) != QMessageBox::Yes)
            return false;
        check.insist = true;
        opened = worker_->OpenProject(path.toStdString(), &error, &check);
    }
    if (!opened) {
        ShowError(error);
        return false;
    }
    path_ = path;
    AddRecentFile(path);
    UpdateTitle();
    UpdateCommands();
    return true;
}

bool CMainFrame::WaitForUpload() {
    if (!device_) return true;
    // The payload an upload cut short (or never started) lacks is fetched here,
    // where it shows and can be cancelled, not inside the save. Once an upload
    // or fetch has ended the rest is asked for again: a fetch that one failed
    // read cut short mostly gets it the next time. The bound keeps an analyser
    // that fails every read from holding the save.
    constexpr int kFetches = 3;
    int fetches = 0;
    auto progress = [this, &fetches] {
        // A quit while the dialog waits released the device: the save is given up.
        if (!device_) return -1;
        for (;;) {
            int32_t now = 100;
            if (device_->Control(kControlUploadProgress, &now) && now < 100) return int(now);
            int32_t started = 0;
            if (fetches == kFetches || !device_->Control(kControlFetchPayload, &started) || started != 1) return 100;
            ++fetches;
        }
    };
    if (progress() >= 100) return true;
    CProgressDlg dialog(progress, this);
    return Prompt().Exec(dialog) == QDialog::Accepted && !released_;
}

struct CMainFrame::SaveJob {
    SaveProgress progress;
    std::mutex mutex;
    std::condition_variable ended;
    bool finished = false;  // the rest under `mutex`
    bool ok = false;
    std::string error;

    bool Finished() {
        std::lock_guard lock(mutex);
        return finished;
    }
};

bool CMainFrame::SaveInBackground(const std::string& path, std::string* error) {
    // A save that ends within this shows no dialog.
    constexpr auto kQuickSave = std::chrono::milliseconds(400);
    auto job = std::make_shared<SaveJob>();
    save_ = job;
    saveThread_ = std::thread([job, worker = worker_.get(), path] {
        std::string failed;
        const bool ok = worker->SaveProject(path, &failed, &job->progress);
        std::lock_guard lock(job->mutex);
        job->ok = ok;
        job->error = std::move(failed);
        job->finished = true;
        job->ended.notify_all();
    });
    bool quick;
    {
        std::unique_lock lock(job->mutex);
        quick = job->ended.wait_for(lock, kQuickSave, [&] { return job->finished; });
    }
    if (!quick) {
        // A quit while the dialog is up gives the save up and waits for it
        // (ReleaseDevice), so the dialog then sees it finished.
        CProgressDlg dialog([job] { return job->Finished() ? 100 : std::min(job->progress.Percent(), 99); }, this,
                            U("正在保存"), U("正在写入捕获文件..."));
        dialog.setObjectName(CProgressDlg::kSaveName);
        if (Prompt().Exec(dialog) != QDialog::Accepted) {
            job->progress.cancel = true;
            // The window goes on painting while the save winds down (a flush
            // under way ends first), taking no input; a quit still ends it.
            while (!job->Finished()) {
                QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
                std::unique_lock lock(job->mutex);
                job->ended.wait_for(lock, std::chrono::milliseconds(20), [&] { return job->finished; });
            }
        }
    }
    EndSave(false);
    std::lock_guard lock(job->mutex);
    if (error) *error = job->error;
    return job->ok;
}

void CMainFrame::EndSave(bool cancel) {
    if (!saveThread_.joinable()) return;
    if (cancel) save_->progress.cancel = true;
    saveThread_.join();
    save_.reset();
}

bool CMainFrame::SaveProject(const QString& path, bool showSaved) {
    // Without the device a save would write the project without its capture files.
    if (released_) return false;
    // The worker owns the trees and the records while it captures, parses or decodes.
    if (!worker_->IsIdle()) {
        Tell(QMessageBox::Information, U("正在记录或解析数据，请稍后再保存。"));
        return false;
    }
    // One save at a time: another asked for while a save's dialog is up is refused.
    if (saveThread_.joinable()) return false;
    if (!WaitForUpload()) return false;
    std::string error;
    if (!SaveInBackground(path.toStdString(), &error)) {
        ShowError(error);
        return false;
    }
    path_ = path;
    AddRecentFile(path);
    UpdateTitle();
    // Saved, with what the user must know of it (a capture saved as read in part).
    if (!error.empty()) Tell(QMessageBox::Information, QString::fromStdString(error));
    error.clear();
    if (showSaved && !worker_->ShowSavedCapture(path.toStdString(), &error)) ShowError(error);
    return true;
}

bool CMainFrame::OnFileSave(bool showSaved) {
    return path_.isEmpty() ? OnFileSaveAs(showSaved) : SaveProject(path_, showSaved);
}

bool CMainFrame::OnFileSaveAs(bool showSaved) {
    QString path = Prompt().SaveFileName(this, path_, kFileFilter);
    if (path.isEmpty()) return false;
    if (!IsProjectFile(path)) path += ".usb";
    return SaveProject(path, showSaved);
}

// ---------------------------------------------------------------- capture

void CMainFrame::OnStartRecord(bool defaultSetup) {
    if (defaultSetup) {
        std::lock_guard lock(worker_->DocumentMutex());
        SetupXml setup;
        if (!setup.Load(doc_.GetSetup())) doc_.SetSetup(setup.Text());
    }
    // While the analyser refuses the settings the sheet comes back; Cancel gives the capture up.
    CCaptureWorker::StartResult result;
    while ((result = worker_->StartRecord()) == CCaptureWorker::StartResult::SetupRejected)
        if (!CRecordSheet::EditDocumentSetup(this, doc_, &worker_->DocumentMutex(), -1)) break;
    // The project's files still hold the capture that is gone here: a save asks for a name, as after New.
    if (result == CCaptureWorker::StartResult::StartFailed) path_.clear();
    UpdateTitle();
}

void CMainFrame::OnStopRecord() { worker_->StopRecord(); }

void CMainFrame::OnStorageSettings() {
    CRecordSheet::EditDocumentSetup(this, doc_, &worker_->DocumentMutex(), CRecordSheet::RecordPage);
    UpdateTitle();
}

void CMainFrame::OnTransactionLevel() { worker_->OnTransactionLevel(); }

void CMainFrame::OnTransferLevel() { worker_->OnTransferLevel(); }

void CMainFrame::OnToggleHide(uint32_t flag) { worker_->ToggleHideFilter(flag); }

// ---------------------------------------------------------------- dialogs

void CMainFrame::OnCustomize() {
    if (bars_->Customising()) return;
    CCustomizeDlg dialog(*bars_, this);
    customize_ = &dialog;
    bars_->SetCustomising(true);
    Prompt().Exec(dialog);
    bars_->SetCustomising(false);
}

void CMainFrame::OnAbout() {
    CAboutDlg dialog(CAboutDlg::Collect(device_, factory_), this);
    Prompt().Exec(dialog);
}

}  // namespace orvane::app
