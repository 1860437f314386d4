// Input: a setup document as a project or an imported "setup.xml" gives it:
// the record page's values read and written back, the trigger steps loaded,
// stored and loaded again, and the find sheet's edit texts; the same text as
// stored command bars, loaded, changed and stored again.
#include <cstddef>
#include <cstdint>
#include <string>

#include "CCommandBars.h"
#include "CTriggerSteps.h"
#include "FindCondition.h"
#include "RecordOptions.h"

using namespace orvane::app;

namespace {

void CheckCommandBars(const std::string& text)
{
    const std::vector<CommandBar> first = {
        {CCommandBars::kMenuBar, "", BarKind::MenuBar, false, {{0, "Menu0"}}},
        {"Standard", "", BarKind::ToolBar, false, {{1, {}}, {}, {2, {}}}},
        {"Menu0", "A", BarKind::Menu, false, {{1, {}}, {-1, {}}, {0, "Menu1"}}},
        {"Menu1", "B", BarKind::Menu, false, {{3, {}}}},
    };
    CCommandBars bars(first);
    if (!bars.Load(text)) return;
    for (const CommandBar& bar : bars.Bars()) {
        for (const BarEntry& entry : bar.entries) {
            if (entry.IsPopup() && (!bars.Find(entry.popup) || entry.popup == bar.key)) __builtin_trap();
            if (!entry.IsPopup() && entry.id < 0 && entry.id != -1) __builtin_trap();
        }
        (void)bars.Shown(bar, false);
    }
    const std::string key = bars.AddMenu("x");
    if (!bars.Insert("Standard", 0, {0, key}) || bars.Insert(key, 0, {0, key})) __builtin_trap();
    CCommandBars again(first);
    if (!again.Load(bars.Save()) || again.Save() != bars.Save()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (FindText::HexBytes(text).size() > FindCondition::kMaxData) __builtin_trap();
    (void)FindText::Number(text);

    CheckCommandBars(text);

    SetupXml setup;
    if (!setup.Load(text)) return 0;
    const RecordOptions options = RecordOptions::FromSetup(setup);
    if (options.packetPosition < 0 || options.packetPosition >= SetupXml::kPacketPositions ||
        options.payloadPosition < 0 || options.payloadPosition >= SetupXml::kPayloadPositions ||
        options.percent < 1 || options.percent > 99)
        __builtin_trap();
    std::string error;
    (void)options.ToSetup(setup, &error);

    CTriggerSteps steps;
    steps.Load(setup);
    for (const TriggerStep& step : steps.Steps()) {
        if (step.address > 127 && step.address != 255) __builtin_trap();
        if (step.pidMask > 0xFFF && step.pidMask != 0xFFFF) __builtin_trap();
        (void)PatternTokens(step.data);
    }
    const bool stored = steps.Store(setup);
    if (stored != (steps.Count() <= CTriggerSteps::kMaxSteps)) __builtin_trap();
    if (stored) {
        CTriggerSteps again;
        again.Load(setup);
        if (again.Count() != steps.Count()) __builtin_trap();
        for (size_t i = 0; i < steps.Count(); ++i) {
            const TriggerStep& a = steps.Steps()[i];
            const TriggerStep& b = again.Steps()[i];
            if (a.address != b.address || a.endpoint != b.endpoint || a.pidMask != b.pidMask) __builtin_trap();
        }
    }
    return 0;
}
