// One tip that uses every feature, measured with QFontMetrics and drawn
// with QPainter offscreen; checked by probing pixels, not against stored glyphs.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <cstdio>
#include <sstream>

#include "HtmlTestKit.h"
#include "QtHtmlAdapter.h"

namespace orvane::test {
namespace {

// Generated images: a red bitmap, a blue icon and a strip of four coloured frames.
class GeneratedResources : public IHtmlResources {
public:
    std::shared_ptr<const HtmlImage> Bitmap(int id) override {
        if (id == 1) return Solid(20, 10, Qt::red);
        if (id != 3) return nullptr;
        QImage strip(64, 16, QImage::Format_ARGB32);
        const QColor frames[] = {Qt::red, Qt::green, Qt::blue, Qt::yellow};
        for (int i = 0; i < 4; ++i)
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 16; ++x) strip.setPixelColor(i * 16 + x, y, frames[i]);
        return std::make_shared<QtHtmlImage>(strip);
    }
    std::shared_ptr<const HtmlImage> Icon(int id, int cx, int cy) override {
        return id == 2 ? Solid(cx, cy, Qt::blue) : nullptr;
    }
    std::shared_ptr<const HtmlImage> FileBitmap(const std::filesystem::path&) override { return nullptr; }
    std::shared_ptr<const HtmlImage> FileIcon(const std::filesystem::path&, int, int) override { return nullptr; }
    std::u16string String(int id) override { return id == 5 ? u"string" : u""; }
    HtmlSize IconSize() override { return {16, 16}; }

private:
    static std::shared_ptr<const HtmlImage> Solid(int w, int h, QColor color) {
        QImage image(w, h, QImage::Format_ARGB32);
        image.fill(color);
        return std::make_shared<QtHtmlImage>(image);
    }
};

// Where the recording canvas saw each call: kind, then its numbers.
struct Placed {
    std::string kind;
    std::vector<int> numbers;
};

std::vector<Placed> Places(const std::vector<std::string>& calls) {
    std::vector<Placed> out;
    for (const std::string& call : calls) {
        Placed p;
        p.kind = call.substr(0, call.find(' '));
        std::string digits;
        for (size_t i = 0; i < call.size(); ++i) {
            const char c = call[i];
            const bool sign = c == '-' && (i == 0 || call[i - 1] == ' ' || call[i - 1] == ',');
            digits += (sign || (c >= '0' && c <= '9')) ? c : ' ';
        }
        std::istringstream in(digits);
        for (int n; in >> n;) p.numbers.push_back(n);
        out.push_back(p);
    }
    return out;
}

bool Near(QColor a, QColor b) {
    return std::abs(a.red() - b.red()) < 40 && std::abs(a.green() - b.green()) < 40 && std::abs(a.blue() - b.blue()) < 40;
}

TEST(QtRenderTest, EveryFeature) {
    int argc = 1;
    char name[] = "tooltip_render_tests";
    char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);

    const std::u16string tip =
        u"<h1>Title</h1><b>bold</b> <i>it</i> <u>un</u> <s>st</s> <font color=red bkgnd=yellow>red</font>"
        u"<br><hr color=blue size=3><br><center>centred &lt;x&gt;</center><t>tab<sub>2</sub><sup>3</sup> "
        u"<a href=\"http://example.org\">link</a> <span class=cpp-comment>comment</span><br>"
        u"<bmp idres=1><icon idres=2><ilst idres=3 cx=16 index=2><string idres=5>"
        u"<table border=1 bgcolor=#00ff00 cellpadding=4><tr><td>cell</td>"
        u"<td bgeffect=hgradient bgcolor=red bgendcolor=blue width=64>g</td></tr></table>";

    QImage image(600, 400, QImage::Format_ARGB32);
    image.fill(Qt::white);
    GeneratedResources resources;
    QtTextMeasurer measurer(&image);
    CHtmlDrawer drawer(measurer, &resources, QtSystemColors());
    const HtmlSize size = drawer.PrepareOutput(tip);
    ASSERT_GT(size.cx, 100);
    ASSERT_GT(size.cy, 60);
    ASSERT_LT(size.cx, 600);
    ASSERT_LT(size.cy, 400);
    const HtmlRect rect{0, 0, size.cx - 1, size.cy - 1};

    RecordingCanvas recording;
    drawer.DrawPreparedOutput(recording, rect);
    {
        QPainter painter(&image);
        QtHtmlCanvas canvas(painter);
        drawer.DrawPreparedOutput(canvas, rect);
    }
    image.save(QCoreApplication::applicationDirPath() + "/tooltip-render.png");  // for a look by eye

    int images = 0, lines = 0, fills = 0, texts = 0;
    for (const Placed& p : Places(recording.calls)) {
        const std::vector<int>& n = p.numbers;
        if (p.kind == "image") {
            // "image id l,t,r,b at x,y wxh style s": the middle of the drawn box.
            const int x = n[5] + n[7] / 2, y = n[6] + n[8] / 2;
            const QColor expected = images == 0 ? QColor(Qt::red) : QColor(Qt::blue);  // strip frame 2 is blue too
            EXPECT_TRUE(Near(image.pixelColor(x, y), expected)) << recording.calls.size() << " image " << images;
            ++images;
        } else if (p.kind == "line") {
            const int x = (n[0] + n[2]) / 2, y = n[1];
            EXPECT_TRUE(Near(image.pixelColor(x, y), Qt::blue)) << "rule at " << x << "," << y;
            ++lines;
        } else if (p.kind == "fill" && fills++ == 2) {
            // The gradient cell: red on its left, blue on its right.
            EXPECT_TRUE(Near(image.pixelColor(n[0] + 2, n[1] + 3), Qt::red));
            EXPECT_TRUE(Near(image.pixelColor(n[2] - 3, n[1] + 3), Qt::blue));
        } else if (p.kind == "fill" && fills == 1) {
            EXPECT_TRUE(Near(image.pixelColor(n[0] + 2, n[1] + 2), Qt::green));
        } else if (p.kind == "text") {
            ++texts;
        }
    }
    EXPECT_EQ(images, 3);
    EXPECT_EQ(lines, 1);
    EXPECT_EQ(fills, 3);
    EXPECT_GE(texts, 12);

    // Text was drawn: dark pixels in the title, yellow behind "red", a blue link.
    int dark = 0, yellow = 0, blue = 0;
    for (int y = 0; y < size.cy; ++y)
        for (int x = 0; x < size.cx; ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.lightness() < 80) ++dark;
            if (c == QColor(Qt::yellow)) ++yellow;
            if (c.blue() > 150 && c.red() < 80 && c.green() < 80) ++blue;
        }
    EXPECT_GT(dark, 50);
    EXPECT_GT(yellow, 20);
    EXPECT_GT(blue, 20);
    // Connected to the desktop, a tip never measures larger than the screens.
    CHtmlDrawer desktop(measurer, &resources);
    ConnectToDesktop(desktop);
    std::u16string tall;
    for (int i = 0; i < 2000; ++i) tall += u"line<br>";
    const HtmlSize capped = desktop.PrepareOutput(tall);
    const QRect screens = QGuiApplication::primaryScreen()->virtualGeometry();
    EXPECT_EQ(capped.cy, screens.height());
    EXPECT_LE(capped.cx, screens.width());

    // Nothing is drawn outside the measured size.
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (x >= size.cx || y >= size.cy) {
                ASSERT_EQ(image.pixelColor(x, y), QColor(Qt::white)) << x << "," << y;
            }
        }
    }
}

}  // namespace
}  // namespace orvane::test
