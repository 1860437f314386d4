// The trigger page's step list: add, remove, clear and move with the button
// states, clicks on the drawn boxes, the in-place edits, and the steps through
// the setup document and back.
#include <gtest/gtest.h>

#include "CTriggerSteps.h"

using namespace orvane::app;
using Steps = CTriggerSteps;

TEST(TriggerSteps, AddRemoveMoveAndButtonStates)
{
    Steps steps;
    EXPECT_FALSE(steps.States(-1).clear);
    for (int i = 0; i < 16; ++i) {
        ASSERT_TRUE(steps.Add());
        steps.Steps().back().address = uint8_t(i);
    }
    EXPECT_EQ(steps.Steps().front(), (TriggerStep{0, 0xFFFF, 0xFFFF, ""}));
    EXPECT_FALSE(steps.Add()) << "a 17th step";
    EXPECT_EQ(steps.Count(), 16u);

    struct State {
        int selected;
        bool remove, clear, up, down;
    };
    for (State s : {State{-1, false, true, false, false}, {0, true, true, false, true}, {5, true, true, true, true},
                    {15, true, true, true, false}, {16, false, true, false, false}}) {
        const Steps::ButtonStates b = steps.States(s.selected);
        EXPECT_EQ(b.remove, s.remove) << s.selected;
        EXPECT_EQ(b.clear, s.clear) << s.selected;
        EXPECT_EQ(b.up, s.up) << s.selected;
        EXPECT_EQ(b.down, s.down) << s.selected;
    }

    EXPECT_EQ(steps.MoveUp(5), 4);
    EXPECT_EQ(steps.Steps()[4].address, 5);
    EXPECT_EQ(steps.Steps()[5].address, 4);
    EXPECT_EQ(steps.MoveDown(4), 5);
    EXPECT_EQ(steps.Steps()[5].address, 5);
    EXPECT_EQ(steps.MoveUp(0), 0);
    EXPECT_EQ(steps.MoveDown(15), 15);

    EXPECT_EQ(steps.Remove(15), 14) << "the last row goes: the one before it is selected";
    EXPECT_EQ(steps.Remove(3), 3);
    EXPECT_EQ(steps.Steps()[3].address, 4);
    EXPECT_EQ(steps.Remove(-1), -1);
    EXPECT_EQ(steps.Count(), 14u);
    steps.Clear();
    EXPECT_EQ(steps.Remove(0), -1);
    ASSERT_TRUE(steps.Add());
    EXPECT_EQ(steps.Remove(0), -1);
}

TEST(TriggerSteps, ClicksOnTheDrawnBoxes)
{
    TriggerStep step{1, 0x0005, 0x800, ""};
    // Endpoint boxes run 15 down to 0, then "全选".
    EXPECT_TRUE(Steps::EndpointTicked(step, 15));
    EXPECT_TRUE(Steps::EndpointTicked(step, 13));
    EXPECT_FALSE(Steps::EndpointTicked(step, 16));
    Steps::ClickEndpoint(step, 0);
    EXPECT_EQ(step.endpoint, 0x8005);
    Steps::ClickEndpoint(step, 16);
    EXPECT_EQ(step.endpoint, 0xFFFF);
    Steps::ClickEndpoint(step, 16);
    EXPECT_EQ(step.endpoint, 0);

    // The token column's "全选" clears SETUP alone, then sets all four token bits.
    const Steps::PidBox* token = Steps::PidBoxes(Steps::ColToken);
    ASSERT_NE(token, nullptr);
    EXPECT_FALSE(Steps::PidTicked(step, token[0].bits));
    Steps::ClickPid(step, token[0].bits);
    EXPECT_EQ(step.pidMask, 0);
    Steps::ClickPid(step, token[0].bits);
    EXPECT_EQ(step.pidMask, 0xF00);
    EXPECT_TRUE(Steps::PidTicked(step, token[0].bits));
    EXPECT_EQ(Steps::PidBoxes(Steps::ColPattern), nullptr);

    // Clicks by position, as the list hit-tests them (cell-relative).
    step = TriggerStep{};
    step.endpoint = 0;
    step.pidMask = 0;
    const Steps::Box ep0 = Steps::EndpointBox(15, 0, 0);
    const Steps::Box all = Steps::EndpointBox(16, 0, 0);
    EXPECT_EQ(ep0.left, 5 + 15 * 17);
    EXPECT_EQ(all.left - ep0.left, 22);
    EXPECT_EQ(ep0.top, (120 - 16) / 2);
    EXPECT_TRUE(Steps::ClickAt(step, Steps::ColEndpoint, ep0.left + 3, ep0.top + 3));
    EXPECT_EQ(step.endpoint, 0x0001);
    EXPECT_FALSE(Steps::ClickAt(step, Steps::ColEndpoint, ep0.left + 3, 2)) << "above the boxes";
    EXPECT_FALSE(Steps::ClickAt(step, Steps::ColEndpoint, ep0.right, ep0.top + 3)) << "between two boxes";
    const Steps::Box ack = Steps::PidBoxRect(1, 0, 0);
    EXPECT_EQ(Steps::PidBoxRect(0, 0, 0).top, 8);
    EXPECT_EQ(ack.top, 8 + 16 + 10);
    EXPECT_EQ(Steps::PidBoxRect(2, 0, 0).top, ack.top + 18);
    EXPECT_TRUE(Steps::ClickAt(step, Steps::ColHandshake, ack.left + 30, ack.top + 1)) << "the label counts";
    EXPECT_EQ(step.pidMask, MaskAck);
    EXPECT_TRUE(Steps::ClickAt(step, Steps::ColData, 6, 9));
    EXPECT_EQ(step.pidMask, MaskAck | 0x0F0);
    EXPECT_FALSE(Steps::ClickAt(step, Steps::ColHandshake, ack.left + 45, ack.top + 1));
}

TEST(TriggerSteps, EditsCellTextsAndTheSetupRoundTrip)
{
    TriggerStep step;
    Steps::Commit(step, " 12 ", "  01 02 H ");
    EXPECT_EQ(step.address, 12);
    EXPECT_EQ(step.data, "01 02 H");
    Steps::Commit(step, "-5", "");
    EXPECT_EQ(step.address, 255) << "a negative address is any";
    EXPECT_EQ(Steps::AddressCellText(255), "<任意地址>");
    EXPECT_EQ(Steps::AddressCellText(0), "0");
    EXPECT_EQ(Steps::PatternCellText(""), "<空数据包>");
    EXPECT_EQ(Steps::PatternCellText("?"), "<任意数据>");
    EXPECT_EQ(Steps::PatternCellText("1?H"), "1?H");

    Steps steps;
    steps.Steps() = {{3, 0x0002, 0x441, "12 34 H"}, {255, 0xFFFF, 0x200, ""}, {0, 1, 0xFFFF, "?"}};
    SetupXml setup;
    ASSERT_TRUE(setup.WriteTriggerSteps({{9, 9, 9, "9"}}, false));
    ASSERT_TRUE(steps.Store(setup));
    Steps loaded;
    loaded.Load(setup);
    EXPECT_EQ(loaded.Steps(), steps.Steps());
    EXPECT_FALSE(loaded.PatternCut());

    // Seventeen steps are never written.
    steps.Steps().assign(17, TriggerStep{});
    const std::string before = setup.Text();
    EXPECT_FALSE(steps.Store(setup));
    EXPECT_EQ(setup.Text(), before);

    std::string long_;
    for (int i = 0; i < 300; ++i) long_ += "AA ";
    steps.Steps() = {{1, 1, 1, long_ + "H"}};
    EXPECT_TRUE(steps.PatternCut());
}
