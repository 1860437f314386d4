// The chart window all charts derive from: layout (title, title buttons,
// plot, time axis, value axis, info strip), the time view and value scale,
// mouse tools, and a cached picture with transient marks (rubber band,
// crosshair, floating graphics, info strip) drawn over it, never into it.
#pragma once

#include <QPixmap>
#include <QPointer>
#include <QScrollBar>
#include <QWidget>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ChartDraw.h"
#include "ChartGroups.h"
#include "ChartText.h"
#include "PaneModel.h"
#include "TimeView.h"
#include "UsbItem.h"
#include "ValueScale.h"

namespace orvane::velmora {

class CTrafficPane;
class CDlgConfigBase;

// One entry of a chart's series list in its settings panel.
struct SeriesEntry {
    bool shown = false;
    std::string name;
};

class CVelmoraBase : public QWidget {
    Q_OBJECT
public:
    enum DragMode { DragNone = 0, DragBand = 1, DragCross = 2 };
    enum HoverButton { HoverNone = 0, HoverSettings = 1, HoverClose = 2 };

    CVelmoraBase(CTrafficPane& pane, int32_t cls, QWidget* parent);
    ~CVelmoraBase() override;

    int32_t Class() const { return cls_; }
    QString Caption() const { return caption_; }

    // ---- the charts' operations (replaced where a chart differs) ----
    virtual bool CanZoomInH() const { return view_.CanZoomIn(); }
    virtual bool CanZoomOutH() const { return view_.CanZoomOut(); }
    virtual void FitH();
    // Zoom keeping the time under a point relative to the plot's corner.
    void ZoomInAt(QPoint plotPoint);
    void ZoomOutAt(QPoint plotPoint);
    // One zoom step's factor.
    virtual double ZoomFactor() const { return 2.0; }
    virtual bool IsFitH() const { return view_.IsFit(); }
    virtual bool IsFitV() const { return vscale_.IsFit(); }
    virtual bool CanZoomInV() const { return vscale_.CanZoomIn(); }
    virtual bool CanZoomOutV() const { return vscale_.CanZoomOut(); }
    void ZoomOutV(QPoint plotPoint);
    virtual void GrowVRange() { vscale_.Grow(); }
    void ZoomInV(QPoint plotPoint);
    virtual void ShrinkVRange() { vscale_.Shrink(); }
    virtual void FitV();
    virtual void UpdateVScroll();
    virtual void Reset();
    virtual void ShowPacket(const UsbItem* item, const PacketRecord& record);
    virtual void Reload();
    virtual int32_t OnGroupCommand(uint32_t code);
    virtual void ShowConfigDialog() {}
    virtual QString GetInfoText() const { return {}; }
    // Reads the chart's ShowFly into LinearScale.
    virtual int32_t LoadSettings();
    virtual void DrawVAxis(QPainter& p, const QRect& axis);
    virtual int64_t VAxisValue(int32_t row, int64_t base) const { return vscale_.AxisValue(row, base); }
    // The value axis' label of a value.
    virtual QString VAxisLabel(int64_t value) const { return QString::number(value); }
    virtual void GetSeriesList(std::vector<SeriesEntry>*) const {}
    virtual void SetSeriesVisibility(const std::vector<bool>&) {}
    virtual int32_t GetSeriesCount() const { return 0; }
    virtual void ApplySettings();
    // The settings panel below the settings button, made on first use.
    CDlgConfigBase* ConfigDialog() const { return configDialog_; }

    // ---- shared ----
    TimeView& View() { return view_; }
    const TimeView& View() const { return view_; }
    ValueScale& Scale() { return vscale_; }
    const ValueScale& Scale() const { return vscale_; }
    void SetHPos(double value);
    void UpdateHScroll();
    void GoToTime(double t);
    void AdoptGroupView();
    // An action of the pane's horizontal bar, then the group follows.
    void HScroll(int32_t code, int32_t track);
    void SetUnitText(const QString& text);
    bool LinearScale() const { return linearScale_; }
    void SetLinearScale(bool on) { linearScale_ = on; }
    int32_t DragModeNow() const { return dragMode_; }
    // The cached picture is rebuilt at the next paint.
    void Invalidate();

