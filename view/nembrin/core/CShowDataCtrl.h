// The data pane's model: the bytes of the selected item, the display
// settings, the field highlight, the selection, the find hits, the scroll
// positions and the caret, and the bus events that change them. It holds no
// widget: the pane draws from it and is reached through IDataPaneHost.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "FindPattern.h"
#include "HexLayout.h"
#include "IEventBus.h"

namespace orvane {
class IDecode;
struct UsbItem;
}  // namespace orvane

namespace orvane::nembrin {

// What the control asks of the pane window.
class IDataPaneHost {
public:
    virtual ~IDataPaneHost() = default;
    // The client size, 0 while there is no window.
    virtual int32_t ClientWidth() const = 0;
    virtual int32_t ClientHeight() const = 0;
    virtual void SetScrollBar(bool vertical, int64_t maximum, int64_t page) = 0;
    virtual void SetScrollPos(bool vertical, int64_t position) = 0;
    virtual void Repaint() = 0;
    virtual void StopDragTimer() = 0;
    virtual void ShowCaret(int32_t x, int32_t y) = 0;
    virtual void HideCaret() = 0;
    // A setting the control changed itself (the fit resets the grouping).
    virtual void SettingChanged(SettingIndex index, int32_t value) = 0;
    // The answers to the find dialog.
    virtual void FindNotFound() = 0;
    virtual void FindAtEnd() = 0;
    // Runs on the GUI thread: at once when called there, else queued.
    virtual bool OnGuiThread() const = 0;
    virtual void Post(std::function<void()> fn) = 0;
};

enum ResetFlags : int32_t { ResetField = 1, ResetSelection = 2, ResetHits = 4, ResetScroll = 8, ResetAll = 15 };
enum ScrollCode : int32_t {
    ScrollLineUp = 0, ScrollLineDown = 1, ScrollPageUp = 2, ScrollPageDown = 3, ScrollThumbPosition = 4,
    ScrollThumbTrack = 5, ScrollTop = 6, ScrollBottom = 7, ScrollDragBack = 10, ScrollDragOn = 11,
};
enum ArrowKey : int32_t { KeyLeft, KeyRight, KeyUp, KeyDown };

class CShowDataCtrl : public IEventHandler {
public:
    static constexpr uint64_t kBuiltInBytes = 0x100000;
    static constexpr int32_t kCaretWidth = 2, kCaretHeight = 15;

    CShowDataCtrl();

    void SetHost(IDataPaneHost* host) { host_ = host; }
    // The publisher the view's Attach was given, kept for the pane's life.
    void KeepPublisher(IEventPublisher* publisher) { publisher_ = publisher; }
    IEventPublisher* Publisher() const { return publisher_; }

    // IEventHandler
    int32_t SetPublisher(IEventPublisher*) override { return 0; }
    int32_t OnEvent(IEventHandler* sender, int32_t type, intptr_t param1, intptr_t param2) override;

    // Settings, loaded by the pane and changed by its commands.
    DisplaySettings& Settings() { return settings_; }
    const DisplaySettings& Settings() const { return settings_; }
    void SetCellSize(int32_t w, int32_t h);
    void InvalidateLayout() { layoutFlags_ = 3; }

    // Data.
    const uint8_t* Data() const { return data_; }
    uint64_t Length() const { return length_; }
    // The item's data stop at a packet the capture lacks: the pane says so in
    // a note row below them, which the vertical scroll range counts.
    bool PayloadLost() const { return lost_ != nullptr; }
    // What that row says: which of the texts for a lost payload applies.
    const char* LostText() const { return lost_; }
    bool OwnsLargeBuffer() const { return !large_.empty(); }

    // Geometry of the current client area.
    struct Geometry {
        int32_t w, h;
        int32_t addressWidth;  // pixels
        int64_t leftX, rightX, rightEnd;
        int64_t rows, visibleRows;
        int64_t scrollRows;  // rows and the note row
        int32_t bytesPerRow, group;
        int64_t dataBottom;  // y below the last data row drawn
    };
    Geometry Layout() const;
    // Recomputes the scroll ranges the layout flags ask for.
    void UpdateScrollRanges();
    int64_t FirstRow() const { return firstRow_; }
    int64_t FirstColumn() const { return firstColumn_; }

    // Highlights as the painter reads them.
    Highlights Lit() const { return {field_, selection_, &hits_}; }
    const Recency& RecencyOf() const { return recency_; }
    BitRange Field() const { return field_; }
    BitRange Selection() const { return selection_; }
    const std::vector<BitRange>& Hits() const { return hits_; }
    int64_t CurrentHit() const { return currentHit_; }

    // The pane's requests.
    void ResetView(int32_t flags);
    void FitWidth();
    void ScrollHorz(int32_t code, int64_t track = 0);
    void ScrollVert(int32_t code, int64_t track = 0);
    void ScrollToByte(int64_t byte);
    void OnButtonDown(int32_t x, int32_t y);
    void OnDrag(int32_t x, int32_t y);
    void OnButtonUp(int32_t x, int32_t y);
    void OnDoubleClick(int32_t x, int32_t y);
    void DragTo(int32_t x, int32_t y);
    void OnArrowKey(int32_t key);
    void SetShift(bool held);
    std::string GetSelectionText() const;

    // The find protocol.
    void FindPattern(const std::vector<uint8_t>& pattern, bool inView);
    void GoToHit(int32_t delta);
    void ClearHits() { ResetView(ResetHits); }

    // The bytes of an item as the decoder gives them: sized by its data-length
    // answer, and fetched again whole when it turns out longer than that.
    static uint64_t FetchItem(IDecode* decode, UsbItem* item, std::vector<uint8_t>& builtIn,
                              std::vector<uint8_t>& large, const uint8_t** data);

private:
    void ApplyItem(std::vector<uint8_t> builtIn, std::vector<uint8_t> large, const uint8_t* data, uint64_t length,
                   bool fetched, const char* lost);
    void Cleared();
    void FieldSelected(int64_t bit, int64_t bits);
    void SyncScroll();
    // The byte under a client point snapped to its cell; -1 without data.
    struct PointHit {
        int64_t byte = -1;
        int32_t area = 0;
        bool gapAfterGroup = false;
        int32_t cellX = 0, cellY = 0;
    };
    PointHit HitTest(int32_t x, int32_t y) const;
    void MoveCaret(int32_t x, int32_t y);
    void WidenToGroups();
    void SelectBetween(int64_t a, int64_t b);

    IDataPaneHost* host_ = nullptr;
    IEventPublisher* publisher_ = nullptr;
    DisplaySettings settings_;
    std::vector<uint8_t> builtIn_;
    std::vector<uint8_t> large_;
    const uint8_t* data_ = nullptr;
    uint64_t length_ = 0;
    const char* lost_ = nullptr;

    int32_t w_ = 7, h_ = 15;
    int32_t layoutFlags_ = 3;
    int64_t firstRow_ = 0, firstColumn_ = 0;

    BitRange field_, selection_;
    int64_t anchor_ = -1;  // bit
    int32_t anchorX_ = 0;
    Recency recency_;
    std::vector<BitRange> hits_;
    int64_t currentHit_ = -1;
    std::vector<uint8_t> pattern_;

    bool dragging_ = false, shift_ = false;
    bool pressOnGap_ = false;
    int32_t caretX_ = -15, caretY_ = -15;
    int32_t lastDoubleX_ = -1, lastDoubleY_ = -1;
    bool doublePending_ = false;
};

}  // namespace orvane::nembrin
