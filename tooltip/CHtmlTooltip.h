// The tooltip's tools and state machine: which tool lies under the cursor,
// the show delay, the automatic hide, fades and the animation tick, and the
// next tool shown after a hide. The window (layout, shape, painting) and the
// timers are behind small interfaces, so all of it runs without a display.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "HtmlTypes.h"
#include "TipShape.h"

namespace orvane {

// Which fields a tool gives itself; the others take the tooltip's defaults.
enum ToolMask : uint32_t {
    MaskReserved = 0x01,
    MaskEffect = 0x02,
    MaskColors = 0x04,
    MaskDirection = 0x08,
    MaskBehaviour = 0x10,
    MaskTransparency = 0x20,
};

enum ToolBehaviour : uint32_t {
    ShowAgain = 0x01,
    TrackMouse = 0x02,
    StayOnMove = 0x04,
    StayOverTip = 0x08,
    NoAutoPop = 0x10,
};

enum class TipState { Hidden, Appearing, Shown, Disappearing };
enum class ShowMode { FollowCursor, AtPoint };

struct ToolInfo {
    uint32_t id = 0;
    HtmlRect rect;                 // client coordinates; empty: the whole window when it is the only tool
    std::u16string text;           // HTML; empty shows nothing
    uint32_t mask = 0;
    uint32_t reserved = 0;
    uint32_t direction = TailBottomStart;
    uint32_t effect = 0;
    uint32_t behaviour = 0;
    uint8_t granularity = 0;
    uint8_t transparency = 0;      // percent of the screen behind that shows through
    Colorref beginColor = 0xE1FFFF;
    Colorref midColor = 0xE1FFFF;
    Colorref endColor = 0xE1FFFF;
};

// An opaque window handle of the toolkit; null is no window.
using TipWindow = const void*;

constexpr uint32_t kToolTipDisplayCode = 1124;

// Sent to the notify receiver before each show; it may change the tool.
struct ToolTipDisplayNotify {
    TipWindow hwndFrom = nullptr;
    uintptr_t idFrom = 0;
    uint32_t code = kToolTipDisplayCode;
    TipWindow toolWindow = nullptr;   // null for a tip of ShowTooltip
    const TipPoint* point = nullptr;  // screen coordinates
    ToolInfo* tool = nullptr;
};

enum TipTimer : int { TimerShow = 256, TimerAutoPop = 257, TimerFadeIn = 258, TimerFadeOut = 259, TimerAnimate = 260 };

class ITipTimers {
public:
    virtual ~ITipTimers() = default;
    // (Re)starts the timer; it fires until killed.
    virtual void Set(int id, int ms) = 0;
    virtual void Kill(int id) = 0;
};

// What the state machine needs of the window and the desktop.
class ITipWindow {
public:
    virtual ~ITipWindow() = default;
    virtual TipWindow Handle() const = 0;
    // The deepest window under a screen point, its parent, whether it takes input.
    virtual TipWindow WindowAt(TipPoint screen) const = 0;
    virtual TipWindow ParentOf(TipWindow window) const = 0;
    virtual bool IsEnabled(TipWindow window) const = 0;
    virtual TipPoint ToClient(TipWindow window, TipPoint screen) const = 0;
    virtual TipPoint CursorPos() const = 0;
    virtual bool IsVisible() const = 0;
    // Lays the tool's text out, shapes, places and shows the tip at the point.
    virtual void ShowTip(TipPoint point, const ToolInfo& tool, int transparency) = 0;
    virtual void Redraw(int transparency) = 0;
    virtual void HideWindow() = 0;
    virtual void MoveToCursor(TipPoint screen) = 0;
    // A click at a point of the tip (client coordinates): runs a link there.
    virtual void ClickAt(TipPoint client) = 0;
    // Advances the text's animated images; true when a frame changed.
    virtual bool Animate() = 0;
};

// The messages the owner relays.
enum class TipMessage { MouseMove, LeftButtonDown, OtherButtonOrKey };

class CHtmlTooltip {
public:
    CHtmlTooltip(ITipWindow& window, ITipTimers& timers, Colorref infoBackground = 0xE1FFFF);

    // The tools of a window; a tool with the rectangle of an earlier one replaces it.
    void AddTool(TipWindow window, const ToolInfo& tool);
    void RemoveAllTools() { tools_.clear(); }
    void SetNotify(std::function<void(ToolTipDisplayNotify&)> notify) { notify_ = std::move(notify); }
    // The window exists (the owner's creation made it).
    void SetCreated(bool created) { created_ = created; }

    void RelayEvent(TipMessage message, TipPoint screen);
    void ShowTooltip(TipPoint screen, const ToolInfo& tool);
    void HideTooltip();
    void HideNow();
    void OnTimer(int id);

    // The tool found under a screen point: its window, or null for none.
    TipWindow FindTool(TipPoint screen, ToolInfo& tool) const;

    // Settings; the program keeps the defaults.
    void SetDelayTimes(int initial, int autoPop, int fadeIn = 0, int fadeOut = 0);
    void SetFades(bool fadeIn, bool fadeOut) { fadeInOn_ = fadeIn; fadeOutOn_ = fadeOut; }
    uint32_t DefaultBehaviour() const { return defaults_.behaviour; }
    const ToolInfo& Defaults() const { return defaults_; }

    TipState State() const { return state_; }
    int Transparency() const { return transparency_; }
    const ToolInfo& CurrentTool() const { return current_.tool; }
    TipWindow CurrentWindow() const { return current_.window; }
    const ToolInfo& NextTool() const { return next_.tool; }
    bool Pending() const { return pending_; }

private:
    struct Slot {
        TipWindow window = nullptr;
        ShowMode mode = ShowMode::FollowCursor;
        ToolInfo tool;
    };

    void OnShowTimer();
    void StartHide();
    void FadeOutStep();
    void FadeInStep();
    void RestartAutoPop();
    void PrepareTip(TipPoint point);
    void ApplyDefaults(ToolInfo& tool) const;
    bool AutoPops(const ToolInfo& tool) const { return autoPop_ != 0 && !(tool.behaviour & NoAutoPop); }
    void Forget();

    ITipWindow& window_;
    ITipTimers& timers_;
    std::map<TipWindow, std::vector<ToolInfo>> tools_;
    std::function<void(ToolTipDisplayNotify&)> notify_;
    bool created_ = false;
    TipPoint last_{-32768, -32768};
    TipState state_ = TipState::Hidden;
    int transparency_ = 0;
    Slot current_;
    Slot next_;
    bool pending_ = false;
    bool pendingWithDelay_ = false;
    int autoPop_ = 5000;
    int initial_ = 500;
    int fadeIn_ = 0;
    int fadeOut_ = 0;
    bool fadeInOn_ = true;
    bool fadeOutOn_ = true;
    ToolInfo defaults_;
};

}  // namespace orvane
