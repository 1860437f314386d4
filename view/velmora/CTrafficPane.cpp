#include "CTrafficPane.h"

#include <QAction>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <cmath>

#include "ChartCommands.h"
#include "ChartText.h"
#include "BinEngine.h"
#include "CBinChart.h"
#include "CLengthChart.h"
#include "CTrafficCtrl.h"
#include "IDataSource.h"

namespace orvane::velmora {

namespace {

constexpr int kToolbarTimerMs = 500;


}  // namespace

CTrafficPane::CTrafficPane(PaneModel& model, QWidget* parent)
    : QWidget(parent), model_(model), toolMode_(CmdPointer)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    childViewFlags_ = model_.store.ReadChildViewType();
    CreateToolBar();
    hbar_ = new QScrollBar(Qt::Horizontal, this);
    connect(hbar_, &QScrollBar::actionTriggered, this, &CTrafficPane::OnHScrollAction);
    InstallChart(new CTrafficCtrl(*this, this));
    InstallChart(new CPacketLenght(*this, this));
    InstallChart(new CDataLength(*this, this));
    InstallChart(new CBusUsage(*this, this));
    InstallChart(new CSpeed(*this, this));
    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, &CTrafficPane::UpdateCommands);
    timer_->start(kToolbarTimerMs);
    RecalcLayout();
    UpdateCommands();
}

CTrafficPane::~CTrafficPane()
{
    // The charts go first: they read the pane while they are destroyed.
    for (CVelmoraBase*& chart : charts_) {
        delete chart;
        chart = nullptr;
    }
    current_ = nullptr;
}

void CTrafficPane::CreateToolBar()
{
    toolbar_ = new QToolBar(this);
    toolbar_->setIconSize(QSize(16, 15));
    viewList_ = new QMenu(this);
    for (int32_t cls = 0; cls < kChartClasses; ++cls) {
        QAction* action = viewList_->addAction(QString::fromUtf8(kChartCaptions[size_t(cls)]));
        action->setCheckable(true);
        action->setStatusTip(QString::fromUtf8(kChartPrompts[size_t(cls)]));
        action->setData(uint32_t(CmdChartFirst + cls));
        connect(action, &QAction::triggered, this, [this, cls] { OnToggleChart(cls); });
        chartActions_[size_t(cls)] = action;
    }
    for (const CommandInfo& info : kToolbar) {
        if (!info.id) {
            toolbar_->addSeparator();
            continue;
        }
        QString prompt = QString::fromUtf8(info.prompt);
        if (info.id == CmdViewList) {
            auto* button = new QToolButton(toolbar_);
            QAction* action = new QAction(CommandIcon(info.id), prompt, button);
            action->setData(info.id);
            action->setMenu(viewList_);
            actions_[info.id] = action;
            button->setDefaultAction(action);
            button->setPopupMode(QToolButton::MenuButtonPopup);
            button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
            toolbar_->addWidget(button);
            continue;
        }
        QAction* action = toolbar_->addAction(CommandIcon(info.id), prompt);
        action->setToolTip(prompt);
        action->setData(info.id);
        action->setCheckable(true);
        actions_[info.id] = action;
        uint32_t id = info.id;
        connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    }
}

bool CTrafficPane::InstallChart(CVelmoraBase* chart)
{
    CVelmoraBase*& slot = charts_[size_t(chart->Class())];
    if (slot) return false;
    slot = chart;
    chart->setParent(this);
    chart->hide();
    chart->LoadSettings();
    if (childViewFlags_ & ChartBitOf(chart->Class())) {
        ShowCharts(ChartBitOf(chart->Class()));
        syncViews_ = groups_.AllInOneGroup();
        RecalcLayout();
        if (model_.Loaded()) chart->Reload();
    }
    UpdateCommands();
    return true;
}

QAction* CTrafficPane::Action(uint32_t command) const
{
    auto it = actions_.find(command);
    return it == actions_.end() ? nullptr : it->second;
}

// ---- current chart and tools ----

void CTrafficPane::SetCurrentChart(CVelmoraBase* chart)
{
    if (chart == current_) return;
    CVelmoraBase* old = current_;
    current_ = chart;
    if (old) old->Invalidate();
    if (current_) {
        current_->Invalidate();
        SetHBar(current_->View().Bar());
    }
    UpdateCommands();
}

void CTrafficPane::SetToolMode(uint32_t mode)
{
    toolMode_ = mode;
    UpdateCommands();
}

void CTrafficPane::OnCommand(uint32_t command)
{
    if (command == CmdSyncViews) {
        OnSyncViews();
        UpdateCommands();
        return;
    }
    toolMode_ = PickTool(toolMode_, command);
    UpdateCommands();
}

