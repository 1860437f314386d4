// The chart view's window: a tool bar over up to five stacked charts and the
// horizontal bar they share. It keeps the charts' order and groups, carries
// the tool commands, and hands zoom and scroll on within a group.
#pragma once

#include <QWidget>

#include <array>
#include <map>

#include "ChartDraw.h"
#include "ChartGroups.h"
#include "PaneModel.h"
#include "TimeView.h"

class QAction;
class QMenu;
class QScrollBar;
class QTimer;
class QToolBar;

namespace orvane {
struct UsbItem;
}

namespace orvane::velmora {

class CVelmoraBase;

class CTrafficPane : public QWidget {
    Q_OBJECT
public:
    CTrafficPane(PaneModel& model, QWidget* parent);
    ~CTrafficPane() override;

    PaneModel& Model() { return model_; }
    const PaneModel& Model() const { return model_; }
    PacketPainter& Painter() { return painter_; }
    ChartGroups& Groups() { return groups_; }

    // Gives the pane the chart of a class it has none for (taking it over);
    // false when it has one. The pane builds its own charts this way.
    bool InstallChart(CVelmoraBase* chart);
    // The chart of a class; null for a class this build has no chart for.
    CVelmoraBase* Chart(int32_t cls) const { return charts_[size_t(cls)]; }
    CVelmoraBase* CurrentChart() const { return current_; }
    void SetCurrentChart(CVelmoraBase* chart);
    uint32_t ToolMode() const { return toolMode_; }
    void SetToolMode(uint32_t mode);
    bool SyncViews() const { return syncViews_; }
    uint32_t ChildViewFlags() const { return childViewFlags_; }
    bool NoCharts() const { return noCharts_; }
    QRect ChartRectOf(int32_t cls) const { return chartRects_[size_t(cls)]; }

    QToolBar* ToolBar() const { return toolbar_; }
    QAction* Action(uint32_t command) const;
    QAction* ChartAction(int32_t cls) const { return chartActions_[size_t(cls)]; }
    QScrollBar* HBar() const { return hbar_; }

    // ---- commands ----
    void OnCommand(uint32_t command);
    void OnToggleChart(int32_t cls);
    // A chart's close button.
    void ToggleChart(CVelmoraBase* chart);
    void OnSyncViews();
    void RecalcLayout();
    void UpdateCommands();
    void RefreshSyncViews();

    // ---- groups ----
    int32_t GetChartGroup(const CVelmoraBase* chart) const;
    bool SetChartGroup(CVelmoraBase* chart, int32_t group);
    bool AllInOneGroup() const { return groups_.AllInOneGroup(); }
    // Queued, as the charts' zoom and scroll hand-over always is.
    void PostGroupMessage(uint32_t code);
    void OnGroupMessage(uint32_t code);
    double GetCenterTime(const CVelmoraBase& chart) const;
    CVelmoraBase* FindGroupPartner(CVelmoraBase* chart);
    // Fills a chart's scale and offset from `source` (the current chart when
    // null); 1 when both are of one family.
    int32_t GetSyncView(CVelmoraBase* chart, double* scale, double* offset, CVelmoraBase* source);
    void SetHBar(const ScrollBarState& bar);
    // A double-click: the list's answering selection is dropped once.
    void PublishGoToPacket(int64_t index);

    // ---- the view's events, on the GUI thread ----
    void OnCaptureCleared();
    void OnDataLoaded();
    void ShowPacket(const UsbItem* item, const PacketRecord& record, bool currentGroupOnly);

    // Room for the tool bar and one chart with its axes and info strip.
    QSize sizeHint() const override { return QSize(640, 280); }
    QSize minimumSizeHint() const override { return QSize(160, 150); }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void CreateToolBar();
    void ShowCharts(uint32_t flags);
    void HideCharts(uint32_t flags);
    void OnHScrollAction(int action);

    PaneModel& model_;
    PacketPainter painter_;
    ChartGroups groups_;
    std::array<CVelmoraBase*, kChartClasses> charts_{};
    std::array<QRect, kChartClasses> chartRects_{};
    std::array<QAction*, kChartClasses> chartActions_{};
    CVelmoraBase* current_ = nullptr;
    uint32_t toolMode_;
    bool syncViews_ = false;
    bool noCharts_ = true;
    uint32_t childViewFlags_ = 0;
    QToolBar* toolbar_ = nullptr;
    QMenu* viewList_ = nullptr;
    std::map<uint32_t, QAction*> actions_;
    QScrollBar* hbar_ = nullptr;
    QTimer* timer_ = nullptr;
};

}  // namespace orvane::velmora
