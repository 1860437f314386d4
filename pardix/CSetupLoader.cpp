#include "CSetupLoader.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "Document.h"

namespace orvane::pardix {

namespace {

// Leading decimal digits count, anything else gives 0 (the C runtime's rule).
long Integer(const std::optional<std::string>& text, long missing) {
    return text ? std::strtol(text->c_str(), nullptr, 10) : missing;
}

// Upper-cased and scanned as "0X%X"; other text keeps `fallback`.
uint32_t Hex(const std::optional<std::string>& text, uint32_t fallback) {
    if (!text) return fallback;
    std::string upper = *text;
    for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
    unsigned value = fallback;
    if (std::sscanf(upper.c_str(), "0X%X", &value) != 1) return fallback;
    return value;
}

bool IsBufferSize(uint64_t bytes, uint64_t least) {
    return bytes >= least && bytes <= CSetupLoader::kMaxBufferBytes && (bytes & (bytes - 1)) == 0;
}

}  // namespace

int32_t CSetupLoader::Apply(IDataSource& source, const std::string& setupXml) {
    xml::Document doc;
    if (!doc.loadXML(setupXml)) return 0;
    // Refused before the analyser is touched: the table would silently lose the first steps.
    const auto steps = doc.selectNodes("setup/trigger/step");
    if (steps.size() > kMaxTriggerSteps) return 0;
    if (!source.Reset()) return 0;
    bool ok = true;

    if (xml::Node storage = doc.selectSingleNode("setup/storage")) {
        // Counted in 64 bits so a huge record count cannot wrap into a small buffer.
        const long records = Integer(storage.attribute("packet"), 0x4000 / 16);
        const long payload = Integer(storage.attribute("payload"), 0x100000);
        const long percent = Integer(storage.attribute("pre_trigger_percent"), 100);
        const uint64_t packetBytes = records > 0 ? uint64_t(records) * 16 : 0;
        const uint64_t payloadBytes = payload > 0 ? uint64_t(payload) : 0;
        if (!IsBufferSize(packetBytes, 16) || !IsBufferSize(payloadBytes, 8) || percent < 0 || percent > 100)
            return 0;
        const double fraction = double(percent) / 100.0;
        const uint32_t buffer = uint32_t(Integer(storage.attribute("buffer"), 0));
        ok &= source.ConfigureStorage(uint32_t(double(packetBytes) * fraction), uint32_t(packetBytes),
                                      uint32_t(double(payloadBytes) * fraction), uint32_t(payloadBytes),
                                      buffer) != 0;
    }

    ok &= source.ResetFilter() != 0;
    if (xml::Node basic = doc.selectSingleNode("setup/filter/basic"); basic && basic.attribute("flags"))
        source.SetFilterFlags(Hex(basic.attribute("flags"), 0xFFFFFFFFu));
    if (xml::Node advance = doc.selectSingleNode("setup/filter/advance")) {
        if (auto drop = advance.attribute("drop")) source.SetDropMode(Integer(drop, 0) > 0);
        bool any = false;
        // Conditions are known by their id, whatever the element is called.
        for (const xml::Node& child : advance.childNodes()) {
            auto id = child.attribute("id");
            if (!id || uint32_t(Integer(id, 0)) > 3) continue;
            if (Integer(child.attribute("enable"), 0) == 0) continue;
            any = true;
            source.SetCondition(uint32_t(Integer(child.attribute("address"), 0)), uint32_t(Integer(id, 0)),
                                Hex(child.attribute("upstream"), 0xFFFF), Hex(child.attribute("downstream"), 0xFFFF));
        }
        source.SetAdvancedFilter(any);
    }

    ok &= source.ResetTrigger() != 0;
    const int n = int(steps.size());
    for (int i = 0; i < n; ++i) {
        // The steps fill the last n entries.
        const int index = int(kMaxTriggerSteps) - n + i;
        const xml::Node& step = steps[size_t(i)];
        const std::string data = step.attribute("data").value_or("?");
        ok &= source.SetTriggerStep(uint32_t(index), uint32_t(Integer(step.attribute("address"), 255)),
                                    uint32_t(Integer(step.attribute("endpoint"), 0xFFFF)),
                                    uint32_t(Integer(step.attribute("pid_mask"), 0xFFFF)), data.c_str()) != 0;
    }
    // A register the analyser did not take would start a capture set up wrongly.
    return ok ? 1 : 0;
}

}  // namespace orvane::pardix
