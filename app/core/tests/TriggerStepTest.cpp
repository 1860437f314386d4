// Trigger steps from packet-list items: which items a row gives, and the
// address, endpoint, PID mask and data pattern of each step.
#include <gtest/gtest.h>

#include <algorithm>

#include "DecodedCapture.h"
#include "PacketListTestTree.h"
#include "TriggerStep.h"

using orvane::UsbItem;
using namespace orvane::app;
using namespace orvane::testing;

namespace {

// A transaction of the given packet PIDs at address 3, endpoint 1.
UsbItem* Transaction(uint16_t type, std::initializer_list<uint16_t> pids, uint32_t first = 0)
{
    UsbItem* t = MakeItem(type, first);
    t->address = 3;
    t->endpoint = 1;
    for (uint16_t pid : pids) t->Append(MakeItem(pid, first++));
    return t;
}

TEST(TriggerStep, StepsBuiltFromItems)
{
    FakeDecode decoder;
    decoder.bytes = {0x4B, 0x12, 0x34, 0xAA, 0xBB};  // PID, payload, CRC16
    struct Case {
        const char* what;
        UsbItem* item;
        std::vector<TriggerStep> steps;
    };
    TestTree tree;
    UsbItem* control = MakeItem(orvane::ItemControlTransfer, 0);
    control->Append(Transaction(orvane::ItemSetupTransaction, {13, 3, 2}));
    control->Append(Transaction(orvane::ItemInTransaction, {9, 10}, 3));
    control->children.back()->flags = orvane::ItemHiddenByFilter;
    control->Append(Transaction(orvane::ItemOutTransaction, {1, 11, 2}, 5));
    UsbItem* sofGroup = MakeItem(orvane::ItemSofGroup, 0);
    sofGroup->Append(MakeItem(5, 0));
    UsbItem* ping = Transaction(orvane::ItemPingTransaction, {4, 2});
    const Case cases[] = {
        {"IN with DATA1 and ACK", Transaction(orvane::ItemInTransaction, {9, 11, 2}),
         {{3, 0x0002, 0x441, "12 34 H"}}},
        {"a SOF packet alone", MakeItem(5, 0), {{255, 0xFFFF, 0x200, ""}}},
        {"a lone DATA0 packet", MakeItem(3, 0), {{255, 0xFFFF, 0x010, "12 34 H"}}},
        {"a control transfer without its hidden transaction", control,
         {{3, 0x0002, 0x811, "12 34 H"}, {3, 0x0002, 0x141, "12 34 H"}}},
        {"a SOF group gives nothing", sofGroup, {}},
        {"a PING transaction gives nothing", ping, {}},
        {"a SETUP transaction", Transaction(orvane::ItemSetupTransaction, {13, 3, 2}), {{3, 0x0002, 0x811, "12 34 H"}}},
        {"a NAK group gives its transactions", [] {
             UsbItem* naks = MakeItem(orvane::ItemNakGroup, 0);
             for (int i = 0; i < 2; ++i) naks->Append(Transaction(orvane::ItemInTransaction, {9, 10}));
             return naks;
         }(),
         {{3, 0x0002, 0x404, ""}, {3, 0x0002, 0x404, ""}}},
        {"a class-level item gives what is below it", [] {
             UsbItem* report = MakeItem(267, 0);
             report->Append(Transaction(orvane::ItemInTransaction, {9, 11, 2}));
             return report;
         }(),
         {{3, 0x0002, 0x441, "12 34 H"}}},
        {"a bus event gives nothing", MakeItem(orvane::ItemBusEvent, 0), {}},
        {"a transaction without an endpoint matches any endpoint", [] {
             UsbItem* t = Transaction(orvane::ItemOutTransaction, {1, 3, 2});
             t->endpoint = orvane::kNone;
             return t;
         }(),
         {{3, 0xFFFF, 0x111, "12 34 H"}}},
    };
    for (const Case& c : cases) {
        tree.root.Append(c.item);
        std::vector<UsbItem*> items;
        CollectPackets(c.item, items);
        std::vector<TriggerStep> steps;
        BuildTriggerSteps(items, steps, &decoder);
        EXPECT_EQ(steps, c.steps) << c.what;
    }
}

TEST(TriggerStep, DataPatternLeavesOutPidAndCrc)
{
    FakeDecode decoder;
    struct Case {
        std::vector<uint8_t> bytes;
        const char* data;
    } cases[] = {
        {{0xC3, 0xAA, 0xBB}, ""},  // zero-length DATA0: PID and CRC only
        {{0xC3, 0x01, 0xAA, 0xBB}, "01 H"},
        {{}, ""},
    };
    for (const Case& c : cases) {
        decoder.bytes = c.bytes;
        UsbItem packet(3, 0);
        TriggerStep step;
        step.pidMask = 0;
        AddPacketToStep(&packet, step, &decoder);
        EXPECT_EQ(step.data, c.data);
        EXPECT_EQ(step.pidMask, MaskData0);
    }
    // A babble packet longer than the buffer (the decoder answers its full
    // length) gives the 256 bytes the analyser compares, and says so.
    decoder.bytes.assign(5000, 0x11);
    UsbItem packet(11, 0);
    TriggerStep step;
    EXPECT_TRUE(AddPacketToStep(&packet, step, &decoder));
    EXPECT_EQ(step.data.size(), kMaxPatternTokens * 3u + 1u);
    EXPECT_EQ(PatternTokens(step.data), kMaxPatternTokens);
    decoder.bytes.assign(256 + 3, 0x22);
    step = TriggerStep{};
    EXPECT_FALSE(AddPacketToStep(&packet, step, &decoder)) << "exactly 256 bytes are kept whole";
    EXPECT_EQ(PatternTokens(step.data), 256u);

    uint16_t all = 0;
    for (uint8_t pid = 0; pid < 16; ++pid) all = uint16_t(all | PidMaskOf(pid));
    EXPECT_EQ(all, 0xFFF);
    for (uint8_t pid : {0, 4, 8, 12}) EXPECT_EQ(PidMaskOf(pid), 0) << int(pid);
}

TEST(TriggerStep, CollectingStopsPastTheLimit)
{
    TestTree tree;
    UsbItem* control = MakeItem(orvane::ItemControlTransfer, 0);
    tree.root.Append(control);
    for (uint32_t i = 0; i < 1000; ++i) control->Append(Transaction(orvane::ItemInTransaction, {9, 10}, i * 2));
    std::vector<UsbItem*> items;
    CollectPackets(control, items);
    EXPECT_EQ(items.size(), kCollectLimit);
    items.clear();
    CollectPackets(control, items, 3);
    EXPECT_EQ(items.size(), 3u);
}

// A camera's response phase keeps its container first and the NAKed polls
// before it after: the steps run in time order, the container's last, so the
// trigger fires where the row's own packets end.
TEST(TriggerStep, AStillImageRowKeptNewestFirstGivesStepsInRecordOrder)
{
    using orvane::emu::SessionBuilder;
    DecodedCapture camera(SessionBuilder({.kind = SessionBuilder::Kind::Camera, .operations = 3}).Build());
    std::vector<UsbItem*> all;
    AllItems(&camera.transfers.root, all);
    const auto byRecord = [](const UsbItem* a, const UsbItem* b) { return a->firstRecord < b->firstRecord; };
    UsbItem* phase = nullptr;
    for (UsbItem* item : all) {
        std::vector<UsbItem*> items;
        CollectPackets(item, items);
        if (items.size() > 1 && items.size() < kCollectLimit &&
            !std::is_sorted(item->children.begin(), item->children.end(), byRecord)) {
            phase = item;
            break;
        }
    }
    ASSERT_TRUE(phase) << "no row kept newest first";
    std::vector<UsbItem*> items;
    CollectPackets(phase, items);
    EXPECT_TRUE(std::is_sorted(items.begin(), items.end(), byRecord));
    std::vector<TriggerStep> steps;
    BuildTriggerSteps(items, steps, &camera.Manager());
    ASSERT_EQ(steps.size(), items.size());
    for (size_t i = 0; i + 1 < steps.size(); ++i) EXPECT_EQ(steps[i].pidMask, MaskIn | MaskNak) << i;
    EXPECT_EQ(steps.back().pidMask & (MaskIn | MaskAck), MaskIn | MaskAck);
    EXPECT_FALSE(steps.back().data.empty()) << "the container's bytes";
}

TEST(TriggerStep, AddressTexts)
{
    struct Case {
        const char* text;
        uint8_t address;
    };
    for (Case c : {Case{"", 255}, {"  ", 255}, {"0", 0}, {"127", 127}, {"128", 255}, {"-1", 255}, {"-200", 255},
                   {" 12 ", 12}, {"x", 0}})
        EXPECT_EQ(TriggerAddressOfText(c.text), c.address) << c.text;
    EXPECT_EQ(TriggerAddressText(255), "");
    EXPECT_EQ(TriggerAddressText(7), "7");
    EXPECT_EQ(PatternTokens("01 02;03,04 H"), 4u);
    EXPECT_EQ(PatternTokens(" 7;?;300 "), 3u);
    EXPECT_EQ(PatternTokens(""), 0u);
    EXPECT_EQ(PatternTokens("10?10?01B"), 1u);
}

}  // namespace
