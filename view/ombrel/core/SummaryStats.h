// The summary's figures: packets per PID with the bytes they take on the
// bus, packets per error kind, and transactions per address and endpoint
// with their payload bytes, counted in one walk of the transaction-level
// tree; and the report's rows built from them, with their texts.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace orvane {
class IDataSource;
struct UsbItem;
struct Mark;
}  // namespace orvane

namespace orvane::ombrel {

struct StatEntry {
    int64_t count = 0;
    int64_t bytes = 0;
};

// Error row ids; the low byte is the flag's mask in a record's error byte.
constexpr int32_t kErrorGroupId = 0xF00;
constexpr int32_t kErrorIds[] = {0xF01, 0xF02, 0xF04, 0xF08, 0xF10};

class SummaryStats {
public:
    SummaryStats();
    void Clear();
    // Counts every item below the root `item`, reading records from `source`.
    void Count(const UsbItem* item, IDataSource* source);

    const StatEntry& Packet(int32_t pid) const { return packets_[size_t(pid & 15)]; }
    int64_t Errors(int32_t id) const;
    // Transactions by key (address << 8 | endpoint) << 16, ascending.
    std::vector<std::pair<uint32_t, StatEntry>> Transactions() const;
    bool Empty() const { return !counted_; }

    static uint32_t TransactionKey(uint8_t address, uint8_t endpoint)
    {
        return (uint32_t(address) << 8 | endpoint) << 16;
    }

private:
    // `payloadOf`: the transaction whose data packet `item` is, if it is one.
    void CountOne(const UsbItem* item, IDataSource* source, StatEntry* payloadOf = nullptr);

    std::array<StatEntry, 16> packets_{};
    std::array<int64_t, 5> errors_{};
    std::vector<StatEntry> transactions_;  // by address << 8 | endpoint
    std::vector<uint8_t> seen_;
    bool counted_ = false;
};

// One row of the report: its id, caption and icon, its two texts, its rows.
struct SummaryRow {
    int32_t id = 0;
    std::string caption;
    int32_t icon = 0;
    std::string count = "--";
    std::string size = "--";
    // The figures behind the texts, for sorting; -1 where the text is "--".
    int64_t countValue = -1;
    int64_t sizeValue = -1;
    std::vector<SummaryRow> children;

    const SummaryRow* Find(int32_t childId) const;
    SummaryRow* Find(int32_t childId);
};

constexpr int32_t kPacketsId = 17, kTokensId = 18, kDataId = 19, kHandshakesId = 20, kTransactionsId = 21,
                  kMarksId = 22;

// The fixed tree before any count: "--" everywhere, the placeholder address.
std::vector<SummaryRow> FixedTree();
// The fixed tree filled from the figures.
std::vector<SummaryRow> FillTree(const SummaryStats& stats);
// The bookmark group, or none (id 0) without marks.
SummaryRow MarkGroup(const std::vector<Mark>& marks);
// The group's own row for `count` marks, without the rows below it.
SummaryRow MarkGroupHead(size_t count);
// One bookmark row of the group.
SummaryRow MarkRow(const Mark& mark);

// Where a new list of marks differs from the one shown: from row `at` on,
// `removed` old rows give way to `added` new ones; the rest stay as they are.
struct MarkChange {
    size_t at = 0;
    size_t removed = 0;
    size_t added = 0;
    bool None() const { return removed == 0 && added == 0; }
};
// By the common head and tail: adding, removing or editing one mark is one row.
MarkChange DiffMarks(const std::vector<Mark>& before, const std::vector<Mark>& after);

// "1,234,567"; "--" for a negative count.
std::string CountText(int64_t count);
// "1023 bytes", "1.000 KB", "1.000000 MB"; "--" for a negative size.
std::string SizeText(int64_t size);
// "name:comment(packet)", an empty name shown as "Bookmark".
std::string MarkText(const Mark& mark);
// The packet of a bookmark row's text, read from its last "(": -1 when none.
int32_t PacketOfMarkText(const std::string& text);

}  // namespace orvane::ombrel
