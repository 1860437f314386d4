// The packet list without its widget: the row index, the columns and the cell
// texts of the shown item tree, the filter bar, bookmarks and trigger on rows,
// and what a painter needs for each row as plain data.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "CPacketListCells.h"
#include "CPacketListColumns.h"
#include "CPacketListRows.h"
#include "IEventBus.h"

namespace orvane::app {

class CPacketList {
public:
    static constexpr int kRowHeight = 20;
    static constexpr int kMarkArea = 20;       // mark and trigger symbols left of the first column
    static constexpr int kIndentStep = 12;
    static constexpr int kCellPadding = 5;
    static constexpr int kIconWidth = 20;
    static constexpr size_t kFilterChars = 260;
    static constexpr const char* kHiddenPacketTip = "节点被隐藏而无法显示！";
    static constexpr int kHiddenPacketTipMs = 2000;

    // Colours as 0xRRGGBB (text, grid) and 0xAARRGGBB (highlights).
    static constexpr uint32_t kTextBlack = 0x000000;
    static constexpr uint32_t kTextRed = 0xFF0000;
    static constexpr uint32_t kGridLine = 0xF0F0F0;
    struct Highlight {
        uint32_t gradientTop, gradientBottom, innerPen, outerPen;
    };
    static constexpr Highlight kSelectedFocused{0x96EBF5FF, 0x9664C8FF, 0xC8EBF5FF, 0xC87DA2CE};
    static constexpr Highlight kSelectedUnfocused{0x96EBF9F9, 0x968CE6E6, 0xC8F1FBFB, 0xC88CDADA};
    static constexpr Highlight kHover{0x32EBF5FF, 0x3264C8FF, 0xC8EBF5FF, 0xC87DA2CE};

    struct Rect {
        int left, top, right, bottom;
    };
    // Everything but the cell texts that drawing one row takes.
    struct RowPaint {
        UsbItem* item = nullptr;
        int depth = 0;
        bool hasChildren = false;
        bool expanded = false;  // expanded with children: the open box
        bool mark = false;
        bool trigger = false;
        int icon = -1;
        const ImageList* icons = nullptr;
        uint32_t textColour = kTextBlack;
    };

    CPacketList() = default;
    CPacketList(const CPacketList&) = delete;
    CPacketList& operator=(const CPacketList&) = delete;

    CPacketListRows& Rows() { return rows_; }
    CPacketListCells& Cells() { return cells_; }
    CPacketListColumns& Columns() { return columns_; }

    void SetRoot(UsbItem* root) { rows_.SetRoot(root); }
    void SetDecoder(IDecode* decoder) { cells_.SetDecoder(decoder); }
    void SetDataSource(IDataSource* source) { cells_.SetDataSource(source); }
    void SetBookmarks(IBookmark* bookmarks) { bookmarks_ = bookmarks; InvalidateMarkRows(); }
    IBookmark* Bookmarks() const { return bookmarks_; }
    // The document's trigger record index, -1 for none; may be null.
    void SetTriggerRecord(const std::atomic<int32_t>* record) { trigger_ = record; }
    int32_t TriggerRecord() const { return trigger_ ? trigger_->load() : -1; }

    // After the tree, level or packet filters changed: filter bar cleared,
    // caches emptied, rows rebuilt. Answers the row count.
    int Reset(bool dropSummaries);

    // One text per column index (missing ones empty). Hides each top-level
    // item with a cell that lacks its column's text, ignoring ASCII case;
    // answers the rebuilt row count.
    int ApplyHeaderFilter(const std::vector<std::string>& texts);
    // Shows every top-level item again; the caller rebuilds.
    void ClearHeaderFilter();
    const std::vector<std::string>& FilterTexts() const { return filter_; }

    std::string GetCellText(UsbItem* item, int column) { return cells_.GetCellText(item, column); }
    // Shown columns in index order, each text followed by a tab; empty without an item.
    std::string CopyText(int row);

    // First mark in bookmark order whose packet this row shows; -1 when none.
    // Answered from a row map built on first use after the marks or the rows changed.
    int MarkAtRow(int row);
    // The marks changed, or rows were appended: the row map is built anew.
    void InvalidateMarkRows() { ++marksVersion_; }
    int TriggerRow();
    RowPaint PaintRow(int row);
    // The row that shows the packet, or -1: then the hidden-packet tip is due.
    int GoToPacket(uint32_t record) { return rows_.RowOfRecord(record); }

    // The selected row's item as the widget tells it (null for none).
    void SetSelectedItem(UsbItem* item) { selected_ = item ? int64_t(rows_.FirstRecordOf(item)) : -1; }
    // Notes the selected record before the capture is parsed again; the filter
    // bar's texts stay until cleared. Any thread.
    void KeepPlace();
    // After that parse: `rows` the count rebuilt under the kept filter (-1
    // when no filter needed applying) and `select` the row of the kept record
    // (or the collapsed row holding it; -1 for none). Nothing once the filter
    // bar was cleared since KeepPlace: the capture was replaced meanwhile.
    struct Place {
        int rows = -1;
        int select = -1;
    };
    Place RestorePlace();

    // Expand box of a row at `depth` (0 without an item), with the "Item"
    // header section starting at `itemLeft` before scrolling.
    static Rect ExpandBoxRect(int depth, bool itemColumnFirst, int itemLeft, int scrollX, int rowTop, int rowBottom);
    Rect ExpandBoxRect(int row, int itemLeft, int scrollX, int rowTop);

    static std::string UpperAscii(std::string text);

private:
    CPacketListRows rows_;
    CPacketListCells cells_;
    CPacketListColumns columns_;
    IBookmark* bookmarks_ = nullptr;
    const std::atomic<int32_t>* trigger_ = nullptr;
    std::vector<std::string> filter_;
    bool barHides_ = false;  // the filter row hid a row since it was last cleared
    std::atomic<int64_t> selected_{-1};  // first record of the selected row's item
    std::atomic<int64_t> keptRecord_{-1};
    std::atomic<bool> placeKept_{false};

    void RefreshMarkRows();
    // Row to first mark index; valid for the rows' generation, the marks'
    // version and the mark count it was built at.
    std::unordered_map<int, int> markRows_;
    uint64_t marksVersion_ = 0;
    uint64_t builtMarksVersion_ = ~uint64_t(0);
    uint64_t builtGeneration_ = 0;
    int builtMarkCount_ = -1;
};

}  // namespace orvane::app
