#include "RecordOptions.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "FindCondition.h"

namespace orvane::app {

RecordOptions RecordOptions::FromSetup(const SetupXml& setup)
{
    RecordOptions o;
    o.packetPosition = SetupXml::PacketPosition(setup.PacketRecords().value_or(SetupXml::PacketRecordsAt(5)));
    o.payloadPosition = SetupXml::PayloadPosition(setup.PayloadBytes().value_or(SetupXml::PayloadBytesAt(0)));
    o.filters = setup.FilterFlags() & kBasicBits;
    const auto conditions = setup.Conditions();
    for (size_t i = 0; i < o.conditions.size(); ++i) {
        o.conditions[i].enable = conditions[i].enable;
        o.conditions[i].address = std::to_string(conditions[i].address);
        o.conditions[i].upstream = conditions[i].upstream;
        o.conditions[i].downstream = conditions[i].downstream;
    }
    o.drop = setup.DropMode();
    o.percent = ClampPercent(int(setup.PreTriggerPercent().value_or(50)));
    return o;
}

int RecordOptions::ConditionAddress(const std::string& text)
{
    const std::string t = FindText::Trimmed(text);
    if (t.empty() || t.size() > 3) return -1;
    for (char c : t)
        if (!std::isdigit(static_cast<unsigned char>(c))) return -1;
    const int value = std::stoi(t);
    return value <= 127 ? value : -1;
}

bool RecordOptions::ToSetup(SetupXml& setup, std::string* error) const
{
    for (size_t i = 0; i < conditions.size(); ++i) {
        if (!conditions[i].enable || ConditionAddress(conditions[i].address) >= 0) continue;
        if (error) {
            char text[128];
            std::snprintf(text, sizeof text, kAddressRangeText, int(i + 1));
            *error = text;
        }
        return false;
    }
    setup.SetPacketRecords(SetupXml::PacketRecordsAt(packetPosition));
    setup.SetPayloadBytes(SetupXml::PayloadBytesAt(payloadPosition));
    setup.SetPreTriggerPercent(uint32_t(ClampPercent(percent)));
    setup.SetFilterFlags(filters & kBasicBits);
    setup.SetDropMode(drop);
    for (size_t i = 0; i < conditions.size(); ++i) {
        SetupXml::Condition c;
        c.enable = conditions[i].enable;
        // A disabled condition keeps what its edit reads, as the analyser ignores it.
        const int address = ConditionAddress(conditions[i].address);
        c.address = address >= 0 ? uint32_t(address) : uint32_t(std::max(0, FindText::Number(conditions[i].address)));
        c.upstream = conditions[i].upstream;
        c.downstream = conditions[i].downstream;
        setup.SetCondition(int(i), c);
    }
    return true;
}

std::string RecordOptions::PercentText(int percent)
{
    char text[64];
    std::snprintf(text, sizeof text, "预触发：%d%%", percent);
    return text;
}

}  // namespace orvane::app
