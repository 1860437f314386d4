// Tables: counted and measured once per prepared text, then replayed by the
// drawing passes with spare width spread over the free columns.
#include <algorithm>
#include <map>

#include "CHtmlDrawer.h"
#include "HtmlScanner.h"

namespace orvane {

using namespace htmllimits;

namespace {

constexpr int kTableStyleDepth = kMaxStyleDepth + 3 * kMaxTableDepth;

int C(int64_t v) { return Clamp64(v, -kMaxCoord, kMaxCoord); }

HtmlRect Shrink(const HtmlRect& r, int by) { return {C(int64_t{r.left} + by), C(int64_t{r.top} + by),
                                                     C(int64_t{r.right} - by), C(int64_t{r.bottom} - by)}; }

}  // namespace

std::u16string CHtmlDrawer::ReadOpeningAttributes(const std::u16string& text, size_t& pos) {
    HtmlScanner scanner(text);
    std::u16string tag;
    scanner.ReadTextRun(tag, pos);
    return HtmlScanner::SplitTag(tag);
}

size_t CHtmlDrawer::SearchEndOfTable(HtmlScanner& scanner, size_t pos) {
    const size_t len = scanner.Length();
    int depth = 1;
    size_t openFrom = std::min(len, pos + 7);
    size_t closeFrom = openFrom;
    while (depth > 0) {
        size_t open = openFrom;
        size_t close = closeFrom;
        scanner.SearchTag(open, u"table");
        scanner.SearchTag(close, u"/table");
        if (open >= len && close >= len) break;
        if (open < close) {
            ++depth;
            openFrom = std::min(len, open + 7);
        } else {
            --depth;
            closeFrom = std::min(len, close + 8);
        }
    }
    // A table whose closing tag is missing runs to the end of the text.
    return depth == 0 ? closeFrom - 8 : len;
}

size_t CHtmlDrawer::SearchEndOfRow(HtmlScanner& scanner, size_t pos) {
    const size_t len = scanner.Length();
    int depth = 1;
    size_t p = std::min(len, pos + 4);
    while (p < len && depth > 0) {
        size_t tr = p, endTr = p, table = p;
        scanner.SearchTag(tr, u"tr");
        scanner.SearchTag(endTr, u"/tr");
        scanner.SearchTag(table, u"table");
        if (table < tr && table < endTr) {
            p = std::min(len, SearchEndOfTable(scanner, table) + 6);
        } else if (tr < endTr) {
            ++depth;
            p = std::min(len, tr + 4);
        } else if (endTr < len) {
            --depth;
            p = std::min(len, endTr + 5);
        } else {
            return len;
        }
    }
    return depth == 0 ? p - 5 : len;
}

size_t CHtmlDrawer::SearchEndOfCell(HtmlScanner& scanner, size_t pos) {
    const size_t len = scanner.Length();
    size_t p = std::min(len, pos + 4);
    for (;;) {
        size_t endTd = p, table = p;
        scanner.SearchTag(endTd, u"/td");
        scanner.SearchTag(table, u"table");
        if (table >= endTd) return endTd;
        p = std::min(len, SearchEndOfTable(scanner, table) + 6);
    }
}

std::pair<int, int> CHtmlDrawer::ParseTableAttributes(const std::u16string& attrs, HtmlStyle& style, bool table) {
    int colspan = 1;
    int rowspan = 1;
    if (attrs.empty()) return {colspan, rowspan};
    size_t pos = 0;
    std::u16string name;
    while (pos < attrs.size()) {
        std::u16string value = HtmlScanner::ReadAttribute(attrs, pos, name);
        if (name.empty()) break;
        if (table && name == u"cellpadding") {
            style.margin = ParseLength(value, style.margin, false);
        } else if (table && name == u"cellspacing") {
            style.padding = ParseLength(value, style.padding, false);
        } else if (table && name == u"background") {
            style.backImage = value;
        } else if (name == u"rowspan") {
            rowspan = ParseLength(value, 1, false);
        } else if (name == u"colspan") {
            colspan = ParseLength(value, 1, false);
        } else if (name == u"border") {
            style.borderWidth = std::min(ParseLength(value, style.borderWidth, false), kMaxRuleSize);
            if (style.borderWidth == 0)
                style.borderStyle = 0;
            else if (style.borderStyle == 0)
                style.borderStyle = 1;
        } else if (name == u"borderstyle") {
            style.borderStyle = ParseBorderStyle(value, style.borderStyle);
            if (style.borderStyle != 0 && style.borderWidth == 0) style.borderWidth = 1;
        } else if (name == u"bordercolor") {
            style.borderColorLight = ParseColor(value, style.borderColorLight);
            style.borderColorDark = style.borderColorLight;
        } else if (name == u"bordercolorlight") {
            style.borderColorLight = ParseColor(value, style.borderColorLight);
        } else if (name == u"bordercolordark") {
            style.borderColorDark = ParseColor(value, style.borderColorDark);
        } else if (name == u"bgcolor") {
            style.backColor = ParseColor(value, style.backColor);
            if (style.backEffect < 0) style.backEffect = 0;
        } else if (name == u"bgmidcolor") {
            style.backMidColor = ParseColor(value, style.backMidColor);
        } else if (name == u"bgendcolor") {
            style.backEndColor = ParseColor(value, style.backEndColor);
        } else if (name == u"bgeffect") {
            style.backEffect = ParseBackgroundEffect(value, style.backEffect);
        } else if (name == u"align") {
            style.horzAlign = ParseHorzAlign(value, style.horzAlign);
        } else if (name == u"valign") {
            style.vertAlign = ParseVertAlign(value, style.vertAlign);
        } else if (name == u"width") {
            style.width = ParseLength(value, style.width, false);
        } else if (name == u"height") {
            style.height = ParseLength(value, style.height, false);
        }
    }
    if (style.borderStyle == 0 || style.borderWidth == 0)
        style.borderStyle = style.borderWidth = 0;
    else if (style.borderStyle != 1)
        style.borderWidth = 1;
    if (!table && style.borderWidth != 0) style.borderWidth = 1;
    return {std::clamp(colspan, 1, kMaxTableSpan), std::clamp(rowspan, 1, kMaxTableSpan)};
}

std::pair<int, int> CHtmlDrawer::CountTableCells(const std::u16string& tableText) {
    HtmlScanner scanner(tableText);
    const size_t len = tableText.size();
    int64_t columns = 0;
    int rows = 0;
    size_t pos = 0;
    std::u16string tag;
    while (rows < kMaxTableSlots) {
        size_t tr = pos;
        if (!scanner.SearchTag(tr, u"tr")) break;
        ++rows;
        int64_t sum = 0;
        size_t p = tr;
        size_t rowEnd = tr;
        for (;;) {
            rowEnd = p;
            size_t td = p;
            scanner.SearchTag(rowEnd, u"/tr");
            scanner.SearchTag(td, u"td");
            if (td >= rowEnd) break;
            size_t at = td;
            scanner.ReadTextRun(tag, at);
            HtmlStyle scratch;
            sum += ParseTableAttributes(HtmlScanner::SplitTag(tag), scratch, false).first;
            p = std::max(SearchEndOfCell(scanner, td), td + 1);
        }
        columns = std::max(columns, sum);
        if (rowEnd >= len) break;
        pos = std::max(rowEnd, tr + 1);
    }
    const int cols = Clamp64(columns, 0, kMaxTableColumns);
    return {cols, cols ? std::min(rows, kMaxTableSlots / cols) : rows};
}

HtmlSize CHtmlDrawer::DrawTable(const std::u16string& tableText, const HtmlRect& rect, int depth) {
    if (depth > kMaxTableDepth) return {};
    const int n = ++tableCounter_;
    if (measuring_) {
        auto [columns, rows] = CountTableCells(tableText);
        TableLayout layout;
        layout.grid.assign(rows, std::vector<TableCell>(columns));
        layout.columnWidths.assign(columns, 0);
        layout.rowHeights.assign(rows, 0);
        layout.fixedColumns.assign(columns, 0);
        if (tables_.size() <= static_cast<size_t>(n)) tables_.resize(n + 1);
        tables_[n] = std::move(layout);
    }
    if (static_cast<size_t>(n) >= tables_.size()) return {};
    TableLayout work = tables_[n];
    const int columns = work.Columns();
    const int rows = work.Rows();
    // A table without cells takes no room and draws nothing.
    if (columns == 0 || rows == 0) return {};

    const HtmlStyle saved = style_;
    style_.styleName = u"table";
    const bool pushed = StoreRestoreStyle(false, kTableStyleDepth);
    ApplyCssClass(u"table", style_);
    size_t p = 0;
    ParseTableAttributes(ReadOpeningAttributes(tableText, p), style_, true);
    UpdateContext();

    const int spacing = style_.padding;
    const int border = style_.borderWidth;
    const bool doubleBorder = style_.borderStyle == 6;
    const int64_t frame = doubleBorder ? 6 : 2 * int64_t{border};
    HtmlRect table;
    if (!measuring_) {
        int64_t width = columns - 1 + int64_t{spacing} + frame;
        int64_t height = rows - 1 + int64_t{spacing} + frame;
        for (int w : work.columnWidths) width += int64_t{w} + spacing;
        for (int h : work.rowHeights) height += int64_t{h} + spacing;
        const int64_t available = rect.Width();
        int64_t left = rect.left;
        if (width < available) {
            int64_t spare = available - width;
            int64_t free = std::count(work.fixedColumns.begin(), work.fixedColumns.end(), 0);
            if (free > 0) {
                for (int c = 0; c < columns; ++c) {
                    if (work.fixedColumns[c]) continue;
                    int64_t add = spare / free;
                    work.columnWidths[c] = C(work.columnWidths[c] + add);
                    spare -= add;
                    --free;
                }
                width = available;
            } else if (style_.horzAlign == 1) {
                left += (available - width) / 2;
            } else if (style_.horzAlign == 2) {
                left = rect.right - width;
            }
        }
        table = {C(left), rect.top, C(left + width), C(int64_t{rect.top} + height)};
        if (style_.backEffect < 0) {
            if (!style_.backImage.empty()) DrawBackgroundImage(table, style_.backImage);
        } else {
            canvas_->FillEffect(table, style_.backEffect, style_.backColor, style_.backMidColor, style_.backEndColor,
                                5);
        }
        if (border > 0)
            canvas_->DrawStyledRect(table, style_.borderColorLight, style_.borderColorDark, style_.borderStyle,
                                    border);
    }
    const HtmlRect inner = measuring_ ? HtmlRect{} : Shrink(table, doubleBorder ? 3 : border);

    HtmlScanner scanner(tableText);
    size_t pos = 0;
    for (int r = 0; r < rows; ++r) {
        size_t tr = pos;
        if (!scanner.SearchTag(tr, u"tr")) break;
        size_t end = SearchEndOfRow(scanner, tr);
        DrawTableRow(tableText.substr(tr, end - tr), inner, work, r, depth);
        pos = end + 5;
    }

    HtmlSize size;
    if (measuring_) {
        // Single spans first, then wider ones share out what they still lack.
        std::map<int, std::vector<std::pair<int, int>>> byColspan, byRowspan;
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < columns; ++c) {
                const TableCell& cell = work.grid[r][c];
                if (cell.colspan >= 1) byColspan[cell.colspan].emplace_back(r, c);
                if (cell.rowspan >= 1) byRowspan[cell.rowspan].emplace_back(r, c);
            }
        for (const auto& [span, slots] : byColspan)
            for (auto [r, c] : slots) {
                const TableCell& cell = work.grid[r][c];
                const int s = std::min(span, columns - c);
                int64_t sum = 0;
                for (int i = c; i < c + s; ++i) {
                    sum += work.columnWidths[i];
                    if (cell.fixed) work.fixedColumns[i] = 1;
                }
                if (sum >= cell.width) continue;
                const int64_t d = cell.width - sum;
                work.columnWidths[c + s - 1] = C(work.columnWidths[c + s - 1] + d % s);
                for (int i = c; i < c + s; ++i) work.columnWidths[i] = C(work.columnWidths[i] + d / s);
            }
        for (const auto& [span, slots] : byRowspan)
            for (auto [r, c] : slots) {
                const TableCell& cell = work.grid[r][c];
                const int s = std::min(span, rows - r);
                int64_t sum = 0;
                for (int i = r; i < r + s; ++i) sum += work.rowHeights[i];
                if (sum >= cell.height) continue;
                const int64_t d = cell.height - sum;
                work.rowHeights[r] = C(work.rowHeights[r] + d % s);
                for (int i = r; i < r + s; ++i) work.rowHeights[i] = C(work.rowHeights[i] + d / s);
            }
        int64_t width = int64_t{spacing} - 1 + columns + frame;
        int64_t height = int64_t{spacing} - 1 + rows + frame;
        for (int w : work.columnWidths) width += int64_t{w} + spacing;
        for (int h : work.rowHeights) height += int64_t{h} + spacing;
        size = {C(width), C(height)};
    } else {
        size = {table.Width(), table.Height()};
    }
    tables_[n] = std::move(work);

