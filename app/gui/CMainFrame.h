// The analyser's main window: menus, the "Standard" toolbar, the status bar,
// the packet list in the middle, the device and decode panes and one pane per
// view plug-in docked around it. It owns the event bus, the document, the
// capture worker and the command registry.
#pragma once

#include <QIcon>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>

#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "CCaptureWorker.h"
#include "CCommandRegistry.h"
#include "CDecodeFactory.h"
#include "CEventPublisher.h"
#include "COrvaneDoc.h"
#include "CommandIds.h"

class QAction;
class QDialog;
class QDockWidget;
class QLabel;
class QMenu;
class QProgressBar;
class QTimer;
class QToolBar;

namespace orvane::app {

class CCommandBarsManager;
class CPacketListModel;
class CPanelDetail;
class CPanelDevice;
class CUsbListCtrl;
class CViewFactory;
class SettingStore;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    // How long after a change of the settings they are written.
    static constexpr int kSettingsSaveDelayMs = 500;

    struct Options {
        IDevice* device = nullptr;           // taken; null: no analyser
        CDecodeFactory* factory = nullptr;   // not owned; null: the frame scans its own
        SettingStore* settings = nullptr;    // not owned; null: in memory only
        std::string viewFolder;              // empty: "view" beside the program
        std::string demoFolder;              // empty: "../demo" beside the program
    };

