// The packet-length and data-length charts: every packet (every data packet)
// as a bar over its time on the bus, as high as its bytes on the bus (its
// payload), in its PID's colour; packets within one pixel column share a bar.
#pragma once

#include "CVelmoraBase.h"
#include "LengthBars.h"

namespace orvane::velmora {

class CLengthChart : public CVelmoraBase {
    Q_OBJECT
public:
    CLengthChart(CTrafficPane& pane, int32_t cls, QWidget* parent);

    void UpdateVScroll() override;
    void Reload() override;
    void ShowConfigDialog() override;
    QString GetInfoText() const override;
    bool DataOnly() const { return Class() == ChartDataLength; }
    // What the last paint drew (the packet-length chart's value bins).
    const DrawnRange& Drawn() const { return drawn_; }

protected:
    void PaintData(QPainter& plot, double start, double end) override;
    void DrawBar(QPainter& plot, const LengthBar& bar, int32_t plotWidth);

private:
    DrawnRange drawn_;
};

class CPacketLenght : public CLengthChart {
    Q_OBJECT
public:
    CPacketLenght(CTrafficPane& pane, QWidget* parent) : CLengthChart(pane, ChartPacketLength, parent) {}
};

class CDataLength : public CLengthChart {
    Q_OBJECT
public:
    CDataLength(CTrafficPane& pane, QWidget* parent) : CLengthChart(pane, ChartDataLength, parent) {}

protected:
    // The nearest data packet in the button's direction, else the other way.
    int64_t PacketAt(QPoint point, bool left) const override;
};

}  // namespace orvane::velmora