    style_.styleName = u"table";
    if (pushed) {
        if (StoreRestoreStyle(true)) UpdateContext();
    } else {
        style_ = saved;
        UpdateContext();
    }
    return size;
}

void CHtmlDrawer::DrawTableRow(const std::u16string& rowText, const HtmlRect& inner, TableLayout& layout, int row,
                               int depth) {
    const HtmlStyle saved = style_;
    style_.styleName = u"tr";
    const bool pushed = StoreRestoreStyle(false, kTableStyleDepth);
    ApplyCssClass(u"tr", style_);
    size_t p = 0;
    ParseTableAttributes(ReadOpeningAttributes(rowText, p), style_, false);
    UpdateContext();

    const int spacing = style_.padding;
    const int columns = layout.Columns();
    const int rows = layout.Rows();
    std::vector<TableCell>& slots = layout.grid[row];
    int64_t top = 0;
    if (!measuring_) {
        top = int64_t{inner.top} + spacing;
        for (int r = 0; r < row; ++r) top += int64_t{layout.rowHeights[r]} + spacing + 1;
    }
    int64_t left = int64_t{inner.left} + spacing;
    int leftColumn = 0;

    HtmlScanner scanner(rowText);
    int c = 0;
    while (p < rowText.size()) {
        size_t endTr = p, td = p;
        scanner.SearchTag(endTr, u"/tr");
        scanner.SearchTag(td, u"td");
        if (td >= endTr) break;
        while (c < columns && slots[c].colspan < 0) ++c;
        const size_t cellEnd = SearchEndOfCell(scanner, td);
        if (c >= columns) {
            p = std::max(cellEnd, td + 1);
            continue;
        }
        HtmlRect cellRect;
        if (!measuring_) {
            const int colspan = std::clamp(slots[c].colspan, 1, columns - c);
            const int rowspan = std::clamp(slots[c].rowspan, 1, rows - row);
            for (; leftColumn < c; ++leftColumn) left += int64_t{layout.columnWidths[leftColumn]} + spacing + 1;
            int64_t right = left + int64_t{spacing + 1} * (colspan - 1);
            for (int i = c; i < c + colspan; ++i) right += layout.columnWidths[i];
            int64_t bottom = top + int64_t{spacing + 1} * (rowspan - 1);
            for (int i = row; i < row + rowspan; ++i) bottom += layout.rowHeights[i];
            cellRect = {C(left), C(top), C(right), C(bottom)};
        }
        DrawTableCell(rowText.substr(td, cellEnd - td), cellRect, layout, row, c, depth);
        const int colspan = std::clamp(slots[c].colspan, 1, columns - c);
        if (measuring_) {
            int rowspan = std::clamp(slots[c].rowspan, 1, rows - row);
            // The budget keeps huge overlapping spans cheap.
            if (int64_t{colspan} * rowspan > markBudget_) {
                slots[c].colspan = slots[c].rowspan = 1;
                rowspan = 1;
            } else {
                markBudget_ -= int64_t{colspan} * rowspan;
            }
            const int cs = slots[c].colspan;
            for (int r = row; r < row + rowspan; ++r)
                for (int i = c; i < c + cs; ++i)
                    if (r != row || i != c) layout.grid[r][i].colspan = layout.grid[r][i].rowspan = -1;
        }
        c += std::clamp(slots[c].colspan, 1, columns - c);
        p = std::max(cellEnd, td + 1);
    }

    style_.styleName = u"tr";
    if (pushed) {
        if (StoreRestoreStyle(true)) UpdateContext();
    } else {
        style_ = saved;
        UpdateContext();
    }
}