    explicit CMainFrame(Options options, QWidget* parent = nullptr);
    // Takes `device` (null: no analyser; every capture command does nothing).
    explicit CMainFrame(IDevice* device, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // Other settings (not owned) for the panes that keep things there; null
    // goes back to the frame's own.
    void SetSettings(SettingStore* settings);

    // The device library beside the program, or null without one.
    static IDevice* LoadDevice();

    CCaptureWorker& Worker() { return *worker_; }
    COrvaneDoc& Document() { return doc_; }
    IEventPublisher& Publisher() { return bus_; }
    CCommandRegistry& Commands() { return *commands_; }
    CCommandBarsManager& CommandBars() { return *bars_; }
    SettingStore& Settings() { return *settings_; }
    IDevice* Device() const { return device_; }
    // A save's thread is writing (its dialog may be up).
    bool Saving() const { return saveThread_.joinable(); }
    IDecodeFactory& DecodeFactory() { return *factory_; }
    CPacketListModel* ListModel() const { return model_.get(); }
    CUsbListCtrl* ListCtrl() const { return list_; }
    CPanelDetail* DetailPane() const { return detail_; }
    CPanelDevice* DevicePane() const { return devicePane_; }
    QLabel* StatusPane() const { return status_; }
    QToolBar* StandardBar() const { return toolbar_; }
    QMenu* ViewMenu() const { return viewMenu_; }
    QMenu* DemoMenu() const { return demoMenu_; }
    // The dock of a pane id (4000, 4002, a plug-in's), null for none.
    QDockWidget* Pane(uint32_t id) const;
    // The library of each view plug-in that made a pane, by pane id.
    std::map<uint32_t, std::string> ViewPlugins() const;
    // The demonstration projects in menu order; entry i is command DemoFirst + i.
    const QStringList& DemoFiles() const { return demoFiles_; }
    const QString& ProjectPath() const { return path_; }

    // ---- commands ----
    void OnFileNew();
    void OnFileOpen();
    // Asks to save a modified project first; false when the user cancelled.
    bool SaveModified();
    // Closes without asking (the program was told to quit by a signal).
    void QuitAtOnce();
    // Opens without asking to save (the caller asked); capture files that do
    // not match the project are opened only when the user says so.
    bool OpenProject(const QString& path);
    // A save that read the rest of a capture shown short opens the project
    // again to show it whole, unless `showSaved` is off (the capture goes next).
    bool SaveProject(const QString& path, bool showSaved = true);
    bool OnFileSave(bool showSaved = true);
    bool OnFileSaveAs(bool showSaved = true);
    // A project whose settings the analyser refuses (a new one has none) opens
    // the record settings first. `defaultSetup`, for the command line's
    // demonstration capture: a project without settings takes the default ones.
    void OnStartRecord(bool defaultSetup = false);
    void OnStopRecord();
    void OnStorageSettings();
    void OnTransactionLevel();
    void OnTransferLevel();
    void OnToggleHide(uint32_t flag);
    void OpenDemoFile(int index);
    void OpenRecentFile(int index);
    // Shows, raises and focuses a pane; its window is created on the first showing.
    void ShowPane(uint32_t id);
    // Moves the focus to the next (or previous) visible pane, the list included.
    void CyclePane(bool forward);
    void OnCustomize();
    void OnAbout();

    // Fetches the payload the capture's store lacks, and waits for that or a
    // running upload behind the cancellable progress dialog, asking again (a
    // few times at most) when one ends short; false when the user cancelled.
    bool WaitForUpload();
    // Saves on a thread of its own, so that a large capture's files are
    // written behind the cancellable progress dialog, which a quick save never
    // shows; false when the save failed or was cancelled.
    bool SaveInBackground(const std::string& path, std::string* error);
    // Waits for a save's thread, after asking it to give up when `cancel`.
    void EndSave(bool cancel);

    // The 200 ms tick: device status and command states.
    void UpdateStatus();
    void UpdateCommands();

    // The recent-file list, newest first, at most 4 entries.
    QStringList RecentFiles() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    struct PluginPane {
        IUsbView* view = nullptr;
        QDockWidget* dock = nullptr;
        QString title;
        QIcon icon;
        bool unplaced = false;  // no layout has given it a place and size yet
        std::string path;
    };

    void BindCommands();
    void CreateMenus();
    void CreatePluginPanes();
    void DockPluginPanes();
    void PlaceFirstShown(QDockWidget* dock);
    void CreateDemoMenu();
    void UpdateRecentMenu();
    void AddRecentFile(const QString& path);
    void EnsurePaneWindow(uint32_t id);
    // The layout to restore, empty for the default one; a damaged layout, or
    // one whose restore ended the last start, is dropped from the settings.
    QByteArray SavedLayout();
    void SaveLayout();
    void UpdateTitle();
    void ShowError(const std::string& error);
    // A message box, none once the window has closed.
    void Tell(QMessageBox::Icon icon, const QString& text);
    // Close and quit end here: the worker stops, everything that reads the
    // capture lets go of it, and only then the device is released. Idempotent.
    void ReleaseDevice();
    void SetProgress(int position);
    QString DisplayName() const;

    IDevice* device_;
    std::unique_ptr<CDecodeFactory> ownFactory_;
    CDecodeFactory* factory_;
    std::unique_ptr<SettingStore> ownSettings_;
    SettingStore* settings_;
    COrvaneDoc doc_;
    CEventPublisher bus_;
    std::unique_ptr<CPacketListModel> model_;
    std::unique_ptr<CCaptureWorker> worker_;
    std::unique_ptr<CViewFactory> views_;
    std::map<uint32_t, PluginPane> plugins_;
    std::string demoFolder_;
    QStringList demoFiles_;
    QString path_;

    CCommandRegistry* commands_ = nullptr;
    CCommandBarsManager* bars_ = nullptr;
    std::vector<int> paneItems_;  // the plug-ins' View-menu items in menu order
    CUsbListCtrl* list_ = nullptr;
    CPanelDetail* detail_ = nullptr;
    CPanelDevice* devicePane_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* status_ = nullptr;
    QTimer* timer_ = nullptr;
    QTimer* settingsSave_ = nullptr;
    QToolBar* toolbar_ = nullptr;
    QMenu* viewMenu_ = nullptr;
    QMenu* demoMenu_ = nullptr;
    QMenu* fileMenu_ = nullptr;
    QPointer<QAction> recentAnchor_;
    QPointer<QDialog> customize_;  // the customise sheet while it is open
    QList<QAction*> recentActions_;
    bool layoutSaved_ = false;
    bool quitting_ = false;
    bool released_ = false;  // the device is gone: the window closed or is being destroyed
    struct SaveJob;
    std::shared_ptr<SaveJob> save_;  // the save running on saveThread_
    std::thread saveThread_;
};

}  // namespace orvane::app
