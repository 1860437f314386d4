// The tooltip's state machine with a fake clock and a fake desktop: the
// show delay, the automatic hide, fades, a move onto another tool while a
// hide runs, empty texts, NoAutoPop, clicks and the tool map.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "CHtmlTooltip.h"

namespace orvane {
namespace {

// Timers on a clock that only the test moves.
struct FakeTimers : ITipTimers {
    struct Timer {
        int interval;
        long due;
    };
    std::map<int, Timer> running;
    long now = 0;
    CHtmlTooltip* tip = nullptr;

    void Set(int id, int ms) override { running[id] = {ms, now + ms}; }
    void Kill(int id) override { running.erase(id); }
    bool Runs(int id) const { return running.count(id) != 0; }
    void Advance(long ms) {
        const long end = now + ms;
        for (;;) {
            int id = -1;
            long due = end + 1;
            for (auto& [i, t] : running)
                if (t.due < due) {
                    due = t.due;
                    id = i;
                }
            if (id < 0) break;
            now = due;
            running[id].due += running[id].interval;
            tip->OnTimer(id);
        }
        now = end;
    }
};

// Two tool windows side by side (0-99 and 100-199 on x) inside a frame; the
// tip is a window of its own while visible.
struct FakeDesktop : ITipWindow {
    int frame = 0, left = 0, right = 0, tipWindow = 0;
    TipPoint cursor;
    bool visible = false;
    bool overTip = false;
    std::vector<ToolInfo> shown;
    std::vector<int> shownTransparency;
    std::vector<int> redraws;
    int clicks = 0;

    TipWindow Handle() const override { return &tipWindow; }
    TipWindow WindowAt(TipPoint p) const override {
        if (overTip && visible) return &tipWindow;
        if (p.y < 0 || p.y >= 100 || p.x < 0 || p.x >= 300) return nullptr;
        return p.x < 100 ? &left : p.x < 200 ? &right : &frame;
    }
    TipWindow ParentOf(TipWindow w) const override { return w == &frame ? nullptr : &frame; }
    bool IsEnabled(TipWindow) const override { return true; }
    TipPoint ToClient(TipWindow w, TipPoint p) const override { return w == &right ? TipPoint{p.x - 100, p.y} : p; }
    TipPoint CursorPos() const override { return cursor; }
    bool IsVisible() const override { return visible; }
    void ShowTip(TipPoint, const ToolInfo& tool, int transparency) override {
        shown.push_back(tool);
        shownTransparency.push_back(transparency);
        visible = true;
    }
    void Redraw(int transparency) override { redraws.push_back(transparency); }
    void HideWindow() override { visible = false; }
    void MoveToCursor(TipPoint) override {}
    void ClickAt(TipPoint) override { ++clicks; }
    bool Animate() override { return false; }
};

struct TooltipStateTest : ::testing::Test {
    FakeDesktop desktop;
    FakeTimers timers;
    CHtmlTooltip tip{desktop, timers};
    std::u16string answer = u"tip";  // what the owner answers; empty: no text

