#include "AudioEntityTable.h"

#include <cstdio>

namespace orvane::audio {

namespace {

constexpr uint8_t kInterfaceDescriptor = 4;
constexpr uint8_t kClassSpecificInterface = 0x24;
constexpr uint8_t kInterfaceBytes = 9;
// bLength, bDescriptorType, bDescriptorSubtype and the entity ID.
constexpr uint8_t kEntityBytes = 4;
constexpr uint8_t kAudioClass = 1, kAudioControlSubclass = 1;

constexpr const char* kTerminalControls[] = {"Undefined Termianl", "Copy Protect"};
constexpr const char* kFeatureControls[] = {"Undefined Feature Unit", "Mute", "Volume", "Bass", "Mid", "Treble",
                                            "Graphic Equalizer", "Automatic Gain", "Delay", "Bass Boost", "Loudness"};
constexpr const char* kExtensionControls[] = {"Undefined Extension Unit", "Enable Extension Unit"};

constexpr EntityType kEntityTypes[kEntitySubtypes] = {
    {"Undefined Audio Control Descriptor", {}},
    {"Header", {}},
    {"Input Terminal", kTerminalControls},
    {"Output Terminal", kTerminalControls},
    {"Mixer", {}},
    {"Selector", {}},
    {"Feature", kFeatureControls},
    {"Processing", {}},
    {"Extension", kExtensionControls},
};

}  // namespace

std::vector<std::span<const uint8_t>> SplitDescriptors(std::span<const uint8_t> bytes)
{
    std::vector<std::span<const uint8_t>> list;
    size_t at = 0;
    while (at < bytes.size()) {
        const uint8_t length = bytes[at];
        // A length of 0 would never advance; one past the end is not a descriptor.
        if (length == 0 || length > bytes.size() - at) break;
        list.push_back(bytes.subspan(at, length));
        at += length;
    }
    return list;
}

void CEntityTable::ParseAudioControlDescriptors(std::span<const uint8_t> configuration)
{
    interfaces_.clear();
    bool inControl = false;
    for (std::span<const uint8_t> d : SplitDescriptors(configuration)) {
        if (d.size() >= kInterfaceBytes && d[1] == kInterfaceDescriptor) {
            // Every alternate setting starts a record of its own.
            inControl = d[5] == kAudioClass && d[6] == kAudioControlSubclass && d[7] == 0;
            if (inControl) interfaces_.push_back({d[2], {}});
            continue;
        }
        // The header and undefined descriptors are keyed by their byte 3 too.
        if (inControl && d.size() >= kEntityBytes && d[1] == kClassSpecificInterface && d[2] < kEntitySubtypes)
            interfaces_.back().entities[d[3]] = d[2];
    }
}

uint32_t CEntityTable::FindEntityType(uint32_t interfaceNumber, uint32_t entityId) const
{
    for (const AudioControlInterface& record : interfaces_) {
        if (record.number != interfaceNumber) continue;
        const auto it = record.entities.find(entityId);
        return it == record.entities.end() ? SubtypeUndefined : it->second;
    }
    return SubtypeUndefined;
}

std::span<const EntityType> EntityTypeTable() { return kEntityTypes; }

std::string FormatEntityName(uint32_t subtype, uint32_t controlSelector, uint32_t entityId)
{
    if (subtype >= kEntitySubtypes) return {};
    const EntityType& type = kEntityTypes[subtype];
    const char* kind = subtype == SubtypeInputTerminal || subtype == SubtypeOutputTerminal ? "Terminal" : "Unit";
    char text[160];
    if (controlSelector < type.controls.size())
        std::snprintf(text, sizeof text, "( %s %s %u , %s )", type.name, kind, entityId, type.controls[controlSelector]);
    else
        std::snprintf(text, sizeof text, "( %s %s %u )", type.name, kind, entityId);
    return text;
}

}  // namespace orvane::audio
