#include "CPacketList.h"

namespace orvane::app {

namespace {

// At most `chars` UTF-8 characters, never cutting one in half.
std::string FirstChars(const std::string& text, size_t chars)
{
    size_t n = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((uint8_t(text[i]) & 0xC0) != 0x80 && n++ == chars) return text.substr(0, i);
    }
    return text;
}

}  // namespace

std::string CPacketList::UpperAscii(std::string text)
{
    // Byte-wise on ASCII only: UTF-8 names stay intact.
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return text;
}

int CPacketList::Reset(bool dropSummaries)
{
    ClearHeaderFilter();
    rows_.ClearRowCaches();
    if (dropSummaries) cells_.ClearSummaryCache();
    return rows_.RebuildRows();
}

int CPacketList::ApplyHeaderFilter(const std::vector<std::string>& texts)
{
    filter_.assign(CPacketListColumns::kCount, std::string());
    std::vector<int> active;
    for (size_t c = 0; c < filter_.size() && c < texts.size(); ++c) {
        filter_[c] = UpperAscii(FirstChars(texts[c], kFilterChars));
        if (!filter_[c].empty()) active.push_back(int(c));
    }
    const size_t count = rows_.TopLevelCount();
    for (size_t i = 0; i < count; ++i) {
        UsbItem* item = rows_.TopLevelAt(i);
        bool hide = false;
        for (int column : active) {
            if (UpperAscii(cells_.GetCellText(item, column)).find(filter_[size_t(column)]) == std::string::npos) {
                hide = true;
                break;
            }
        }
        if (hide) item->flags |= ItemHiddenByFilterBar; else item->flags &= uint8_t(~ItemHiddenByFilterBar);
    }
    rows_.ClearRowCaches();
    return rows_.RebuildRows();
}

void CPacketList::ClearHeaderFilter()
{
    filter_.assign(CPacketListColumns::kCount, std::string());
    const size_t count = rows_.TopLevelCount();
    for (size_t i = 0; i < count; ++i) rows_.TopLevelAt(i)->flags &= uint8_t(~ItemHiddenByFilterBar);
}

std::string CPacketList::CopyText(int row)
{
    UsbItem* item = rows_.ItemAtRow(row);
    if (!item) return {};
    std::string text;
    for (int column : columns_.ShownByIndex()) text += cells_.GetCellText(item, column) + "\t";
    return text;
}

int CPacketList::MarkAtRow(int row)
{
    if (row < 0 || !bookmarks_ || bookmarks_->GetCount() <= 0) return -1;
    UsbItem* item = rows_.ItemAtRow(row);
    if (!item) return -1;
    // Only packets inside the row's item can land on it; the marks are kept
    // in packet order, so look at those alone rather than at every mark.
    const int64_t last = CPacketListRows::LastLeaf(item)->firstRecord;
    int32_t start = int32_t(item->firstRecord) - 1;
    int index = bookmarks_->FindNext(&start);
    const int count = bookmarks_->GetCount();
    for (; index >= 0 && index < count; ++index) {
        Mark mark;
        if (!bookmarks_->GetAt(index, &mark) || int64_t(uint32_t(mark.packet)) > last) break;
        if (rows_.RowOfRecord(uint32_t(mark.packet)) == row) return index;
    }
    return -1;
}

int CPacketList::TriggerRow()
{
    if (!trigger_ || *trigger_ < 0) return -1;
    return rows_.RowOfRecord(uint32_t(*trigger_));
}

CPacketList::RowPaint CPacketList::PaintRow(int row)
{
    RowPaint paint;
    paint.item = rows_.ItemAtRow(row);
    if (!paint.item) return paint;
    paint.depth = rows_.DepthOfRow(row);
    paint.hasChildren = CPacketListRows::HasChildren(paint.item);
    paint.expanded = paint.hasChildren && CPacketListRows::Expanded(paint.item);
    paint.mark = MarkAtRow(row) >= 0;
    paint.trigger = row >= 0 && TriggerRow() == row;
    ItemSummary summary;
    cells_.GetRowSummary(paint.item, summary);
    paint.icon = summary.icon;
    if (cells_.Decoder()) paint.icons = cells_.Decoder()->GetImageList(paint.item);
    paint.textColour = paint.trigger || CPacketListCells::IsErrorStatus(summary.status) ? kTextRed : kTextBlack;
    return paint;
}

CPacketList::Rect CPacketList::ExpandBoxRect(int depth, bool itemColumnFirst, int itemLeft, int scrollX, int rowTop,
                                             int rowBottom)
{
    int indent = depth <= 0 ? 0 : (itemColumnFirst ? kMarkArea : 0) + depth * kIndentStep - kIndentStep;
    int x0 = itemLeft + indent - scrollX;
    int cx = (2 * x0 + kRowHeight + indent) / 2;
    int cy = (rowTop + rowBottom) / 2;
    return {cx - 5, cy - 5, cx + 5, cy + 5};
}

CPacketList::Rect CPacketList::ExpandBoxRect(int row, int itemLeft, int scrollX, int rowTop)
{
    return ExpandBoxRect(rows_.DepthOfRow(row), columns_.ItemColumnFirst(), itemLeft, scrollX, rowTop,
                         rowTop + kRowHeight);
}

}  // namespace orvane::app
