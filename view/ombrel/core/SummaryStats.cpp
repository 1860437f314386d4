#include "SummaryStats.h"

#include <algorithm>

#include <cstdio>
#include <cstdlib>

#include "IDataSource.h"
#include "IEventBus.h"
#include "UsbItem.h"

namespace orvane::ombrel {

SummaryStats::SummaryStats() : transactions_(65536), seen_(65536, 0) {}

void SummaryStats::Clear()
{
    packets_ = {};
    errors_ = {};
    std::fill(transactions_.begin(), transactions_.end(), StatEntry{});
    std::fill(seen_.begin(), seen_.end(), 0);
    counted_ = false;
}

int64_t SummaryStats::Errors(int32_t id) const
{
    for (size_t i = 0; i < 5; ++i)
        if (kErrorIds[i] == id) return errors_[i];
    return 0;
}

std::vector<std::pair<uint32_t, StatEntry>> SummaryStats::Transactions() const
{
    std::vector<std::pair<uint32_t, StatEntry>> out;
    for (uint32_t i = 0; i < 65536; ++i)
        if (seen_[i]) out.push_back({i << 16, transactions_[i]});
    return out;
}

void SummaryStats::Count(const UsbItem* item, IDataSource* source)
{
    counted_ = true;
    // The root holds the tree; it is no packet of its own.
    if (item)
        for (const UsbItem* child : item->children) CountOne(child, source);
}

void SummaryStats::CountOne(const UsbItem* item, IDataSource* source, StatEntry* payloadOf)
{
    const uint32_t k = item->type;
    if (k <= 15) {
        StatEntry& entry = packets_[k];
        entry.count += 1;
        PacketRecord record;
        // A record that cannot be read counts the packet and adds no bytes.
        if (source && source->GetRecord(item->firstRecord, &record) == RecordOk) {
            const int64_t length = record.Length();
            if ((k & 3) == 1 || k == 4)
                entry.bytes += 3;
            else if (k == 8)
                entry.bytes += 4;
            else if ((k & 3) == 3) {
                entry.bytes += length + 1;  // the length holds the CRC16; 1 for the PID
                if (payloadOf && length >= 2) payloadOf->bytes += length - 2;
            }
            else if ((k & 3) == 2)
                entry.bytes += 1;
            if (const uint32_t flags = record.ErrorFlags()) {
                // A damaged PID says nothing of the rest: it counts alone.
                if (flags & 0x01) {
                    errors_[0] += 1;
                } else {
                    for (size_t i = 1; i < 5; ++i)
                        if (flags & uint32_t(kErrorIds[i] & 0x1F)) errors_[i] += 1;
                }
            }
        }
    } else if (k >= 16 && k <= 19) {
        const uint32_t slot = uint32_t(item->address) << 8 | item->endpoint;
        StatEntry& entry = transactions_[slot];
        seen_[slot] = 1;
        entry.count += 1;
        // The data packet, second of the transaction, adds its payload when
        // its record is read for the packet counts: one read, not two.
        const uint32_t n = item->children.size();
        for (uint32_t i = 0; i < n; ++i) CountOne(item->children[i], source, i == 1 ? &entry : nullptr);
        return;
    }
    for (const UsbItem* child : item->children) CountOne(child, source);
}

const SummaryRow* SummaryRow::Find(int32_t childId) const
{
    for (const SummaryRow& row : children)
        if (row.id == childId) return &row;
    return nullptr;
}

SummaryRow* SummaryRow::Find(int32_t childId)
{
    for (SummaryRow& row : children)
        if (row.id == childId) return &row;
    return nullptr;
}

namespace {

SummaryRow Row(int32_t id, const char* caption, int32_t icon, std::vector<SummaryRow> children = {})
{
    SummaryRow row;
    row.id = id;
    row.caption = caption;
    row.icon = icon;
    row.children = std::move(children);
    return row;
}

void SetValues(SummaryRow* row, int64_t count, int64_t size)
{
    if (!row) return;
    row->count = CountText(count);
    row->size = SizeText(size);
    row->countValue = std::max<int64_t>(count, -1);
    row->sizeValue = std::max<int64_t>(size, -1);
}

}  // namespace

std::vector<SummaryRow> FixedTree()
{
    std::vector<SummaryRow> tree;
    tree.push_back(Row(kPacketsId, "封包", 1,
                       {Row(kTokensId, "令牌", 0,
                            {Row(9, "IN", 0), Row(1, "OUT", 0), Row(5, "SOF", 0), Row(13, "SETUP", 0),
                             Row(4, "PING", 0), Row(12, "PRE", 0), Row(8, "SPLIT", 0)}),
                        Row(kDataId, "数据", 0, {Row(3, "DATA0", 0), Row(11, "DATA1", 0), Row(7, "DATA2", 0),
                                                 Row(15, "MDATA", 0)}),
                        Row(kHandshakesId, "握手", 0,
                            {Row(2, "ACK", 0), Row(10, "NAK", 0), Row(14, "STALL", 0), Row(6, "NYET", 0),
                             Row(12, "ERR", 0)})}));
    tree.push_back(Row(kTransactionsId, "事物", 2, {Row(0x1000, "Address 0", 0, {Row(0x1100, "Endpoint 0", 0)})}));
    tree.push_back(Row(kErrorGroupId, "错误", 3,
                       {Row(0xF01, "Invalid PID", 0), Row(0xF02, "Invalid CRC5", 0), Row(0xF04, "Invalid CRC16", 0),
                        Row(0xF08, "Invalid Packet Length", 0), Row(0xF10, "Invalid Bit Stuff", 0)}));
    return tree;
}

std::vector<SummaryRow> FillTree(const SummaryStats& stats)
{
    std::vector<SummaryRow> tree = FixedTree();
    SummaryRow& packets = tree[0];
    StatEntry totals[3];  // tokens, data, handshakes
    SummaryRow* categories[3] = {packets.Find(kTokensId), packets.Find(kDataId), packets.Find(kHandshakesId)};
    for (int32_t pid = 0; pid < 16; ++pid) {
        const StatEntry& e = stats.Packet(pid);
        if (e.count == 0) continue;
        // PID 12 (PRE or ERR) belongs to no category.
        const int c = ((pid & 3) == 1 || pid == 4 || pid == 8) ? 0 : (pid & 3) == 3 ? 1 : (pid & 3) == 2 ? 2 : -1;
        if (c < 0) continue;
        totals[c].count += e.count;
        totals[c].bytes += e.bytes;
        SetValues(categories[c]->Find(pid), e.count, e.bytes);
    }
    for (int c = 0; c < 3; ++c) SetValues(categories[c], totals[c].count, totals[c].bytes);
    SetValues(&packets, totals[0].count + totals[1].count + totals[2].count,
              totals[0].bytes + totals[1].bytes + totals[2].bytes);

    SummaryRow& transactions = tree[1];
    transactions.children.clear();
    StatEntry all;
    for (const auto& [key, entry] : stats.Transactions()) {
        const int32_t address = int32_t(key >> 24), endpoint = int32_t((key >> 16) & 0xFF);
        SummaryRow* addressRow = transactions.Find(address);
        if (!addressRow) {
            transactions.children.push_back(Row(address, ("Address " + std::to_string(address)).c_str(), 0));
            addressRow = &transactions.children.back();
            addressRow->count = "0";
            addressRow->countValue = 0;
        }
        SummaryRow endpointRow = Row(endpoint, ("Endpoint " + std::to_string(endpoint)).c_str(), -1);
        SetValues(&endpointRow, entry.count, entry.bytes);
        addressRow->children.push_back(std::move(endpointRow));
        all.count += entry.count;
        all.bytes += entry.bytes;
    }
    for (SummaryRow& addressRow : transactions.children) {
        StatEntry sum;
        for (const auto& [key, entry] : stats.Transactions())
            if (int32_t(key >> 24) == addressRow.id) {
                sum.count += entry.count;
                sum.bytes += entry.bytes;
            }
        SetValues(&addressRow, sum.count, sum.bytes);
    }
    SetValues(&transactions, all.count, all.bytes);

    SummaryRow& errors = tree[2];
    int64_t total = 0;
    for (int32_t id : kErrorIds) {
        const int64_t n = stats.Errors(id);
        if (n < 1) continue;
        SetValues(errors.Find(id), n, -1);
        total += n;
    }
    if (total) SetValues(&errors, total, -1);
    return tree;
}

SummaryRow MarkGroup(const std::vector<Mark>& marks)
{
    if (marks.empty()) return {};
    SummaryRow group = MarkGroupHead(marks.size());
    group.children.reserve(marks.size());
    for (const Mark& mark : marks) group.children.push_back(MarkRow(mark));
    return group;
}

SummaryRow MarkGroupHead(size_t count)
{
    SummaryRow group = Row(kMarksId, "标签", 4);
    group.count = std::to_string(count);
    group.countValue = int64_t(count);
    return group;
}

SummaryRow MarkRow(const Mark& mark)
{
    return Row(0, MarkText(mark).c_str(), 5);
}

MarkChange DiffMarks(const std::vector<Mark>& before, const std::vector<Mark>& after)
{
    auto same = [](const Mark& a, const Mark& b) {
        return a.packet == b.packet && a.name == b.name && a.comment == b.comment;
    };
    const size_t shorter = std::min(before.size(), after.size());
    size_t head = 0;
    while (head < shorter && same(before[head], after[head])) ++head;
    // The tail never reaches back into the head: a mark added beside an equal one is one row.
    size_t tail = 0;
    while (tail < shorter - head && same(before[before.size() - 1 - tail], after[after.size() - 1 - tail])) ++tail;
    return {head, before.size() - head - tail, after.size() - head - tail};
}

std::string CountText(int64_t count)
{
    if (count < 0) return "--";
    std::string digits = std::to_string(count), out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

std::string SizeText(int64_t size)
{
    if (size < 0) return "--";
    char buffer[64];
    if (size < 1024)
        std::snprintf(buffer, sizeof buffer, "%lld bytes", static_cast<long long>(size));
    else if (size < 1048576)
        std::snprintf(buffer, sizeof buffer, "%.3f KB", double(size) / 1024.0);
    else
        std::snprintf(buffer, sizeof buffer, "%.6f MB", double(size) / 1048576.0);
    return buffer;
}

std::string MarkText(const Mark& mark)
{
    return (mark.name.empty() ? std::string("Bookmark") : mark.name) + ":" + mark.comment + "(" +
           std::to_string(mark.packet) + ")";
}

int32_t PacketOfMarkText(const std::string& text)
{
    const size_t open = text.rfind('(');
    if (open == std::string::npos) return -1;
    int value = -1;
    if (std::sscanf(text.c_str() + open, "(%d)", &value) != 1) return -1;
    return value;
}

}  // namespace orvane::ombrel
