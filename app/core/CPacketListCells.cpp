#include "CPacketListCells.h"

#include <algorithm>
#include <cstdio>

#include "HexText.h"

namespace orvane::app {

namespace {

// The list shows times at 16.7 ns a tick, not 1000/60, as it always has.
constexpr double kShownTickNs = 16.7;
constexpr size_t kInitialDataBytes = 1 << 20;

std::string Format(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

void CPacketListCells::SetDecoder(IDecode* decoder)
{
    if (decoder != decoder_) summaries_.clear();
    decoder_ = decoder;
}

bool CPacketListCells::Cached(UsbItem* item, ItemSummary& out) const
{
    auto found = summaries_.find(item);
    if (found == summaries_.end()) return false;
    out = found->second;
    return true;
}

void CPacketListCells::GetRowSummary(UsbItem* item, ItemSummary& out)
{
    if (!item || Cached(item, out) || !decoder_) return;
    decoder_->Summarize(item, &out);
    if (summaries_.size() >= kSummaryCacheLimit) summaries_.clear();
    summaries_.emplace(item, out);
}

void CPacketListCells::Summarize(UsbItem* item, ItemSummary& out)
{
    if (item && !Cached(item, out) && decoder_) decoder_->Summarize(item, &out);
}

const std::vector<uint8_t>& CPacketListCells::GetItemData(UsbItem* item, size_t* count)
{
    *count = 0;
    if (!decoder_ || !item) return data_;
    if (data_.empty()) data_.resize(kInitialDataBytes);
    uint32_t size = 0;
    decoder_->OnNotify(NotifyDataLength, item, reinterpret_cast<intptr_t>(&size));
    if (size > data_.size()) data_.resize(size);
    int32_t n = decoder_->GetData(item, data_.data(), uint32_t(data_.size()));
    // GetData answers the full length, which may exceed what it could write.
    *count = n > 0 ? std::min(size_t(n), data_.size()) : 0;
    return data_;
}

std::string CPacketListCells::StatusText(int32_t status)
{
    if (status == -1) return {};
    static const char* const results[] = {"ACK", "NYET", "NAK", "STALL", "OK", "FAILED", nullptr, "Error"};
    std::string text;
    uint32_t result = uint32_t(status) & 0xFFFF;
    if (result < 8 && results[result]) text = results[result];
    switch (int16_t(uint32_t(status) >> 16)) {
    case ErrorClassDataLength: text += " (Data Length Error)"; break;
    case ErrorClassPid: text += " (Pid Error)"; break;
    case ErrorClassCrc5: text += " (CRC5 Error)"; break;
    case ErrorClassCrc16: text += " (CRC16 Error)"; break;
    case ErrorClassBitStuff: text += " (Bit Stuff Error)"; break;
    default: break;
    }
    return text;
}

std::string CPacketListCells::SpeedText(int32_t speed)
{
    switch (speed) {
    case BusSpeedLow: return "LS";
    case BusSpeedFull: return "FS";
    case BusSpeedHigh: return "HS";
    default: return {};
    }
}

std::string CPacketListCells::NumberText(int32_t value)
{
    return value < 0 ? std::string() : std::to_string(value);
}

std::string CPacketListCells::SizeText(int32_t size)
{
    if (size < 0) return {};
    if (size < 1024) return std::to_string(size) + " bytes";
    if (size < 1048576) {
        double kb = size / 1024.0;
        // "%.3g" turns 999.5 KB and up into exponent form ("1.02e+03").
        return Format(kb < 999.5 ? "%.3g KB" : "%.0f KB", kb);
    }
    return Format("%.6g MB", size / 1048576.0);
}

int64_t CPacketListCells::TicksToNs(int64_t ticks)
{
    return int64_t(double(ticks) * kShownTickNs + 0.5);
}

std::string CPacketListCells::NsText(int64_t ns)
{
    char text[64];
    std::snprintf(text, sizeof text, "%lld.%03lld %03lld %03lld", static_cast<long long>(ns / 1000000000),
                  static_cast<long long>(ns / 1000000 % 1000), static_cast<long long>(ns / 1000 % 1000),
                  static_cast<long long>(ns % 1000));
    return text;
}

std::string CPacketListCells::DurationText(int64_t ticks)
{
    int64_t ns = TicksToNs(ticks);
    return ns < 1 ? std::string() : NsText(ns);
}

std::string CPacketListCells::HexBytes(const uint8_t* bytes, size_t count) { return HexText(bytes, count); }

std::string CPacketListCells::ThousandsText(uint32_t value)
{
    std::string digits = std::to_string(value);
    std::string text;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i && (digits.size() - i) % 3 == 0) text += ',';
        text += digits[i];
    }
    return text;
}

std::string CPacketListCells::IdleText(UsbItem* item, const ItemSummary& summary)
{
    if (item->firstRecord == 0 || !source_) return {};
    PacketRecord previous;
    // A record that cannot be read gives no idle time rather than a made-up one.
    if (source_->GetRecord(item->firstRecord - 1, &previous) != RecordOk) return {};
    int64_t idle = summary.time - int64_t(previous.Timestamp()) - int64_t(previous.Duration());
    if (idle < 0) return {};
    return DurationText(idle);
}

std::string CPacketListCells::GetCellText(UsbItem* item, int column)
{
    if (!item) return {};
    ItemSummary summary;
    GetRowSummary(item, summary);
    switch (column) {
    case ColItem: return summary.name;
    case ColAddress: return NumberText(summary.address);
    case ColEndpoint: return NumberText(summary.endpoint);
    case ColInterface: return NumberText(summary.interface);
    case ColSpeed: return SpeedText(summary.speed);
    case ColStatus: return StatusText(summary.status);
    case ColData: {
        if (summary.size < 1) return {};
        size_t count = 0;
        const std::vector<uint8_t>& bytes = GetItemData(item, &count);
        // Bytes the capture lacks are named, not shown as what was held; asked
        // after the read, which tells of a read from the analyser that failed.
        if (const char* lost = LostPayloadText(decoder_, item)) return lost;
        return HexBytes(bytes.data(), std::min(count, kDataBytesShown));
    }
    case ColSize: return SizeText(summary.size);
    case ColTime: return TimeText(summary.time);
    case ColDuration: return DurationText(summary.duration);
    case ColIdle: return IdleText(item, summary);
    case ColPacket: return ThousandsText(item->firstRecord);
    default: return {};
    }
}

}  // namespace orvane::app
