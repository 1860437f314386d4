#include "ChartDraw.h"

#include <QFontMetrics>
#include <QPainterPath>
#include <QPixmap>
#include <QScrollBar>

#include <algorithm>
#include <cmath>
#include <utility>

#include "ChartCommands.h"
#include "IDataSource.h"
#include "TimeView.h"

namespace orvane::velmora {

namespace {

// A text centred on one line in the visible part of a box, cut with an ellipsis.
void CentredText(QPainter& p, const QString& text, int64_t left, int64_t right, int32_t top, int32_t bottom,
                 int32_t clipLeft, int32_t clipRight, const QColor& colour)
{
    int32_t l = int32_t(std::max<int64_t>(left, clipLeft));
    int32_t r = int32_t(std::min<int64_t>(right, clipRight));
    if (r - l <= 2 || bottom <= top) return;
    QRect box(l, top, r - l, bottom - top);
    p.setPen(colour);
    p.drawText(box, Qt::AlignCenter | Qt::TextSingleLine, p.fontMetrics().elidedText(text, Qt::ElideRight, box.width()));
}

// A double-headed arrow from a to b.
void Arrow(QPainter& p, QPointF a, QPointF b)
{
    QPointF d = (b - a) / std::max(1e-9, std::hypot(b.x() - a.x(), b.y() - a.y())) * 3.0;
    QPointF n(-d.y(), d.x());
    p.drawLine(a, b);
    for (auto [tip, dir] : {std::pair(a, d), std::pair(b, -d)}) {
        p.drawLine(tip, tip + dir + n);
        p.drawLine(tip, tip + dir - n);
    }
}

}  // namespace

int32_t ScrollCodeOf(int action)
{
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub: return ScrollLineBack;
    case QAbstractSlider::SliderSingleStepAdd: return ScrollLineForward;
    case QAbstractSlider::SliderPageStepSub: return ScrollPageBack;
    case QAbstractSlider::SliderPageStepAdd: return ScrollPageForward;
    case QAbstractSlider::SliderMove: return ScrollThumbTrack;
    case QAbstractSlider::SliderToMinimum: return ScrollToStart;
    case QAbstractSlider::SliderToMaximum: return ScrollToEnd;
    default: return -1;
    }
}

void PacketPainter::PaintPacket(QPainter& p, IDataSource* source, const PacketRecord& record, int64_t left,
                                int32_t top, int64_t right, int32_t bottom, int32_t clipLeft, int32_t clipRight)
{
    const PacketPayload payload = ReadPayload(source, record, payload_);
    PacketCells cells = BuildCells(record, payload);
    if (cells.kind == PacketKind::None) return;
    // Coordinates far off the plot only need to stay off it.
    auto clip = [&](int64_t x) { return int32_t(std::clamp<int64_t>(x, int64_t(clipLeft) - 2, int64_t(clipRight) + 2)); };
    p.save();
    QPen black(Qt::black, 1);
    int32_t middle = top + (bottom - top) / 2;
    if (cells.kind == PacketKind::Error) {
        p.fillRect(QRect(QPoint(clip(left), top + 1), QPoint(clip(right) - 1, bottom - 1)), FromColorRef(kErrorCell));
        CentredText(p, QString::fromStdString(cells.errorText), left, right, top, bottom, clipLeft, clipRight,
                    Qt::white);
        p.setPen(black);
        p.drawLine(clip(right), top, clip(right), bottom);
        p.drawLine(clip(left), top, clip(right), top);
        p.drawLine(clip(left), bottom, clip(right), bottom);
        p.restore();
        return;
    }
    std::vector<int64_t> edges = CellEdges(cells, left, right);
    int64_t previous = left;
    for (size_t i = 0; i < cells.cells.size(); ++i) {
        const PacketCell& cell = cells.cells[i];
        int64_t l = previous, r = edges[i];
        previous = r;
        Rgb colour = RgbFromColorRef(ColourOf(cell.colourKey));
        if (r > l && r >= clipLeft && l <= clipRight)
            p.fillRect(QRect(QPoint(clip(l), top + 1), QPoint(clip(r) - 1, middle - 1)), ToQColor(colour));
        CentredText(p, QString::fromStdString(cell.label), l, r, top + 1, middle, clipLeft, clipRight,
                    IsDark(colour) ? Qt::white : Qt::black);
        CentredText(p, QString::fromStdString(cell.value), l, r, middle, bottom, clipLeft, clipRight, Qt::black);
        p.setPen(black);
        if (l >= clipLeft - 1 && l <= clipRight + 1) p.drawLine(int32_t(l), top, int32_t(l), bottom);
    }
    p.setPen(black);
    p.drawLine(clip(right), top, clip(right), bottom);
    p.drawLine(clip(left), middle, clip(right), middle);
    p.drawLine(clip(left), top, clip(right), top);
    p.drawLine(clip(left), bottom, clip(right), bottom);
    p.restore();
}

