// The packet-type chart: every packet at its time as a block in its PID's
// colour, its cells where it is wider than 4 pixels, a red line at the
// centre, and (with ShowFly) the packet under the pointer drawn large.
#pragma once

#include "CVelmoraBase.h"

namespace orvane::velmora {

class CTrafficCtrl : public CVelmoraBase {
    Q_OBJECT
public:
    static constexpr int32_t kBandHeight = 38;

    CTrafficCtrl(CTrafficPane& pane, QWidget* parent);

    bool IsFitV() const override { return true; }
    bool CanZoomInV() const override { return false; }
    bool CanZoomOutV() const override { return false; }
    QString GetInfoText() const override;
    void ShowConfigDialog() override;

    // The band's top in the plot.
    int32_t BandTop() const { return (PlotRect().height() - kBandHeight) / 2; }

protected:
    void PaintData(QPainter& plot, double start, double end) override;
    void PaintOverlay(QPainter& p) override;
    void OnPointerMoved(QPoint point) override;

private:
    int64_t floating_ = -1;  // the packet the floating graphic shows
};

}  // namespace orvane::velmora