void CTrafficPane::UpdateCommands()
{
    if (!toolbar_) return;
    ZoomTests tests;
    if (current_) {
        tests = {current_->CanZoomInH(), current_->CanZoomOutH(), current_->IsFitH(),
                 current_->CanZoomInV(), current_->CanZoomOutV(), current_->IsFitV()};
    }
    for (uint32_t id : {CmdPointer, CmdZoomOutH, CmdZoomInH, CmdFitH, CmdZoomOutV, CmdZoomInV, CmdFitV}) {
        CommandState state = ZoomToolState(id, current_ != nullptr, model_.Loaded(), tests, &toolMode_);
        QAction* action = Action(id);
        action->setEnabled(state.enabled);
        action->setChecked(state.checked);
    }
    QAction* sync = Action(CmdSyncViews);
    sync->setEnabled(groups_.Shown().size() >= 2);
    sync->setChecked(syncViews_);
    for (int32_t cls = 0; cls < kChartClasses; ++cls) {
        chartActions_[size_t(cls)]->setEnabled(charts_[size_t(cls)] != nullptr);
        chartActions_[size_t(cls)]->setChecked(groups_.IsShown(cls));
    }
}

void CTrafficPane::RefreshSyncViews()
{
    syncViews_ = groups_.AllInOneGroup();
    UpdateCommands();
}

// ---- showing and hiding ----

void CTrafficPane::ShowCharts(uint32_t flags)
{
    for (int32_t cls = 0; cls < kChartClasses; ++cls) {
        CVelmoraBase* chart = charts_[size_t(cls)];
        if (!(flags & ChartBitOf(cls)) || !chart || groups_.IsShown(cls)) continue;
        int32_t group = 0;
        model_.store.ReadChartSetting(kChartClassNames[size_t(cls)], text::kGroup, &group);
        groups_.Show(cls, group);
        chart->show();
    }
    if (!current_ && !groups_.Shown().empty()) current_ = charts_[size_t(groups_.Shown().front().cls)];
}

void CTrafficPane::HideCharts(uint32_t flags)
{
    for (int32_t cls = 0; cls < kChartClasses; ++cls) {
        CVelmoraBase* chart = charts_[size_t(cls)];
        if (!(flags & ChartBitOf(cls)) || !groups_.Hide(cls)) continue;
        chart->hide();
        chartRects_[size_t(cls)] = QRect();
        if (chart == current_) {
            current_ = groups_.Shown().empty() ? nullptr : charts_[size_t(groups_.Shown().front().cls)];
            if (current_) current_->Invalidate();
        }
    }
}

void CTrafficPane::OnToggleChart(int32_t cls)
{
    uint32_t bit = ChartBitOf(cls);
    if (groups_.IsShown(cls)) {
        childViewFlags_ &= ~bit;
        HideCharts(bit);
    } else {
        childViewFlags_ |= bit;
        ShowCharts(bit);
    }
    RecalcLayout();
    model_.store.WriteChildViewType(childViewFlags_);
    // A chart shown after the capture came fits it like the others; one shown after a clear it missed
    // drops the old capture's scale as the shown charts did.
    if (CVelmoraBase* chart = charts_[size_t(cls)]; chart && groups_.IsShown(cls))
        model_.Loaded() ? chart->Reload() : chart->Reset();
    UpdateCommands();
}

void CTrafficPane::ToggleChart(CVelmoraBase* chart)
{
    if (chart) OnToggleChart(chart->Class());
}

void CTrafficPane::RecalcLayout()
{
    int32_t top = 0, bottom = height();
    if (toolbar_) {
        int32_t h = toolbar_->sizeHint().height();
        toolbar_->setGeometry(0, 0, width(), h);
        top = h;
    }
    if (hbar_) {
        int32_t h = hbar_->sizeHint().height();
        hbar_->setGeometry(0, bottom - h, width(), h);
        bottom -= h;
    }
    const auto& shown = groups_.Shown();
    noCharts_ = shown.empty();
    auto rects = LayoutCharts({0, top, width(), std::max(top, bottom)}, int32_t(shown.size()));
    for (size_t i = 0; i < shown.size(); ++i) {
        const ChartRect& r = rects[i];
        QRect rect(r.left, r.top, r.right - r.left, r.bottom - r.top);
        chartRects_[size_t(shown[i].cls)] = rect;
        charts_[size_t(shown[i].cls)]->setGeometry(rect);
    }
    update();
}

void CTrafficPane::resizeEvent(QResizeEvent*) { RecalcLayout(); }

void CTrafficPane::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), noCharts_ ? FromColorRef(kPaneEmpty) : palette().window().color());
}

// ---- groups ----

