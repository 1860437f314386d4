#include "CTrafficCtrl.h"

#include "CDlgConfigBase.h"
#include "CTrafficPane.h"
#include "IDataSource.h"
#include "PacketRuns.h"

namespace orvane::velmora {

CTrafficCtrl::CTrafficCtrl(CTrafficPane& pane, QWidget* parent) : CVelmoraBase(pane, ChartTraffic, parent) {}

void CTrafficCtrl::PaintData(QPainter& plot, double start, double end)
{
    const PaneModel& model = Model();
    int32_t width = PlotRect().width(), height = PlotRect().height();
    int32_t top = BandTop(), bottom = top + kBandHeight;
    if (model.Loaded()) {
        plot.setFont(Fonts().small);
        for (const PacketRun& run : BuildPacketRuns(*model.arrays, start, end, width)) {
            if (run.Detailed()) {
                PacketRecord record;
                if (model.source->GetRecord(uint32_t(run.first), &record) != RecordOk) continue;
                Pane().Painter().PaintPacket(plot, model.source, record, run.x0, top, run.x1, bottom, 0, width);
                continue;
            }
            int64_t x0 = std::clamp<int64_t>(run.x0, -1, width + 1);
            int64_t w = std::max<int64_t>(run.x1 - run.x0, 1);
            int64_t x1 = std::clamp<int64_t>(run.x0 + w, -1, width + 1);
            if (x1 > x0) plot.fillRect(QRect(int32_t(x0), top, int32_t(x1 - x0), kBandHeight), ToQColor(run.colour));
        }
    }
    plot.setPen(QPen(FromArgb(kCentreLine), 1));
    plot.drawLine(width / 2, 0, width / 2, height);
}

void CTrafficCtrl::ShowConfigDialog()
{
    OpenConfigDialog([this] { return CDlgConfigBase::Make(*this); });
}

void CTrafficCtrl::OnPointerMoved(QPoint point)
{
    floating_ = -1;
    if (DragModeNow() != DragNone || !PlotRect().contains(point) || !LinearScale()) return;
    const TimeView& v = View();
    double t = (std::trunc(v.hPos) + point.x() - PlotRect().left() - PlotRect().width() * 0.5) / v.scale;
    floating_ = Model().arrays->FindIndexNear(t, v.PickReach());
}

void CTrafficCtrl::PaintOverlay(QPainter& p)
{
    const PaneModel& model = Model();
    if (floating_ < 0 || !LinearScale() || !model.Loaded()) return;
    PacketRecord record;
    if (model.source->GetRecord(uint32_t(floating_), &record) != RecordOk) return;
    QRect plot = PlotRect();
    int32_t x = LastMouse().x();
    p.save();
    p.setClipRect(plot);
    p.setFont(Fonts().small);
    int32_t bottom = plot.top() + plot.height();
    Pane().Painter().PaintPacket(p, model.source, record, x - 150, bottom - 60, x + 150, bottom - 10, plot.left(),
                                 plot.left() + plot.width());
    p.restore();
}

QString CTrafficCtrl::GetInfoText() const
{
    const PaneModel& model = Model();
    const CaptureArrays& arrays = *model.arrays;
    if (!model.Loaded() || arrays.Empty()) return {};
    switch (DragModeNow()) {
    case DragNone: {
        std::optional<double> t = PointerTime();
        if (!t) return {};
        int64_t index = arrays.FindIndexNear(*t, View().PickReach());
        return QString::fromStdString(HoverText(*t, index, index < 0 ? 0 : arrays.PidByte(index), ReadStep()));
    }
    case DragBand: {
        std::optional<std::pair<double, double>> band = GetDragTimes();
        if (!band) return {};
        auto [t1, t2] = *band;
        auto [from, to] = GetDragCover();
        return QString::fromStdString(
            JoinInfo(SelectionText(t1, t2, ReadStep()), PacketCountText(arrays.CountBetween(from, to))));
    }
    default:
        return {};
    }
}

}  // namespace orvane::velmora
