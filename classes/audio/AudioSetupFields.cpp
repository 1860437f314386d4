#include "AudioSetupFields.h"

#include <cstdio>

#include "AudioRequests.h"
#include "SetupPacket.h"

namespace orvane::audio {

namespace {

constexpr ClassField kSetupFields[] = {
    WithTip(kRequestTypeFields[0], ""),
    WithTip(kRequestTypeFields[1], ""),
    kRequestTypeFields[2],
    {.name = "bRequest", .byte = 1, .bits = 8, .format = "%d"},
    {.name = "wValue", .byte = 2, .bits = 16, .format = "%d"},
    {.name = "wIndex", .byte = 4, .bits = 16, .format = "%d"},
    {.name = "wLength", .byte = 6, .bits = 16, .format = "%d"},
};
enum { kRequestRecord = 3, kValueRecord = 4, kIndexRecord = 5 };

std::string Text(const char* format, int a, int b = 0)
{
    char text[64];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

void Set(FieldRecord& record, std::string value)
{
    record.tip = value;
    record.value = std::move(value);
}

std::string InterfaceAndEntity(uint16_t index) { return Text("Interface %d , Entity %d", index & 0xFF, index >> 8); }

}  // namespace

STAND_AUDIO_REQUEST_imp::STAND_AUDIO_REQUEST_imp(const CEntityTable& entities)
    : CTableWalker("Setup request", kSetupFields), entities_(entities)
{
}

std::span<const ClassField> STAND_AUDIO_REQUEST_imp::Fields() { return kSetupFields; }

void STAND_AUDIO_REQUEST_imp::Enumerate(std::vector<FieldRecord>& fields)
{
    const auto setup = SetupPacket::From(Data());
    if (!setup) return;
    const size_t first = fields.size();
    CTableWalker::Enumerate(fields);
    FieldRecord* records = fields.data() + first;
    if (setup->IsClass()) Set(records[kRequestRecord], RequestName(setup->bRequest));

    FieldRecord& value = records[kValueRecord];
    FieldRecord& index = records[kIndexRecord];
    const uint8_t recipient = setup->RequestRecipient();
    const bool toEndpoint = recipient == SetupPacket::RecipientEndpoint;
    const bool addressed = toEndpoint || recipient == SetupPacket::RecipientInterface;
    const int control = setup->wValue >> 8, low = setup->wValue & 0xFF;
    const std::string target = toEndpoint ? Text("Endpoint %d", setup->wIndex) : InterfaceAndEntity(setup->wIndex);
    const bool memory = setup->IsClass() && (setup->bRequest == GetMem || setup->bRequest == SetMem);
    if (memory || (setup->IsClass() && setup->bRequest == GetStat)) {
        // Memory and status requests name their target only when it is an
        // endpoint or an interface's entity.
        if (!addressed) return;
        Set(index, target);
        if (memory) Set(value, Text("offset %d", setup->wValue));
        return;
    }
    Set(index, target);
    if (toEndpoint) {
        Set(value, Text("Control %d", control));
        return;
    }
    switch (entities_.FindEntityType(setup->wIndex & 0xFF, setup->wIndex >> 8)) {
    case SubtypeInputTerminal:
    case SubtypeOutputTerminal:
    case SubtypeProcessingUnit:
    case SubtypeExtensionUnit: Set(value, Text("Control %d", control)); break;
    case SubtypeMixerUnit: Set(value, Text("Input Channel %d , Output Channel %d", control, low)); break;
    case SubtypeFeatureUnit: Set(value, Text("Control %d , Channel %d", control, low)); break;
    default: value.tip = value.value; break;
    }
}

}  // namespace orvane::audio
