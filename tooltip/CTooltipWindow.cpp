#include "CTooltipWindow.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimerEvent>

#include <algorithm>

#ifdef ORVANE_HAVE_XCB
#include <xcb/xcb.h>
#endif

namespace orvane {

namespace {

// System colour indexes of the tip's background and text.
constexpr int kInfoText = 23;
constexpr int kInfoBackground = 24;

QPoint ToQPoint(TipPoint p) { return {p.x, p.y}; }
TipPoint ToTipPoint(QPoint p) { return {p.x(), p.y()}; }

}  // namespace

bool DesktopComposites() {
    const QString platform = QGuiApplication::platformName();
    if (platform.startsWith(QLatin1String("wayland"))) return true;
#ifdef ORVANE_HAVE_XCB
    if (platform == QLatin1String("xcb")) {
        auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        xcb_connection_t* c = x11 ? x11->connection() : nullptr;
        if (!c) return false;
        static const char name[] = "_NET_WM_CM_S0";
        xcb_intern_atom_reply_t* atom =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, sizeof name - 1, name), nullptr);
        if (!atom) return false;
        bool owned = false;
        if (atom->atom != XCB_ATOM_NONE) {
            xcb_get_selection_owner_reply_t* owner =
                xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr);
            owned = owner && owner->owner != XCB_NONE;
            free(owner);
        }
        free(atom);
        return owned;
    }
#endif
    return false;
}

CTooltipWindow::CTooltipWindow()
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      drawer_(measurer_, &resources_, QtSystemColors()),
      core_(*this, *this, QtSystemColors()[kInfoBackground]),
      borderColor_(QtSystemColors()[kInfoText]) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_NoSystemBackground);
    setMouseTracking(true);
    ConnectToDesktop(drawer_);
}

CTooltipWindow::~CTooltipWindow() {
    core_.HideNow();
    FreeTipResources();
    core_.RemoveAllTools();
}

bool CTooltipWindow::Create(QWidget* owner) {
    if (owner) setParent(owner, windowFlags());
    translucent_ = DesktopComposites();
    setAttribute(Qt::WA_TranslucentBackground, translucent_);
    metrics_ = TipMetrics();
    drawer_.SetCallbackRepaint([this](int) {
        // The hovered link changed: redraw at once, fully opaque.
        transparency_ = 0;
        update();
    });
    if (QGuiApplication* app = qGuiApp)
        connect(app, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
            if (state != Qt::ApplicationActive) core_.HideNow();
        });
    created_ = true;
    core_.SetCreated(true);
    return true;
}

void CTooltipWindow::RelayEventsOf(QObject* source) {
    if (source) source->installEventFilter(this);
}

bool CTooltipWindow::eventFilter(QObject* watched, QEvent* event) {
    RelayEvent(event);
    return QWidget::eventFilter(watched, event);
}

void CTooltipWindow::RelayEvent(QEvent* event) {
    if (!created_ || !event) return;
    switch (event->type()) {
    case QEvent::MouseMove:
        core_.RelayEvent(TipMessage::MouseMove,
                         ToTipPoint(static_cast<QMouseEvent*>(event)->globalPosition().toPoint()));
        break;
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        core_.RelayEvent(mouse->button() == Qt::LeftButton ? TipMessage::LeftButtonDown : TipMessage::OtherButtonOrKey,
                         ToTipPoint(mouse->globalPosition().toPoint()));
        break;
    }
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonDblClick:
        core_.RelayEvent(TipMessage::OtherButtonOrKey, ToTipPoint(QCursor::pos()));
        break;
    default: break;
    }
}

void CTooltipWindow::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    setCursor(drawer_.OnSetCursor(p.x(), p.y()) ? Qt::PointingHandCursor : Qt::ArrowCursor);
    RelayEvent(event);
}

void CTooltipWindow::mousePressEvent(QMouseEvent* event) { RelayEvent(event); }

// ---------------------------------------------------------------- the desktop

TipWindow CTooltipWindow::WindowAt(TipPoint screen) const {
    if (isVisible() && geometry().contains(ToQPoint(screen)) &&
        windowRegion_.contains(mapFromGlobal(ToQPoint(screen))))
        return Handle();
    return QApplication::widgetAt(ToQPoint(screen));
}