    void SetUp() override {
        timers.tip = &tip;
        tip.SetCreated(true);
        tip.SetNotify([this](ToolTipDisplayNotify& n) {
            ASSERT_EQ(n.code, 1124u);
            if (n.toolWindow) n.tool->text = answer + u" " + std::u16string(1, char16_t(u'0' + n.tool->id));
            n.tool->transparency = 30;
        });
        tip.AddTool(&desktop.left, Tool(1));
        tip.AddTool(&desktop.right, Tool(2));
    }
    static ToolInfo Tool(uint32_t id, uint32_t behaviour = 0) {
        ToolInfo t;
        t.id = id;
        t.mask = MaskBehaviour;
        t.behaviour = behaviour;
        return t;
    }
    void Move(int x, int y) {
        desktop.cursor = {x, y};
        tip.RelayEvent(TipMessage::MouseMove, desktop.cursor);
    }
};

TEST_F(TooltipStateTest, ShowsAfterTheDelayAndPopsAfterFiveSeconds) {
    Move(10, 10);
    timers.Advance(499);
    EXPECT_TRUE(desktop.shown.empty());
    timers.Advance(1);
    ASSERT_EQ(desktop.shown.size(), 1u);
    EXPECT_EQ(desktop.shown[0].text, u"tip 1");
    EXPECT_EQ(desktop.shownTransparency[0], 30) << "no fade: the owner's transparency at once";
    EXPECT_EQ(tip.State(), TipState::Shown);
    // The shown tool is current without any paint.
    EXPECT_EQ(tip.CurrentTool().id, 1u);
    EXPECT_TRUE(timers.Runs(TimerAnimate));
    timers.Advance(4999);
    EXPECT_TRUE(desktop.visible);
    timers.Advance(1);
    EXPECT_FALSE(desktop.visible);
    EXPECT_EQ(tip.State(), TipState::Hidden);
    EXPECT_TRUE(timers.running.empty()) << "no timer runs while no tip is shown";
}

TEST_F(TooltipStateTest, MovingDuringTheDelayRestartsIt) {
    Move(10, 10);
    timers.Advance(300);
    Move(12, 10);
    timers.Advance(300);
    EXPECT_TRUE(desktop.shown.empty());
    timers.Advance(200);
    EXPECT_EQ(desktop.shown.size(), 1u);
    // A cursor that left the point by the end of the delay shows nothing.
    Move(150, 10);
    desktop.cursor = {160, 10};  // moved without the owner seeing it
    timers.Advance(500);
    EXPECT_EQ(desktop.shown.size(), 1u);
}

TEST_F(TooltipStateTest, AnEmptyTextNeverShows) {
    answer.clear();
    tip.SetNotify([](ToolTipDisplayNotify& n) { n.tool->text.clear(); });
    Move(10, 10);
    timers.Advance(600);
    EXPECT_TRUE(desktop.shown.empty());
    EXPECT_FALSE(desktop.visible);
    EXPECT_EQ(tip.State(), TipState::Shown) << "the empty show ends with the next hide";
    timers.Advance(5000);
    EXPECT_EQ(tip.State(), TipState::Hidden);
    EXPECT_TRUE(desktop.shown.empty());
}

TEST_F(TooltipStateTest, LeavingTheToolsHides) {
    Move(10, 10);
    timers.Advance(500);
    ASSERT_TRUE(desktop.visible);
    Move(10, 200);
    EXPECT_FALSE(desktop.visible);
    EXPECT_FALSE(timers.Runs(TimerShow));
    // Moving inside the shown tool (no ShowAgain) hides it, and it stays hidden there.
    Move(20, 20);
    timers.Advance(500);
    ASSERT_TRUE(desktop.visible);
    Move(21, 20);
    EXPECT_FALSE(desktop.visible);
    timers.Advance(1000);
    EXPECT_EQ(desktop.shown.size(), 2u);
}

TEST_F(TooltipStateTest, ShowAgainShowsANewTipAfterEveryRest) {
    tip.RemoveAllTools();
    tip.AddTool(&desktop.left, Tool(1, ShowAgain));
    Move(10, 10);
    timers.Advance(500);
    ASSERT_EQ(desktop.shown.size(), 1u);
    answer = u"row";
    Move(11, 10);
    EXPECT_FALSE(desktop.visible);
    timers.Advance(500);
    ASSERT_EQ(desktop.shown.size(), 2u);
    EXPECT_EQ(desktop.shown[1].text, u"row 1");
}

TEST_F(TooltipStateTest, MoveOntoAnotherToolDuringAHide) {
    tip.SetDelayTimes(500, 5000, 0, 100);  // a fade-out of 100 ms steps
    Move(10, 10);
    timers.Advance(500);
    ASSERT_EQ(desktop.shown.size(), 1u);
    Move(150, 10);  // onto the right tool: the hide starts, the new tool waits
    EXPECT_EQ(tip.State(), TipState::Disappearing);
    EXPECT_TRUE(tip.Pending());
    EXPECT_EQ(tip.NextTool().id, 2u);
    timers.Advance(300);
    EXPECT_EQ(desktop.redraws, (std::vector<int>{50, 70, 90})) << "30 + 20 per step";
    timers.Advance(100);
    EXPECT_FALSE(desktop.visible);
    EXPECT_EQ(tip.State(), TipState::Hidden);
    EXPECT_TRUE(timers.Runs(TimerShow)) << "the pending tool waits the initial delay";
    timers.Advance(500);
    ASSERT_EQ(desktop.shown.size(), 2u);
    EXPECT_EQ(desktop.shown[1].text, u"tip 2");
}

TEST_F(TooltipStateTest, FadeInStepsDownToTheToolsTransparency) {
    tip.SetDelayTimes(500, 5000, 100, 0);
    Move(10, 10);
    timers.Advance(500);
    ASSERT_EQ(desktop.shownTransparency, (std::vector<int>{100}));
    EXPECT_EQ(tip.State(), TipState::Appearing);
    timers.Advance(400);
    EXPECT_EQ(desktop.redraws, (std::vector<int>{80, 60, 40, 30}));
    EXPECT_EQ(tip.State(), TipState::Shown);
    EXPECT_TRUE(timers.Runs(TimerAutoPop));
}

TEST_F(TooltipStateTest, ShowTooltipWithNoAutoPopStaysUntilHidden) {
    ToolInfo balloon = Tool(9, tip.DefaultBehaviour() | NoAutoPop);
    balloon.text = u"hidden";
    tip.ShowTooltip({50, 50}, balloon);
    ASSERT_EQ(desktop.shown.size(), 1u);
    EXPECT_EQ(desktop.shown[0].text, u"hidden") << "the owner keeps a balloon's text";
    EXPECT_FALSE(timers.Runs(TimerAutoPop));
    Move(150, 10);  // mouse moves are ignored while it is up
    timers.Advance(20000);
    EXPECT_TRUE(desktop.visible);
    tip.HideTooltip();
    EXPECT_FALSE(desktop.visible);
    // Afterwards the tools work again.
    Move(10, 10);
    timers.Advance(500);
    EXPECT_EQ(desktop.shown.size(), 2u);
}

TEST_F(TooltipStateTest, ShowTooltipDuringAHideShowsWhenItEnds) {
    tip.SetDelayTimes(500, 5000, 0, 100);
    Move(10, 10);
    timers.Advance(500);
    ToolInfo balloon = Tool(9);
    balloon.text = u"now";
    tip.ShowTooltip({50, 50}, balloon);
    EXPECT_EQ(desktop.shown.size(), 1u);
    timers.Advance(400);
    ASSERT_EQ(desktop.shown.size(), 2u) << "at once when the fade-out ends, without the delay";
    EXPECT_EQ(desktop.shown[1].text, u"now");
}

TEST_F(TooltipStateTest, ClicksAndKeysHideAtOnce) {
    // One tool each: a hidden tool shows again only once the cursor has left it.
    for (TipMessage message : {TipMessage::LeftButtonDown, TipMessage::OtherButtonOrKey}) {
        Move(message == TipMessage::LeftButtonDown ? 10 : 150, 10);
        timers.Advance(500);
        ASSERT_TRUE(desktop.visible);
        tip.RelayEvent(message, desktop.cursor);
        EXPECT_FALSE(desktop.visible);
        EXPECT_EQ(tip.State(), TipState::Hidden);
    }
    EXPECT_EQ(desktop.clicks, 0);
    // A click on the tip runs its link first.
    Move(30, 30);
    timers.Advance(500);
    desktop.overTip = true;
    tip.RelayEvent(TipMessage::LeftButtonDown, desktop.cursor);
    EXPECT_EQ(desktop.clicks, 1);
    EXPECT_FALSE(desktop.visible);
}

TEST_F(TooltipStateTest, TheCursorOnTheTipHidesItUnlessItMayStay) {
    Move(10, 10);
    timers.Advance(500);
    desktop.overTip = true;
    Move(11, 11);
    EXPECT_FALSE(desktop.visible);
    desktop.overTip = false;
    tip.AddTool(&desktop.right, Tool(2, StayOverTip));
    Move(150, 20);
    timers.Advance(500);
    ASSERT_TRUE(desktop.visible);
    timers.Advance(4000);
    desktop.overTip = true;
    Move(151, 21);
    timers.Advance(4000);
    EXPECT_TRUE(desktop.visible) << "the auto-pop restarted";
}

TEST_F(TooltipStateTest, ToolMap) {
    ToolInfo a = Tool(1), b = Tool(2), c = Tool(3);
    a.rect = {0, 0, 50, 50};
    b.rect = {50, 0, 100, 50};
    c.rect = {0, 0, 50, 50};
    tip.RemoveAllTools();
    tip.AddTool(&desktop.left, a);
    tip.AddTool(&desktop.left, b);
    tip.AddTool(&desktop.left, c);  // replaces a
    ToolInfo found;
    EXPECT_EQ(tip.FindTool({10, 10}, found), &desktop.left);
    EXPECT_EQ(found.id, 3u);
    EXPECT_EQ(tip.FindTool({60, 10}, found), &desktop.left);
    EXPECT_EQ(found.id, 2u);
    EXPECT_EQ(tip.FindTool({60, 60}, found), nullptr);
    // The frame has no tools of its own, and a child without tools finds none.
    EXPECT_EQ(tip.FindTool({250, 10}, found), nullptr);
    // A window's only tool with an empty rectangle covers it; its parent's tools serve a child without any.
    tip.AddTool(&desktop.frame, Tool(7));
    EXPECT_EQ(tip.FindTool({150, 10}, found), &desktop.frame);
    EXPECT_EQ(found.id, 7u);
}

TEST_F(TooltipStateTest, DefaultsFillWhatTheMaskLeavesOut) {
    ToolInfo t = Tool(1);
    t.mask = MaskBehaviour | MaskColors;
    t.direction = 48;
    t.effect = 9;
    t.beginColor = 0x123456;
    tip.RemoveAllTools();
    tip.AddTool(&desktop.left, t);
    Move(10, 10);
    timers.Advance(500);
    ASSERT_EQ(desktop.shown.size(), 1u);
    EXPECT_EQ(desktop.shown[0].direction, 16u);
    EXPECT_EQ(desktop.shown[0].effect, 0u);
    EXPECT_EQ(desktop.shown[0].beginColor, 0x123456u);
}

TEST_F(TooltipStateTest, NothingWithoutAWindow) {
    tip.SetCreated(false);
    Move(10, 10);
    timers.Advance(1000);
    EXPECT_TRUE(desktop.shown.empty());
}

}  // namespace
}  // namespace orvane