int32_t CTrafficPane::GetChartGroup(const CVelmoraBase* chart) const
{
    return chart ? groups_.GroupOf(chart->Class()) : 0;
}

bool CTrafficPane::SetChartGroup(CVelmoraBase* chart, int32_t group)
{
    return chart && groups_.SetGroup(chart->Class(), group);
}

void CTrafficPane::OnSyncViews()
{
    auto groups = groups_.Regroup(syncViews_);
    if (groups.empty()) return;
    const auto& shown = groups_.Shown();
    for (size_t k = 0; k < shown.size(); ++k)
        model_.store.WriteChartSetting(kChartClassNames[size_t(shown[k].cls)], text::kGroup, groups[k]);
    syncViews_ = !syncViews_;
    PostGroupMessage(GroupScroll);
}

void CTrafficPane::PostGroupMessage(uint32_t code)
{
    QMetaObject::invokeMethod(this, [this, code] { OnGroupMessage(code); }, Qt::QueuedConnection);
}

void CTrafficPane::OnGroupMessage(uint32_t code)
{
    if (!current_) return;
    for (int32_t cls : groups_.Members(GetChartGroup(current_)))
        if (CVelmoraBase* chart = charts_[size_t(cls)]) chart->OnGroupCommand(code);
    SetHBar(current_->View().Bar());
    UpdateCommands();
}

double CTrafficPane::GetCenterTime(const CVelmoraBase& chart) const
{
    QRect plot = chart.PlotRect();
    return TimeView::CenterTime(chart.View().hPos, plot.left(), plot.left() + plot.width(), chart.View().scale);
}

CVelmoraBase* CTrafficPane::FindGroupPartner(CVelmoraBase* chart)
{
    if (!chart) return nullptr;
    int32_t cls = groups_.FindPartner(chart->Class());
    return cls < 0 ? nullptr : charts_[size_t(cls)];
}

int32_t CTrafficPane::GetSyncView(CVelmoraBase* chart, double* scale, double* offset, CVelmoraBase* source)
{
    if (!source) source = current_;
    if (!chart || !source || chart == source) return 0;
    if (IsPerPacket(chart->Class()) == IsPerPacket(source->Class())) {
        *scale = source->View().scale;
        *offset = std::trunc(source->View().hPos);
        return 1;
    }
    if (CVelmoraBase* partner = FindGroupPartner(chart)) *scale = partner->View().scale;
    // A bin chart keeps to its own zoom range, so a deep per-packet zoom
    // never makes it walk millions of empty bins.
    if (!IsPerPacket(chart->Class())) *scale = std::clamp(*scale, kMinBinScale, kMaxBinScale);
    *offset = std::max(0.0, GetCenterTime(*source) * chart->View().scale);
    return 0;
}

void CTrafficPane::SetHBar(const ScrollBarState& bar)
{
    QSignalBlocker block(hbar_);
    hbar_->setRange(bar.minimum, std::max(bar.minimum, bar.maximum - bar.page));
    hbar_->setPageStep(std::max(bar.page, 1));
    hbar_->setValue(bar.position);
}

void CTrafficPane::OnHScrollAction(int action)
{
    int32_t code = ScrollCodeOf(action);
    if (!current_ || code < 0) return;
    current_->HScroll(code, hbar_->sliderPosition());
    hbar_->setSliderPosition(current_->View().Bar().position);
}

void CTrafficPane::PublishGoToPacket(int64_t index)
{
    model_.publishingGoTo = true;
    if (model_.publisher) model_.publisher->Publish(model_.handler, EventGoToPacket, intptr_t(index), 0);
    model_.publishingGoTo = false;
}

// ---- events ----

void CTrafficPane::OnCaptureCleared()
{
    for (const ChartEntry& entry : groups_.Shown()) charts_[size_t(entry.cls)]->Reset();
    UpdateCommands();
}

void CTrafficPane::OnDataLoaded()
{
    groups_.firstSyncPending = true;
    if (!groups_.Shown().empty()) SetCurrentChart(charts_[size_t(groups_.Shown().front().cls)]);
    UpdateCommands();
    for (const ChartEntry& entry : groups_.Shown()) charts_[size_t(entry.cls)]->Reload();
    UpdateCommands();
}

void CTrafficPane::ShowPacket(const UsbItem* item, const PacketRecord& record, bool currentGroupOnly)
{
    std::vector<int32_t> classes;
    if (currentGroupOnly)
        classes = groups_.Members(GetChartGroup(current_));
    else
        for (const ChartEntry& entry : groups_.Shown()) classes.push_back(entry.cls);
    for (int32_t cls : classes) charts_[size_t(cls)]->ShowPacket(item, record);
}

}  // namespace orvane::velmora
