// The entities of a configuration's audio-control interfaces: which kind of
// terminal or unit each entity ID is, learned from the class-specific
// descriptors, and the names that request targets are given from the kind.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace orvane::audio {

// bDescriptorSubtype of the class-specific audio-control descriptors.
enum EntitySubtype : uint32_t {
    SubtypeUndefined = 0,
    SubtypeHeader = 1,
    SubtypeInputTerminal = 2,
    SubtypeOutputTerminal = 3,
    SubtypeMixerUnit = 4,
    SubtypeSelectorUnit = 5,
    SubtypeFeatureUnit = 6,
    SubtypeProcessingUnit = 7,
    SubtypeExtensionUnit = 8,
};
constexpr uint32_t kEntitySubtypes = 9;

// True for the subtypes a request can address: terminals and units.
constexpr bool IsEntity(uint32_t subtype) { return subtype >= SubtypeInputTerminal && subtype <= SubtypeExtensionUnit; }

// One audio-control interface (alternate setting) and its entities by ID.
struct AudioControlInterface {
    uint32_t number = 0;
    std::map<uint32_t, uint32_t> entities;  // entity ID -> subtype
};

// The descriptors of a configuration's bytes, in order. The bytes come from
// editable device-tree text and project files: the split ends at a length of
// 0 and takes only descriptors that lie inside the bytes.
std::vector<std::span<const uint8_t>> SplitDescriptors(std::span<const uint8_t> bytes);

class CEntityTable {
public:
    // Every audio-control interface of protocol 0 with its entities; replaces
    // what the table held.
    void ParseAudioControlDescriptors(std::span<const uint8_t> configuration);
    // The subtype of entity `entityId` in the first record of interface
    // `interfaceNumber`; 0 when either is unknown.
    uint32_t FindEntityType(uint32_t interfaceNumber, uint32_t entityId) const;
    const std::vector<AudioControlInterface>& Interfaces() const { return interfaces_; }

private:
    std::vector<AudioControlInterface> interfaces_;
};

// The kind name and control names of one subtype.
struct EntityType {
    const char* name;
    std::span<const char* const> controls;  // by control selector
};
// Indexed by subtype, 0 to 8.
std::span<const EntityType> EntityTypeTable();

// "( Feature Unit 5 , Volume )", or without the control when the kind has no
// name for `controlSelector`; empty for a subtype outside the table.
std::string FormatEntityName(uint32_t subtype, uint32_t controlSelector, uint32_t entityId);

}  // namespace orvane::audio
