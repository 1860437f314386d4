#include "TipShape.h"

#include <QPolygon>
#include <cmath>
#include <algorithm>
#include <vector>

namespace orvane {

namespace {

bool TailOnTop(unsigned c) { return c <= 2; }
bool TailOnBottom(unsigned c) { return c >= 16 && c <= 18; }
bool TailOnLeft(unsigned c) { return c >= 32 && c <= 34; }
bool TailOnRight(unsigned c) { return c >= 48 && c <= 50; }
bool SideTail(unsigned c) { return TailOnLeft(c) || TailOnRight(c); }
unsigned Along(unsigned c) { return c & 3; }  // 0 start, 1 end, 2 centred

// The tail's position along its edge (start, end or centred) for a point at
// coordinate q, a window n long on that axis and a screen from lo to hi.
unsigned ChooseAlong(unsigned code, int q, int n, int lo, int hi, int off) {
    switch (Along(code)) {
    case 0:
        if (q + n - off > hi) return q - n + off < lo ? code | 2 : code ^ 1;
        return code;
    case 1:
        if (q + off - n < lo) return q - off + n > hi ? code ^ 3 : code ^ 1;
        return code;
    default:
        if (q - lo <= off) return code ^ 2;
        if (hi - q <= off) return code ^ 3;
        return code;
    }
}

// Step 2: the tail's position along a top or bottom edge, or the side for side tails.
unsigned ChooseHorizontal(unsigned code, TipPoint p, const HtmlRect& s, int w, int off) {
    if (!SideTail(code)) return ChooseAlong(code, p.x, w, s.left, s.right, off);
    if (TailOnLeft(code) && p.x + w > s.right) return code ^ 16;
    if (TailOnRight(code) && p.x - w < s.left) return code ^ 16;
    return code;
}

// Step 3: the edge for top and bottom tails, the position along a side edge.
unsigned ChooseVertical(unsigned code, TipPoint p, const HtmlRect& s, int h, int off) {
    if (TailOnTop(code)) return p.y + h > s.bottom ? code ^ 16 : code;
    if (TailOnBottom(code)) return p.y - h < s.top ? code ^ 16 : code;
    return ChooseAlong(code, p.y, h, s.top, s.bottom, off);
}

// The anchor along the tail's edge: point coordinate q, window length n on
// a screen from lo to hi.
int AnchorAlong(unsigned code, int q, int n, int lo, int hi, int off) {
    int a = 0;
    switch (Along(code)) {
    case 0: a = off; break;
    case 1: a = n - off; break;
    default:
        a = n / 2;
        if (q - a < lo && lo + n <= hi) a = q - lo;
        else if (q - a + n > hi && hi - n >= lo) a = q - hi + n;
        break;
    }
    if (Along(code) == 1) {
        if (q - a + n > hi) a = q - hi + n;
    } else if (q - a < lo) {
        a = q - lo;
    }
    return a;
}

}  // namespace

bool IsTipDirection(unsigned code) {
    return (TailOnTop(code) || TailOnBottom(code) || SideTail(code)) && Along(code) != 3;
}

TipPlacement PlaceTip(unsigned direction, int cx, int cy, TipPoint p, const HtmlRect& screen, const TipMetrics& m) {
    TipPlacement t;
    t.direction = direction;
    const bool known = IsTipDirection(direction);
    const bool side = known && SideTail(direction);
    const int tail = std::max(0, m.tailHeight);
    // The window never exceeds the screen, whatever the text asks for.
    const int sw = std::max(0, screen.Width()), sh = std::max(0, screen.Height());
    cx = std::clamp(cx, 0, std::max(0, sw - 2 * m.marginX - (side ? tail : 0)));
    cy = std::clamp(cy, 0, std::max(0, sh - 2 * m.marginY - (known && !side ? tail : 0)));
    t.body = {0, 0, cx + 2 * m.marginX, cy + 2 * m.marginY};
    t.text = {m.marginX, m.marginY, m.marginX + cx, m.marginY + cy};
    t.width = t.body.right;
    t.height = t.body.bottom;
    if (!known) {
        t.anchor = {cx, cy};
        return t;
    }
    if (side) t.width += tail; else t.height += tail;
    const int w = t.width, h = t.height, off = m.tailOffset;

    unsigned code = ChooseHorizontal(direction, p, screen, w, off);
    code = ChooseVertical(code, p, screen, h, off);
    t.direction = code;

    if (SideTail(code)) {
        t.anchor.x = TailOnLeft(code) ? 0 : w;
        t.anchor.y = AnchorAlong(code, p.y, h, screen.top, screen.bottom, off);
    } else {
        t.anchor.y = TailOnTop(code) ? 0 : h;
        t.anchor.x = AnchorAlong(code, p.x, w, screen.left, screen.right, off);
    }
    auto shift = [](HtmlRect& r, int dx, int dy) { r = {r.left + dx, r.top + dy, r.right + dx, r.bottom + dy}; };
    if (TailOnTop(code)) {
        shift(t.body, 0, tail);
        shift(t.text, 0, tail);
    } else if (TailOnLeft(code)) {
        shift(t.body, tail, 0);
        shift(t.text, tail, 0);
    }
    return t;
}

QRegion RoundRectRegion(int left, int top, int right, int bottom, int cw, int ch) {
    if (right <= left || bottom <= top) return {};
    const int w = right - left, h = bottom - top;
    const double rx = std::min(cw, w) / 2.0, ry = std::min(ch, h) / 2.0;
    if (rx <= 0 || ry <= 0) return QRegion(left, top, w, h);
    // Row by row: the inset of the corner ellipse at the row's pixel centres.
    std::vector<QRect> rows;
    rows.reserve(size_t(h));
    for (int y = 0; y < h; ++y) {
        const double cy = y + 0.5;
        const double dy = cy < ry ? ry - cy : cy > h - ry ? cy - (h - ry) : 0;
        int inset = 0;
        if (dy > 0) {
            const double t = 1 - (dy / ry) * (dy / ry);
            const double half = t > 0 ? rx * std::sqrt(t) : 0;
            // The first pixel whose centre lies inside the ellipse.
            while (inset < w / 2 && inset + 0.5 < rx - half) ++inset;
        }
        if (w - 2 * inset > 0) rows.emplace_back(left + inset, top + y, w - 2 * inset, 1);
    }
    QRegion region;
    region.setRects(rows.data(), int(rows.size()));
    return region;
}

QRegion MakeTipRegion(const TipPlacement& t, const TipMetrics& m) {
    const unsigned code = t.direction;
    const int tail = std::max(0, m.tailHeight);
    // The body as placed: the window less the tail's strip.
    const int left = t.body.left, top = t.body.top, right = t.body.right, bottom = t.body.bottom;
    if (!IsTipDirection(code)) return RoundRectRegion(left, top, right, bottom, m.cornerWidth, m.cornerHeight);
    QRegion region = RoundRectRegion(left, top, right, bottom, m.cornerWidth, m.cornerHeight);
    if (tail == 0 || m.tailWidth <= 0) return region;

    // The base on the body edge that faces the tail, one pixel inside it so the two join.
    const bool side = SideTail(code);
    const int start = side ? top : left, end = side ? bottom : right;
    const int along = side ? t.anchor.y : t.anchor.x;
    int b0 = 0;
    switch (Along(code)) {
    case 0: b0 = start + m.tailOffset; break;
    case 1: b0 = end - m.tailOffset - m.tailWidth; break;
    default: b0 = along - m.tailWidth / 2; break;
    }
    const int b1 = b0 + m.tailWidth;
    const int edge = TailOnTop(code) ? top + 1 : TailOnBottom(code) ? bottom - 1 : TailOnLeft(code) ? left + 1 : right - 1;
    QPolygon triangle;
    if (side) triangle << QPoint(t.anchor.x, t.anchor.y) << QPoint(edge, b0) << QPoint(edge, b1);
    else triangle << QPoint(t.anchor.x, t.anchor.y) << QPoint(b0, edge) << QPoint(b1, edge);
    return region.united(QRegion(triangle, Qt::OddEvenFill)).intersected(QRect(0, 0, t.width, t.height));
}

QRegion FrameOf(const QRegion& region) {
    const QRegion inner = region.intersected(region.translated(1, 0))
                              .intersected(region.translated(-1, 0))
                              .intersected(region.translated(0, 1))
                              .intersected(region.translated(0, -1));
    return region.subtracted(inner);
}

}  // namespace orvane
