#include "CTestClassDecoder.h"

#include <new>
#include <vector>

#include "WriteEnumerableGroup.h"
#include "test_header_imp.h"

namespace orvane {

namespace {

// Two 16 by 16 icons.
const uint8_t kIconStrip[] = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52,
    0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x10, 0x08, 0x02, 0x00, 0x00, 0x00, 0xf8, 0x62, 0xea,
    0x0e, 0x00, 0x00, 0x00, 0x20, 0x49, 0x44, 0x41, 0x54, 0x78, 0xda, 0x63, 0xf8, 0xcf, 0xc0, 0x40,
    0x12, 0x22, 0x51, 0xf9, 0x7f, 0x86, 0x51, 0x0b, 0x46, 0x2d, 0x18, 0xb5, 0x60, 0xd4, 0x82, 0x51,
    0x0b, 0x86, 0x82, 0x05, 0x00, 0x50, 0xa6, 0xfe, 0x10, 0xbc, 0x92, 0x0e, 0x2f, 0x00, 0x00, 0x00,
    0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82
};
const ImageList kImages{kIconStrip, sizeof kIconStrip, 16, 16, 2};

bool Owns(const UsbItem* item)
{
    return item->type == CTestClassDecoder::kPair || item->type == CTestClassDecoder::kFaulty;
}

}  // namespace

CTestClassDecoder::CTestClassDecoder(int32_t cls, int32_t subclass, int32_t protocol)
    : CClassDecoderBase(cls, subclass, protocol, &kImages)
{
}

CTestClassDecoder::~CTestClassDecoder() { delete open_; }

int32_t CTestClassDecoder::SummarizeItem(UsbItem* item, ItemSummary& out)
{
    if (item->type == kFaulty) throw std::bad_alloc();
    if (item->type != kPair) return CClassDecoderBase::SummarizeItem(item, out);
    out.name = "Test pair";
    out.icon = 0;
    MergeChildSummaries(item, out);
    return 1;
}

int32_t CTestClassDecoder::GetItemData(UsbItem* item, uint8_t* buffer, uint32_t capacity)
{
    if (item->type == kFaulty) throw std::bad_alloc();
    if (item->type != kPair) return CClassDecoderBase::GetItemData(item, buffer, capacity);
    uint32_t total = 0;
    for (UsbItem* child : item->children) {
        const uint32_t room = capacity > total ? capacity - total : 0;
        const int32_t n = CClassDecoderBase::GetItemData(child, room ? buffer + total : nullptr, room);
        if (n > 0) total += uint32_t(n);
    }
    return int32_t(total);
}

bool CTestClassDecoder::DescribeItem(UsbItem* item, CDecodeResultWriter& document)
{
    if (item->type == kFaulty) throw std::bad_alloc();
    if (item->type != kPair) return false;
    std::vector<uint8_t> bytes(uint32_t(GetItemData(item, nullptr, 0)));
    GetItemData(item, bytes.data(), uint32_t(bytes.size()));
    test_header_imp walker;
    walker.SetData(bytes.data(), uint32_t(bytes.size()));
    std::string title;
    walker.GetName(title);
    int64_t offset = 0;
    WriteEnumerableGroup(document, walker, title, offset);
    return true;
}

const ImageList* CTestClassDecoder::ItemImages(UsbItem* item) { return item && Owns(item) ? Images() : nullptr; }

UsbItem* CTestClassDecoder::Transaction(UsbItem* item)
{
    if (!item) {
        UsbItem* held = open_;
        open_ = nullptr;
        return held;
    }
    if (item->type == kFaulty) throw std::bad_alloc();
    if (!open_) {
        open_ = new UsbItem(kPair, item->firstRecord);
        open_->address = item->address;
        open_->endpoint = item->endpoint;
        open_->interface = item->interface;
    }
    open_->Append(item);
    if (open_->children.size() < 2) return nullptr;
    UsbItem* pair = open_;
    open_ = nullptr;
    return pair;
}

void CTestClassDecoder::ResetState()
{
    delete open_;
    open_ = nullptr;
}

}  // namespace orvane
