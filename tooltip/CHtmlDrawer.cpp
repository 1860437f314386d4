// The drawer's life, its passes over the whole text, colours and links.
#include "CHtmlDrawer.h"

#include <algorithm>

#include "HtmlNumbers.h"
#include "HtmlScanner.h"

namespace orvane {

using namespace htmllimits;

CHtmlDrawer::CHtmlDrawer(ITextMeasurer& measurer, IHtmlResources* resources, const SystemColors& systemColors)
    : measurer_(measurer), resources_(resources) {
    FillTagTable();
    FillEntityTable();
    FillColorTable(systemColors);
    SetImageShadow();
    tabWidth_ = 32;
    SetDefaultCssStyles();
}

CHtmlDrawer::~CHtmlDrawer() = default;

HtmlSize CHtmlDrawer::PrepareOutput(const std::u16string& html) {
    canvas_ = nullptr;
    html_ = html;
    ReplaceEntities(html_);
    images_.clear();
    backgrounds_.clear();
    sectionClosesLine_.clear();
    HtmlSize size;
    if (html_.empty()) return size;
    measuring_ = true;
    tables_.clear();
    DrawHtml(size, HtmlRect{});
    if (size.cx == 0 && size.cy == 0) html_.clear();
    size.cx = std::min(size.cx + 1, std::max(1, maxSize_.cx));
    size.cy = std::min(size.cy + 1, std::max(1, maxSize_.cy));
    return size;
}

void CHtmlDrawer::DrawPreparedOutput(IHtmlCanvas& canvas, const HtmlRect& rect) {
    if (html_.empty()) return;
    canvas_ = &canvas;
    measuring_ = false;
    HtmlSize size;
    DrawHtml(size, rect);
    canvas_ = nullptr;
    measuring_ = true;
}

void CHtmlDrawer::DrawHtml(HtmlSize& size, HtmlRect rect) {
    if (measuring_) {
        lines_.clear();
        iconLists_.clear();
    }
    // Every drawing pass records the areas anew, so repeated paints do not pile them up.
    linkAreas_.clear();
    lineCounter_ = 0;
    tableCounter_ = linkCounter_ = iconListCounter_ = imageCounter_ = sectionCounter_ = -1;
    outOfLines_ = false;
    markBudget_ = 8 * int64_t{kMaxTableSlots};
    styleStack_.clear();
    SetDefaultStyle();
    ApplyCssClass(u"body", style_);
    UpdateContext();

    HtmlScanner scanner(html_);
    const size_t len = html_.size();
    int64_t width = 0;
    int64_t height = 0;
    auto add = [&](HtmlSize s) {
        width = std::max<int64_t>(width, s.cx);
        height += s.cy;
        if (!measuring_) rect.top = Clamp64(int64_t{rect.top} + s.cy, -kMaxCoord, kMaxCoord);
    };
    size_t pos = 0;
    while (pos < len) {
        size_t tablePos = pos;
        scanner.SearchTag(tablePos, u"table");
        if (tablePos > pos) add(DrawHtmlString(html_.substr(pos, tablePos - pos), rect));
        if (tablePos >= len) break;
        size_t end = SearchEndOfTable(scanner, tablePos);
        add(DrawTable(html_.substr(tablePos, end - tablePos), rect, 1));
        pos = std::max(end, tablePos + 1);
    }
    size.cx = Clamp64(width, 0, kMaxCoord);
    size.cy = Clamp64(height, 0, kMaxCoord);
    styleStack_.clear();
}

void CHtmlDrawer::SetDefaultStyle() {
    int width = style_.width;
    int height = style_.height;
    style_ = HtmlStyle{};
    style_.width = width;
    style_.height = height;
}

Colorref CHtmlDrawer::ParseColor(const std::u16string& value, Colorref current) const {
    if (value.empty()) return current;
    if (value[0] == u'#') {
        if (value.size() != 7) return current;
        std::u16string bgr = u"0x" + value.substr(5, 2) + value.substr(3, 2) + value.substr(1, 2);
        return htmlnumbers::ReadUnsigned(bgr) & 0xFFFFFF;
    }
    if (value[0] >= u'0' && value[0] <= u'9') return htmlnumbers::ReadUnsigned(value) & 0xFFFFFF;
    return GetColorByName(value, current);
}

int CHtmlDrawer::HitTestLink(int x, int y) const {
    for (size_t i = 0; i < linkAreas_.size(); ++i) {
        const HtmlRect& a = linkAreas_[i].area;
        if (a.left <= x && x <= a.right && a.top <= y && y <= a.bottom) return static_cast<int>(i);
    }
    return -1;
}

bool CHtmlDrawer::OnSetCursor(int x, int y) {
    int index = HitTestLink(x, y);
    if (index < 0) {
        if (hoveredLink_ == -2) return false;
        hoveredLink_ = -2;
        if (repaint_) repaint_(-2);
        return false;
    }
    const LinkArea& area = linkAreas_[index];
    if (area.linkIndex != hoveredLink_) {
        hoveredLink_ = area.linkIndex;
        std::u16string target = area.linkTarget;  // the callback may repaint and refill the areas
        if (repaint_) repaint_(hoveredLink_);
        return !target.empty();
    }
    return !area.linkTarget.empty();
}

void CHtmlDrawer::OnLinkClick(int index) {
    if (index < 0 || static_cast<size_t>(index) >= linkAreas_.size()) return;
    LinkArea area = linkAreas_[index];
    if (area.linkTarget.empty()) return;
    if (area.linkKind == 1)
        OpenUrl(area.linkTarget);
    else if (area.linkKind == 2 && linkNotify_)
        linkNotify_(area.linkTarget);
}

bool CHtmlDrawer::IsOpenableUrl(const std::u16string& url) {
    for (char16_t c : url)
        if (c < 0x20 || c == 0x7F) return false;
    std::u16string lower;
    for (char16_t c : url.substr(0, 8)) lower += (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
    auto starts = [&](std::u16string_view prefix) { return lower.compare(0, prefix.size(), prefix) == 0; };
    if (starts(u"http://")) return url.size() > 7;
    if (starts(u"https://")) return url.size() > 8;
    if (starts(u"mailto:")) return url.size() > 7;
    return false;
}

bool CHtmlDrawer::OpenUrl(const std::u16string& url) {
    // Only web and mail links, and only through the desktop's handler: tip text
    // comes from captured data and must never start a program.
    if (!IsOpenableUrl(url) || !urlOpener_) return false;
    return urlOpener_(url);
}

bool CHtmlDrawer::OnTimer() {
    bool changed = false;
    for (IconListState& state : iconLists_) {
        if (state.frameCount <= 0) continue;
        if (++state.tickCounter >= state.speed) {
            state.tickCounter = 0;
            if (++state.currentFrame >= state.frameCount) state.currentFrame = 0;
            changed = true;
        }
    }
    return changed;
}

std::u16string CHtmlDrawer::GetStringResourceTip(int id) {
    std::u16string text = resources_ && id ? resources_->String(id) : std::u16string();
    size_t first = text.find(u'\n');
    if (first == std::u16string::npos) return {};
    size_t second = text.find(u'\n', first + 1);
    return text.substr(first + 1, second == std::u16string::npos ? std::u16string::npos : second - first - 1);
}

}  // namespace orvane