TipWindow CTooltipWindow::ParentOf(TipWindow window) const {
    return window ? static_cast<const QWidget*>(window)->parentWidget() : nullptr;
}

bool CTooltipWindow::IsEnabled(TipWindow window) const {
    return window && static_cast<const QWidget*>(window)->isEnabled();
}

TipPoint CTooltipWindow::ToClient(TipWindow window, TipPoint screen) const {
    if (!window) return screen;
    return ToTipPoint(static_cast<const QWidget*>(window)->mapFromGlobal(ToQPoint(screen)));
}

TipPoint CTooltipWindow::CursorPos() const { return ToTipPoint(QCursor::pos()); }

void CTooltipWindow::Set(int id, int ms) { timers_[id].start(ms, this); }

void CTooltipWindow::Kill(int id) {
    if (auto it = timers_.find(id); it != timers_.end()) it->second.stop();
}

void CTooltipWindow::timerEvent(QTimerEvent* event) {
    for (auto& [id, timer] : timers_) {
        if (timer.timerId() == event->timerId()) {
            core_.OnTimer(id);
            return;
        }
    }
    QWidget::timerEvent(event);
}

void CTooltipWindow::ClickAt(TipPoint client) {
    const int link = drawer_.HitTestLink(client.x, client.y);
    if (link >= 0) drawer_.OnLinkClick(link);
}

// ---------------------------------------------------------------- showing

void CTooltipWindow::FreeTipResources() {
    tipRegion_ = QRegion();
    windowRegion_ = QRegion();
    background_ = QImage();
    behind_ = QImage();
}

void CTooltipWindow::ShowTip(TipPoint point, const ToolInfo& tool, int transparency) {
    const HtmlSize size = drawer_.PrepareOutput(tool.text);
    QScreen* screen = QGuiApplication::screenAt(ToQPoint(point));
    if (!screen) screen = QGuiApplication::primaryScreen();
    const QRect desktop = screen ? screen->virtualGeometry() : QRect(0, 0, 1024, 768);
    const HtmlRect area{desktop.left(), desktop.top(), desktop.left() + desktop.width(),
                        desktop.top() + desktop.height()};
    placement_ = PlaceTip(tool.direction, size.cx, size.cy, point, area, metrics_);
    FreeTipResources();
    const int w = placement_.width, h = placement_.height;
    if (!ImageSizeFits(w, h)) return;
    tipRegion_ = MakeTipRegion(placement_, metrics_);

    background_ = QImage(w, h, QImage::Format_RGB32);
    if (background_.isNull()) return;
    background_.fill(Qt::white);
    {
        QPainter painter(&background_);
        helper_.FillEffect(painter, int(tool.effect), placement_.body, tool.beginColor, tool.midColor, tool.endColor,
                           tool.granularity, 5);
    }
    // The tail's strip repeats the body's outermost line.
    const HtmlRect& b = placement_.body;
    if (b.top > 0) CDrawHelper::TileCopy(background_, 0, 0, w, b.top, background_, 0, b.top + 1, w, 1);
    if (b.bottom < h) CDrawHelper::TileCopy(background_, 0, b.bottom, w, h - b.bottom, background_, 0, b.bottom - 1, w, 1);
    if (b.left > 0) CDrawHelper::TileCopy(background_, 0, 0, b.left, h, background_, b.left + 1, 0, 1, h);
    if (b.right < w) CDrawHelper::TileCopy(background_, b.right, 0, w - b.right, h, background_, b.right - 1, 0, 1, h);

    transparency_ = transparency;
    const bool shadow = shadow_.offsetX != 0 || shadow_.offsetY != 0;
    windowRegion_ = shadow ? tipRegion_.united(tipRegion_.translated(shadow_.offsetX, shadow_.offsetY)) : tipRegion_;
    const QSize windowSize(w + std::max(0, shadow_.offsetX), h + std::max(0, shadow_.offsetY));
    const QPoint topLeft(point.x - placement_.anchor.x, point.y - placement_.anchor.y);
    // Without a compositor the tip is drawn over a copy of the screen, taken
    // before the window covers it.
    if (!translucent_ && screen) behind_ = screen->grabWindow(0, topLeft.x(), topLeft.y(), windowSize.width(),
                                                              windowSize.height()).toImage();
    behindGrabbed_ = !translucent_ && behind_.size() == windowSize;
    if (!translucent_ && !behindGrabbed_) {
        behind_ = QImage(windowSize, QImage::Format_RGB32);
        behind_.fill(palette().color(QPalette::Window));
    }
    setMask(windowRegion_);
    setGeometry(QRect(topLeft, windowSize));
    show();
    raise();
    update();
}

