// Input: a text the window's panes read: a decode result for the detail pane,
// or a device tree (as a project or another pane gives it) for the device
// pane, whose configurations are stored and given to every device in turn.
#include <cstddef>
#include <cstdint>
#include <string>

#include "CDetailRows.h"
#include "CDeviceTreeEditor.h"
#include "CUsbIdDatabase.h"
#include "SettingStore.h"

using namespace orvane;
using namespace orvane::app;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    CDetailRows detail;
    detail.Load(text);
    for (const CDetailRows::Group& group : detail.Groups())
        for (const CDetailRows::Field& field : group.fields)
            if (!detail.RangeAt(field.range) || field.parent >= int(group.fields.size())) __builtin_trap();

    static const CUsbIdDatabase ids;
    SettingStore store("");
    CDeviceTreeEditor editor(&store);
    editor.Receive(text);
    const auto rows = editor.Rows(ids);
    for (const CDeviceTreeEditor::Row& row : rows) {
        if (row.text.size() > CDeviceTreeEditor::kMaxText) __builtin_trap();
        if (row.level == CDeviceTreeEditor::LevelDevice) editor.ExportToFavorites(row.address, ids, "{G}");
    }
    const int stored = store.GetConfigurationCount();
    for (const CDeviceTreeEditor::Row& row : rows) {
        if (row.level != CDeviceTreeEditor::LevelDevice) continue;
        for (int index = -1; index <= stored && index < 4; ++index) editor.PickConfiguration(row.address, index);
        (void)editor.StoredIndexOf(row.address);
    }
    (void)editor.Rows(ids);
    (void)editor.StoredNames();
    (void)editor.Apply();
    return 0;
}
