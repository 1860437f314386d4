// The texts of the packet list's cells, from each row's cached summary and,
// for "Data" and "Idle", the capture itself. UI thread only.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "IDecode.h"

namespace orvane::app {

class CPacketListCells {
public:
    enum Column : int {
        ColItem, ColAddress, ColEndpoint, ColInterface, ColSpeed, ColStatus,
        ColData, ColSize, ColTime, ColDuration, ColIdle, ColPacket, kColumnCount
    };
    // The summary cache is dropped whole at this size: scrolling through tens
    // of millions of rows must not keep a copy of each.
    static constexpr size_t kSummaryCacheLimit = 1 << 16;
    static constexpr size_t kDataBytesShown = 1024;

    CPacketListCells() = default;
    CPacketListCells(const CPacketListCells&) = delete;
    CPacketListCells& operator=(const CPacketListCells&) = delete;

    // Changing the decoder drops the cached summaries.
    void SetDecoder(IDecode* decoder);
    IDecode* Decoder() const { return decoder_; }
    void SetDataSource(IDataSource* source) { source_ = source; }

    // `out` starts as an empty summary.
    void GetRowSummary(UsbItem* item, ItemSummary& out);
    // The same without adding to the cache, for walks over the whole capture.
    void Summarize(UsbItem* item, ItemSummary& out);
    void ClearSummaryCache() { summaries_.clear(); }
    size_t CachedSummaries() const { return summaries_.size(); }
    // The item's bytes, valid until the next call; empty without a decoder.
    const std::vector<uint8_t>& GetItemData(UsbItem* item, size_t* count);

    std::string GetCellText(UsbItem* item, int column);

    // The pieces of the cell texts.
    static std::string StatusText(int32_t status);
    static std::string SpeedText(int32_t speed);
    static std::string NumberText(int32_t value);  // empty when negative
    static std::string SizeText(int32_t size);
    static int64_t TicksToNs(int64_t ticks);
    static std::string NsText(int64_t ns);
    static std::string TimeText(int64_t ticks) { return NsText(TicksToNs(ticks)); }
    static std::string DurationText(int64_t ticks);  // empty below 1 ns
    static std::string HexBytes(const uint8_t* bytes, size_t count);
    static std::string ThousandsText(uint32_t value);
    // Red for a row whose status carries an error class.
    static bool IsErrorStatus(int32_t status) { return status != -1 && (status >> 16) != 0; }

private:
    bool Cached(UsbItem* item, ItemSummary& out) const;
    std::string IdleText(UsbItem* item, const ItemSummary& summary);

    IDecode* decoder_ = nullptr;
    IDataSource* source_ = nullptr;
    std::unordered_map<const UsbItem*, ItemSummary> summaries_;
    std::vector<uint8_t> data_;
};

}  // namespace orvane::app
