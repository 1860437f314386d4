// The summary's counts over a tree built by hand, the rows filled from them
// and the texts they show.
#include <gtest/gtest.h>

#include <memory>

#include "CaptureSource.h"
#include "IEventBus.h"
#include "ItemTree.h"
#include "SummaryStats.h"
#include "UsbItem.h"

using namespace orvane;
using namespace orvane::ombrel;

namespace {

// Records and the items over them; items are freed with the tree.
class Tree {
public:
    ~Tree() { FreeChildren(&root); }
    uint32_t Record(uint8_t pid, uint16_t length, uint8_t errors = 0) {
        PacketRecord r;
        r.SetLow16(length);
        r.SetPidByte(PacketRecord::MakePidByte(pid));
        r.SetErrorFlags(errors);
        capture.records.push_back(r);
        return uint32_t(capture.records.size() - 1);
    }
    UsbItem* Packet(UsbItem* parent, uint8_t pid, uint16_t length, uint8_t errors = 0) {
        auto* item = new UsbItem(pid, Record(pid, length, errors));
        parent->Append(item);
        return item;
    }
    // A transaction: token, then data of `length` (0: none), then the handshake.
    UsbItem* Transaction(uint16_t type, uint8_t address, uint8_t endpoint, uint16_t length, uint8_t handshake) {
        auto* t = new UsbItem(type, 0);
        t->address = address;
        t->endpoint = endpoint;
        root.Append(t);
        const uint8_t token = type == ItemInTransaction ? PidIn : type == ItemOutTransaction ? PidOut : PidSetup;
        t->firstRecord = Packet(t, token, uint16_t(address | endpoint << 7))->firstRecord;
        if (length) Packet(t, PidData1, length);
        Packet(t, handshake, 0);
        return t;
    }
    SummaryStats Count() {
        source = std::make_unique<emu::CaptureSource>(capture);
        SummaryStats stats;
        stats.Count(&root, source.get());
        return stats;
    }
    std::unique_ptr<UsbItem> rootItem_ = std::make_unique<UsbItem>();
    UsbItem& root = *rootItem_;
    emu::BusCapture capture;
    std::unique_ptr<emu::CaptureSource> source;
};

const SummaryRow* Path(const std::vector<SummaryRow>& tree, std::initializer_list<int32_t> ids)
{
    const SummaryRow* row = nullptr;
    const std::vector<SummaryRow>* level = &tree;
    for (int32_t id : ids) {
        row = nullptr;
        for (const SummaryRow& r : *level)
            if (r.id == id) row = &r;
        if (!row) return nullptr;
        level = &row->children;
    }
    return row;
}

}  // namespace

