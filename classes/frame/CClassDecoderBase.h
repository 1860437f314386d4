// What every class decoder plug-in shares: the object's life, the host, the
// image list, the configuration it was told of, the merge of child summaries
// into a class-level row, and a guard that keeps exceptions inside the
// library. A decoder fills in the protected hooks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "CDecodeResultWriter.h"
#include "IDecode.h"

namespace orvane {

class CClassDecoderBase : public IDecodeClass {
public:
    // `images` is the library's own strip; null when the decoder has no icons.
    CClassDecoderBase(int32_t cls, int32_t subclass, int32_t protocol, const ImageList* images);
    // After the interface slots, so the table the host sees is unchanged.
    virtual ~CClassDecoderBase() = default;
    CClassDecoderBase(const CClassDecoderBase&) = delete;
    CClassDecoderBase& operator=(const CClassDecoderBase&) = delete;

    // Every slot answers its failure value when the decoder throws.
    void Release() final;
    int32_t Summarize(UsbItem* item, ItemSummary* out) final;
    int32_t GetData(UsbItem* item, uint8_t* buffer, uint32_t capacity) final;
    // On failure `xml` is left as it was.
    int32_t GetDetail(UsbItem* item, std::string& xml) final;
    const ImageList* GetImageList(UsbItem* item) final;
    // Codes 1 and 2 are answered here for every decoder: the item's GetData
    // length, and whether the data it shows lack a packet's payload.
    int32_t OnNotify(int32_t code, void* arg, intptr_t param) final;
    int32_t GetClassCode(int32_t* cls, int32_t* subclass, int32_t* protocol) final;
    void SetHost(IDecode* host) final { host_ = host; }
    UsbItem* OnTransaction(UsbItem* item) final;
    void Reset() final;

    // Merge rule for one child: negative cells and a non-positive time stamp
    // take the child's value; cells already set stay.
    static void MergeCells(ItemSummary& row, const ItemSummary& child);

protected:
    IDecode* Host() const { return host_; }
    const ImageList* Images() const { return images_; }
    // The configuration descriptor of configuration 1, as notified.
    const std::vector<uint8_t>& Configuration() const { return configuration_; }

    // The host's icons for items of the host's types (transactions, control
    // transfers, whose rows carry the host's icon), the decoder's own above.
    const ImageList* ImagesByOwner(UsbItem* item) const;

    // Summarises every child of `item` through Summarize and merges the cells
    // into `row`; a merged status of ACK or NYET becomes OK.
    void MergeChildSummaries(UsbItem* item, ItemSummary& row);

    // A new class-level item of `type` standing where `header` stands: its
    // first record, address, endpoint and interface.
    static UsbItem* NewItem(uint16_t type, const UsbItem& header);
    // Duration from the row's start to the end of `last`, in the low 32 bits.
    static int32_t DurationTo(const ItemSummary& row, const ItemSummary& last);

    // In place of the fields of `item`, a row whose payload the capture lacks,
    // as every pane says it: a group `title` holding only that.
    void DescribeLost(const std::string& title, UsbItem* item, CDecodeResultWriter& document);
    // DescribeLost under the row's own name when the data `item` shows lack a
    // packet's payload; false, writing nothing, when they do not.
    bool DescribeIfLost(UsbItem* item, CDecodeResultWriter& document);

    // Hooks. The defaults hand items the decoder does not own to the host.
    virtual int32_t SummarizeItem(UsbItem* item, ItemSummary& out);
    virtual int32_t GetItemData(UsbItem* item, uint8_t* buffer, uint32_t capacity);
    // Writes the item's groups and answers true, or false when not handled.
    // Groups of an item whose data lack a payload that do not name it give
    // way to DescribeIfLost's.
    virtual bool DescribeItem(UsbItem* item, CDecodeResultWriter& document) { return false; }
    // The detail of an item DescribeItem refuses, in its place (the host's,
    // say); 0 leaves `xml` as it was.
    virtual int32_t FallbackDetail(UsbItem* item, std::string& xml) { return 0; }
    virtual const ImageList* ItemImages(UsbItem* item) { return images_; }
    // Whether `child` gives part of the data GetItemData shows of `item`: a
    // packet lost in a child the data leave out (a command's status, say)
    // leaves them whole. By default every child does.
    virtual bool ShowsDataOf(const UsbItem& item, const UsbItem& child) { return true; }
    virtual int32_t Notify(int32_t code, void* arg, intptr_t param) { return 0; }
    virtual UsbItem* Transaction(UsbItem* item) { return item; }
    virtual void ResetState() {}

private:
    // The host's answer for its items; a class-level item asks the children
    // its data come from. The text their data show, null when none is lost.
    const char* LostText(UsbItem* item);
    // Whether an item of `document` has `text` for its value.
    static bool Names(const CDecodeResultWriter& document, const char* text);

    IDecode* host_ = nullptr;
    const ImageList* images_;
    std::vector<uint8_t> configuration_;
    int32_t class_;
    int32_t subclass_;
    int32_t protocol_;
};

}  // namespace orvane
