// The record page's values between the setup document and the controls:
// buffer sizes as list positions, the five basic filters, the four advanced
// conditions, keep or drop, and the pre-trigger share.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "SetupXml.h"

namespace orvane::app {

struct RecordOptions {
    static constexpr uint32_t kBasicBits = SetupXml::FilterBusState | SetupXml::FilterNoHandshake |
                                           SetupXml::FilterSof | SetupXml::FilterNak | SetupXml::FilterError;
    static constexpr const char* kAddressRangeText = "条件%d的地址必须是 0 到 127 之间的十进制数。";

    struct Condition {
        bool enable = false;
        std::string address = "0";  // as typed, decimal
        std::string upstream = "0xFFFF";
        std::string downstream = "0xFFFF";
    };

    int packetPosition = 5;   // 1 K << position records
    int payloadPosition = 0;  // 1 M << position bytes
    uint32_t filters = 0;     // the basic bits that are ticked
    std::array<Condition, SetupXml::kConditions> conditions{};
    bool drop = false;
    int percent = 50;

    static RecordOptions FromSetup(const SetupXml& setup);
    // Writes the attributes that exist. Refuses (false, `error` names the
    // condition, nothing written) an enabled condition whose address is not
    // 0-127: the analyser would keep only its low 7 bits.
    bool ToSetup(SetupXml& setup, std::string* error) const;

    bool AllFiltered() const { return (filters & kBasicBits) == kBasicBits; }
    // The slider: 1-99.
    static int ClampPercent(int position) { return position < 1 ? 1 : position > 99 ? 99 : position; }
    // 0-127, or -1 for a text that is no such decimal number.
    static int ConditionAddress(const std::string& text);
    static std::string PercentText(int percent);
};

}  // namespace orvane::app
