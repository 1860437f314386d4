// A minimal class decoder for tests: pairs the transactions of its interface
// into class-level items and describes them through the frame.
#pragma once

#include "CClassDecoderBase.h"

namespace orvane {

class CTestClassDecoder : public CClassDecoderBase {
public:
    static constexpr uint16_t kPair = 258;
    // Every operation on it throws, as an XML or allocation failure would.
    static constexpr uint16_t kFaulty = 259;

    CTestClassDecoder(int32_t cls, int32_t subclass, int32_t protocol);
    // A pair still open belongs to no tree: it goes with the decoder.
    ~CTestClassDecoder() override;

protected:
    int32_t SummarizeItem(UsbItem* item, ItemSummary& out) override;
    int32_t GetItemData(UsbItem* item, uint8_t* buffer, uint32_t capacity) override;
    bool DescribeItem(UsbItem* item, CDecodeResultWriter& document) override;
    const ImageList* ItemImages(UsbItem* item) override;
    UsbItem* Transaction(UsbItem* item) override;
    void ResetState() override;

private:
    UsbItem* open_ = nullptr;
};

}  // namespace orvane