    QRect PlotRect() const { return plotRect_; }
    QRect InfoRect() const { return infoRect_; }
    QRect TimeAxisRect() const { return timeAxisRect_; }
    QRect VAxisRect() const { return vAxisRect_; }
    QRect SettingsButtonRect() const { return settingsRect_; }
    QRect CloseButtonRect() const { return closeRect_; }
    uint32_t BackColour() const;

protected:
    // The chart's data into the white plot surface (0, 0 at the plot's corner).
    virtual void PaintData(QPainter& plot, double start, double end) {}
    // Transient marks of the chart itself over the cached picture.
    virtual void PaintOverlay(QPainter& p) {}
    // Drawn into the cached picture after the plot (the bin charts' legend).
    virtual void PaintFrameExtras(QPainter& p) {}
    // Opens the chart's panel, making it with `make` on first use.
    template <class Make>
    void OpenConfigDialog(Make make) {
        if (!configDialog_) configDialog_ = make();
        ShowConfig();
    }
    bool HasValueAxis() const { return cls_ != ChartTraffic; }
    virtual void OnPointerMoved(QPoint point) {}
    // The packet a double-click goes to, or -1.
    virtual int64_t PacketAt(QPoint point, bool left) const;

    CTrafficPane& Pane() { return pane_; }
    const PaneModel& Model() const;
    PaneModel& Model();
    ChartFonts& Fonts() { return fonts_; }
    const ChartFonts& Fonts() const { return fonts_; }
    // The time under the pointer, nothing outside the plot or the capture.
    std::optional<double> PointerTime() const {
        return pointerInPlot_ ? view_.CaptureTimeAt(lastMouse_.x()) : std::nullopt;
    }
    // The step the info strip reads times at, from the zoom.
    double ReadStep() const { return ReadingStep(view_.scale); }
    // The value under the pointer.
    double PointerValue() const { return vscale_.ValueAt(lastMouse_.y()); }
    void DrawFrame(QPainter& p);
    void DrawTimeAxis(QPainter& p, double start, double end);
    void DrawGrid(QPainter& plot, double start);
    // The plot is too small to draw anything into.
    bool TooSmall() const { return plotRect_.width() <= 40 || plotRect_.height() <= 8; }
    QPoint LastMouse() const { return lastMouse_; }
    // The times under the drag start and the pointer, ascending and cut to
    // the capture; nothing when the band lies outside it.
    std::optional<std::pair<double, double>> GetDragTimes() const;
    // The times the band's pixels cover, what its counts take.
    std::pair<double, double> GetDragCover() const { return view_.BandCover(dragStart_.x(), lastMouse_.x()); }

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    friend class CDlgConfigBase;
    void Layout();
    void RenderCache();
    void PaintInfoStrip(QPainter& p);
    void PaintBand(QPainter& p);
    void UpdateCursor(QPoint point);
    void BecomeCurrent();
    void OnVScroll(int action);
    // The value bar from the scale as it stands.
    void ShowVBar();
    void ShowConfig();

    CTrafficPane& pane_;
    int32_t cls_;
    QString caption_;
    QString unitText_;
    ChartFonts fonts_;
    TimeView view_;
    ValueScale vscale_;
    QScrollBar* vbar_ = nullptr;
    bool hGrid_ = true;
    bool vGrid_ = true;
    bool linearScale_ = true;
    int32_t hoverButton_ = HoverNone;
    int32_t dragMode_ = DragNone;
    QPoint dragStart_;
    QPoint lastMouse_{-1, -1};
    bool pointerInPlot_ = false;
    CDlgConfigBase* configDialog_ = nullptr;  // a child: deleted with the chart
    QPixmap cache_;
    bool dirty_ = true;
    QRect plotRect_, infoRect_, timeAxisRect_, vAxisRect_, settingsRect_, closeRect_;
};

}  // namespace orvane::velmora
