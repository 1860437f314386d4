// The tooltip's popup window: a thin Qt layer that gives the state machine
// its timers, the window under the cursor and the desktop, and shows the
// tip: the text laid out by the HTML engine, a balloon placed on the screen,
// its effect background, frame and soft shadow. With a compositor the tip is
// drawn translucent; without one it is blended over a copy of the screen
// taken before it showed.
#pragma once

#include <QBasicTimer>
#include <QImage>
#include <QPointer>
#include <QRegion>
#include <QWidget>

#include <map>
#include <memory>

#include "CDrawHelper.h"
#include "CHtmlDrawer.h"
#include "CHtmlTooltip.h"
#include "QtHtmlAdapter.h"
#include "TipShape.h"

namespace orvane {

struct TipShadow {
    int offsetX = 6;
    int offsetY = 6;
    bool blur = true;
    int depthX = 7;
    int depthY = 7;
    int darkness = 50;  // percent
};

class CTooltipWindow : public QWidget, private ITipWindow, private ITipTimers {
    Q_OBJECT
public:
    CTooltipWindow();
    ~CTooltipWindow() override;

    // Makes the popup for the owner; its messages reach the tooltip once the
    // owner relays them (RelayEventsOf or RelayEvent).
    bool Create(QWidget* owner);
    // Relays every event of the object to the tooltip, eating none.
    void RelayEventsOf(QObject* source);
    void RelayEvent(QEvent* event);

    void AddTool(QWidget* window, const ToolInfo& tool) { core_.AddTool(window, tool); }
    void RemoveAllTools() { core_.RemoveAllTools(); }
    void SetNotify(std::function<void(ToolTipDisplayNotify&)> notify) { core_.SetNotify(std::move(notify)); }
    void ShowTooltip(QPoint screen, const ToolInfo& tool) { core_.ShowTooltip({screen.x(), screen.y()}, tool); }
    void HideTooltip() { core_.HideTooltip(); }
    void HideNow() { core_.HideNow(); }

    CHtmlTooltip& Core() { return core_; }
    CHtmlDrawer& Drawer() { return drawer_; }
    const TipMetrics& Metrics() const { return metrics_; }
    const TipShadow& Shadow() const { return shadow_; }
    // Of the shown tip, in window coordinates.
    const TipPlacement& Placement() const { return placement_; }
    const QRegion& TipRegion() const { return tipRegion_; }
    const QRegion& WindowRegion() const { return windowRegion_; }
    bool Translucent() const { return translucent_; }
    // The grey the tip's region casts: a more transparent tip casts a lighter shadow.
    static int ShadowGrey(int darkness, int transparency);
    // The window's picture at a transparency, as a paint draws it.
    QImage Compose(int transparency);

protected:
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    virtual void DrawBorder(QImage& tip, const QRegion& region) const;

private:
    // ITipWindow
    TipWindow Handle() const override { return static_cast<const QWidget*>(this); }
    TipWindow WindowAt(TipPoint screen) const override;
    TipWindow ParentOf(TipWindow window) const override;
    bool IsEnabled(TipWindow window) const override;
    TipPoint ToClient(TipWindow window, TipPoint screen) const override;
    TipPoint CursorPos() const override;
    bool IsVisible() const override { return isVisible(); }
    void ShowTip(TipPoint point, const ToolInfo& tool, int transparency) override;
    void Redraw(int transparency) override;
    void HideWindow() override { hide(); }
    void MoveToCursor(TipPoint screen) override { move(screen.x, screen.y); }
    void ClickAt(TipPoint client) override;
    bool Animate() override { return drawer_.OnTimer(); }
    // ITipTimers
    void Set(int id, int ms) override;
    void Kill(int id) override;

    void FreeTipResources();

    QtTextMeasurer measurer_;
    QtHtmlResources resources_;
    CHtmlDrawer drawer_;
    CDrawHelper helper_;
    CHtmlTooltip core_;
    std::map<int, QBasicTimer> timers_;
    TipMetrics metrics_;
    TipShadow shadow_;
    Colorref borderColor_;
    bool translucent_ = false;
    bool created_ = false;
    int transparency_ = 0;
    TipPlacement placement_;
    QRegion tipRegion_;
    QRegion windowRegion_;
    QImage background_;  // the effect fill of body and tail
    QImage behind_;      // what lay beneath the window (no compositor)
    bool behindGrabbed_ = false;  // behind_ is a copy of the screen, not a plain fill
};

// Whether the desktop composites windows, so per-pixel transparency shows.
bool DesktopComposites();

}  // namespace orvane