TEST(SummaryCount, PacketsTransactionsAndBusBytes)
{
    Tree t;
    t.Packet(&t.root, PidData1, 66);
    t.Transaction(ItemInTransaction, 3, 1, 66, PidAck);
    t.Transaction(ItemInTransaction, 3, 1, 0, PidNak);
    t.Transaction(ItemOutTransaction, 1, 2, 10, PidAck);
    t.Packet(&t.root, PidSof, 0x123);
    t.Packet(&t.root, PidSplit, 0);
    t.Packet(&t.root, PidPre, 0);
    t.Packet(&t.root, PidData0, 1);  // damaged: shorter than its CRC
    auto* group = new UsbItem(ItemNakGroup, 0);
    t.root.Append(group);
    auto* nested = new UsbItem(ItemInTransaction, 0);
    nested->address = 3;
    nested->endpoint = 1;
    group->Append(nested);
    t.Packet(nested, PidIn, 3 | 1 << 7);
    t.Packet(nested, PidNak, 0);

    SummaryStats stats = t.Count();
    EXPECT_EQ(stats.Packet(PidData1).count, 3);
    EXPECT_EQ(stats.Packet(0).count, 0) << "the root is no packet";
    EXPECT_EQ(stats.Packet(PidData1).bytes, 67 + 67 + 11) << "length with its CRC, and the PID";
    EXPECT_EQ(stats.Packet(PidIn).bytes, 3 * 3);
    EXPECT_EQ(stats.Packet(PidSplit).bytes, 4);
    EXPECT_EQ(stats.Packet(PidNak).count, 2);
    EXPECT_EQ(stats.Packet(PidNak).bytes, 2);
    EXPECT_EQ(stats.Packet(PidPre).count, 1);
    EXPECT_EQ(stats.Packet(PidPre).bytes, 0);

    const auto transactions = stats.Transactions();
    ASSERT_EQ(transactions.size(), 2u);
    EXPECT_EQ(transactions[0].first, SummaryStats::TransactionKey(1, 2)) << "address 1 before address 3";
    EXPECT_EQ(transactions[1].second.count, 3);
    EXPECT_EQ(transactions[1].second.bytes, 64) << "the payload without its CRC; a NAK adds nothing";

    std::vector<SummaryRow> tree = FillTree(stats);
    EXPECT_EQ(Path(tree, {kPacketsId, kDataId, 11})->count, "3");
    EXPECT_EQ(Path(tree, {kPacketsId, kDataId, 11})->size, "145 bytes");
    EXPECT_EQ(Path(tree, {kPacketsId, kTokensId, 12})->count, "--") << "PID 12 has no category";
    EXPECT_EQ(Path(tree, {kPacketsId, kHandshakesId, 12})->count, "--");
    EXPECT_EQ(Path(tree, {kPacketsId, kHandshakesId, 14})->count, "--") << "a PID the capture lacks";
    EXPECT_EQ(Path(tree, {kPacketsId, kTokensId})->count, "6");
    ASSERT_EQ(Path(tree, {kTransactionsId})->children.size(), 2u);
    EXPECT_EQ(Path(tree, {kTransactionsId})->children[0].caption, "Address 1");
    EXPECT_EQ(Path(tree, {kTransactionsId, 3, 1})->caption, "Endpoint 1");
    EXPECT_EQ(Path(tree, {kTransactionsId, 3, 1})->size, "64 bytes");
    EXPECT_EQ(Path(tree, {kTransactionsId, 3})->count, "3");
    EXPECT_EQ(Path(tree, {kTransactionsId})->count, "4");
    EXPECT_EQ(Path(tree, {kErrorGroupId})->count, "--") << "no errors";
}

TEST(SummaryCount, ErrorsCountOnceForADamagedPid)
{
    Tree t;
    t.Packet(&t.root, PidData0, 10, ErrPidCheck | ErrCrc16);
    t.Packet(&t.root, PidOut, 0, ErrCrc5 | ErrBitStuff);
    SummaryStats stats = t.Count();
    EXPECT_EQ(stats.Errors(0xF01), 1);
    EXPECT_EQ(stats.Errors(0xF04), 0) << "a damaged PID counts alone";
    EXPECT_EQ(stats.Errors(0xF02), 1);
    EXPECT_EQ(stats.Errors(0xF10), 1);
    std::vector<SummaryRow> tree = FillTree(stats);
    EXPECT_EQ(Path(tree, {kErrorGroupId})->count, "3");
    EXPECT_EQ(Path(tree, {kErrorGroupId})->size, "--");
    EXPECT_EQ(Path(tree, {kErrorGroupId, 0xF08})->count, "--");
}

TEST(SummaryCount, AnUnreadableRecordCountsWithoutBytes)
{
    Tree t;
    auto* lost = new UsbItem(PidData1, 999);
    t.root.Append(lost);
    SummaryStats stats = t.Count();
    EXPECT_EQ(stats.Packet(PidData1).count, 1);
    EXPECT_EQ(stats.Packet(PidData1).bytes, 0);
    stats.Clear();
    stats.Count(&t.root, nullptr);
    EXPECT_EQ(stats.Packet(PidData1).count, 1) << "no data source";
}

TEST(SummaryRows, AnEmptyParseAndTheFixedTree)
{
    std::vector<SummaryRow> fixed = FixedTree();
    EXPECT_EQ(Path(fixed, {kTransactionsId, 0x1000})->caption, "Address 0");
    EXPECT_EQ(Path(fixed, {kTransactionsId, 0x1000, 0x1100})->caption, "Endpoint 0");
    EXPECT_EQ(Path(fixed, {kPacketsId})->count, "--");

    SummaryStats none;
    std::vector<SummaryRow> tree = FillTree(none);
    EXPECT_TRUE(Path(tree, {kTransactionsId})->children.empty());
    EXPECT_EQ(Path(tree, {kTransactionsId})->count, "0");
    EXPECT_EQ(Path(tree, {kTransactionsId})->size, "0 bytes");
    EXPECT_EQ(Path(tree, {kPacketsId})->count, "0");
    EXPECT_EQ(Path(tree, {kPacketsId, kDataId})->size, "0 bytes");
}

