#include "CBinChart.h"

#include <QPainter>

#include <climits>
#include <cmath>

#include "CDlgConfigBase.h"
#include "ChartCommands.h"
#include "CTrafficPane.h"

namespace orvane::velmora {

CBinChart::CBinChart(CTrafficPane& pane, int32_t cls, BinKind kind, QWidget* parent)
    : CVelmoraBase(pane, cls, parent), kind_(kind)
{
}

SeriesSet& CBinChart::Series() { return kind_ == BinKind::Usage ? Model().store.usage : Model().store.speed; }
const SeriesSet& CBinChart::Series() const
{
    return kind_ == BinKind::Usage ? Model().store.usage : Model().store.speed;
}

void CBinChart::RunMaxPass()
{
    Scale().maxValue = MaxPass(*Model().arrays, kind_, View().scale, &Series());
}

void CBinChart::FitH()
{
    View().scale = kMinBinScale;
    if (!Model().arrays->Empty()) {
        RunMaxPass();
        UpdateVScroll();
    }
    UpdateHScroll();
    // Time 0 lies 20 pixels right of the plot's left edge.
    SetHPos(PlotRect().width() * 0.5 - TimeView::kFitMargin);
    Invalidate();
}

void CBinChart::GrowVRange()
{
    Scale().SetRowValue(int32_t(std::min<int64_t>(2 * int64_t(Scale().rowValue), Rule().full)));
}

void CBinChart::UpdateVScroll()
{
    Scale().SetRowValue(Rule().Clamp(Scale().rowValue));
    CVelmoraBase::UpdateVScroll();
    SetUnitText(QString::fromStdString(BinUnitText(kind_, Scale().maxValue)));
    Scale().SetRowValue(Scale().rowValue);
}

void CBinChart::Reload()
{
    AdoptGroupView();
    Series().Clear();
    Scale().SetRowValue(Scale().rowValue);
    if (!Model().arrays->Empty()) RunMaxPass();
    UpdateHScroll();
    UpdateVScroll();
    Invalidate();
    // An open panel lists the reloaded capture's series.
    if (CDlgConfigBase* dialog = ConfigDialog(); dialog && dialog->isVisible()) dialog->FillSeriesList();
}

int32_t CBinChart::OnGroupCommand(uint32_t code)
{
    Pane().GetSyncView(this, &View().scale, &View().hPos, nullptr);
    switch (code) {
    case GroupFit:
    case GroupScroll:
        UpdateHScroll();
        SetHPos(View().hPos);
        break;
    case GroupZoomIn:
    case GroupZoomOut:
        if (!Model().arrays->Empty()) {
            RunMaxPass();
            UpdateVScroll();
        }
        UpdateHScroll();
        break;
    default: break;
    }
    Invalidate();
    return 1;
}

void CBinChart::ShowConfigDialog()
{
    OpenConfigDialog([this] { return CDlgConfigBase::Make(*this); });
}

QString CBinChart::VAxisLabel(int64_t value) const
{
    return QString::fromStdString(BinAxisLabel(kind_, Scale().maxValue, value));
}

void CBinChart::PaintData(QPainter& plot, double start, double end)
{
    int32_t width = PlotRect().width(), height = PlotRect().height();
    DrawGrid(plot, start);
    SeriesSet& set = Series();
    set.ResetLastY();
    drawnKeys_.clear();
    if (Model().Loaded()) {
        BinPicture picture =
            BuildBinPicture(*Model().arrays, kind_, set, start, end, View().scale, width, &bins_);
        drawnKeys_ = picture.keys;
        const ValueScale& scale = Scale();
        // Levels far off the plot are cut before converting.
        auto levelOf = [&](double v) {
            int64_t y = v == 0 ? int64_t(scale.vPos) + height - 1 : int64_t(scale.vPos) + height - scale.HeightOf(v);
            return int32_t(std::clamp<int64_t>(y, -4 * int64_t(height) - 8, 5 * int64_t(height) + 8));
        };
        auto xOf = [&](int64_t x) { return int32_t(std::clamp<int64_t>(x, -16, width + 16)); };
        for (size_t b = 0; b < picture.x0.size(); ++b) {
            int32_t x0 = xOf(picture.x0[b]), x1 = xOf(picture.x1[b]);
            for (size_t s = 0; s < picture.keys.size(); ++s) {
                SeriesState* series = SeriesOf(set, picture.keys[s]);
                if (!series) continue;
                int32_t level = levelOf(picture.values[s][b]);
                int32_t from = series->lastY == INT_MAX ? level : series->lastY;
                plot.setPen(QPen(FromColorRef(series->colour), picture.keys[s].IsTotal() ? 3 : 1));
                plot.drawLine(x0, from, x0, level);
                plot.drawLine(x0, level, x1, level);
                series->lastY = level;
            }
        }
    }
    plot.setPen(QPen(FromArgb(kCentreLine), 1));
    plot.drawLine(width / 2, 0, width / 2, height);
}

void CBinChart::PaintFrameExtras(QPainter& p)
{
    QRect strip = legendRect_;
    if (strip.height() <= 10 || strip.width() <= 10 || !Model().Loaded()) return;
    p.setFont(Fonts().info);
    QFontMetrics metrics = p.fontMetrics();
    int32_t t = metrics.boundingRect(QStringLiteral("测试")).height();
    int32_t square = t / 2;
    int32_t middle = strip.top() + strip.height() / 2;
    int32_t limit = SettingsButtonRect().left();
    int32_t x = PlotRect().left() + 110;
    const SeriesSet& set = Series();
    for (const BinSeriesKey& key : drawnKeys_) {
        const SeriesState* series = SeriesOf(const_cast<SeriesSet&>(set), key);
        if (!series) continue;
        int32_t sx = x + 5;
        if (sx + square < limit) p.fillRect(QRect(sx, middle - t / 4, square, square), FromColorRef(series->colour));
        QString label = QString::fromStdString(BinLegendText(kind_, key));
        int32_t lx = sx + square, lw = std::max(metrics.horizontalAdvance(label), metrics.boundingRect(label).width()) + 1;
        if (lx + lw >= limit) continue;
        p.setPen(Qt::black);
        p.drawText(QRect(lx, middle - t / 2, lw, t), Qt::AlignCenter | Qt::TextSingleLine,
                   metrics.elidedText(label, Qt::ElideRight, lw));
        x = lx + lw;
    }
}

void CBinChart::resizeEvent(QResizeEvent* event)
{
    bool unsized = PlotRect().width() <= 0;
    CVelmoraBase::resizeEvent(event);
    legendRect_ = QRect(QPoint(PlotRect().left() + 20, 5), QPoint(width() - 10 - 1, PlotRect().top() - 3 - 1));
    // A capture that came before the chart had a size takes its group's view now.
    if (unsized && PlotRect().width() > 0 && Model().Loaded()) Reload();
}

QString CBinChart::GetInfoText() const
{
    if (!Model().Loaded()) return {};
    switch (DragModeNow()) {
    case DragNone: {
        std::optional<double> t = PointerTime();
        if (!t) return {};
        return QString::fromStdString(BinHoverText(kind_, *t, drawnKeys_, bins_, BinWidth(), ReadStep()));
    }
    case DragBand: {
        std::optional<std::pair<double, double>> band = GetDragTimes();
        if (!band) return {};
        auto [t1, t2] = *band;
        return QString::fromStdString(BinBandText(kind_, t1, t2, drawnKeys_, bins_, BinWidth(), ReadStep()));
    }
    default: {
        std::optional<double> t = PointerTime();
        if (!t) return {};
        return QString::fromStdString(BinCrossText(kind_, *t, PointerValue(), ReadStep()));
    }
    }
}

void CBinChart::GetSeriesList(std::vector<SeriesEntry>* list) const
{
    if (!Model().Loaded()) return;
    const SeriesSet& set = Series();
    list->push_back({set.total.shown != 0, BinListText({})});
    for (const auto& [address, series] : set.byAddress)
        list->push_back({series.shown != 0, BinListText({address, -1})});
    for (const auto& [address, endpoints] : set.byEndpoint)
        for (const auto& [endpoint, series] : endpoints)
            list->push_back({series.shown != 0, BinListText({address, endpoint})});
}

void CBinChart::SetSeriesVisibility(const std::vector<bool>& shown)
{
    if (!Model().Loaded() || int32_t(shown.size()) != GetSeriesCount()) return;
    SeriesSet& set = Series();
    size_t i = 0;
    set.total.shown = shown[i++];
    for (auto& [address, series] : set.byAddress) series.shown = shown[i++];
    for (auto& [address, endpoints] : set.byEndpoint)
        for (auto& [endpoint, series] : endpoints) series.shown = shown[i++];
    Invalidate();
}

int32_t CBinChart::GetSeriesCount() const
{
    if (!Model().Loaded()) return 0;
    const SeriesSet& set = Series();
    size_t n = 1 + set.byAddress.size();
    for (const auto& [address, endpoints] : set.byEndpoint) n += endpoints.size();
    return int32_t(n);
}

}  // namespace orvane::velmora
