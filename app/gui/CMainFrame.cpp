#include "CMainFrame.h"

#include <dlfcn.h>

#include <QAction>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include "AppDirectory.h"
#include "CPacketListModel.h"
#include "CPanelDetail.h"
#include "CPanelDevice.h"
#include "CUsbListCtrl.h"
#include "IPrompt.h"
#include "SetupXml.h"

namespace orvane::app {

namespace {

const char* const kFileFilter = "Orvane Files (*.usb)";

QString U(const char* text) { return QString::fromUtf8(text); }

}  // namespace

IDevice* CMainFrame::LoadDevice() {
    const std::string library = GetAppDirectory() + "/libpardix.so";
    // Kept loaded for the whole run: the device object's code lives there.
    void* module = dlopen(library.c_str(), RTLD_NOW);
    auto create = module ? reinterpret_cast<CreateDeviceFn>(dlsym(module, kCreateDeviceExport)) : nullptr;
    return create ? create() : nullptr;
}

CMainFrame::CMainFrame(IDevice* device, QWidget* parent)
    : QMainWindow(parent), doc_(&factory_), model_(std::make_unique<CPacketListModel>()) {
    setObjectName("CMainFrame");
    list_ = new CUsbListCtrl(model_.get(), this);
    setCentralWidget(list_);

    device_ = new CPanelDevice(this);
    detail_ = new CPanelDetail(this);
    addDockWidget(Qt::LeftDockWidgetArea, device_);
    addDockWidget(Qt::RightDockWidgetArea, detail_);
    resizeDocks({device_, detail_}, {260, 320}, Qt::Horizontal);

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

    CCaptureWorker::Options options;
    // Worker thread: the bar is moved on the UI thread.
    options.progress = [this](int32_t position) {
        QMetaObject::invokeMethod(this, [this, position] { SetProgress(position); }, Qt::QueuedConnection);
    };
    worker_ = std::make_unique<CCaptureWorker>(doc_, device, model_.get(), std::move(options));
    model_->SetWorker(worker_.get());
    list_->SetDocument(&doc_, &worker_->DocumentMutex());
    worker_->SetPublisher(&bus_);

    // A reset list has lost its rows, and maybe the tree they showed: the
    // detail pane must not go on showing, or ask about, an item of it.
    connect(model_.get(), &QAbstractItemModel::modelReset, detail_, &CPanelDetail::Clear);

    bus_.Subscribe(detail_);
    bus_.Subscribe(device_);
    detail_->SetPublisher(&bus_);
    device_->SetPublisher(&bus_);
    model_->SetPublisher(&bus_);

    CreateActions();
    CreateMenusAndToolbar();

    QSettings settings("Kavrin", "Orvane");
    restoreState(settings.value("NormalLayout").toByteArray());

    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, &CMainFrame::UpdateStatus);
    timer_->start(200);
    UpdateStatus();
    UpdateTitle();
    resize(1280, 720);
}

CMainFrame::~CMainFrame() {
    timer_->stop();
    // The worker feeds the list until it ends.
    worker_->Shutdown();
    delete list_;
    list_ = nullptr;
}

void CMainFrame::SetSettings(SettingStore* settings) {
    list_->SetSettings(settings);
    device_->SetSettings(settings);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    QSettings settings("Kavrin", "Orvane");
    settings.setValue("NormalLayout", saveState());
    worker_->Shutdown();
    event->accept();
}

