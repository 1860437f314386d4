#include "CPacketList.h"

#include <algorithm>
#include <numeric>

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
        barHides_ = barHides_ || hide;
    }
    rows_.ClearRowCaches();
    return rows_.RebuildRows();
}

void CPacketList::ClearHeaderFilter()
{
    placeKept_ = false;
    filter_.assign(CPacketListColumns::kCount, std::string());
    // Nothing hidden since the last clear: no walk over millions of rows.
    if (!barHides_) return;
    const size_t count = rows_.TopLevelCount();
    for (size_t i = 0; i < count; ++i) rows_.TopLevelAt(i)->flags &= uint8_t(~ItemHiddenByFilterBar);
    barHides_ = false;
}

void CPacketList::KeepPlace()
{
    keptRecord_ = selected_.load();
    placeKept_ = true;
}

CPacketList::Place CPacketList::RestorePlace()
{
    Place place;
    if (!placeKept_.exchange(false)) return place;
    // The new rows came unfiltered; a copy, as the filter is set anew from it.
    const std::vector<std::string> texts = filter_;
    if (std::any_of(texts.begin(), texts.end(), [](const std::string& t) { return !t.empty(); }))
        place.rows = ApplyHeaderFilter(texts);
    if (const int64_t record = keptRecord_; record >= 0) place.select = rows_.RowOfRecord(uint32_t(record));
    return place;
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
    RefreshMarkRows();
    auto found = markRows_.find(row);
    return found == markRows_.end() ? -1 : found->second;
}

void CPacketList::RefreshMarkRows()
{
    // Asked for every painted row, with perhaps thousands of marks from find:
    // one pass over the marks and blocks serves every row until something moves.
    const uint64_t generation = rows_.Generation();
    const int count = bookmarks_->GetCount();
    if (builtMarksVersion_ == marksVersion_ && builtGeneration_ == generation && builtMarkCount_ == count) return;
    std::vector<uint32_t> records;
    std::vector<int> owners;
    records.reserve(size_t(count));
    owners.reserve(size_t(count));
    Mark mark;
    for (int i = 0; i < count; ++i) {
        if (!bookmarks_->GetAt(i, &mark) || mark.packet < 0) continue;
        records.push_back(uint32_t(mark.packet));
        owners.push_back(i);
    }
    if (!std::is_sorted(records.begin(), records.end())) {
        std::vector<size_t> order(records.size());
        std::iota(order.begin(), order.end(), size_t(0));
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return records[a] < records[b]; });
        std::vector<uint32_t> sortedRecords;
        std::vector<int> sortedOwners;
        for (size_t i : order) {
            sortedRecords.push_back(records[i]);
            sortedOwners.push_back(owners[i]);
        }
        records.swap(sortedRecords);
        owners.swap(sortedOwners);
    }
    const std::vector<int> rows = rows_.RowsOfRecords(records);
    markRows_.clear();
    for (size_t i = 0; i < rows.size(); ++i) {
        if (rows[i] < 0) continue;
        auto [at, added] = markRows_.emplace(rows[i], owners[i]);
        if (!added) at->second = std::min(at->second, owners[i]);  // the first mark in bookmark order
    }
    builtMarksVersion_ = marksVersion_;
    builtGeneration_ = generation;
    builtMarkCount_ = count;
}

int CPacketList::TriggerRow()
{
    // Read once: the worker may set it meanwhile.
    const int32_t record = TriggerRecord();
    return record < 0 ? -1 : rows_.RowOfRecord(uint32_t(record));
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