HtmlSize CHtmlDrawer::DrawTableCell(const std::u16string& cellText, const HtmlRect& cellRect, TableLayout& layout,
                                    int row, int column, int depth) {
    TableCell& slot = layout.grid[row][column];
    if (measuring_) slot.contentWidth = slot.contentHeight = 0;
    const HtmlStyle saved = style_;
    style_.styleName = u"td";
    const bool pushed = StoreRestoreStyle(false, kTableStyleDepth);
    ApplyCssClass(u"td", style_);
    size_t p = 0;
    const std::u16string attrs = ReadOpeningAttributes(cellText, p);
    style_.width = style_.height = 0;
    auto [colspan, rowspan] = ParseTableAttributes(attrs, style_, false);
    const int inset = style_.borderWidth + style_.margin;

    HtmlRect work;
    if (measuring_) {
        slot.colspan = std::min(colspan, layout.Columns() - column);
        slot.rowspan = std::min(rowspan, layout.Rows() - row);
        slot.contentWidth = style_.width;
        slot.contentHeight = 0;
        slot.fixed = style_.width > 0 ? 1 : 0;
        work = {0, 0, style_.width, 0};
    } else {
        if (style_.backEffect >= 0)
            canvas_->FillEffect(cellRect, style_.backEffect, style_.backColor, style_.backMidColor,
                                style_.backEndColor, 5);
        if (style_.borderStyle != 0)
            canvas_->DrawStyledRect(cellRect, style_.borderColorDark, style_.borderColorLight, style_.borderStyle, 1);
        work = Shrink(cellRect, inset);
        const int h = slot.contentHeight;
        if (style_.vertAlign == 1)
            work.top = C(work.top + (int64_t{work.bottom} - h - work.top) / 2);
        else if (style_.vertAlign == 2)
            work.top = C(int64_t{work.bottom} - h);
    }

    HtmlScanner scanner(cellText);
    auto account = [&](HtmlSize piece) {
        if (measuring_) {
            slot.contentWidth = std::max(slot.contentWidth, piece.cx);
            slot.contentHeight = C(int64_t{slot.contentHeight} + piece.cy);
        }
        work.top = C(int64_t{work.top} + piece.cy);
    };
    while (p < cellText.size()) {
        size_t endTd = p, table = p;
        scanner.SearchTag(endTd, u"/td");
        scanner.SearchTag(table, u"table");
        const size_t next = std::min(endTd, table);
        if (next > p) {
            account(DrawHtmlString(cellText.substr(p, next - p), work));
            p = next;
        } else if (table < endTd) {
            const size_t end = SearchEndOfTable(scanner, table);
            account(DrawTable(cellText.substr(table, end - table), work, depth + 1));
            p = std::max(end, table + 1);
        } else {
            break;
        }
    }
    if (measuring_) {
        slot.width = C(std::max<int64_t>(style_.width, slot.contentWidth) + 2 * int64_t{inset});
        slot.height = C(std::max<int64_t>(style_.height, slot.contentHeight) + 2 * int64_t{inset});
    }

    style_.styleName = u"td";
    if (pushed) {
        if (StoreRestoreStyle(true)) UpdateContext();
    } else {
        style_ = saved;
        UpdateContext();
    }
    return {slot.width, slot.height};
}

}  // namespace orvane