QIcon CommandIcon(uint32_t command)
{
    QPixmap pixmap(16, 15);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QPen pen(QColor(40, 70, 140), 1.5);
    p.setPen(pen);
    auto lens = [&](bool plus) {
        p.drawEllipse(QRectF(2, 1.5, 8, 8));
        p.drawLine(QPointF(9, 9), QPointF(13, 13));
        p.drawLine(QPointF(4, 5.5), QPointF(8, 5.5));
        if (plus) p.drawLine(QPointF(6, 3.5), QPointF(6, 7.5));
    };
    switch (command) {
    case CmdPointer: {
        QPainterPath arrow;
        arrow.moveTo(4, 1);
        arrow.lineTo(4, 13);
        arrow.lineTo(7, 10);
        arrow.lineTo(10, 14);
        arrow.lineTo(11.5, 13);
        arrow.lineTo(8.5, 9);
        arrow.lineTo(12, 9);
        arrow.closeSubpath();
        p.fillPath(arrow, Qt::white);
        p.drawPath(arrow);
        break;
    }
    case CmdZoomOutH: case CmdZoomInH:
        lens(command == CmdZoomInH);
        p.drawLine(QPointF(1, 14), QPointF(15, 14));
        break;
    case CmdZoomOutV: case CmdZoomInV:
        lens(command == CmdZoomInV);
        p.drawLine(QPointF(15, 1), QPointF(15, 14));
        break;
    case CmdFitH:
        Arrow(p, QPointF(1, 7.5), QPointF(15, 7.5));
        break;
    case CmdFitV:
        Arrow(p, QPointF(8, 1), QPointF(8, 14));
        break;
    case CmdSyncViews:
        p.drawRect(QRectF(1.5, 1.5, 13, 5));
        p.drawRect(QRectF(1.5, 8.5, 13, 5));
        p.drawLine(QPointF(8, 6.5), QPointF(8, 8.5));
        break;
    default:
        for (int i = 0; i < 3; ++i) p.fillRect(QRectF(2, 2 + i * 4.5, 12, 3), QColor(40, 70, 140));
        break;
    }
    return QIcon(pixmap);
}

QImage ViewIcon()
{
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    const uint32_t colours[] = {ColourOf(PidSof), ColourOf(PidIn), ColourOf(PidData1), ColourOf(PidAck)};
    for (int i = 0; i < 4; ++i) p.fillRect(1 + i * 4, 5, 3, 7, FromColorRef(colours[i]));
    p.setPen(QColor(255, 0, 0));
    p.drawLine(8, 1, 8, 14);
    return image;
}

QImage TitleButton(int which, bool hot)
{
    QImage image(12, 12, QImage::Format_ARGB32);
    image.fill(hot ? QColor(125, 162, 255) : QColor(Qt::transparent));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(hot ? Qt::white : QColor(60, 60, 60), 1.5));
    if (which == 0) {
        p.drawEllipse(QRectF(3, 3, 6, 6));
        for (int i = 0; i < 4; ++i) {
            p.save();
            p.translate(6, 6);
            p.rotate(45.0 * i);
            p.drawLine(QPointF(-5.5, 0), QPointF(5.5, 0));
            p.restore();
        }
    } else {
        p.drawLine(QPointF(2.5, 2.5), QPointF(9.5, 9.5));
        p.drawLine(QPointF(9.5, 2.5), QPointF(2.5, 9.5));
    }
    return image;
}

}  // namespace orvane::velmora
