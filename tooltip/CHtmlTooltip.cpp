#include "CHtmlTooltip.h"

#include <algorithm>

namespace orvane {

namespace {

bool EmptyRect(const HtmlRect& r) { return r.right <= r.left || r.bottom <= r.top; }
bool Holds(const HtmlRect& r, TipPoint p) { return p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom; }
// Deeper than any real window nesting: the walk up from the window under the cursor stops here.
constexpr int kMaxParents = 64;

}  // namespace

CHtmlTooltip::CHtmlTooltip(ITipWindow& window, ITipTimers& timers, Colorref infoBackground)
    : window_(window), timers_(timers) {
    defaults_.beginColor = defaults_.midColor = defaults_.endColor = infoBackground;
}

void CHtmlTooltip::SetDelayTimes(int initial, int autoPop, int fadeIn, int fadeOut) {
    initial_ = std::max(0, initial);
    autoPop_ = std::max(0, autoPop);
    fadeIn_ = std::max(0, fadeIn);
    fadeOut_ = std::max(0, fadeOut);
}

void CHtmlTooltip::AddTool(TipWindow window, const ToolInfo& tool) {
    std::vector<ToolInfo>& list = tools_[window];
    for (ToolInfo& existing : list) {
        if (existing.rect == tool.rect) {
            existing = tool;
            return;
        }
    }
    list.push_back(tool);
}

TipWindow CHtmlTooltip::FindTool(TipPoint screen, ToolInfo& tool) const {
    // The window under the point or the nearest of its parents that has tools.
    TipWindow window = window_.WindowAt(screen);
    for (int depth = 0; window && depth < kMaxParents && !tools_.count(window); ++depth) window = window_.ParentOf(window);
    if (!window || !window_.IsEnabled(window)) return nullptr;
    auto it = tools_.find(window);
    if (it == tools_.end() || it->second.empty()) return nullptr;
    const std::vector<ToolInfo>& list = it->second;
    if (list.size() == 1 && EmptyRect(list.front().rect)) {
        tool = list.front();
        return window;
    }
    const TipPoint client = window_.ToClient(window, screen);
    for (const ToolInfo& candidate : list) {
        if (Holds(candidate.rect, client)) {
            tool = candidate;
            return window;
        }
    }
    return nullptr;
}

void CHtmlTooltip::RelayEvent(TipMessage message, TipPoint screen) {
    if (!created_) return;
    switch (message) {
    case TipMessage::LeftButtonDown:
        if (window_.IsVisible() && window_.WindowAt(screen) == window_.Handle())
            window_.ClickAt(window_.ToClient(window_.Handle(), screen));
        HideNow();
        return;
    case TipMessage::OtherButtonOrKey: HideNow(); return;
    case TipMessage::MouseMove: break;
    }
    if (current_.mode == ShowMode::AtPoint || next_.mode == ShowMode::AtPoint) return;
    if (screen == last_) return;
    last_ = screen;

    if (window_.IsVisible() && window_.WindowAt(screen) == window_.Handle() &&
        !(current_.tool.behaviour & TrackMouse)) {
        if (current_.tool.behaviour & StayOverTip) RestartAutoPop(); else HideTooltip();
        return;
    }
    ToolInfo found;
    const TipWindow window = FindTool(screen, found);
    if (!window) {
        current_.window = nullptr;
        current_.tool.rect = {};
        timers_.Kill(TimerShow);
        HideTooltip();
        return;
    }
    if (window == current_.window && found.rect == current_.tool.rect) {
        const uint32_t b = current_.tool.behaviour;
        if (b & TrackMouse) {
            RestartAutoPop();
            window_.MoveToCursor(screen);
            return;
        }
        if (b & StayOnMove) {
            RestartAutoPop();
            return;
        }
        if (!(b & ShowAgain)) {
            HideTooltip();
            return;
        }
    }
    // A new tool, or the shown one again with ShowAgain.
    pending_ = false;
    if (state_ == TipState::Appearing || state_ == TipState::Shown) HideTooltip();
    next_ = {window, ShowMode::FollowCursor, found};
    if (state_ == TipState::Hidden) {
        if (initial_ != 0) timers_.Set(TimerShow, initial_);
        else OnShowTimer();
    } else {
        pending_ = true;
        pendingWithDelay_ = initial_ != 0;
    }
}

void CHtmlTooltip::ShowTooltip(TipPoint screen, const ToolInfo& tool) {
    if (state_ == TipState::Appearing || state_ == TipState::Shown) HideTooltip();
    last_ = screen;
    pending_ = false;
    next_ = {nullptr, ShowMode::AtPoint, tool};
    if (state_ == TipState::Hidden) {
        OnShowTimer();
    } else {
        pending_ = true;
        pendingWithDelay_ = false;
    }
}

void CHtmlTooltip::HideTooltip() {
    if (state_ == TipState::Hidden || state_ == TipState::Disappearing) return;
    timers_.Kill(TimerShow);
    timers_.Kill(TimerFadeIn);
    timers_.Kill(TimerAutoPop);
    StartHide();
}

void CHtmlTooltip::Forget() {
    if (current_.tool.behaviour & ShowAgain) {
        current_.window = nullptr;
        current_.tool.rect = {};
    }
}

void CHtmlTooltip::HideNow() {
    state_ = TipState::Hidden;
    current_.mode = next_.mode = ShowMode::FollowCursor;
    for (int id : {TimerShow, TimerAutoPop, TimerFadeIn, TimerFadeOut, TimerAnimate}) timers_.Kill(id);
    if (window_.IsVisible()) {
        Forget();
        window_.HideWindow();
    }
}

void CHtmlTooltip::RestartAutoPop() {
    if (AutoPops(current_.tool)) timers_.Set(TimerAutoPop, autoPop_);
}

void CHtmlTooltip::OnTimer(int id) {
    switch (id) {
    case TimerShow: OnShowTimer(); break;
    case TimerAutoPop:
        timers_.Kill(TimerShow);
        timers_.Kill(TimerFadeIn);
        timers_.Kill(TimerAutoPop);
        if (state_ != TipState::Disappearing) StartHide();
        break;
    case TimerFadeIn: FadeInStep(); break;
    case TimerFadeOut: FadeOutStep(); break;
    case TimerAnimate:
        if (window_.IsVisible() && state_ == TipState::Shown && window_.Animate()) window_.Redraw(transparency_);
        break;
    default: break;
    }
}

void CHtmlTooltip::OnShowTimer() {
    timers_.Kill(TimerShow);
    const TipPoint point = next_.mode == ShowMode::AtPoint ? last_ : window_.CursorPos();
    if (!(point == last_)) {
        // The cursor moved on during the delay: a tip up or coming goes.
        HideTooltip();
        return;
    }
    if (state_ != TipState::Hidden) return;
    state_ = TipState::Appearing;
    PrepareTip(point);
    if (fadeInOn_ && fadeIn_ != 0) {
        timers_.Set(TimerFadeIn, fadeIn_);
    } else {
        state_ = TipState::Shown;
        if (AutoPops(next_.tool)) timers_.Set(TimerAutoPop, autoPop_);
    }
    // The shown tool is the current one from here on, whether or not a paint follows.
    current_ = next_;
}

void CHtmlTooltip::ApplyDefaults(ToolInfo& tool) const {
    if (!(tool.mask & MaskReserved)) tool.reserved = defaults_.reserved;
    if (!(tool.mask & MaskEffect)) {
        tool.effect = defaults_.effect;
        tool.granularity = defaults_.granularity;
    }
    if (!(tool.mask & MaskColors)) {
        tool.beginColor = defaults_.beginColor;
        tool.midColor = defaults_.midColor;
        tool.endColor = defaults_.endColor;
    }
    if (!(tool.mask & MaskDirection)) tool.direction = defaults_.direction;
    if (!(tool.mask & MaskBehaviour)) tool.behaviour = defaults_.behaviour;
    if (!(tool.mask & MaskTransparency)) tool.transparency = defaults_.transparency;
}

void CHtmlTooltip::PrepareTip(TipPoint point) {
    ApplyDefaults(next_.tool);
    if (created_ && notify_) {
        ToolTipDisplayNotify notify;
        notify.hwndFrom = window_.Handle();
        notify.toolWindow = next_.window;
        notify.point = &point;
        notify.tool = &next_.tool;
        notify_(notify);
    }
    next_.tool.transparency = std::min<uint8_t>(next_.tool.transparency, 100);
    // An empty text shows nothing; the state runs on so the next hide ends it.
    if (next_.tool.text.empty()) return;
    transparency_ = fadeInOn_ && fadeIn_ != 0 ? 100 : next_.tool.transparency;
    window_.ShowTip(point, next_.tool, transparency_);
    // The animation tick runs only while a tip is up.
    timers_.Set(TimerAnimate, 100);
}

void CHtmlTooltip::StartHide() {
    state_ = TipState::Disappearing;
    if (fadeOutOn_ && fadeOut_ != 0) {
        timers_.Set(TimerFadeOut, fadeOut_);
    } else {
        transparency_ = 100;
        FadeOutStep();
    }
}

void CHtmlTooltip::FadeInStep() {
    transparency_ = std::max(0, transparency_ - 20);
    if (transparency_ <= current_.tool.transparency) {
        transparency_ = current_.tool.transparency;
        timers_.Kill(TimerFadeIn);
        state_ = TipState::Shown;
        RestartAutoPop();
    }
    window_.Redraw(transparency_);
}

void CHtmlTooltip::FadeOutStep() {
    transparency_ = transparency_ >= 80 ? 100 : transparency_ + 20;
    if (transparency_ < 100) {
        window_.Redraw(transparency_);
        return;
    }
    timers_.Kill(TimerFadeOut);
    timers_.Kill(TimerAnimate);
    Forget();
    window_.HideWindow();
    state_ = TipState::Hidden;
    if (!pending_) {
        current_.mode = next_.mode = ShowMode::FollowCursor;
        return;
    }
    pending_ = false;
    if (pendingWithDelay_) timers_.Set(TimerShow, initial_);
    else OnShowTimer();
}

}  // namespace orvane
