#include "CVelmoraBase.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <cmath>

#include "ChartCommands.h"
#include "ChartText.h"
#include "CDlgConfigBase.h"
#include "CTrafficPane.h"
#include "TimeAxis.h"

namespace orvane::velmora {

namespace {

// A bar action as the scroll codes count them.

Qt::CursorShape CursorOf(uint32_t tool)
{
    switch (tool) {
    case CmdZoomInH: return Qt::CrossCursor;
    case CmdZoomOutH: return Qt::SizeHorCursor;
    case CmdFitH: return Qt::SizeAllCursor;
    case CmdZoomInV: return Qt::UpArrowCursor;
    case CmdFitV: return Qt::SplitVCursor;
    case CmdZoomOutV: return Qt::SizeVerCursor;
    default: return Qt::ArrowCursor;
    }
}

}  // namespace

CVelmoraBase::CVelmoraBase(CTrafficPane& pane, int32_t cls, QWidget* parent)
    : QWidget(parent), pane_(pane), cls_(cls), caption_(QString::fromUtf8(kChartCaptions[size_t(cls)]))
{
    setMouseTracking(true);
    setFocusPolicy(Qt::ClickFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    view_.totalTime = Model().TotalTime();
    if (HasValueAxis()) {
        vbar_ = new QScrollBar(Qt::Vertical, this);
        vbar_->setRange(0, 40);
        vbar_->setPageStep(41);
        connect(vbar_, &QScrollBar::actionTriggered, this, &CVelmoraBase::OnVScroll);
    }
}

CVelmoraBase::~CVelmoraBase()
{
    if (configDialog_) {
        configDialog_->Disarm();
        delete configDialog_;
    }
}

const PaneModel& CVelmoraBase::Model() const { return pane_.Model(); }
PaneModel& CVelmoraBase::Model() { return pane_.Model(); }

uint32_t CVelmoraBase::BackColour() const { return pane_.CurrentChart() == this ? kBackCurrent : kBackOther; }

void CVelmoraBase::Invalidate()
{
    dirty_ = true;
    update();
}

// ---- layout ----

void CVelmoraBase::resizeEvent(QResizeEvent*)
{
    // A fitted chart stays fitted, also one fitted before it first had a size.
    bool fit = IsPerPacket(cls_) && view_.IsFit();
    Layout();
    if (fit) view_.Fit();
    UpdateHScroll();
    UpdateVScroll();
    Invalidate();
}

void CVelmoraBase::Layout()
{
    int32_t r = width(), b = height();
    settingsRect_ = QRect(r - 37, 6, 12, 12);
    closeRect_ = QRect(r - 22, 6, 12, 12);
    plotRect_ = QRect(41, 25, std::max(0, r - 27 - 41), std::max(0, b - 50 - 25));
    timeAxisRect_ = QRect(41, b - 50, std::max(0, r - 27 - 41), 18);
    infoRect_ = QRect(20, b - 27, std::max(0, r - 10 - 20), 17);
    vAxisRect_ = QRect(0, 20, 40, std::max(0, b - 32 - 20));
    if (vbar_) vbar_->setGeometry(r - 27, 25, 17, std::max(0, b - 75));
    view_.plotLeft = plotRect_.left();
    view_.plotWidth = plotRect_.width();
    vscale_.SetPlot(plotRect_.top(), plotRect_.top() + plotRect_.height());
}

// ---- horizontal view ----

void CVelmoraBase::UpdateHScroll()
{
    view_.totalTime = Model().TotalTime();
    view_.UpdateRange();
    if (pane_.CurrentChart() == this) pane_.SetHBar(view_.Bar());
}

void CVelmoraBase::SetHPos(double value)
{
    view_.SetHPos(value);
    if (pane_.CurrentChart() == this) pane_.SetHBar(view_.Bar());
}

void CVelmoraBase::FitH()
{
    view_.totalTime = Model().TotalTime();
    view_.Fit();
    if (pane_.CurrentChart() == this) pane_.SetHBar(view_.Bar());
    Invalidate();
}

void CVelmoraBase::ZoomInAt(QPoint p)
{
    view_.ZoomAt(p.x(), ZoomFactor());
    SetHPos(view_.hPos);
}

void CVelmoraBase::ZoomOutAt(QPoint p)
{
    view_.ZoomAt(p.x(), 1.0 / ZoomFactor());
    SetHPos(view_.hPos);
}

void CVelmoraBase::GoToTime(double t)
{
    SetHPos(t * view_.scale);
    Invalidate();
}

void CVelmoraBase::ShowPacket(const UsbItem*, const PacketRecord& record)
{
    GoToTime(double(record.Timestamp()) * kTickSeconds);
}

void CVelmoraBase::HScroll(int32_t code, int32_t track)
{
    view_.Scroll(code, track);
    SetHPos(view_.hPos);
    Invalidate();
    pane_.PostGroupMessage(GroupScroll);
}

void CVelmoraBase::AdoptGroupView()
{
    if (pane_.CurrentChart() == this) {
        FitH();
        return;
    }
    CVelmoraBase* source = pane_.FindGroupPartner(this);
    pane_.GetSyncView(this, &view_.scale, &view_.hPos, source ? source : pane_.CurrentChart());
    UpdateHScroll();
}

int32_t CVelmoraBase::OnGroupCommand(uint32_t code)
{
    pane_.GetSyncView(this, &view_.scale, &view_.hPos, nullptr);
    switch (code) {
    case GroupFit: FitH(); break;
    case GroupZoomIn:
    case GroupZoomOut: UpdateHScroll(); break;
    case GroupScroll:
        UpdateHScroll();
        SetHPos(view_.hPos);
        break;
    default: break;
    }
    Invalidate();
    return 1;
}

void CVelmoraBase::Reset()
{
    view_.scale = TimeView::kDefaultScale;
    FitH();
    Invalidate();
}

void CVelmoraBase::Reload()
{
    AdoptGroupView();
    UpdateVScroll();
    Invalidate();
}

// ---- vertical scale ----

void CVelmoraBase::UpdateVScroll()
{
    vscale_.linear = linearScale_;
    vscale_.UpdateRange();
    ShowVBar();
}

void CVelmoraBase::ShowVBar()
{
    if (!vbar_) return;
    ScrollBarState bar = vscale_.Bar();
    QSignalBlocker block(vbar_);
    vbar_->setRange(bar.minimum, std::max(bar.minimum, bar.maximum - bar.page));
    vbar_->setPageStep(bar.page);
    vbar_->setValue(bar.position);
}

void CVelmoraBase::OnVScroll(int action)
{
    int32_t code = ScrollCodeOf(action);
    if (code < 0) return;
    vscale_.Scroll(code, vbar_->sliderPosition());
    vbar_->setSliderPosition(vscale_.Bar().position);
    Invalidate();
}

void CVelmoraBase::ZoomOutV(QPoint p)
{
    // The zoom updates the range itself; another update would move the
    // position it chose by its rounding.
    vscale_.ZoomOut(p.y(), [this] { GrowVRange(); }, [this] { UpdateVScroll(); });
    ShowVBar();
}

void CVelmoraBase::ZoomInV(QPoint p)
{
    vscale_.ZoomIn(p.y(), [this] { ShrinkVRange(); }, [this] { UpdateVScroll(); });
    ShowVBar();
}

void CVelmoraBase::FitV()
{
    vscale_.SetRowValue(vscale_.FitRowValue());
    UpdateVScroll();
    Invalidate();
}

int32_t CVelmoraBase::LoadSettings()
{
    int32_t showFly = 0;
    int32_t result = Model().store.ReadChartSetting(kChartClassNames[size_t(cls_)], text::kShowFly, &showFly);
    linearScale_ = showFly != 0;
    return result;
}

void CVelmoraBase::ApplySettings()
{
    pane_.RefreshSyncViews();
    UpdateVScroll();
    Invalidate();
}

void CVelmoraBase::ShowConfig()
{
    if (configDialog_) configDialog_->ShowBelow();
}

void CVelmoraBase::SetUnitText(const QString& text)
{
    unitText_ = text;
    Invalidate();
}

std::optional<std::pair<double, double>> CVelmoraBase::GetDragTimes() const
{
    return view_.CaptureSpan(dragStart_.x(), lastMouse_.x());
}

// ---- painting ----

void CVelmoraBase::RenderCache()
{
    cache_ = QPixmap(size());
    QPainter p(&cache_);
    p.fillRect(rect(), FromColorRef(BackColour()));
    DrawFrame(p);
    if (!TooSmall()) {
        double start = view_.VisibleStart(), end = view_.VisibleEnd();
        DrawTimeAxis(p, start, end);
        if (HasValueAxis()) DrawVAxis(p, vAxisRect_);
        QPixmap plot(plotRect_.size());
        plot.fill(Qt::white);
        {
            QPainter plotPainter(&plot);
            PaintData(plotPainter, start, end);
        }
        p.drawPixmap(plotRect_.topLeft(), plot);
        PaintFrameExtras(p);
    }
    dirty_ = false;
}

void CVelmoraBase::paintEvent(QPaintEvent*)
{
    if (dirty_ || cache_.size() != size()) RenderCache();
    QPainter p(this);
    p.drawPixmap(0, 0, cache_);
    if (TooSmall()) return;
    if (dragMode_ == DragBand) PaintBand(p);
    if (dragMode_ == DragCross && HasValueAxis() && pointerInPlot_) {
        p.setPen(QPen(FromColorRef(kCrosshair), 1));
        p.drawLine(plotRect_.left(), lastMouse_.y(), plotRect_.right(), lastMouse_.y());
        p.drawLine(lastMouse_.x(), plotRect_.top(), lastMouse_.x(), plotRect_.bottom());
    }
    if (dragMode_ == DragNone && pointerInPlot_) PaintOverlay(p);
    PaintInfoStrip(p);
}

void CVelmoraBase::PaintBand(QPainter& p)
{
    int32_t lo = plotRect_.left(), hi = plotRect_.left() + plotRect_.width() - 1;
    int32_t a = std::clamp(dragStart_.x(), lo, hi), b = std::clamp(lastMouse_.x(), lo, hi);
    QRect band(QPoint(std::min(a, b), plotRect_.top()), QPoint(std::max(a, b), plotRect_.bottom()));
    p.fillRect(band, FromArgb(kBandFill));
    p.setPen(QPen(FromArgb(kBandBorder), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(band.adjusted(0, 0, -1, -1));
}

void CVelmoraBase::PaintInfoStrip(QPainter& p)
{
    // Shown once the pointer has been over the chart.
    if (!Model().Loaded() || infoRect_.width() <= 2 || lastMouse_.x() < 0) return;
    QRect inner = infoRect_.adjusted(1, 1, -1, -1);
    p.fillRect(inner, Qt::white);
    p.setFont(fonts_.info);
    p.setPen(Qt::black);
    QString text = GetInfoText();
    p.drawText(inner, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
               p.fontMetrics().elidedText(text, Qt::ElideRight, inner.width()));
}

void CVelmoraBase::DrawFrame(QPainter& p)
{
    p.setFont(fonts_.title);
    p.setPen(Qt::black);
    QRect title(plotRect_.left(), 5, std::max(0, width() - plotRect_.left()), 18);
    p.drawText(title, Qt::AlignLeft | Qt::AlignTop, caption_);
    if (!unitText_.isEmpty()) {
        int32_t x = plotRect_.left() + p.fontMetrics().horizontalAdvance(caption_) + 2;
        p.drawText(QRect(x, 5, std::max(0, width() - x), 18), Qt::AlignLeft | Qt::AlignTop, unitText_);
    }
    p.fillRect(infoRect_, Qt::white);
    p.setPen(FromColorRef(kBackOther));
    p.drawRect(infoRect_.adjusted(0, 0, -1, -1));
    p.setPen(Qt::white);
    p.drawLine(0, height() - 2, width(), height() - 2);
    p.setPen(FromColorRef(kTitleLine));
    p.drawLine(0, 2, width(), 2);
    p.drawImage(settingsRect_.topLeft(), TitleButton(0, hoverButton_ == HoverSettings));
    p.drawImage(closeRect_.topLeft(), TitleButton(1, hoverButton_ == HoverClose));
}

void CVelmoraBase::DrawTimeAxis(QPainter& p, double start, double)
{
    p.setFont(fonts_.small);
    QColor ink = IsDark(RgbFromColorRef(BackColour())) ? Qt::white : Qt::black;
    p.setPen(ink);
    const QRect& r = timeAxisRect_;
    for (const TimeTick& tick : TimeTicks(start, view_.scale, r.left(), r.left() + r.width())) {
        int32_t x = int32_t(tick.x);
        if (!tick.major) {
            p.drawLine(x, r.top(), x, r.top() + 3);
            continue;
        }
        p.drawLine(x, r.top(), x, r.top() + 5);
        QString label = QString::fromStdString(tick.label);
        int32_t w = p.fontMetrics().horizontalAdvance(label);
        int32_t left = std::max(plotRect_.left(), x - w / 2);
        p.drawText(QRect(QPoint(left, r.top() + 5), QPoint(x + w / 2 + 1, r.bottom())),
                   Qt::AlignRight | Qt::AlignTop | Qt::TextSingleLine, label);
    }
}

void CVelmoraBase::DrawVAxis(QPainter& p, const QRect& axis)
{
    if (vscale_.rowHeight < ValueScale::kMinRowStep) return;
    p.setFont(fonts_.small);
    p.setPen(IsDark(RgbFromColorRef(BackColour())) ? Qt::white : Qt::black);
    ValueScale::Rows rows = vscale_.GridRows();
    int32_t fontHeight = p.fontMetrics().height();
    int32_t plotBottom = plotRect_.top() + plotRect_.height();
    for (int32_t i = 0; i < 4; ++i) {
        int32_t top = plotBottom - 6 - rows.offset - i * vscale_.rowHeight;
        int32_t centre = top + fontHeight / 2;
        if (centre < plotRect_.top()) break;
        int32_t right = axis.left() + axis.width();
        p.drawLine(right - 3, centre, right, centre);
        p.drawText(QRect(QPoint(axis.left(), top), QPoint(right - 4, top + fontHeight)),
                   Qt::AlignRight | Qt::AlignVCenter, VAxisLabel(VAxisValue(i, rows.base)));
    }
}

void CVelmoraBase::DrawGrid(QPainter& plot, double start)
{
    QPen pen(FromColorRef(BackColour()), 1, Qt::DotLine);
    plot.setPen(pen);
    int32_t h = plotRect_.height();
    if (hGrid_) {
        ValueScale::Rows rows = vscale_.GridRows();
        for (int32_t i = 0; i < 4; ++i) {
            int32_t y = h - rows.offset - i * vscale_.rowHeight;
            if (y < 0) break;
            plot.drawLine(0, y, plotRect_.width(), y);
        }
    }
    if (vGrid_)
        for (int64_t x : GridLines(start, view_.scale, plotRect_.width())) plot.drawLine(int32_t(x), 0, int32_t(x), h);
}

// ---- mouse ----

void CVelmoraBase::UpdateCursor(QPoint point)
{
    bool plain = !plotRect_.contains(point) || dragMode_ != DragNone;
    setCursor(plain ? Qt::ArrowCursor : CursorOf(pane_.ToolMode()));
}

void CVelmoraBase::BecomeCurrent()
{
    if (pane_.CurrentChart() != this) pane_.SetCurrentChart(this);
}

void CVelmoraBase::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    BecomeCurrent();
}

void CVelmoraBase::leaveEvent(QEvent*)
{
    pointerInPlot_ = false;
    if (hoverButton_ != HoverNone) {
        hoverButton_ = HoverNone;
        Invalidate();
    }
    update();
}

void CVelmoraBase::mouseMoveEvent(QMouseEvent* event)
{
    QPoint point = event->position().toPoint();
    int32_t hover = settingsRect_.contains(point) ? HoverSettings : closeRect_.contains(point) ? HoverClose : HoverNone;
    if (hover != hoverButton_) {
        hoverButton_ = hover;
        Invalidate();
    }
    // Back in at the point it left from, the pointer reads again.
    if ((point != lastMouse_ || pointerInPlot_ != plotRect_.contains(point)) && Model().Loaded()) {
        lastMouse_ = point;
        pointerInPlot_ = plotRect_.contains(point);
        OnPointerMoved(point);
        update();
    }
    UpdateCursor(point);
}

void CVelmoraBase::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return;
    QPoint point = event->position().toPoint();
    setFocus(Qt::MouseFocusReason);
    BecomeCurrent();
    UpdateHScroll();
    if (plotRect_.contains(point)) {
        if (pane_.ToolMode() == CmdPointer) dragMode_ = DragBand;
    } else {
        dragMode_ = DragCross;
    }
    dragStart_ = point;
    lastMouse_ = point;
    update();
}

void CVelmoraBase::mouseReleaseEvent(QMouseEvent* event)
{
    QPoint point = event->position().toPoint();
    lastMouse_ = point;
    dragMode_ = DragNone;
    bool inPlot = plotRect_.contains(point);
    QPoint plotPoint = point - plotRect_.topLeft();
    bool ctrl = event->modifiers() & Qt::ControlModifier, shift = event->modifiers() & Qt::ShiftModifier;
    uint32_t tool = pane_.ToolMode();
    if (event->button() == Qt::RightButton) {
        if (ctrl && inPlot) {
            if (CanZoomOutH()) {
                ZoomOutAt(plotPoint);
                Invalidate();
                pane_.PostGroupMessage(GroupZoomOut);
            }
        } else if (shift && inPlot) {
            if (CanZoomOutV()) ZoomOutV(plotPoint);
            Invalidate();
        } else {
            pane_.SetToolMode(CmdPointer);
            UpdateCursor(point);
        }
        return;
    }
    if (event->button() != Qt::LeftButton) return;
    if (closeRect_.contains(point)) {
        pane_.ToggleChart(this);
        return;
    }
    if (settingsRect_.contains(point)) ShowConfigDialog();
    if ((ctrl || tool == CmdZoomInH) && inPlot) {
        if (CanZoomInH()) {
            ZoomInAt(plotPoint);
            pane_.PostGroupMessage(GroupZoomIn);
        }
    } else if (tool == CmdZoomOutH) {
        if (CanZoomOutH()) {
            ZoomOutAt(plotPoint);
            pane_.PostGroupMessage(GroupZoomOut);
        }
    } else if (tool == CmdFitH) {
        FitH();
        pane_.PostGroupMessage(GroupFit);
    } else if ((shift || tool == CmdZoomInV) && inPlot) {
        if (CanZoomInV()) ZoomInV(plotPoint);
    } else if (tool == CmdZoomOutV) {
        if (CanZoomOutV()) ZoomOutV(plotPoint);
    } else if (tool == CmdFitV) {
        FitV();
    }
    Invalidate();
    pane_.UpdateCommands();
}

int64_t CVelmoraBase::PacketAt(QPoint point, bool left) const
{
    return Model().arrays->FindIndex(view_.TimeAt(point.x()), left ? 2 : 1);
}

void CVelmoraBase::mouseDoubleClickEvent(QMouseEvent* event)
{
    bool left = event->button() == Qt::LeftButton;
    if (!left && event->button() != Qt::RightButton) return;
    if (event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier)) return;
    if (pane_.ToolMode() != CmdPointer || !IsPerPacket(cls_) || !Model().Loaded()) return;
    int64_t index = PacketAt(event->position().toPoint(), left);
    if (index < 0 || index >= Model().arrays->Count()) return;
    pane_.PublishGoToPacket(index);
}

void CVelmoraBase::wheelEvent(QWheelEvent* event)
{
    HScroll(event->angleDelta().y() <= 0 ? ScrollLineForward : ScrollLineBack, 0);
}

}  // namespace orvane::velmora
