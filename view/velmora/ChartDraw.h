// Drawing helpers of the charts: colours, fonts, packet cells and icons.
#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QImage>
#include <QPainter>

#include <array>
#include <cstdint>
#include <vector>

#include "ChartColour.h"
#include "PacketCells.h"

namespace orvane {
class IDataSource;
}

namespace orvane::velmora {

inline QColor ToQColor(Rgb c) { return QColor(c.r, c.g, c.b, c.a); }
inline QColor FromColorRef(uint32_t c) { return ToQColor(RgbFromColorRef(c)); }
inline QColor FromArgb(uint32_t c) { return ToQColor(RgbFromArgb(c)); }

struct ChartFonts {
    QFont title{"Verdana", 9};
    QFont small{"Verdana", 7};
    QFont info{"Arial", 8};
};

// Draws one packet as its cells. One per pane: it reads payload bytes into
// its own buffer, on the GUI thread only.
class PacketPainter {
public:
    // The packet into left..right (which may lie far outside `clip`, the
    // visible x range), top..bottom. Nothing for a PID that has no cells.
    void PaintPacket(QPainter& p, IDataSource* source, const PacketRecord& record, int64_t left, int32_t top,
                     int64_t right, int32_t bottom, int32_t clipLeft, int32_t clipRight);

private:
    std::vector<uint8_t> payload_ = std::vector<uint8_t>(65536);
};

// A scroll bar action as the charts' scroll codes count them; -1 for none.
int32_t ScrollCodeOf(int action);

// The tool bar's, title buttons' and view's images, drawn rather than shipped.
QIcon CommandIcon(uint32_t command);
QImage ViewIcon();
// Settings (0) or close (1) title button, hot or not.
QImage TitleButton(int which, bool hot);

}  // namespace orvane::velmora
