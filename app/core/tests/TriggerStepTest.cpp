// Trigger steps from packet-list items: which items a row gives, and the
// address, endpoint, PID mask and data pattern of each step.
#include <gtest/gtest.h>

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
    // A decoder answering more than the buffer holds is read only as far as it wrote.
    decoder.bytes.assign(5000, 0x11);
    UsbItem packet(11, 0);
    TriggerStep step;
    AddPacketToStep(&packet, step, &decoder);
    EXPECT_EQ(step.data.size(), (4100u - 3u) * 3u + 1u);

    uint16_t all = 0;
    for (uint8_t pid = 0; pid < 16; ++pid) all = uint16_t(all | PidMaskOf(pid));
    EXPECT_EQ(all, 0xFFF);
    for (uint8_t pid : {0, 4, 8, 12}) EXPECT_EQ(PidMaskOf(pid), 0) << int(pid);
}

}  // namespace
