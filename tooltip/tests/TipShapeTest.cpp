// Where the balloon goes at every screen edge and corner, and which pixels
// its region holds.
#include <gtest/gtest.h>

#include "TipShape.h"

namespace orvane {
namespace {

const HtmlRect kScreen{0, 0, 1000, 800};
const TipMetrics kMetrics;

// A 100 x 20 text: body 124 x 44, window 124 x 60 with the tail.
TEST(TipShapeTest, PlacementAtEveryEdgeAndCorner) {
    struct Case {
        const char* where;
        unsigned direction;
        TipPoint p;
        unsigned final;
        TipPoint anchor;
    };
    const Case cases[] = {
        {"middle", 16, {500, 400}, 16, {16, 60}},
        {"right edge", 16, {990, 400}, 17, {114, 60}},
        {"left edge", 16, {5, 400}, 16, {5, 60}},
        {"top edge", 16, {500, 10}, 0, {16, 0}},
        {"bottom edge", 16, {500, 795}, 16, {16, 60}},
        {"top-left", 16, {5, 10}, 0, {5, 0}},
        {"top-right", 16, {990, 10}, 1, {114, 0}},
        {"bottom-left", 16, {5, 795}, 16, {5, 60}},
        {"bottom-right", 16, {990, 795}, 17, {114, 60}},
        {"end asked, left edge", 17, {20, 400}, 16, {16, 60}},
        {"centred asked", 18, {500, 400}, 18, {62, 60}},
        {"centred at the left edge", 18, {10, 400}, 16, {10, 60}},
        {"centred at the right edge", 18, {995, 400}, 17, {119, 60}},
        {"below asked, bottom edge", 0, {500, 780}, 16, {16, 60}},
        {"left tail, right edge", 32, {950, 400}, 48, {140, 16}},
        {"right tail, left edge", 48, {30, 400}, 32, {0, 16}},
        {"left tail, bottom edge", 32, {500, 790}, 33, {0, 34}},
        {"left tail, top edge", 33, {500, 5}, 32, {0, 5}},
    };
    for (const Case& k : cases) {
        const TipPlacement t = PlaceTip(k.direction, 100, 20, k.p, kScreen, kMetrics);
        EXPECT_EQ(t.direction, k.final) << k.where;
        EXPECT_EQ(t.anchor, k.anchor) << k.where << " anchor " << t.anchor.x << "," << t.anchor.y;
        // The window always lies on the screen.
        const int left = k.p.x - t.anchor.x, top = k.p.y - t.anchor.y;
        EXPECT_GE(left, kScreen.left) << k.where;
        EXPECT_LE(left + t.width, kScreen.right) << k.where;
        if (k.final < 32) {
            EXPECT_GE(top, kScreen.top) << k.where;
            EXPECT_LE(top + t.height, kScreen.bottom) << k.where;
        }
    }
}

TEST(TipShapeTest, BodyAndTextMoveAwayFromTheTail) {
    const TipPlacement above = PlaceTip(16, 100, 20, {500, 400}, kScreen, kMetrics);
    EXPECT_EQ(above.body, (HtmlRect{0, 0, 124, 44}));
    EXPECT_EQ(above.text, (HtmlRect{12, 12, 112, 32}));
    const TipPlacement below = PlaceTip(16, 100, 20, {500, 5}, kScreen, kMetrics);
    EXPECT_EQ(below.body, (HtmlRect{0, 16, 124, 60}));
    EXPECT_EQ(below.text, (HtmlRect{12, 28, 112, 48}));
    const TipPlacement right = PlaceTip(32, 100, 20, {500, 400}, kScreen, kMetrics);
    EXPECT_EQ(right.width, 140);
    EXPECT_EQ(right.height, 44);
    EXPECT_EQ(right.text, (HtmlRect{28, 12, 128, 32}));
}

TEST(TipShapeTest, SizesAreCappedToTheScreen) {
    // Wider than the screen: as wide as the screen, at its left edge.
    const TipPlacement wide = PlaceTip(16, 5000, 20, {500, 400}, kScreen, kMetrics);
    EXPECT_EQ(wide.width, 1000);
    EXPECT_EQ(500 - wide.anchor.x, 0);
    const TipPlacement tall = PlaceTip(16, 10, 100000, {500, 400}, kScreen, kMetrics);
    EXPECT_EQ(tall.height, 800);
    const TipPlacement negative = PlaceTip(16, -50, -7, {500, 400}, kScreen, kMetrics);
    EXPECT_EQ(negative.width, 24);
    EXPECT_EQ(negative.height, 40);
    const TipPlacement unknown = PlaceTip(7, 100, 20, {500, 400}, kScreen, kMetrics);
    EXPECT_EQ(unknown.width, 124);
    EXPECT_EQ(unknown.height, 44);
    EXPECT_EQ(unknown.anchor, (TipPoint{100, 20}));
}

TEST(TipShapeTest, RegionPoints) {
    const TipPlacement t = PlaceTip(16, 100, 20, {500, 400}, kScreen, kMetrics);
    const QRegion region = MakeTipRegion(t, kMetrics);
    struct Case {
        QPoint p;
        bool inside;
    };
    const Case cases[] = {
        {{0, 0}, false},   {{4, 0}, false},   {{5, 0}, true},     {{0, 8}, true},    {{62, 0}, true},
        {{123, 20}, true}, {{124, 20}, false}, {{123, 43}, false}, {{60, 43}, true},  {{60, 44}, false},
        {{17, 45}, true},  {{17, 56}, true},   {{25, 45}, true},   {{30, 45}, false}, {{16, 57}, true},
        {{14, 50}, false}, {{100, 59}, false},
    };
    for (const Case& k : cases) EXPECT_EQ(region.contains(k.p), k.inside) << k.p.x() << "," << k.p.y();
    EXPECT_TRUE(QRect(0, 0, 124, 60).contains(region.boundingRect()));

    // The tail on the top edge, centred on the point.
    const TipPlacement top = PlaceTip(2, 100, 20, {500, 5}, kScreen, kMetrics);
    ASSERT_EQ(top.direction, 2u);
    const QRegion up = MakeTipRegion(top, kMetrics);
    EXPECT_TRUE(up.contains(QPoint(62, 2)));
    EXPECT_FALSE(up.contains(QPoint(40, 2)));
    EXPECT_TRUE(up.contains(QPoint(40, 30)));
}

TEST(TipShapeTest, NoTailGivesAPlainRoundedRectangle) {
    for (TipMetrics m : {TipMetrics{.tailWidth = 0}, TipMetrics{.tailHeight = 0}}) {
        const TipPlacement t = PlaceTip(16, 100, 20, {500, 400}, kScreen, m);
        const QRegion region = MakeTipRegion(t, m);
        EXPECT_EQ(region, RoundRectRegion(0, 0, 124, 44, 16, 16));
    }
    EXPECT_TRUE(RoundRectRegion(0, 0, 0, 10, 16, 16).isEmpty());
    EXPECT_EQ(RoundRectRegion(0, 0, 3, 3, 0, 0), QRegion(0, 0, 3, 3));
}

TEST(TipShapeTest, FrameIsTheRegionsEdge) {
    const QRegion square(0, 0, 4, 4);
    const QRegion frame = FrameOf(square);
    int pixels = 0;
    for (const QRect& r : frame) pixels += r.width() * r.height();
    EXPECT_EQ(pixels, 12);
    EXPECT_FALSE(frame.contains(QPoint(1, 1)));
    EXPECT_TRUE(frame.contains(QPoint(3, 0)));
}

}  // namespace
}  // namespace orvane
