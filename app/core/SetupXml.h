// The capture settings document shared by the settings pages, the project file
// and the device library: storage sizes, filters and up to 16 trigger steps.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Document.h"
#include "IDevice.h"
#include "TriggerStep.h"

namespace orvane::app {

class SetupXml {
public:
    static const char* const kDefaultText;
    static constexpr size_t kMaxSteps = kMaxTriggerSteps;
    static constexpr int kConditions = 4;
    static constexpr int kPacketPositions = 16;   // 1 K to 32 M records
    static constexpr int kPayloadPositions = 10;  // 1 M to 512 M bytes
    static const char* const kTooManyStepsText;

    struct Condition {
        bool enable = false;
        uint32_t address = 0;
        std::string upstream = "0xFFFF";  // kept as the picker's text
        std::string downstream = "0xFFFF";
    };

    SetupXml();  // the default settings

    // Replaces the content; text that does not load leaves it unchanged.
    bool Load(const std::string& text);
    // Loads `text`, or the default settings when it does not load.
    void LoadOrDefault(const std::string& text);
    std::string Text() const { return doc_.xml(); }
    xml::Document& Document() { return doc_; }

    // ---- storage: setters update attributes that exist and add none ----
    std::optional<uint32_t> PacketRecords() const;
    std::optional<uint32_t> PayloadBytes() const;
    std::optional<uint32_t> PreTriggerPercent() const;
    bool SetPacketRecords(uint32_t records);
    bool SetPayloadBytes(uint32_t bytes);
    bool SetPreTriggerPercent(uint32_t percent);

    // List positions of the record page and back.
    static int PacketPosition(uint32_t records);
    static int PayloadPosition(uint32_t bytes);
    static uint32_t PacketRecordsAt(int position) { return 1u << (position + 10); }
    static uint32_t PayloadBytesAt(int position) { return 1u << (position + 20); }

    // ---- filter ----
    // Bits of the basic flags word; a set bit filters that traffic out.
    enum FilterBit : uint32_t { FilterNoHandshake = 0x04, FilterError = 0x08, FilterNak = 0x10, FilterSof = 0x20,
                                FilterBusState = 0x40 };
    // 0xFFFFFFFF when missing or not "0X"-prefixed hexadecimal.
    uint32_t FilterFlags() const;
    bool SetFilterFlags(uint32_t flags);
    bool DropMode() const;
    bool SetDropMode(bool drop);
    // By `id`; ids outside 0-3 are ignored, missing ones stay default.
    std::array<Condition, kConditions> Conditions() const;
    bool SetCondition(int id, const Condition& condition);

    // A mask text as the picker writes it ("0x%04X"), read upper-cased with
    // "0X%X"; 0 when it does not scan.
    static uint16_t MaskOfText(const std::string& text);
    static std::string MaskText(uint16_t mask);

    // ---- trigger ----
    // Every "//trigger/step" in order; missing attributes take the page's
    // defaults, values outside their ranges are any.
    std::vector<TriggerStep> LoadTriggerSteps() const;
    // Replaces (append false) or extends the steps; false, writing nothing, when
    // more than kMaxSteps would result.
    bool WriteTriggerSteps(const std::vector<TriggerStep>& steps, bool append);

    // ---- files ----
    static constexpr uint64_t kMaxFileBytes = 4 << 20;
    static const char* const kImportFailedText;
    static const char* const kExportFailedText;
    // Takes the file only when it is a setup document of at most 16 steps;
    // otherwise `error` says why and the settings stay as they were.
    bool Import(const std::string& path, std::string* error);
    // False, with `error`, when the file could not be written.
    bool Export(const std::string& path, std::string* error);

private:
    xml::Node Storage() const;
    bool SetExisting(const std::string& path, const std::string& attribute, const std::string& value);

    xml::Document doc_;
};

}  // namespace orvane::app
