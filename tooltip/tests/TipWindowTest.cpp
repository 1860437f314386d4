// The tip window offscreen: a shown tip's geometry and mask, and its picture:
// the effect background, the frame, the text and the shadow over what lay behind.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include "CTooltipWindow.h"

namespace orvane {
namespace {

struct TipWindowTest : ::testing::Test {
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "tooltip_window_tests";
        static char* argv[] = {name, nullptr};
        static QApplication app(argc, argv);
    }
};

TEST_F(TipWindowTest, ShowsABalloonAndDrawsItOverItsShadow) {
    QWidget owner;
    owner.setGeometry(100, 100, 400, 300);
    QPalette light = owner.palette();
    light.setColor(QPalette::Window, QColor(240, 240, 200));
    owner.setPalette(light);
    owner.setAutoFillBackground(true);
    owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    CTooltipWindow tip;
    ASSERT_TRUE(tip.Create(&owner));
    EXPECT_FALSE(tip.Translucent()) << "no compositor offscreen";
    ToolInfo tool;
    tool.text = u"<b>Hello</b> tip";
    tool.mask = MaskBehaviour;
    const QPoint at(250, 300);
    tip.ShowTooltip(at, tool);
    ASSERT_TRUE(tip.isVisible());
    const TipPlacement& t = tip.Placement();
    EXPECT_EQ(t.direction, 16u);
    EXPECT_EQ(t.anchor.x, tip.Metrics().tailOffset);
    EXPECT_EQ(tip.geometry().topLeft(), at - QPoint(t.anchor.x, t.anchor.y));
    EXPECT_EQ(tip.mask(), tip.WindowRegion());
    EXPECT_EQ(t.text.left, tip.Metrics().marginX);

    const QImage picture = tip.Compose(0);
    ASSERT_EQ(picture.size(), tip.size());
    const Colorref infoBk = QtSystemColors()[24], infoText = QtSystemColors()[23];
    const int midY = t.body.bottom / 2;
    EXPECT_EQ(picture.pixel(3, midY) & 0xFFFFFF, ToQColor(infoBk).rgb() & 0xFFFFFF) << "the background";
    EXPECT_EQ(picture.pixel(0, midY) & 0xFFFFFF, ToQColor(infoText).rgb() & 0xFFFFFF) << "the frame";
    // Right of the body: shadow where the moved region lies, the screen above it.
    const QRgb behind = picture.pixel(t.width + 3, 1);
    const QRgb shadow = picture.pixel(t.width + 3, midY);
    EXPECT_LT(qGray(shadow), qGray(behind));
    // Without a compositor a transparent tip blends over the copy of the screen behind it.
    const QColor blended = tip.Compose(30).pixelColor(3, midY);
    const QColor bk = ToQColor(infoBk), screen = QColor(behind);
    EXPECT_NEAR(blended.red(), (bk.red() * 70 + screen.red() * 30) / 100, 1);
    EXPECT_NEAR(blended.green(), (bk.green() * 70 + screen.green() * 30) / 100, 1);
    EXPECT_NEAR(blended.blue(), (bk.blue() * 70 + screen.blue() * 30) / 100, 1);

    tip.HideTooltip();
    EXPECT_FALSE(tip.isVisible());
}

TEST_F(TipWindowTest, ShadowIsLighterForAMoreTransparentTip) {
    EXPECT_EQ(CTooltipWindow::ShadowGrey(50, 0), 128);
    EXPECT_EQ(CTooltipWindow::ShadowGrey(50, 30), 166);
    EXPECT_EQ(CTooltipWindow::ShadowGrey(50, 100), 255);
    EXPECT_EQ(CTooltipWindow::ShadowGrey(0, 0), 255);
}

TEST_F(TipWindowTest, AnEmptyTextShowsNoWindow) {
    CTooltipWindow tip;
    ASSERT_TRUE(tip.Create(nullptr));
    ToolInfo tool;
    tool.mask = MaskBehaviour;
    tip.ShowTooltip({10, 10}, tool);
    EXPECT_FALSE(tip.isVisible());
    tip.HideNow();
}

}  // namespace
}  // namespace orvane
