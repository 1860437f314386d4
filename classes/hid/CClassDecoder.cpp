#include "CClassDecoder.h"

#include <cstdio>
#include <utility>

#include "BoundedFetch.h"
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
    : CClassDecoderBase(3, -1, -1, &kImages), usages_(usageNames), descriptor_(usages_)
{
}

int32_t CClassDecoder::Notify(int32_t code, void*, intptr_t)
{
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

void CClassDecoder::TakeReportDescriptor(UsbItem* transfer)
{
    std::vector<uint8_t> bytes;
    FetchAll(Host(), transfer, bytes, kDescriptorLimit);
    searched_ = true;
    if (bytes.empty() || bytes == descriptorBytes_) return;
    // A different descriptor replaces the layouts: the device now sends those reports.
    descriptorBytes_ = std::move(bytes);
    descriptor_.Clear();
    descriptor_.Parse(descriptorBytes_);
}

// ---------------------------------------------------------------- grouping

UsbItem* CClassDecoder::Transaction(UsbItem* item)
{
    if (!item) return std::exchange(held_, nullptr);
    // A transfer retyped by an earlier run over the same tree is still a transfer.
    if (item->type == TypeClassRequest && StartsWithSetup(*item)) item->type = ItemControlTransfer;
    ItemSummary row;
    if (Host()) Host()->Summarize(item, &row);
    if (item->type != ItemControlTransfer && row.status == StatusNak && !held_) {
        held_ = item;
        return nullptr;
    }
    if (item->type == ItemControlTransfer) {
        if (IsReportDescriptorTransfer(item)) {
            TakeReportDescriptor(item);
        } else if (const auto setup = SetupPacket::FetchOfTransfer(Host(), item);
                   setup && setup->RequestRecipient() == SetupPacket::RecipientInterface) {
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
    return nullptr;  // OUT and other traffic stay at the transaction level only
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

void CClassDecoder::FindReportDescriptor(const UsbItem* item)
{
    // Once per decoder: a capture without the descriptor is not walked again
    // on every selection.
    searched_ = true;
    const UsbItem* parent = item->parent;
    if (!parent) return;
    for (UsbItem* sibling : parent->children) {
        UsbItem* candidate = sibling;
        if (candidate->type == TypeClassRequest && !candidate->children.empty() && !StartsWithSetup(*candidate))
            candidate = candidate->children.back();
        if (candidate->type != ItemControlTransfer || candidate->address != item->address ||
            candidate->interface != item->interface || !IsReportDescriptorTransfer(candidate))
            continue;
        TakeReportDescriptor(candidate);
        return;
    }
}

void CClassDecoder::DescribeDescriptor(CDecodeResultWriter& document) const
{
    const xml::Node group = document.AddGroup("HID Report Descriptor");
    for (const DescriptorItem& entry : descriptor_.Items())
        document.AddItem(group, entry.value, entry.raw, TipOf(entry.tipKey, entry.value), entry.bitOffset, entry.bits);
    for (const HidReport& report : descriptor_.Reports()) {
        const char* title = report.kind == KindInput ? "Input Report %d" : report.kind == KindOutput ? "Output Report %d" : nullptr;
        if (!title) continue;
        const xml::Node fields = document.AddGroup(Printf(title, int(report.id)));
        for (const HidField& field : report.fields)
            document.AddItem(fields, field.name, Printf(field.bits > 1 ? "%d bits" : "%d bit", field.bits),
                             TipOf(field.tipKey, field.value), 0, 0);
    }
}

void CClassDecoder::DescribeInputReport(UsbItem* item, CDecodeResultWriter& document)
{
    std::vector<uint8_t> data;
    FetchAll(this, item, data, kReportLimit);
    const std::vector<HidReport>& reports = descriptor_.Reports();
    // Longer than the first report: the first byte is a report ID.
    const uint32_t reportBytes = reports.empty() ? 0 : reports.front().Bits() / 8;
    const bool idByte = reportBytes < data.size();
    const uint32_t id = idByte ? data[0] : 0;
    const uint32_t shift = idByte ? 8 : 0;
    for (const HidReport& report : reports) {
        if (report.kind != KindInput || report.id != id) continue;
        const xml::Node group = document.AddGroup("Input report");
        if (idByte) {
            const std::string value = FormatFieldValue(data, 0, 8);
            document.AddItem(group, "Report ID", value, value, 0, 8);
        }
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
}

void CClassDecoder::DescribeClassRequest(UsbItem* item, CDecodeResultWriter& document)
{
    const auto setup = SetupPacket::Fetch(Host(), item->children[0]);
    if (!setup || setup->bRequest != SetReport) return;
    const uint32_t id = setup->wValue & 0xFF;
    const uint32_t kind = (setup->wValue >> 8) == 1 ? KindInput : KindOutput;
    std::vector<uint8_t> data;
    // Fields past the data's end are shown without a value, never read.
    FetchAll(this, item, data, kReportLimit);
    for (const HidReport& report : descriptor_.Reports()) {
        if (report.kind != kind || report.id != id) continue;
        const xml::Node group = document.AddGroup("Output report");
        for (const HidField& field : report.fields) {
            const std::string value = FormatFieldValue(data, field.bitOffset, field.bits);
            document.AddItem(group, field.name, value, TipOf(field.tipKey, value), field.bitOffset, field.bits);
        }
    }
}

bool CClassDecoder::DescribeItem(UsbItem* item, CDecodeResultWriter& document)
{
    if (!searched_ && descriptor_.Empty()) FindReportDescriptor(item);
    switch (item->type) {
    case ItemControlTransfer:
        if (!IsReportDescriptorTransfer(item)) return false;
        DescribeDescriptor(document);
        return true;
    case TypeInputReport: DescribeInputReport(item, document); return true;
    case TypeClassRequest:
        if (item->children.empty()) return true;
        if (!StartsWithSetup(*item)) return DescribeItem(item->children.back(), document);
        DescribeClassRequest(item, document);
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
