// Arbitrary tip text through the measuring pass, two drawing passes, mouse
// and timer handling. The first byte picks the text's encoding; links may
// only ever reach the opener when they are web or mail links.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "HtmlTestKit.h"

using namespace orvane;

namespace {

class NullCanvas : public IHtmlCanvas {
public:
    void DrawText(int, int, std::u16string_view, const HtmlFont&, const HtmlTextPaint&) override {}
    void DrawLine(int, int, int, int, Colorref, int, int) override {}
    void FillEffect(const HtmlRect&, int, Colorref, Colorref, Colorref, int) override {}
    void DrawStyledRect(const HtmlRect&, Colorref, Colorref, int, int) override {}
    void DrawImage(const HtmlImage&, const HtmlRect& source, int, int, int w, int h, const HtmlImagePaint&) override {
        if (w < 0 || h < 0 || source.left < 0 || source.top < 0) std::abort();
    }
    void TileImage(const HtmlImage&, const HtmlRect&) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const bool wide = data[0] & 1;
    ++data;
    --size;
    std::u16string text;
    if (wide) {
        for (size_t i = 0; i + 1 < size; i += 2) text += static_cast<char16_t>(data[i] | data[i + 1] << 8);
    } else {
        for (size_t i = 0; i < size; ++i) text += static_cast<char16_t>(data[i]);
    }

    // One drawer for every input, as the tooltip keeps one for its life.
    static test::FakeMeasurer measurer;
    static test::FakeResources resources;
    static CHtmlDrawer& drawer = [] () -> CHtmlDrawer& {
        resources.bitmaps[1] = {64, 16};
        resources.bitmaps[2] = {0, 0};
        resources.bitmaps[3] = {48, 32};
        resources.icons[1] = true;
        resources.strings[1] = u"tip\ntext";
        resources.listCount = 2;
        static CHtmlDrawer d(measurer, &resources);
        d.SetMaxSize({4096, 4096});
        d.SetUrlOpener([](const std::u16string& url) {
            if (!CHtmlDrawer::IsOpenableUrl(url)) std::abort();
            return true;
        });
        d.SetLinkNotify([](const std::u16string&) {});
        d.SetCallbackRepaint([](int) {});
        return d;
    }();
    drawer.OnSetCursor(-1, -1);  // no link hovered from the input before

    HtmlSize measured = drawer.PrepareOutput(text);
    if (measured.cx < 0 || measured.cy < 0 || measured.cx > 4096 || measured.cy > 4096) std::abort();
    NullCanvas canvas;
    const HtmlRect rect{0, 0, measured.cx - 1, measured.cy - 1};
    drawer.DrawPreparedOutput(canvas, rect);
    for (int i = 0; i < 16; ++i) {
        const int x = measured.cx * i / 16, y = measured.cy * ((i * 7) % 16) / 16;
        drawer.OnSetCursor(x, y);
        const int link = drawer.HitTestLink(x, y);
        if (link >= 0) drawer.OnLinkClick(link);
    }
    for (int i = 0; i < 4; ++i) drawer.OnTimer();
    // A redraw after hovering and animating, into a rectangle smaller than measured.
    drawer.DrawPreparedOutput(canvas, HtmlRect{5, 5, 6, 6});
    return 0;
}
