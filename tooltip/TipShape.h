// The tip's balloon: where it goes on the screen (its tail on the cursor
// point, flipped and slid to stay visible), the region of its rounded body
// and tail, and the one-pixel frame of that region.
#pragma once

#include <QRegion>

#include "HtmlTypes.h"

namespace orvane {

struct TipPoint {
    int x = 0;
    int y = 0;
    bool operator==(const TipPoint&) const = default;
};

// TipDirection: the edge that carries the tail (high nibble) and where along it (low).
enum TipDirection : unsigned {
    TailTopStart = 0, TailTopEnd = 1, TailTopCentre = 2,
    TailBottomStart = 16, TailBottomEnd = 17, TailBottomCentre = 18,
    TailLeftStart = 32, TailLeftEnd = 33, TailLeftCentre = 34,
    TailRightStart = 48, TailRightEnd = 49, TailRightCentre = 50,
};
bool IsTipDirection(unsigned code);

struct TipMetrics {
    int cornerWidth = 16;
    int cornerHeight = 16;
    int marginX = 12;
    int marginY = 12;
    int tailWidth = 12;
    int tailHeight = 16;
    int tailOffset = 16;
};

struct TipPlacement {
    unsigned direction = TailBottomStart;
    int width = 0;          // window without the shadow
    int height = 0;
    TipPoint anchor;        // the point of the window that lies on the show point
    HtmlRect body;          // the rounded part, in window coordinates
    HtmlRect text;          // where the text is drawn
};

// Places a text of cx x cy (capped to the screen, negative sizes 0) for a
// show at point p on the screen rectangle.
TipPlacement PlaceTip(unsigned direction, int cx, int cy, TipPoint p, const HtmlRect& screen, const TipMetrics& m);

// The rounded body with its tail, for a placement's direction, anchor and size.
QRegion MakeTipRegion(const TipPlacement& placement, const TipMetrics& m);

// A rounded rectangle over [left, right) x [top, bottom) with corner ellipses of cw x ch.
QRegion RoundRectRegion(int left, int top, int right, int bottom, int cw, int ch);

// The pixels of the region that have a 4-neighbour outside it.
QRegion FrameOf(const QRegion& region);

}  // namespace orvane
