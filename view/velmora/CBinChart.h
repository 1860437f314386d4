// The bus-usage and transfer-rate charts: step curves over bins of 10
// pixels for the whole bus and for the addresses and endpoints the user
// picks, zoomed in steps of ten between 10 and 10000 pixels per second.
#pragma once

#include "BinEngine.h"
#include "CVelmoraBase.h"

namespace orvane::velmora {

class CBinChart : public CVelmoraBase {
    Q_OBJECT
public:
    CBinChart(CTrafficPane& pane, int32_t cls, BinKind kind, QWidget* parent);

    BinKind Kind() const { return kind_; }
    SeriesSet& Series();
    const SeriesSet& Series() const;
    double BinWidth() const { return kBinPixels / View().scale; }
    const SeriesBins& Bins() const { return bins_; }
    // The series the last paint drew, in order.
    const std::vector<BinSeriesKey>& DrawnSeries() const { return drawnKeys_; }
    QRect LegendRect() const { return legendRect_; }

    bool CanZoomInH() const override { return View().scale < kMaxBinScale; }
    bool CanZoomOutH() const override { return View().scale > kMinBinScale; }
    void FitH() override;
    double ZoomFactor() const override { return kBinZoomFactor; }
    bool IsFitH() const override { return true; }
    bool IsFitV() const override { return Scale().rowValue == Rule().full; }
    bool CanZoomInV() const override { return Scale().rowValue > Rule().base; }
    bool CanZoomOutV() const override { return Scale().rowValue < Rule().full; }
    void GrowVRange() override;
    void UpdateVScroll() override;
    void Reload() override;
    int32_t OnGroupCommand(uint32_t code) override;
    void ShowConfigDialog() override;
    QString GetInfoText() const override;
    QString VAxisLabel(int64_t value) const override;
    void GetSeriesList(std::vector<SeriesEntry>* list) const override;
    void SetSeriesVisibility(const std::vector<bool>& shown) override;
    int32_t GetSeriesCount() const override;

protected:
    void PaintData(QPainter& plot, double start, double end) override;
    void PaintFrameExtras(QPainter& p) override;
    void resizeEvent(QResizeEvent* event) override;
    // Bin charts do not go to a packet.
    int64_t PacketAt(QPoint, bool) const override { return -1; }

private:
    BinVRule Rule() const { return VRuleOf(kind_, Scale().maxValue); }
    // The maximum pass at the current zoom, then the value range.
    void RunMaxPass();

    BinKind kind_;
    SeriesBins bins_;
    std::vector<BinSeriesKey> drawnKeys_;
    QRect legendRect_;
};

class CBusUsage : public CBinChart {
    Q_OBJECT
public:
    CBusUsage(CTrafficPane& pane, QWidget* parent) : CBinChart(pane, ChartBusUsage, BinKind::Usage, parent) {}
};

class CSpeed : public CBinChart {
    Q_OBJECT
public:
    CSpeed(CTrafficPane& pane, QWidget* parent) : CBinChart(pane, ChartSpeed, BinKind::Rate, parent) {}
};

}  // namespace orvane::velmora