void CMainFrame::CreateActions() {
    QStyle* s = style();
    auto make = [this](const char* text, const QIcon& icon, QKeySequence key, auto handler) {
        auto* action = new QAction(icon, U(text), this);
        if (!key.isEmpty()) action->setShortcut(key);
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    new_ = make("新建(&N)", s->standardIcon(QStyle::SP_FileIcon), QKeySequence::New, &CMainFrame::OnFileNew);
    open_ = make("打开(&O)...", s->standardIcon(QStyle::SP_DialogOpenButton), QKeySequence::Open,
                 &CMainFrame::OnFileOpen);
    save_ = make("保存(&S)", s->standardIcon(QStyle::SP_DialogSaveButton), QKeySequence::Save,
                 &CMainFrame::OnFileSave);
    saveAs_ = make("另存为(&A)...", QIcon(), QKeySequence(), &CMainFrame::OnFileSaveAs);
    exit_ = make("退出(&X)", QIcon(), QKeySequence(), &QWidget::close);
    start_ = make("开始(&S)", s->standardIcon(QStyle::SP_MediaPlay), QKeySequence(Qt::Key_F5),
                  &CMainFrame::OnStartRecord);
    stop_ = make("停止(&P)", s->standardIcon(QStyle::SP_MediaStop), QKeySequence(Qt::Key_F7),
                 &CMainFrame::OnStopRecord);
    storage_ = make("存储设置(&R)", s->standardIcon(QStyle::SP_FileDialogInfoView), QKeySequence(),
                    &CMainFrame::OnStorageSettings);
    transaction_ = make("事务级别显示", s->standardIcon(QStyle::SP_FileDialogListView), QKeySequence(),
                        &CMainFrame::OnTransactionLevel);
    transfer_ = make("传输级别显示", s->standardIcon(QStyle::SP_FileDialogDetailedView), QKeySequence(),
                     &CMainFrame::OnTransferLevel);
    hideSof_ = make("隐藏 &SOFs", QIcon(), QKeySequence(), [this] { OnToggleHide(CCaptureWorker::HideSof); });
    hideNak_ = make("隐藏 &NAKs", QIcon(), QKeySequence(), [this] { OnToggleHide(CCaptureWorker::HideNak); });
    hideBus_ = make("隐藏总线状态(&B)", QIcon(), QKeySequence(),
                    [this] { OnToggleHide(CCaptureWorker::HideBusState); });
    for (QAction* a : {transaction_, transfer_, hideSof_, hideNak_, hideBus_}) a->setCheckable(true);
}

void CMainFrame::CreateMenusAndToolbar() {
    QMenu* file = menuBar()->addMenu(U("文件(&F)"));
    file->addActions({new_, open_, save_, saveAs_});
    file->addSeparator();
    file->addAction(exit_);

    QMenu* record = menuBar()->addMenu(U("记录(&R)"));
    record->addActions({start_, stop_});
    record->addSeparator();
    record->addAction(storage_);

    QMenu* view = menuBar()->addMenu(U("视图(&V)"));
    view->addActions({transaction_, transfer_});
    view->addSeparator();
    view->addActions({hideSof_, hideNak_, hideBus_});
    view->addSeparator();
    QAction* devicePane = device_->toggleViewAction();
    QAction* detailPane = detail_->toggleViewAction();
    detailPane->setText(U("解码(&T)"));
    view->addActions({devicePane, detailPane});

    QToolBar* bar = addToolBar("Standard");
    bar->setObjectName("Standard");
    bar->addActions({new_, open_, save_});
    bar->addSeparator();
    bar->addActions({start_, stop_});
    bar->addSeparator();
    bar->addActions({transaction_, transfer_});
    bar->addSeparator();
    bar->addActions({hideSof_, hideNak_, hideBus_});
    bar->addSeparator();
    bar->addAction(storage_);
}

void CMainFrame::UpdateTitle() {
    const QString name = path_.isEmpty() ? U("无标题") : QFileInfo(path_).fileName();
    setWindowTitle(name + " - Orvane");
}

void CMainFrame::UpdateStatus() {
    status_->setText(QString::fromStdString(worker_->StatusText()));
    UpdateCommands();
}

void CMainFrame::UpdateCommands() {
    const bool idle = worker_->IsIdle();
    start_->setEnabled(worker_->CanStart());
    stop_->setEnabled(worker_->CanStop());
    transaction_->setEnabled(idle);
    transfer_->setEnabled(idle && worker_->DataAvailable());
    transaction_->setChecked(!worker_->TransferLevelShown());
    transfer_->setChecked(worker_->TransferLevelShown());
    const uint32_t hide = worker_->HideFilterFlags();
    hideSof_->setEnabled(idle);
    hideNak_->setEnabled(idle);
    hideBus_->setEnabled(idle);
    hideSof_->setChecked(hide & CCaptureWorker::HideSof);
    hideNak_->setChecked(hide & CCaptureWorker::HideNak);
    hideBus_->setChecked(hide & CCaptureWorker::HideBusState);
    // Opening, renewing or saving while the worker owns the trees is refused.
    for (QAction* a : {new_, open_, save_, saveAs_}) a->setEnabled(idle);
}

void CMainFrame::SetProgress(int position) {
    progress_->setVisible(position >= 0);
    if (position >= 0) progress_->setValue(position);
}

void CMainFrame::ShowError(const std::string& error) {
    if (!error.empty()) Prompt().Message(this, QMessageBox::Warning, QString::fromStdString(error));
}

void CMainFrame::OnFileNew() {
    if (!worker_->ClearCapture()) return;
    doc_.OnNewDocument();
    path_.clear();
    UpdateTitle();
    UpdateCommands();
}

void CMainFrame::OnFileOpen() {
    const QString path = Prompt().OpenFileName(this, QString(), kFileFilter);
    if (!path.isEmpty()) OpenProject(path);
}

bool CMainFrame::OpenProject(const QString& path) {
    std::string error;
    if (!worker_->OpenProject(path.toStdString(), &error)) {
        ShowError(error);
        return false;
    }
    path_ = path;
    UpdateTitle();
    UpdateCommands();
    return true;
}

bool CMainFrame::SaveProject(const QString& path) {
    std::string error;
    if (!worker_->SaveProject(path.toStdString(), &error)) {
        ShowError(error);
        return false;
    }
    path_ = path;
    UpdateTitle();
    return true;
}

void CMainFrame::OnFileSave() {
    if (path_.isEmpty()) OnFileSaveAs(); else SaveProject(path_);
}

void CMainFrame::OnFileSaveAs() {
    QString path = Prompt().SaveFileName(this, path_, kFileFilter);
    if (path.isEmpty()) return;
    if (!path.endsWith(".usb", Qt::CaseInsensitive)) path += ".usb";
    SaveProject(path);
}

void CMainFrame::OnStartRecord() {
    CCaptureWorker::StartResult result = worker_->StartRecord();
    if (result == CCaptureWorker::StartResult::SetupRejected) {
        // No settings sheet yet: the default settings stand in for it.
        OnStorageSettings();
        result = worker_->StartRecord();
    }
    UpdateCommands();
}

void CMainFrame::OnStopRecord() {
    worker_->StopRecord();
    UpdateCommands();
}

void CMainFrame::OnStorageSettings() {
    SetupXml setup;
    setup.LoadOrDefault(doc_.GetSetup());
    std::lock_guard lock(worker_->DocumentMutex());
    doc_.SetSetup(setup.Text());
}

void CMainFrame::OnTransactionLevel() {
    worker_->OnTransactionLevel();
    UpdateCommands();
}

void CMainFrame::OnTransferLevel() {
    worker_->OnTransferLevel();
    UpdateCommands();
}

void CMainFrame::OnToggleHide(uint32_t flag) {
    worker_->ToggleHideFilter(flag);
    UpdateCommands();
}

}  // namespace orvane::app
