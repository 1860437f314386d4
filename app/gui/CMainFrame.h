// The analyser's main window: menus, toolbar, status bar, the packet list in
// the middle and the device and decode panes docked beside it. It owns the
// event bus, the document and the capture worker.
#pragma once

#include <QMainWindow>

#include <memory>

#include "CCaptureWorker.h"
#include "CDecodeFactory.h"
#include "CEventPublisher.h"
#include "COrvaneDoc.h"

class QAction;
class QLabel;
class QProgressBar;
class QTimer;

namespace orvane::app {

class CPacketListModel;
class CPanelDetail;
class CPanelDevice;
class CUsbListCtrl;
class SettingStore;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    // Takes `device` (null: no analyser; every capture command does nothing).
    explicit CMainFrame(IDevice* device, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // The user's settings (not owned) for the panes that keep things there.
    void SetSettings(SettingStore* settings);

    // The device library beside the program, or null without one.
    static IDevice* LoadDevice();

    CCaptureWorker& Worker() { return *worker_; }
    COrvaneDoc& Document() { return doc_; }
    IEventPublisher& Publisher() { return bus_; }
    CPacketListModel* ListModel() const { return model_.get(); }
    CUsbListCtrl* ListCtrl() const { return list_; }
    CPanelDetail* DetailPane() const { return detail_; }
    CPanelDevice* DevicePane() const { return device_; }
    QLabel* StatusPane() const { return status_; }

    // ---- commands ----
    void OnFileNew();
    void OnFileOpen();
    bool OpenProject(const QString& path);
    bool SaveProject(const QString& path);
    void OnFileSave();
    void OnFileSaveAs();
    void OnStartRecord();
    void OnStopRecord();
    void OnStorageSettings();
    void OnTransactionLevel();
    void OnTransferLevel();
    void OnToggleHide(uint32_t flag);

    // The 200 ms tick: device status and command states.
    void UpdateStatus();
    void UpdateCommands();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateActions();
    void CreateMenusAndToolbar();
    void UpdateTitle();
    void ShowError(const std::string& error);
    bool ConfirmDiscard();
    void SetProgress(int position);

    CDecodeFactory factory_;
    COrvaneDoc doc_;
    CEventPublisher bus_;
    std::unique_ptr<CPacketListModel> model_;
    std::unique_ptr<CCaptureWorker> worker_;
    QString path_;

    CUsbListCtrl* list_ = nullptr;
    CPanelDetail* detail_ = nullptr;
    CPanelDevice* device_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* status_ = nullptr;
    QTimer* timer_ = nullptr;

    QAction* new_ = nullptr;
    QAction* open_ = nullptr;
    QAction* save_ = nullptr;
    QAction* saveAs_ = nullptr;
    QAction* exit_ = nullptr;
    QAction* start_ = nullptr;
    QAction* stop_ = nullptr;
    QAction* storage_ = nullptr;
    QAction* transaction_ = nullptr;
    QAction* transfer_ = nullptr;
    QAction* hideSof_ = nullptr;
    QAction* hideNak_ = nullptr;
    QAction* hideBus_ = nullptr;
};

}  // namespace orvane::app
