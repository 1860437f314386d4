#include "CClassDecoder.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "BoundedFetch.h"
#include "LevelFindings.h"
#include "SetupPacket.h"

namespace orvane::hid {

namespace {

const uint8_t kIconStrip[] = {
#include "HidIconsData.inc"
};
// 0 class request, 1 input report; 2 and 3 the same for a keyboard.
const ImageList kImages{kIconStrip, sizeof kIconStrip, 16, 16, 4};

// Far beyond any real report descriptor (they exceed 1 KB) and any wLength.
constexpr uint32_t kDescriptorLimit = 1u << 20;
// A report's bytes and its report ID byte.
constexpr uint32_t kReportLimit = kMaxReportBits / 8 + 2;

constexpr uint8_t kGetDescriptorOfInterface = 0x81;
constexpr uint8_t kGetDescriptor = 6;
constexpr uint8_t kReportDescriptorType = 0x22;
constexpr uint8_t kInterfaceDescriptorType = 4;
constexpr uint8_t kInterfaceDescriptorBytes = 9;
constexpr uint8_t kKeyboardProtocol = 1;

UsbItem* NewGroup(uint16_t type, const UsbItem& from)
{
    auto* group = new UsbItem(type, from.firstRecord);
    group->address = from.address;
    group->endpoint = from.endpoint;
    group->status = from.status;
    group->interface = from.interface;
    return group;
}

bool StartsWithSetup(const UsbItem& item)
{
    return !item.children.empty() && item.children[0]->type == ItemSetupTransaction;
}

std::string Printf(const char* format, int value)
{
    char text[48];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

CClassDecoder::CClassDecoder(const CUsbIdDatabase* usageNames)
    : CClassDecoderBase(3, -1, -1, &kImages), usages_(usageNames),
      none_(std::make_shared<CReportDescriptor>(usages_))
{
}

std::shared_ptr<const CReportDescriptor> CClassDecoder::Descriptor(const UsbItem* item) const
{
    std::lock_guard lock(descriptorLock_);
    if (history_.empty()) return none_;
    if (!item) return history_.back().layouts;
    auto after = std::upper_bound(history_.begin(), history_.end(), item->firstRecord,
                                  [](uint32_t record, const Layouts& l) { return record < l.from; });
    return after == history_.begin() ? after->layouts : std::prev(after)->layouts;
}

int32_t CClassDecoder::Notify(int32_t code, void* arg, intptr_t)
{
    if (code == NotifyTurn && arg) {
        std::lock_guard lock(descriptorLock_);
        turn_ = *static_cast<const TurnRecords*>(arg);
        // Told once the level is whole: a turn that decoded without a whole
        // read of its report descriptor looks beside its rows for its
        // device's, as a decoder made later to describe them does.
        if (history_.empty()) searched_ = false;
        return 0;
    }
    if (code != NotifyConfiguration) return 0;
    // Only the configuration's first interface counts, whichever this decoder serves.
    const std::vector<uint8_t>& bytes = Configuration();
    keyboardMode_ = 0;
    size_t at = 0;
    while (bytes.size() - at >= 2) {
        const uint8_t length = bytes[at];
        // The bytes come from editable device-tree text: a descriptor that
        // does not fit ends the walk.
        if (length < 2 || length > bytes.size() - at) break;
        if (bytes[at + 1] == kInterfaceDescriptorType) {
            if (length >= kInterfaceDescriptorBytes && bytes[at + 7] == kKeyboardProtocol) keyboardMode_ = 2;
            break;
        }
        at += length;
    }
    return 0;
}

bool CClassDecoder::IsReportDescriptorTransfer(const UsbItem* transfer)
{
    if (!transfer || transfer->type != ItemControlTransfer) return false;
    // A SET_IDLE of 136 ms has 0x22 in wValue's high byte too.
    const auto setup = SetupPacket::FetchOfTransfer(Host(), transfer);
    return setup && setup->bmRequestType == kGetDescriptorOfInterface && setup->bRequest == kGetDescriptor &&
           (setup->wValue >> 8) == kReportDescriptorType;
}

bool CClassDecoder::Whole(UsbItem* transfer) const
{
    return !Host() || Host()->OnNotify(NotifyPayloadLost, transfer, 0) != 1;
}

bool CClassDecoder::StagesWhole(const UsbItem& item)
{
    return std::all_of(item.children.begin(), item.children.end(),
                       [&](UsbItem* child) { return !ShowsDataOf(item, *child) || Whole(child); });
}

bool CClassDecoder::ShowsDataOf(const UsbItem& item, const UsbItem& child)
{
    if (item.type != TypeInputReport && item.type != TypeClassRequest) return true;
    // A report, or a NAK run held with its transfer, shows its last child.
    if (!StartsWithSetup(item)) return &child == item.children.back();
    // A request its data stage: never the setup, a refused attempt or the status stage.
    UsbItem* setupItem = item.children[0];
    if (&child == setupItem || child.status == PidNak) return false;
    const auto setup = SetupPacket::Fetch(Host(), setupItem);
    // Without the setup the stages cannot be told apart: each may carry data.
    if (!setup) return true;
    return setup->wLength != 0 && child.type == (setup->IsDeviceToHost() ? ItemInTransaction : ItemOutTransaction);
}

void CClassDecoder::TakeReportDescriptor(UsbItem* transfer)
{
    std::vector<uint8_t> bytes;
    // A read whose later packets the capture lacks lays out only the first
    // fields: it counts as not captured.
    if (Whole(transfer)) FetchAll(Host(), transfer, bytes, kDescriptorLimit);
    const uint32_t from = transfer->firstRecord;
    // Where it goes, and whether the descriptor in force there is the same.
    auto place = [&] {
        auto at = std::upper_bound(history_.begin(), history_.end(), from,
                                   [](uint32_t record, const Layouts& l) { return record < l.from; });
        const bool known = at != history_.begin() && std::prev(at)->bytes == bytes;
        return std::pair{at, known};
    };
    {
        std::lock_guard lock(descriptorLock_);
        searched_ = true;
        if (bytes.empty() || place().second) return;
    }
    // Laid out apart and then put in: a reader keeps the layouts it took.
    auto layouts = std::make_shared<CReportDescriptor>(usages_);
    layouts->Parse(bytes);
    std::lock_guard lock(descriptorLock_);
    const auto [at, known] = place();
    if (!known) history_.insert(at, Layouts{from, std::move(bytes), std::move(layouts)});
}

// ---------------------------------------------------------------- grouping

UsbItem* CClassDecoder::Transaction(UsbItem* item)
{
    if (!item) return std::exchange(held_, nullptr);
    if (!decodes_) {
        // A decoder that decodes sees its interface's report descriptors before
        // anything after them reaches the tree, so it never searches beside an
        // item: there the siblings are the level the decoding is still growing.
        decodes_ = true;
        std::lock_guard lock(descriptorLock_);
        searched_ = true;
    }
    // A transfer retyped by an earlier run over the same tree is still a transfer.
    if (item->type == TypeClassRequest && StartsWithSetup(*item)) item->type = ItemControlTransfer;
    ItemSummary row;
    if (Host()) Host()->Summarize(item, &row);
    if (item->type != ItemControlTransfer && row.status == StatusNak) {
        if (!held_) {
            held_ = item;
            return nullptr;
        }
        // Another run while one waits: the run of INs nearest the report goes
        // with it, and nothing captured vanishes from the transfer level.
        if (item->type == ItemNakGroup && !item->children.empty() && item->children[0]->type == ItemInTransaction)
            return std::exchange(held_, item);
        if (item->type != ItemInTransaction) return item;
    }
    if (item->type == ItemControlTransfer) {
        if (IsReportDescriptorTransfer(item)) {
            TakeReportDescriptor(item);
        } else if (const auto setup = SetupPacket::FetchOfTransfer(Host(), item);
                   setup && setup->IsClass() && setup->RequestRecipient() == SetupPacket::RecipientInterface) {
            // Standard requests to the interface (GET_DESCRIPTOR of the HID
            // descriptor, SET_INTERFACE, GET_STATUS) stay the host's.
            item->type = TypeClassRequest;
        }
        if (!held_) return item;
        // Never a control transfer: the host would read the NAK run as its SETUP.
        UsbItem* group = NewGroup(TypeClassRequest, *item);
        group->Append(std::exchange(held_, nullptr));
        group->Append(item);
        return group;
    }
    if (item->type == ItemInTransaction) {
        UsbItem* report = NewGroup(TypeInputReport, *item);
        if (held_) report->Append(std::exchange(held_, nullptr));
        report->Append(item);
        return report;
    }
    return item;  // OUT and other traffic go on as they are
}

// ---------------------------------------------------------------- rows and data

int32_t CClassDecoder::SummarizeItem(UsbItem* item, ItemSummary& out)
{
    switch (item->type) {
    case ItemControlTransfer:
        if (Host()) Host()->Summarize(item, &out);
        if (IsReportDescriptorTransfer(item)) out.name = "GetDescriptor ( Report )";
        break;
    case TypeInputReport: {
        if (item->children.empty()) return 0;
        out = ItemSummary{};
        ItemSummary last;
        if (Host()) Host()->Summarize(item->children.back(), &last);
        MergeCells(out, last);
        out.name = "Input Report";
        out.icon = keyboardMode_ + 1;
        if (last.duration != 0) out.duration = last.duration;
        break;
    }
    case TypeClassRequest: {
        if (item->children.empty()) return 0;
        if (!StartsWithSetup(*item)) return Summarize(item->children.back(), &out);
        // The row of the control transfer it is, under the request's own name.
        out = ItemSummary{};
        UsbItem* setupItem = item->children[0];
        if (Host()) Host()->Summarize(setupItem, &out);
        int32_t size = 0;
        int32_t errorClass = StatusErrorClass(out.status);
        for (UsbItem* child : item->children) {
            if (child == setupItem) continue;
            ItemSummary stage;
            if (Host()) Host()->Summarize(child, &stage);
            if (errorClass == ErrorClassNone) errorClass = StatusErrorClass(stage.status);
            if (child->status != PidNak && stage.size > 0) size += stage.size;
        }
        const auto setup = SetupPacket::Fetch(Host(), setupItem);
        // As the host shows a transfer: a STALLed SET_IDLE is no success.
        out.status = WithErrorClass(ControlTransferResult(item->status), errorClass);
        out.size = size;
        out.name = std::string(setup ? RequestName(setup->bRequest) : "") + " (  )";
        out.icon = keyboardMode_;
        break;
    }
    default:
        if (!Host() || !Host()->Summarize(item, &out)) return 0;
        break;
    }
    if (out.status == StatusAck || out.status == StatusNyet) out.status = StatusOk;
    return 1;
}

int32_t CClassDecoder::GetItemData(UsbItem* item, uint8_t* buffer, uint32_t capacity)
{
    switch (item->type) {
    case TypeInputReport:
        return item->children.empty() ? 0 : CClassDecoderBase::GetItemData(item->children.back(), buffer, capacity);
    case TypeClassRequest: {
        if (item->children.empty()) return 0;
        if (!StartsWithSetup(*item)) return GetData(item->children.back(), buffer, capacity);
        // The data stage, as the host gives a control transfer's.
        const UsbItem* setupItem = item->children[0];
        return ConcatChildData(Host(), *item, buffer, capacity, [setupItem](const UsbItem& child) {
            return &child != setupItem && child.status != PidNak;
        });
    }
    default: return CClassDecoderBase::GetItemData(item, buffer, capacity);
    }
}

// ---------------------------------------------------------------- detail

bool CClassDecoder::StartSearch()
{
    // Once per decoder, and only by one made to describe a level decoded
    // earlier: a capture without the descriptor is not walked again on every
    // selection.
    std::lock_guard lock(descriptorLock_);
    if (searched_ || !history_.empty()) return false;
    searched_ = true;
    return true;
}

void CClassDecoder::FindReportDescriptor(const UsbItem* item)
{
    // The level the row stands in, also for a row inside a group (a request
    // held with a NAK run): the group holds none of the level's reads.
    const UsbItem* top = item;
    while (top->parent && top->parent->parent) top = top->parent;
    const UsbItem* level = top->parent;
    if (!level) return;
    std::optional<TurnRecords> turn;
    {
        std::lock_guard lock(descriptorLock_);
        turn = turn_;
    }
    // The whole reads of this interface's report descriptor at the item's address.
    const auto read = [&](UsbItem* sibling) -> UsbItem* {
        UsbItem* candidate = Forwarded(sibling);
        if (candidate->type != ItemControlTransfer || candidate->address != item->address ||
            candidate->interface != item->interface || !IsReportDescriptorTransfer(candidate) || !Whole(candidate))
            return nullptr;
        return candidate;
    };
    const UsbItemList& rows = level->children;
    const uint32_t count = rows.size();
    if (!turn) {
        // Not told its turn: any read at the address may be its device's, the
        // last before the item, else the first after it.
        UsbItem* found = nullptr;
        for (UsbItem* sibling : rows) {
            UsbItem* candidate = read(sibling);
            if (!candidate) continue;
            if (candidate->firstRecord > item->firstRecord) {
                if (!found) found = candidate;
                break;
            }
            found = candidate;
        }
        if (found) TakeReportDescriptor(found);
        return;
    }
    // Where the turn's reads stand. The built-in decoder hands the address's
    // transfers on in the order of their SETUPs, and this interface's decoder
    // holds none back: every read of the turn stands after the last such
    // transfer from before the turn and before the first one from after it.
    // Other rows stand only roughly by record (a held run's group goes in
    // late), so the search for the turn's start is a guess the walk corrects.
    const auto transferAt = [&](UsbItem* sibling) -> const UsbItem* {
        const UsbItem* t = Forwarded(sibling);
        if (t->address != item->address || (t->interface != kNone && t->interface != item->interface)) return nullptr;
        return t->type == ItemControlTransfer || (t->type == TypeClassRequest && StartsWithSetup(*t)) ? t : nullptr;
    };
    uint32_t start = 0;
    for (uint32_t below = count; start < below;) {
        const uint32_t middle = start + (below - start) / 2;
        if (rows[middle]->firstRecord < turn->from) start = middle + 1;
        else below = middle;
    }
    for (; start > 0; --start)
        if (const UsbItem* t = transferAt(rows[start - 1]); t && t->firstRecord < turn->from) break;
    // Every read of its own turn, as the turn's decoder took them while it
    // decoded: each row then finds the one in force at it, whichever row asked.
    uint32_t end = start;
    for (; end < count; ++end) {
        if (const UsbItem* t = transferAt(rows[end]); t && t->firstRecord >= turn->to) break;
        UsbItem* candidate = read(rows[end]);
        if (candidate && candidate->firstRecord >= turn->from && candidate->firstRecord < turn->to)
            TakeReportDescriptor(candidate);
    }
    {
        std::lock_guard lock(descriptorLock_);
        if (!history_.empty()) return;
    }
    // A turn whose read was not captured: its device's from another turn,
    // the last before it, else the first after it.
    if (!turn->deviceOf) return;
    // The level's reads by device are found once for every decoder of the
    // interface: one is made for each turn handed back, and again whenever
    // the bound on them let it go.
    const std::shared_ptr<LevelFindings> findings = turn->findings ? turn->findings : std::make_shared<LevelFindings>();
    std::optional<uint32_t> found;
    {
        std::lock_guard lock(findings->lock);
        const uint64_t key = uint64_t(item->address) << 8 | item->interface;
        auto reads = findings->found.find(key);
        if (reads == findings->found.end()) {
            // Filed once whole: a walk that ran out of memory is not taken for one that found nothing.
            std::map<uint32_t, std::vector<uint32_t>> byDevice;
            uint32_t k = 0;
            for (UsbItem* row : rows) {
                if (UsbItem* candidate = read(row))
                    byDevice[turn->deviceOf(*turn, candidate->firstRecord)].push_back(k);
                ++k;
            }
            reads = findings->found.emplace(key, std::move(byDevice)).first;
        }
        if (const auto own = reads->second.find(turn->device); own != reads->second.end()) {
            const std::vector<uint32_t>& at = own->second;
            const auto before = std::lower_bound(at.begin(), at.end(), start);
            const auto after = std::lower_bound(at.begin(), at.end(), end);
            if (before != at.begin()) found = *std::prev(before);
            else if (after != at.end()) found = *after;
        }
    }
    if (found) TakeReportDescriptor(Forwarded(rows[*found]));
}

UsbItem* CClassDecoder::Forwarded(UsbItem* item)
{
    while (item && item->type == TypeClassRequest && !item->children.empty() && !StartsWithSetup(*item))
        item = item->children.back();
    return item;
}

int32_t CClassDecoder::FallbackDetail(UsbItem* item, std::string& xml)
{
    if (!Host()) return 0;
    item = Forwarded(item);
    std::string text;
    if (Host()->GetDetail(item, text)) {
        xml = std::move(text);
        return 1;
    }
    // The host writes a standard request's detail but leaves a request to an
    // interface to that interface's decoder: here it is the standard one still.
    const auto setup = item->type == ItemControlTransfer ? SetupPacket::FetchOfTransfer(Host(), item) : std::nullopt;
    if (!setup || !setup->IsStandard() || text.empty()) return 0;
    xml = std::move(text);
    return 1;
}

const ImageList* CClassDecoder::ItemImages(UsbItem* item)
{
    // A group shows the row of its transfer, icon included; the host's rows
    // (the report descriptor's, a standard request's) index the host's icons.
    return ImagesByOwner(Forwarded(item));
}

void CClassDecoder::DescribeDescriptor(const CReportDescriptor& layouts, CDecodeResultWriter& document) const
{
    const xml::Node group = document.AddGroup("HID Report Descriptor");
    for (const DescriptorItem& entry : layouts.Items())
        document.AddItem(group, entry.value, entry.raw, TipOf(entry.tipKey, entry.value), entry.bitOffset, entry.bits);
    for (const HidReport& report : layouts.Reports()) {
        const char* title = report.kind == KindInput    ? "Input Report %d"
                            : report.kind == KindOutput ? "Output Report %d"
                                                        : "Feature Report %d";
        const xml::Node fields = document.AddGroup(Printf(title, int(report.id)));
        for (const HidField& field : report.fields)
            document.AddItem(fields, field.name, Printf(field.bits > 1 ? "%d bits" : "%d bit", field.bits),
                             TipOf(field.tipKey, field.value), 0, 0);
    }
}

void CClassDecoder::DescribeReport(const HidReport& report, std::span<const uint8_t> data, bool idByte,
                                   CDecodeResultWriter& document) const
{
    const char* title = report.kind == KindInput    ? "Input report"
                        : report.kind == KindOutput ? "Output report"
                                                    : "Feature report";
    const xml::Node group = document.AddGroup(title);
    const uint32_t shift = idByte ? 8 : 0;
    if (idByte) {
        const std::string value = FormatFieldValue(data, 0, 8);
        document.AddItem(group, "Report ID", value, value, 0, 8);
    }
    // Fields past the data's end are shown without a value, never read.
    for (const HidField& field : report.fields) {
        const uint32_t offset = field.bitOffset + shift;
        std::string value;
        if (field.array && (field.bits == 8 || field.bits == 16)) {
            // An array slot holds a usage of the field's page.
            if (const auto number = ReadFieldNumber(data, offset, field.bits)) {
                const uint32_t usage = uint32_t(*number) & (field.bits == 8 ? 0xFFu : 0xFFFFu);
                value = usages_.GetUsageName(field.usagePage, usage);
                if (value.empty()) value = Printf(" (%d)", int(usage));
            }
        } else {
            value = FormatFieldValue(data, offset, field.bits);
        }
        document.AddItem(group, field.name, value, TipOf(field.tipKey, value), offset, field.bits);
    }
}

void CClassDecoder::DescribeInputReport(const CReportDescriptor& layouts, UsbItem* item,
                                        CDecodeResultWriter& document)
{
    std::vector<uint8_t> data;
    FetchAll(this, item, data, kReportLimit);
    // With report IDs every report starts with its own.
    const bool idByte = layouts.UsesReportIds();
    if (idByte && data.empty()) return;
    if (const HidReport* report = layouts.Find(idByte ? data[0] : 0, KindInput))
        DescribeReport(*report, data, idByte, document);
}

void CClassDecoder::DescribeReportRequest(const CReportDescriptor& layouts, UsbItem* item,
                                          CDecodeResultWriter& document)
{
    const auto setup = SetupPacket::Fetch(Host(), item->children[0]);
    if (!setup || (setup->bRequest != SetReport && setup->bRequest != GetReport)) return;
    // wValue: the report type (1 input, 2 output, 3 feature) and the report ID.
    static const uint32_t kKinds[] = {KindNone, KindInput, KindOutput, KindFeature};
    const uint32_t type = setup->wValue >> 8;
    const HidReport* report = type >= 1 && type <= 3 ? layouts.Find(setup->wValue & 0xFF, kKinds[type]) : nullptr;
    if (!report) return;
    // The data stage, of either direction; a report with an ID starts with it.
    std::vector<uint8_t> data;
    FetchAll(this, item, data, kReportLimit);
    DescribeReport(*report, data, report->id != 0, document);
}

bool CClassDecoder::DescribeItem(UsbItem* item, CDecodeResultWriter& document)
{
    if (StartSearch()) FindReportDescriptor(item);
    const std::shared_ptr<const CReportDescriptor> layouts = Descriptor(item);
    switch (item->type) {
    case ItemControlTransfer: {
        if (!IsReportDescriptorTransfer(item)) return false;
        if (!Whole(item)) {
            DescribeLost("Transfer", item, document);
            return true;
        }
        // The transfer's own descriptor, also where a later one is in force.
        std::vector<uint8_t> bytes;
        FetchAll(Host(), item, bytes, kDescriptorLimit);
        CReportDescriptor own(usages_);
        own.Parse(bytes);
        DescribeDescriptor(own, document);
        return true;
    }
    case TypeInputReport:
        if (!StagesWhole(*item)) DescribeLost("Input report", item, document);
        else DescribeInputReport(*layouts, item, document);
        return true;
    case TypeClassRequest:
        if (item->children.empty()) return true;
        if (!StartsWithSetup(*item)) return DescribeItem(item->children.back(), document);
        if (!StagesWhole(*item)) DescribeLost("Transfer", item, document);
        else DescribeReportRequest(*layouts, item, document);
        return true;
    case ItemSetupTransaction: {
        uint8_t setup[SetupPacket::kSize];
        if (!FetchExact(Host(), item, setup)) return false;
        const xml::Node group = document.AddGroup("Setup request");
        for (const HidField& field : DecodeSetupPacket(setup))
            document.AddItem(group, field.name, field.value, field.value, field.bitOffset, field.bits);
        return true;
    }
    default: return false;
    }
}

}  // namespace orvane::hid