void CTooltipWindow::Redraw(int transparency) {
    transparency_ = transparency;
    update();
}

void CTooltipWindow::DrawBorder(QImage& tip, const QRegion& region) const {
    QPainter painter(&tip);
    painter.setClipRegion(FrameOf(region));
    painter.fillRect(tip.rect(), ToQColor(borderColor_));
}

int CTooltipWindow::ShadowGrey(int darkness, int transparency) {
    const int g0 = MulDiv(255, 100 - std::clamp(darkness, 0, 100), 100);
    return g0 + (255 - g0) * std::clamp(transparency, 0, 100) / 100;
}

QImage CTooltipWindow::Compose(int transparency) {
    if (background_.isNull()) return {};
    // Without a compositor the tip blends over the copy of the screen behind
    // it; only when there is no copy is it drawn opaque.
    const int t = translucent_ || behindGrabbed_ ? std::clamp(transparency, 0, 100) : 0;
    QImage tip = background_.copy();
    if (!drawer_.PreparedText().empty()) {
        QPainter painter(&tip);
        QtHtmlCanvas canvas(painter, &helper_);
        drawer_.DrawPreparedOutput(canvas, placement_.text);
    }
    DrawBorder(tip, tipRegion_);

    const bool shadow = shadow_.offsetX != 0 || shadow_.offsetY != 0;
    const QSize size(tip.width() + std::max(0, shadow_.offsetX), tip.height() + std::max(0, shadow_.offsetY));
    QImage composite;
    if (translucent_) {
        composite = QImage(size, QImage::Format_ARGB32_Premultiplied);
        composite.fill(Qt::transparent);
    } else {
        composite = behind_.convertToFormat(QImage::Format_RGB32);
    }
    if (composite.isNull()) return {};
    if (shadow) {
        QImage mask(tip.size(), QImage::Format_RGB32);
        mask.fill(Qt::white);
        const int g = ShadowGrey(shadow_.darkness, t);
        QPainter painter(&mask);
        painter.setClipRegion(tipRegion_);
        painter.fillRect(mask.rect(), QColor(g, g, g));
        painter.end();
        if (translucent_) {
            QPainter over(&composite);
            CDrawHelper::DrawShadow(over, shadow_.offsetX, shadow_.offsetY, mask, shadow_.blur, shadow_.depthX,
                                    shadow_.depthY);
        } else {
            CDrawHelper::DrawShadow(composite, shadow_.offsetX, shadow_.offsetY, mask, shadow_.blur, shadow_.depthX,
                                    shadow_.depthY);
        }
    }
    if (translucent_) {
        QPainter painter(&composite);
        painter.setClipRegion(tipRegion_);
        QImage faded = tip.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < faded.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(faded.scanLine(y));
            for (int x = 0; x < faded.width(); ++x) line[x] = (line[x] & 0xFFFFFF) | QRgb(255 * (100 - t) / 100) << 24;
        }
        painter.drawImage(0, 0, faded);
    } else {
        CDrawHelper::BlendCopy(composite, 0, 0, tip.width(), tip.height(), tip, 100 - t, &tipRegion_);
    }
    return composite;
}

void CTooltipWindow::paintEvent(QPaintEvent*) {
    const QImage picture = Compose(transparency_);
    if (picture.isNull()) return;
    QPainter painter(this);
    if (translucent_) painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, 0, picture);
}

}  // namespace orvane
