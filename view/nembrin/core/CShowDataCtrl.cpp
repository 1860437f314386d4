#include "CShowDataCtrl.h"

#include <algorithm>
#include <cstring>

#include "IDecode.h"
#include "ItemSummary.h"
#include "UsbItem.h"

namespace orvane::nembrin {

CShowDataCtrl::CShowDataCtrl() : builtIn_(kBuiltInBytes, 0) {}

void CShowDataCtrl::SetCellSize(int32_t w, int32_t h)
{
    w_ = std::max(w, 1);
    h_ = std::max(h, 1);
    layoutFlags_ = 3;
}

int32_t CShowDataCtrl::OnEvent(IEventHandler*, int32_t type, intptr_t param1, intptr_t param2)
{
    // Only these three reach the pane; nothing else is looked at.
    switch (type) {
    case EventCaptureCleared:
        if (host_) host_->Post([this] { Cleared(); });
        return 1;
    case EventItemSelected: {
        if (!host_) return 1;
        auto* item = reinterpret_cast<UsbItem*>(param1);
        auto* decode = reinterpret_cast<IDecode*>(param2);
        // Taken also while the pane has no window or no room: a pane opened
        // later shows the row that is selected then. Lost is asked after the
        // fetch, which tells of a read from the analyser that failed.
        if (host_->OnGuiThread()) {
            const uint8_t* data = nullptr;
            uint64_t length = FetchItem(decode, item, builtIn_, large_, &data);
            ApplyItem({}, {}, data, length, false, item ? LostPayloadText(decode, item) : nullptr);
            return 1;
        }
        // Off the GUI thread the bytes are fetched here, while the item is
        // sure to live, and handed over whole.
        std::vector<uint8_t> builtIn, large;  // FetchItem sizes the one it fills
        const uint8_t* data = nullptr;
        uint64_t length = FetchItem(decode, item, builtIn, large, &data);
        const char* lost = item ? LostPayloadText(decode, item) : nullptr;
        const bool inLarge = data && !large.empty() && data == large.data();
        host_->Post([this, builtIn = std::move(builtIn), large = std::move(large), length, inLarge,
                     hasData = data != nullptr, lost]() mutable {
            const uint8_t* at = !hasData ? nullptr : inLarge ? large.data() : builtIn.data();
            ApplyItem(std::move(builtIn), std::move(large), at, length, true, lost);
        });
        return 1;
    }
    case EventByteRangeSelected: {
        if (!host_) return 1;
        const int64_t bit = int64_t(param1), bits = int64_t(param2);
        host_->Post([this, bit, bits] { FieldSelected(bit, bits); });
        return 1;
    }
    default:
        return 1;
    }
}

uint64_t CShowDataCtrl::FetchItem(IDecode* decode, UsbItem* item, std::vector<uint8_t>& builtIn,
                                  std::vector<uint8_t>& large, const uint8_t** data)
{
    *data = nullptr;
    large.clear();
    large.shrink_to_fit();
    if (!decode || !item) return 0;
    uint32_t size = 0;
    decode->OnNotify(NotifyDataLength, item, reinterpret_cast<intptr_t>(&size));
    uint8_t* buffer = nullptr;
    uint64_t capacity = 0;
    if (uint64_t(size) <= kBuiltInBytes) {
        builtIn.assign(kBuiltInBytes, 0);
        buffer = builtIn.data();
        capacity = kBuiltInBytes;
    } else {
        large.assign(uint64_t(size) + 1, 0);
        buffer = large.data();
        capacity = large.size();
    }
    int32_t n = decode->GetData(item, buffer, uint32_t(std::min<uint64_t>(capacity, UINT32_MAX)));
    if (n < 0) return 0;
    if (uint64_t(n) > capacity) {
        // The decoder did not tell the size beforehand: its answer does.
        large.assign(uint64_t(n) + 1, 0);
        capacity = large.size();
        n = decode->GetData(item, large.data(), uint32_t(std::min<uint64_t>(capacity, UINT32_MAX)));
        if (n < 0) return 0;
        buffer = large.data();
    }
    *data = buffer;
    return std::min<uint64_t>(uint64_t(n), capacity);
}

void CShowDataCtrl::ApplyItem(std::vector<uint8_t> builtIn, std::vector<uint8_t> large, const uint8_t* data,
                              uint64_t length, bool fetched, const char* lost)
{
    lost_ = lost;
    if (fetched) {
        builtIn_ = std::move(builtIn);
        large_ = std::move(large);
        if (data) data = large_.empty() ? builtIn_.data() : large_.data();
    }
    ResetView(ResetAll);
    layoutFlags_ = 3;
    currentHit_ = -1;
    data_ = length ? data : nullptr;
    length_ = data_ ? length : 0;
    SyncScroll();
    host_->Repaint();
}

void CShowDataCtrl::Cleared()
{
    large_.clear();
    large_.shrink_to_fit();
    std::fill(builtIn_.begin(), builtIn_.end(), 0);
    data_ = nullptr;
    length_ = 0;
    lost_ = nullptr;
    ResetView(ResetAll);
    SyncScroll();
    host_->Repaint();
}

void CShowDataCtrl::FieldSelected(int64_t bit, int64_t bits)
{
    field_ = {bit, bit + std::max<int64_t>(bits, 0)};
    recency_.Activate(KindField);
    ScrollToByte(bit / 8);  // toward zero: a start just before the data shows row 0
    host_->Repaint();
}

CShowDataCtrl::Geometry CShowDataCtrl::Layout() const
{
    Geometry g{};
    g.w = w_;
    g.h = h_;
    g.bytesPerRow = std::max(settings_.bytesPerRow, 1);
    g.group = std::max(settings_.groupType, 1);
    const int32_t addressCells = AddressCells(settings_.addressType, length_);
    g.addressWidth = addressCells * w_;
    g.leftX = (addressCells - firstColumn_) * w_;
    g.rightX = g.leftX + int64_t(AreaCells(settings_.leftArea, g.bytesPerRow, g.group)) * w_;
    g.rightEnd = g.rightX + int64_t(AreaCells(settings_.rightArea, g.bytesPerRow, g.group)) * w_;
    g.rows = int64_t((length_ + uint64_t(g.bytesPerRow) - 1) / uint64_t(g.bytesPerRow));
    g.scrollRows = g.rows + (lost_ ? 1 : 0);
    const int32_t height = host_ ? host_->ClientHeight() : 0;
    g.visibleRows = std::max(height / h_ - 1, 0);
    g.dataBottom = std::min<int64_t>(int64_t(height / h_) * h_, int64_t(h_) * (g.rows + 1));
    return g;
}

void CShowDataCtrl::UpdateScrollRanges()
{
    if (!host_) return;
    const Geometry g = Layout();
    if (layoutFlags_ & 2) {
        if (g.scrollRows) {
            host_->SetScrollBar(true, g.scrollRows - 1, g.visibleRows);
            firstRow_ = ClampScroll(firstRow_, g.scrollRows - 1, g.visibleRows);
        } else {
            host_->SetScrollBar(true, 0, 0);
            firstRow_ = 0;
        }
    }
    if (layoutFlags_ & 1) {
        const int32_t addressCells =
            settings_.addressType == AddressDecimal ? DecimalDigits(length_) + 1 : 11;
        const int64_t maximum = addressCells + AreaCells(settings_.leftArea, g.bytesPerRow, g.group) +
                                AreaCells(settings_.rightArea, g.bytesPerRow, g.group) - 1;
        const int64_t page = std::max<int64_t>((host_->ClientWidth() - 3 * w_) / w_, 0);
        host_->SetScrollBar(false, maximum, page);
        firstColumn_ = ClampScroll(firstColumn_, maximum, page);
    }
    layoutFlags_ = 0;
}

void CShowDataCtrl::SyncScroll()
{
    UpdateScrollRanges();
    host_->SetScrollPos(true, firstRow_);
    host_->SetScrollPos(false, firstColumn_);
}

void CShowDataCtrl::ResetView(int32_t flags)
{
    if (flags & ResetField) field_ = {};
    if (flags & ResetSelection) {
        selection_ = {};
        anchor_ = -1;
        dragging_ = false;
    }
    if (flags & ResetHits) {
        hits_.clear();
        currentHit_ = -1;
    }
    if ((flags & ResetScroll) && host_) {
        firstRow_ = firstColumn_ = 0;
        host_->SetScrollBar(true, 0, 0);
        host_->SetScrollBar(false, 0, 0);
        layoutFlags_ = 3;
    }
    if (host_) host_->HideCaret();
}

void CShowDataCtrl::FitWidth()
{
    caretX_ = caretY_ = -15;
    if (host_) host_->HideCaret();
    if (settings_.width != kAutoWidth || !host_) return;
    const int32_t available = host_->ClientWidth() - AddressCells(settings_.addressType, length_) * w_;
    const int32_t n = FitBytesPerRow(available, settings_.leftArea, settings_.rightArea);
    if (n <= 1) return;
    settings_.bytesPerRow = n;
    layoutFlags_ = 3;
    if (settings_.groupType != 1) {
        settings_.groupType = 1;
        host_->SettingChanged(SetGroupType, 1);
    }
}

namespace {

int64_t Scrolled(int32_t code, int64_t position, int64_t page, int64_t maximum, int64_t track, int64_t step)
{
    switch (code) {
    case ScrollLineUp: return position - 1;
    case ScrollLineDown: return position + 1;
    case ScrollPageUp: return position - page;
    case ScrollPageDown: return position + page;
    case ScrollThumbPosition:
    case ScrollThumbTrack: return track;
    case ScrollTop: return 0;
    case ScrollBottom: return maximum;
    case ScrollDragBack: return position - step;
    case ScrollDragOn: return position + step;
    default: return position;
    }
}

}  // namespace

void CShowDataCtrl::ScrollVert(int32_t code, int64_t track)
{
    if (!host_) return;
    UpdateScrollRanges();
    const Geometry g = Layout();
    const int64_t maximum = std::max<int64_t>(g.scrollRows - 1, 0);
    const int64_t wanted = Scrolled(code, firstRow_, g.visibleRows, maximum, track, 2);
    const int64_t now = ClampScroll(wanted, maximum, g.visibleRows);
    if (now != wanted || now == 0 || now == maximum - g.visibleRows + 1) host_->StopDragTimer();
    caretY_ -= int32_t((now - firstRow_) * h_);
    firstRow_ = now;
    if (dragging_ || caretY_ < h_ || caretY_ >= g.dataBottom)
        host_->HideCaret();
    else
        host_->ShowCaret(caretX_, caretY_);
    SyncScroll();
    host_->Repaint();
}

void CShowDataCtrl::ScrollHorz(int32_t code, int64_t track)
{
    if (!host_) return;
    UpdateScrollRanges();
    const Geometry g = Layout();
    const int32_t addressCells = settings_.addressType == AddressDecimal ? DecimalDigits(length_) + 1 : 11;
    const int64_t maximum = addressCells + AreaCells(settings_.leftArea, g.bytesPerRow, g.group) +
                            AreaCells(settings_.rightArea, g.bytesPerRow, g.group) - 1;
    const int64_t page = std::max<int64_t>((host_->ClientWidth() - 3 * w_) / w_, 0);
    const int64_t wanted = Scrolled(code, firstColumn_, page, maximum, track, 8 * int64_t(g.group) + 1);
    const int64_t now = ClampScroll(wanted, maximum, page);
    if (now != wanted || now == 0 || now == maximum - page + 1) host_->StopDragTimer();
    caretX_ -= int32_t((now - firstColumn_) * w_);
    firstColumn_ = now;
    if (dragging_ || caretX_ < g.addressWidth || caretX_ >= host_->ClientWidth())
        host_->HideCaret();
    else
        host_->ShowCaret(caretX_, caretY_);
    SyncScroll();
    host_->Repaint();
}

void CShowDataCtrl::ScrollToByte(int64_t byte)
{
    if (!host_) return;
    UpdateScrollRanges();
    const Geometry g = Layout();
    firstRow_ = ScrollRowFor(std::max<int64_t>(byte, 0) / g.bytesPerRow, firstRow_, g.visibleRows, g.rows);
    SyncScroll();
}

CShowDataCtrl::PointHit CShowDataCtrl::HitTest(int32_t x, int32_t y) const
{
    PointHit hit;
    if (!length_ || !host_) return hit;
    const Geometry g = Layout();
    const int64_t shownRows = std::max<int64_t>(std::min(g.rows - firstRow_, g.visibleRows), 1);
    int32_t cx = std::clamp(x / w_ * w_, g.addressWidth, std::max(host_->ClientWidth() - w_, g.addressWidth));
    int32_t cy = std::clamp(y / h_ * h_, h_, int32_t(h_ * shownRows));
    hit.cellX = cx;
    hit.cellY = cy;
    const int64_t row = firstRow_ + cy / h_ - 1;
    int32_t area = settings_.leftArea;
    int64_t cell = (cx - g.leftX) / w_;
    if (cx >= g.rightX) {
        area = settings_.rightArea;
        cell = (cx - g.rightX) / w_;
    }
    const int64_t cells = AreaCells(area, g.bytesPerRow, g.group);
    const CellHit at = ColumnAtCell(area, int32_t(std::clamp<int64_t>(cell, 0, cells - 1)), g.bytesPerRow, g.group);
    hit.area = area;
    hit.gapAfterGroup = at.gapAfterGroup;
    hit.byte = std::min<int64_t>(row * g.bytesPerRow + at.column, int64_t(length_) - 1);
    return hit;
}

void CShowDataCtrl::MoveCaret(int32_t x, int32_t y)
{
    caretX_ = x;
    caretY_ = y;
    if (length_ && y >= h_)
        host_->ShowCaret(x, y);
    else
        host_->HideCaret();
}

void CShowDataCtrl::SelectBetween(int64_t a, int64_t b)
{
    const int64_t lo = std::max<int64_t>(std::min(a, b), 0);
    const int64_t hi = std::min<int64_t>(std::max(a, b), int64_t(length_) - 1);
    selection_ = {8 * lo, 8 * (hi + 1)};
}

void CShowDataCtrl::WidenToGroups()
{
    if (selection_.start < 0) return;
    const int64_t g = std::max(settings_.groupType, 1);
    const int64_t first = selection_.start / 8 / g * g;
    const int64_t end = std::min<int64_t>((selection_.end / 8 + g - 1) / g * g, int64_t(length_));
    selection_ = {8 * first, 8 * end};
}

void CShowDataCtrl::OnButtonDown(int32_t x, int32_t y)
{
    if (!length_ || !host_) return;
    recency_.Activate(KindSelection);
    const Geometry g = Layout();
    if (x < g.addressWidth && firstColumn_ > 0) firstColumn_ = 0;
    if (y < h_ && firstRow_ > 0) --firstRow_;
    SyncScroll();
    const PointHit hit = HitTest(x, y);
    if (doublePending_ && x == lastDoubleX_ && y == lastDoubleY_) {
        // The click that follows a double-click takes whole groups.
        doublePending_ = false;
        WidenToGroups();
    } else {
        doublePending_ = false;
        selection_ = {8 * hit.byte, 8 * hit.byte};
        anchor_ = 8 * hit.byte;
        anchorX_ = hit.cellX;
        pressOnGap_ = hit.gapAfterGroup && hit.area != AreaChars;
    }
    MoveCaret(hit.cellX, hit.cellY);
    host_->Repaint();
}

void CShowDataCtrl::OnDrag(int32_t x, int32_t y)
{
    if (!length_ || anchor_ < 0 || !host_) return;
    dragging_ = true;
    const PointHit hit = HitTest(x, y);
    SelectBetween(anchor_ / 8, hit.byte);
    MoveCaret(hit.cellX, hit.cellY);
    host_->Repaint();
}

void CShowDataCtrl::OnButtonUp(int32_t x, int32_t y)
{
    if (dragging_) OnDrag(x, y);
    if (!shift_) {
        anchor_ = -1;
        dragging_ = false;
    }
}

void CShowDataCtrl::OnDoubleClick(int32_t x, int32_t y)
{
    if (!length_ || !host_ || y < h_ || (x == lastDoubleX_ && y == lastDoubleY_ && doublePending_)) return;
    recency_.Activate(KindSelection);
    const PointHit hit = HitTest(x, y);
    selection_ = {8 * hit.byte, 8 * hit.byte + 8};
    if (pressOnGap_) WidenToGroups();
    lastDoubleX_ = x;
    lastDoubleY_ = y;
    doublePending_ = true;
    host_->Repaint();
}

void CShowDataCtrl::DragTo(int32_t x, int32_t y)
{
    if (!length_ || !host_) return;
    const Geometry g = Layout();
    const int64_t right = std::min<int64_t>(g.rightEnd, host_->ClientWidth()) - 1;
    x = int32_t(std::clamp<int64_t>(x, g.addressWidth, std::max<int64_t>(right, g.addressWidth)));
    y = int32_t(std::clamp<int64_t>(y, h_ + 1, std::max<int64_t>(g.dataBottom - 1, h_ + 1)));
    OnDrag(x, y);
}

void CShowDataCtrl::SetShift(bool held)
{
    shift_ = held;
    if (!held || !length_ || !host_) return;
    anchorX_ = caretX_;
    if (anchor_ < 0) {
        const PointHit hit = HitTest(caretX_, caretY_);
        anchor_ = 8 * hit.byte;
        selection_ = {anchor_, anchor_};
    }
}

void CShowDataCtrl::OnArrowKey(int32_t key)
{
    if (!length_ || !host_) return;
    const Geometry g = Layout();
    if (shift_ && anchor_ >= 0) {
        // The free end is the selection's end away from the anchor byte.
        const int64_t anchorByte = anchor_ / 8;
        int64_t free = selection_.Empty() ? anchorByte
                       : selection_.start / 8 < anchorByte ? selection_.start / 8
                                                           : selection_.end / 8 - 1;
        const int64_t step = key == KeyLeft ? -1 : key == KeyRight ? 1 : key == KeyUp ? -g.bytesPerRow
                             : key == KeyDown ? g.bytesPerRow : 0;
        if (!step) return;
        free = std::clamp<int64_t>(free + step, 0, int64_t(length_) - 1);
        SelectBetween(anchorByte, free);
        ScrollToByte(free);
        host_->Repaint();
        return;
    }
    recency_.Activate(KindSelection);
    int32_t x = caretX_ < g.addressWidth ? g.addressWidth : caretX_, y = caretY_ < h_ ? h_ : caretY_;
    switch (key) {
    case KeyLeft: x -= w_; break;
    case KeyRight: x += w_; break;
    case KeyUp: y -= h_; break;
    case KeyDown: y += h_; break;
    default: return;
    }
    if (y < h_) {
        y = h_;
        ScrollVert(ScrollLineUp);
    } else if (y >= h_ * (g.visibleRows + 1)) {
        y = h_ * int32_t(std::max<int64_t>(g.visibleRows, 1));
        ScrollVert(ScrollLineDown);
    }
    if (x >= host_->ClientWidth()) {
        x -= w_;
        ScrollHorz(ScrollLineDown);
    }
    x = std::max(x, g.addressWidth);
    MoveCaret(x, y);
    host_->Repaint();
}

std::string CShowDataCtrl::GetSelectionText() const
{
    const Geometry g = Layout();
    const int32_t area = anchorX_ >= g.rightX ? settings_.rightArea : settings_.leftArea;
    return SelectionText(data_, length_, selection_, area, g.group, g.bytesPerRow);
}

void CShowDataCtrl::FindPattern(const std::vector<uint8_t>& pattern, bool inView)
{
    if (pattern.empty() || !length_ || !host_) return;
    recency_.Activate(KindHit);
    pattern_ = pattern;
    hits_.clear();
    uint64_t from = 0, to = length_;
    if (inView) {
        const Geometry g = Layout();
        from = std::min<uint64_t>(uint64_t(g.bytesPerRow) * uint64_t(firstRow_), length_);
        to = std::min<uint64_t>(length_, uint64_t(g.bytesPerRow) * uint64_t(firstRow_ + host_->ClientHeight() / h_));
    }
    hits_ = FindAll(data_, from, to, pattern_);
    if (hits_.empty()) {
        host_->FindNotFound();
        return;
    }
    currentHit_ = 0;
    ScrollToByte(hits_[0].start / 8);
    host_->Repaint();
}

void CShowDataCtrl::GoToHit(int32_t delta)
{
    if (!host_) return;
    const std::optional<int64_t> next = StepHit(currentHit_, delta, hits_.size());
    if (!next) {
        host_->FindAtEnd();
        return;
    }
    currentHit_ = *next;
    const int64_t byte = hits_[size_t(currentHit_)].start / 8;
    ScrollToByte(byte);
    host_->Repaint();
    const Geometry g = Layout();
    const int32_t column = CellOfColumn(settings_.leftArea, int32_t(byte % g.bytesPerRow), g.group);
    MoveCaret(int32_t(g.leftX + int64_t(w_) * column), int32_t(h_ * (byte / g.bytesPerRow - firstRow_ + 1)));
}

}  // namespace orvane::nembrin