TEST(SummaryRows, CountAndSizeTexts)
{
    EXPECT_EQ(SizeText(1023), "1023 bytes");
    EXPECT_EQ(SizeText(1024), "1.000 KB");
    EXPECT_EQ(SizeText(1048575), "1023.999 KB");
    EXPECT_EQ(SizeText(1048576), "1.000000 MB");
    EXPECT_EQ(SizeText(5000000000), "4768.371582 MB") << "beyond 32 bits";
    EXPECT_EQ(SizeText(-1), "--");
    EXPECT_EQ(CountText(1000), "1,000");
    EXPECT_EQ(CountText(999), "999");
    EXPECT_EQ(CountText(1234567), "1,234,567");
    EXPECT_EQ(CountText(3000000000), "3,000,000,000");
    EXPECT_EQ(CountText(0), "0");
    EXPECT_EQ(CountText(-1), "--");
}

TEST(SummaryRows, BookmarkRowsParseBackToTheirPacket)
{
    std::vector<Mark> marks = {{17, "", "x"}, {42, "a(1)", "b (2)"}};
    SummaryRow group = MarkGroup(marks);
    EXPECT_EQ(group.id, kMarksId);
    EXPECT_EQ(group.caption, "标签");
    EXPECT_EQ(group.count, "2");
    EXPECT_EQ(group.size, "--");
    ASSERT_EQ(group.children.size(), 2u);
    EXPECT_EQ(group.children[0].caption, "Bookmark:x(17)");
    EXPECT_EQ(PacketOfMarkText(group.children[0].caption), 17);
    EXPECT_EQ(PacketOfMarkText(group.children[1].caption), 42) << "the last parenthesis holds the packet";
    EXPECT_EQ(PacketOfMarkText("no packet"), -1);
    EXPECT_EQ(PacketOfMarkText("x(y)"), -1);
    EXPECT_EQ(MarkGroup({}).id, 0) << "no marks, no group";
}

TEST(SummaryRows, AMarkChangeNamesOnlyTheRowsItTouches)
{
    const std::vector<Mark> marks = {{10, "", "a"}, {20, "", "b"}, {20, "", "b"}, {30, "n", ""}};
    auto diff = [&](const std::vector<Mark>& after) {
        const MarkChange c = DiffMarks(marks, after);
        return std::vector<size_t>{c.at, c.removed, c.added};
    };
    EXPECT_TRUE(DiffMarks(marks, marks).None());
    EXPECT_EQ(diff({{10, "", "a"}, {15, "", ""}, {20, "", "b"}, {20, "", "b"}, {30, "n", ""}}),
              (std::vector<size_t>{1, 0, 1})) << "an add between two";
    EXPECT_EQ(diff({{10, "", "a"}, {20, "", "b"}, {20, "", "b"}, {20, "", "b"}, {30, "n", ""}}),
              (std::vector<size_t>{3, 0, 1})) << "an add beside equal ones: one row, head and tail never overlap";
    EXPECT_EQ(diff({{10, "", "a"}, {20, "", "b"}, {30, "n", ""}}), (std::vector<size_t>{2, 1, 0}));
    EXPECT_EQ(diff({{10, "", "a"}, {20, "", "c"}, {20, "", "b"}, {30, "n", ""}}), (std::vector<size_t>{1, 1, 1}))
        << "an edited comment";
    EXPECT_EQ(diff({{10, "", "a"}, {20, "x", "b"}, {20, "", "b"}, {30, "n", ""}}), (std::vector<size_t>{1, 1, 1}))
        << "an edited name";
    EXPECT_EQ(diff({}), (std::vector<size_t>{0, 4, 0}));
    EXPECT_EQ(DiffMarks({}, marks).added, 4u);
    EXPECT_EQ(MarkGroupHead(4).count, MarkGroup(marks).count);
    EXPECT_EQ(MarkRow(marks[3]).caption, "n:(30)");
}
