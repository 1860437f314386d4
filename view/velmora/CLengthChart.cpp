#include "CLengthChart.h"

#include <cmath>

#include "CDlgConfigBase.h"
#include "CTrafficPane.h"

namespace orvane::velmora {

CLengthChart::CLengthChart(CTrafficPane& pane, int32_t cls, QWidget* parent) : CVelmoraBase(pane, cls, parent) {}

void CLengthChart::UpdateVScroll()
{
    CVelmoraBase::UpdateVScroll();
    SetUnitText(QStringLiteral("( byte )"));
    Scale().SetRowValue(Scale().rowValue);
}

void CLengthChart::Reload()
{
    // The largest data packet's bytes on the bus, or its payload.
    Scale().maxValue = Model().arrays->MaxDataLength() + (DataOnly() ? 0 : 3);
    CVelmoraBase::Reload();
}

void CLengthChart::ShowConfigDialog()
{
    OpenConfigDialog([this] { return CDlgConfigBase::Make(*this); });
}

void CLengthChart::PaintData(QPainter& plot, double start, double end)
{
    int32_t width = PlotRect().width(), height = PlotRect().height();
    DrawGrid(plot, start);
    drawn_ = {};
    if (Model().Loaded()) {
        plot.setFont(Fonts().small);
        for (const LengthBar& bar : BuildLengthBars(*Model().arrays, DataOnly(), start, end, width, &drawn_))
            DrawBar(plot, bar, width);
    }
    plot.setPen(QPen(FromArgb(kCentreLine), 1));
    plot.drawLine(width / 2, 0, width / 2, height);
}

void CLengthChart::DrawBar(QPainter& plot, const LengthBar& bar, int32_t plotWidth)
{
    const ValueScale& scale = Scale();
    int64_t d = BarHeight(scale.HeightOf(double(bar.value)), scale.vPos, DataOnly());
    if (d <= 0) return;
    int32_t bottom = scale.PlotHeight();
    int32_t top = int32_t(std::max<int64_t>(bottom - d, 0));
    // Bars far outside the plot are cut to it before converting.
    int32_t x0 = int32_t(std::clamp<int64_t>(bar.x0, -2, plotWidth + 2));
    int32_t x1 = int32_t(std::clamp<int64_t>(bar.x1, -2, plotWidth + 2));
    if (x1 <= x0) return;
    QColor fill = ToQColor(bar.colour);
    plot.fillRect(QRect(x0, top, x1 - x0, bottom - top), fill);
    if (bar.x1 - bar.x0 < LengthBar::kLabelWidth) return;
    if (bar.labelled) {
        int32_t labelTop = int32_t(std::max<int64_t>(bottom - d, -1));
        plot.setPen(IsDark(bar.colour) ? Qt::white : Qt::black);
        QRect box(x0, labelTop, x1 - x0, bottom - labelTop);
        QString label = QString::fromStdString(PacketTypeName(Model().arrays->PidByte(bar.first)));
        plot.drawText(box, Qt::AlignCenter | Qt::TextSingleLine,
                      plot.fontMetrics().elidedText(label, Qt::ElideRight, box.width()));
    }
    plot.setPen(QPen(Qt::black, 1));
    plot.drawLine(x0, bottom, x0, top);
    plot.drawLine(x0, top, x1 - 1, top);
    plot.drawLine(x1 - 1, top, x1 - 1, bottom);
}

QString CLengthChart::GetInfoText() const
{
    const PaneModel& model = Model();
    const CaptureArrays& arrays = *model.arrays;
    if (!model.Loaded() || arrays.Empty()) return {};
    switch (DragModeNow()) {
    case DragNone: {
        std::optional<double> at = PointerTime();
        if (!at) return {};
        const double t = *at;
        int64_t p = DataOnly() ? arrays.NearestDataIndexAt(t) : std::max<int64_t>(arrays.FindIndex(t, 0), 0);
        // A capture without data packets has no packet to name.
        if (p < 0 || (DataOnly() && !CaptureArrays::IsData(arrays.Nibble(p))))
            return QString::fromStdString("时间：" + ReadingText(t, ReadStep()));
        int64_t value = DataOnly() ? arrays.Payload(p) : arrays.Bytes(p);
        return QString::fromStdString(LengthHoverText(DataOnly(), t, p, arrays.PidByte(p), value, ReadStep()));
    }
    case DragBand: {
        std::optional<std::pair<double, double>> band = GetDragTimes();
        if (!band) return {};
        auto [t1, t2] = *band;
        auto [cover1, cover2] = GetDragCover();
        auto [from, to] = arrays.StartingIn(cover1, cover2);
        if (DataOnly()) {
            ByteSums sums = arrays.Sums().Total(from, to);
            return QString::fromStdString(DataLengthBandText(t1, t2, int64_t(sums.dataCount), int64_t(sums.payload), ReadStep()));
        }
        return QString::fromStdString(
            PacketLengthBandText(t1, t2, to - from, DrawnBytes(arrays, drawn_, from, to - 1), ReadStep()));
    }
    default: {
        std::optional<double> t = PointerTime();
        if (!t) return {};
        return QString::fromStdString(LengthCrossText(*t, PointerValue(), ReadStep()));
    }
    }
}

int64_t CDataLength::PacketAt(QPoint point, bool left) const
{
    int64_t index = CVelmoraBase::PacketAt(point, left);
    const CaptureArrays& arrays = *Model().arrays;
    if (index < 0) return index;
    int64_t found = arrays.FindData(index, left);
    if (found < 0) found = arrays.FindData(index, !left);
    return found < 0 ? index : found;
}

}  // namespace orvane::velmora
