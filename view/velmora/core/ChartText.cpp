#include "ChartText.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <utility>

namespace orvane::velmora {

namespace {

constexpr const char* kTypeNames[16] = {"BusSemp", "OUT",   "ACK", "DATA0", "PING",    "SOF",   "NYET",  "DATA2",
                                        "SPLIT",   "IN",    "NAK", "DATA1", "PRE/ERR", "SETUP", "STALL", "MDATA"};

}  // namespace

std::string Format(const char* format, ...)
{
    char buffer[256];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return n < 0 ? std::string() : std::string(buffer, std::min(size_t(n), sizeof buffer - 1));
}

std::string FormatByteSize(uint64_t bytes)
{
    constexpr uint64_t kK = 1000ull * 1024, kM = kK * 1024;
    if (bytes < 1000) return Format("%dbyte", int(bytes));
    if (bytes < kK) return Format("%.2lfKb", double(bytes) / 1024.0);
    if (bytes < kM) return Format("%.2lfMb", double(bytes) / (1024.0 * 1024.0));
    return Format("%.2lfGb", double(bytes) / (1024.0 * 1024.0 * 1024.0));
}

bool FormatTime(double seconds, std::string* out)
{
    bool negative = seconds < -1e-12;
    double a = std::fabs(seconds);
    if (a <= 1e-12 || std::isnan(a)) {
        *out = "0s";
        return true;
    }
    int k = 0;
    while (a < 0.999999999999 && k <= 4) {
        a *= 1000.0;
        ++k;
    }
    std::string text;
    switch (k) {
    case 0: text = Format("%.12gs", a); break;
    case 1: text = Format("%.9gms", a); break;
    case 2: text = Format("%.6gus", a); break;
    case 3: text = Format("%.3gns", a); break;
    case 4: text = Format("%gps", a); break;
    default: return false;
    }
    *out = negative ? "-" + text : text;
    return true;
}

std::string FormatTime(double seconds)
{
    std::string text;
    return FormatTime(seconds, &text) ? text : std::string();
}

double ReadingStep(double pixelsPerSecond)
{
    if (!(pixelsPerSecond > 0) || std::isinf(pixelsPerSecond)) return 1.0;
    // A hair over, so that 1e8 px/s reads to 1e-8 s despite rounding in log10.
    double exponent = std::floor(1e-9 - std::log10(pixelsPerSecond));
    return std::pow(10.0, std::clamp(exponent, -12.0, 0.0));
}

std::string ReadingText(double seconds, double step)
{
    if (std::isnan(seconds)) return "0s";
    int32_t e = step > 0 ? int32_t(std::clamp(std::lround(std::log10(step)), -12l, 0l)) : 0;
    double count = std::fabs(seconds) / std::pow(10.0, e);
    // Counted in whole steps, so the digits come from an integer, not printf's rounding.
    while (count >= 1e15 && e < 0) {
        count /= 10.0;
        ++e;
    }
    if (count >= 1e15) return FormatTime(seconds);
    const long long n = std::llround(count);
    if (n == 0) return "0s";
    std::string digits = std::to_string(n);
    const int32_t magnitude = int32_t(digits.size()) - 1 + e;
    const int32_t unit = magnitude >= 0 ? 0 : std::max(-12, -3 * ((2 - magnitude) / 3));
    static constexpr const char* kUnits[] = {"s", "ms", "us", "ns", "ps"};
    if (unit <= e) {
        digits.append(size_t(e - unit), '0');
    } else {
        const size_t decimals = size_t(unit - e);
        const size_t point = digits.size() - decimals;
        digits = digits.substr(0, point) + "." + digits.substr(point);
    }
    return (seconds < 0 ? "-" : "") + digits + kUnits[-unit / 3];
}

const char* PidName(uint8_t pid)
{
    uint8_t nibble = pid & 0xF;
    return nibble == 0 ? " " : kTypeNames[nibble];
}

std::string PacketTypeName(uint8_t pidByte)
{
    uint8_t nibble = pidByte & 0xF;
    if (nibble == 0) return kTypeNames[0];
    if (((pidByte >> 4) ^ 0xF) != nibble) return std::string("Error(") + kTypeNames[nibble] + ")";
    return kTypeNames[nibble];
}

std::string SelectionText(double t1, double t2, double step)
{
    if (t2 < t1) std::swap(t1, t2);
    return "开始：" + ReadingText(t1, step) + " | 结束：" + ReadingText(t2, step) + " | 宽度：" +
           ReadingText(t2 - t1, step);
}

std::string PacketCountText(int64_t count) { return Format("包数量：%lld", (long long)count); }

std::string HoverText(double t, int64_t index, uint8_t pidByte, double step)
{
    if (index < 0) return "时间：" + ReadingText(t, step);
    return "时间：" + ReadingText(t, step) + Format(" | 包序号：%lld | 包类型：", (long long)index) + PacketTypeName(pidByte);
}

std::string JoinInfo(const std::string& left, const std::string& right) { return left + " | " + right; }

std::string UsageUnitText(int32_t maxValue) { return maxValue >= 50 ? "(%)" : "(‰)"; }

}  // namespace orvane::velmora
