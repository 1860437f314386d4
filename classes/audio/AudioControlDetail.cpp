#include "AudioControlDetail.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <vector>

#include "AudioEntityTable.h"
#include "IEnumerable.h"
#include "WriteEnumerableGroup.h"

namespace orvane::audio {

namespace {

// ---------------------------------------------------------------- texts

constexpr uint32_t kFirstTip = 6001;
constexpr const char* kTips[] = {
    "The addressed Mute Control's CUR attribute",
    "The attribute of the addressed Volume Control",
    "The attribute of the addressed Bass Control",
    "The attribute of the addressed Mid Control",
    "The attribute of the addressed Treble Control",
    "A bit set indicates the band is present",
    "The attribute of the addressed band present",
    "The attribute of the addressed Automatic Gain Control",
    "The attribute of the addressed Delay Control",
    "The addressed Bass Boost Control's CUR attribute",
    "The addressed Loudness Control\u2019s CUR attribute",
    "The material is either not copyrighted, or the copyright is not asserted.",
    "The material is copyright protected and is the original",
    "The material is copyright protected and no digital copying is permitted",
    "The setting for the attribute of the Selector Control",
    "The mixer setting for the attribute of the Mixer Contro",
    "The setting for the attribute of the first programmable Mixer Control",
    "The setting for the attribute of the addressed Mixer Control",
    "The setting for the Enable Processing\tControl. Enabled when TRUE, disabled when FALSE",
    "The sampling frequency expressed in Hz",
};
enum Tip : uint32_t {
    TipMute = 6001, TipVolume, TipBass, TipMid, TipTreble, TipBandsPresent, TipBand, TipAgc, TipDelay,
    TipBassBoost, TipLoudness, TipCpl0, TipCpl1, TipCpl2, TipSelector, TipMixer, TipFirstMixer, TipAddressedMixer,
    TipExtension, TipFrequency,
};

// A processing unit's controls: group title, field, tip and unit (for the
// reverb types the value text), by row id.
struct ProcessingRow {
    const char* title;
    const char* field;
    const char* tip;
    const char* unit;
};
constexpr uint32_t kFirstProcessingRow = 6021;
constexpr ProcessingRow kProcessingRows[] = {
    {"Enable", "bEnable", "The setting for the Enable Processing Control CUR attribute", " "},
    {"Mode Select", "bMode", "The setting for the attribute of the Mode Select Control", " "},
    {"Spaciousness", "bSpaciousness", "The setting for the attribute of the Spaciousness Control", " %"},
    {" ", "", "", ""},
    {"Reverb Level", "bReverbLevel", "The setting for the attribute of the Reverb Level Control", " %"},
    {"Reverb Time", "wReverbTime", "The setting for the attribute of the Reverb Time Control", " s"},
    {"Reverb Delay Feedback", "bReverbFeedback", "The setting for the attribute of the Reverb Delay Feedback Control", " %"},
    {"Chorus Level", "bChorusLevel", "The setting for the attribute of the Chorus Level Control", " %"},
    {"Chorus Modulation Rate", "wChorusRate", "The setting for the attribute of the Chorus Modulation Rate Control", " Hz"},
    {"Chorus Modulation Depth", "wChorusDepth", "The setting for the attribute of the Chorus Modulation Depth Control", " ms"},
    {"Dynamic Range Compressor Ratio", "wRatio", "The setting for the attribute of the Compression Ratio Control", " dB/dB"},
    {"Dynamic Range Compressor MaxAmpl", "wMaxAmpl", "The setting for the attribute of the MaxAmpl Control", " dB"},
    {"Dynamic Range Compressor Threshold", "wThreshold", "The setting for the attribute of the Threshold Control", " dB"},
    {"Dynamic Range Compressor Attack", "wAttackTime", "The setting for the attribute of the Attack Time Control", " ms"},
    {"Dynamic Range Compressor Release Time", "wAttackTime", "The setting for the attribute of the Release Time Control", " ms"},
    {"Reverb Type", "bReverbType", "Simulates the reverberation of a small room", "Room 1"},
    {"Reverb Type", "bReverbType", "Simulates the reverberation of a medium room", "Room 2"},
    {"Reverb Type", "bReverbType", "Simulates the reverberation of a large room", "Room 3"},
    {"Reverb Type", "bReverbType", "Simulates the reverberation of a medium concert hall", "Hall 1"},
    {"Reverb Type", "bReverbType", "Simulates the reverberation of a large concert hall", "Hall 2"},
    {"Reverb Type", "bReverbType", "Simulates a plate reverberation (a studio device using a metal plate)", "Plate"},
    {"Reverb Type", "bReverbType", "Conventional delay that produces echo effects", "Delay"},
    {"Reverb Type", "bReverbType", "Special delay in which the delayed sounds move left and right", "Panning Delay"},
    {"Reverb Type", "bReverbType", "Unknow", " "},
};
constexpr uint32_t kReverbTypeRow = 6036;

constexpr uint32_t kFirstBand = 14;
constexpr const char* kBands[] = {
    "25Hz",   "31.5Hz", "40Hz",   "50Hz",   "63Hz",   "80Hz",   "100Hz",   "125Hz",   "160Hz",   "200Hz",
    "250Hz",  "315Hz",  "400Hz",  "500Hz",  "630Hz",  "800Hz",  "1000Hz",  "1250Hz",  "1600Hz",  "2000Hz",
    "2500Hz", "3150Hz", "4000Hz", "5000Hz", "6300Hz", "8000Hz", "10000Hz", "12500Hz", "16000Hz", "20000Hz",
};

template <size_t N>
const char* Entry(const char* const (&table)[N], uint32_t first, uint32_t id)
{
    return id >= first && id - first < N ? table[id - first] : "";
}

const ProcessingRow* ProcessingRowOf(int64_t id)
{
    const int64_t at = id - kFirstProcessingRow;
    return at >= 0 && at < int64_t(std::size(kProcessingRows)) ? &kProcessingRows[at] : nullptr;
}

std::string Printf(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}
std::string Printf(const char* format, int value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// ---------------------------------------------------------------- controls

enum class Form : uint8_t { CopyProtect, Selector, Extension, Frequency, Pitch, Mixer, Feature, GraphicEqualizer };
enum class Value : uint8_t { Bool, Volume, QuarterDb, Delay };

constexpr int kAnySelector = -1;

struct Control {
    uint8_t entity;     // subtype, or kEndpoint
    int selector;       // control selector, or kAnySelector
    uint8_t size;       // bytes of one value
    const char* title;  // also the walker's name
    Form form;
    const char* stem = nullptr;  // feature controls: field name before the channel
    Value value = Value::Bool;
    uint32_t tip = 0;
};

constexpr uint8_t kEndpoint = 9;

constexpr Control kControls[] = {
    {SubtypeInputTerminal, 1, 1, "Copy Protect", Form::CopyProtect},
    {SubtypeOutputTerminal, 1, 1, "Copy Protect", Form::CopyProtect},
    {SubtypeMixerUnit, kAnySelector, 2, "Mixer", Form::Mixer},
    {SubtypeSelectorUnit, kAnySelector, 1, "Selector", Form::Selector},
    {SubtypeExtensionUnit, 1, 1, "Extension", Form::Extension},
    {kEndpoint, 1, 3, "Frequency", Form::Frequency},
    {kEndpoint, 2, 1, "Pitch", Form::Pitch},
    {SubtypeFeatureUnit, 1, 1, "Mute", Form::Feature, "bMute", Value::Bool, TipMute},
    {SubtypeFeatureUnit, 2, 2, "Volume", Form::Feature, "wValume", Value::Volume, TipVolume},
    {SubtypeFeatureUnit, 3, 1, "Bass", Form::Feature, "bBass", Value::QuarterDb, TipBass},
    {SubtypeFeatureUnit, 4, 1, "Mid", Form::Feature, "bMid", Value::QuarterDb, TipMid},
    {SubtypeFeatureUnit, 5, 1, "Terble", Form::Feature, "bTerble", Value::QuarterDb, TipTreble},
    {SubtypeFeatureUnit, 6, 4, "Graphic Equalizer", Form::GraphicEqualizer},
    {SubtypeFeatureUnit, 7, 1, "Automatic Gain", Form::Feature, "bAGC", Value::Bool, TipAgc},
    {SubtypeFeatureUnit, 8, 2, "Delay", Form::Feature, "wDelay", Value::Delay, TipDelay},
    {SubtypeFeatureUnit, 9, 1, "Bass Boost", Form::Feature, "bBassBoost", Value::Bool, TipBassBoost},
    {SubtypeFeatureUnit, 10, 1, "Loudness", Form::Feature, "bLoudness", Value::Bool, TipLoudness},
};

const Control* FindControl(uint32_t entity, uint32_t selector)
{
    for (const Control& c : kControls)
        if (c.entity == entity && (c.selector == kAnySelector || uint32_t(c.selector) == selector)) return &c;
    return nullptr;
}

const char* TrueFalse(uint32_t v) { return v ? "True" : "False"; }
int16_t S16(std::span<const uint8_t> d, size_t at) { return int16_t(uint16_t(d[at] | d[at + 1] << 8)); }
uint16_t U16(std::span<const uint8_t> d, size_t at) { return uint16_t(d[at] | d[at + 1] << 8); }

std::string FormatValue(Value form, std::span<const uint8_t> d, size_t at)
{
    switch (form) {
    case Value::Bool: return TrueFalse(d[at]);
    case Value::Volume: return Printf("%.4f dB", S16(d, at) / 256.0);
    case Value::QuarterDb: return Printf("%.4f dB", int8_t(d[at]) * 0.25);
    case Value::Delay: return Printf("%.4f ms", U16(d, at) / 64.0);
    }
    return {};
}

// What the request says of the block beside its bytes.
struct Addressing {
    uint8_t channel;   // feature units: the low byte of wValue
    uint8_t input;     // mixers: the input and output channel numbers
    uint8_t output;
    uint16_t length;   // wLength
};

bool AllChannels(const Control& c, const Addressing& a)
{
    if (c.form == Form::Feature) return a.channel == 0xFF;
    if (c.form == Form::Mixer) return (a.input == 0 && a.output == 0) || (a.input == 0xFF && a.output == 0xFF);
    return false;
}

// One control's fields over the delivered bytes; entries of a multi-value
// block stop at the last value delivered.
class ControlWalker : public IEnumerable {
public:
    ControlWalker(const Control& control, const Addressing& addressing) : control_(control), at_(addressing) {}

    void SetData(const uint8_t* data, uint32_t length) override { data_ = data ? std::span(data, length) : std::span<const uint8_t>(); }
    void GetName(std::string& name) override { name = control_.title; }
    void Enumerate(std::vector<FieldRecord>& fields) override
    {
        if (data_.size() < control_.size) return;
        switch (control_.form) {
        case Form::CopyProtect: {
            const uint8_t v = data_[0];
            fields.push_back({"bCopyProtect", v <= 2 ? Printf("CPL%d", v) : "", v <= 2 ? TipText(TipCpl0 + v) : "", 8});
            break;
        }
        case Form::Selector: fields.push_back({"bSelector", Printf("%d", data_[0]), TipText(TipSelector), 8}); break;
        case Form::Extension: fields.push_back({"bOn", TrueFalse(data_[0]), TipText(TipExtension), 8}); break;
        case Form::Frequency: {
            const int hz = int(data_[0] | data_[1] << 8 | data_[2] << 16);
            // 32 bits wide, as users of the decode know it, though three bytes are carried.
            fields.push_back({"tSampleFreq", Printf("%d Hz", hz), TipText(TipFrequency), 32});
            break;
        }
        case Form::Pitch: {
            const bool on = data_[0] != 0;
            fields.push_back({"bPitchEnable", TrueFalse(on), on ? "Pitch Control on" : "Pitch Control off", 8});
            break;
        }
        case Form::Mixer: EnumerateMixer(fields); break;
        case Form::Feature: EnumerateFeature(fields); break;
        case Form::GraphicEqualizer: EnumerateEqualizer(fields); break;
        }
    }

private:
    // Values the block holds: what wLength asks for, as far as delivered.
    size_t Entries() const { return std::min<size_t>(at_.length, data_.size()) / control_.size; }

    void EnumerateMixer(std::vector<FieldRecord>& fields)
    {
        if (!AllChannels(control_, at_)) {
            char name[40];
            std::snprintf(name, sizeof name, "wMixer(ICN %d , OCN %d)", at_.input, at_.output);
            fields.push_back({name, FormatValue(Value::Volume, data_, 0), TipText(TipAddressedMixer), 16});
            return;
        }
        const std::string tip = TipText(at_.input == 0 ? TipMixer : TipFirstMixer);
        for (size_t i = 0; i < Entries(); ++i)
            fields.push_back({Printf("wMixer(%d)", int(i)), FormatValue(Value::Volume, data_, i * 2), tip, 16});
    }

    void EnumerateFeature(std::vector<FieldRecord>& fields)
    {
        const std::string stem = control_.stem;
        const std::string tip = TipText(control_.tip);
        const uint32_t bits = control_.size * 8u;
        if (!AllChannels(control_, at_)) {
            const std::string channel = at_.channel == 0 ? "(Master)" : Printf("(Channel %d)", at_.channel);
            fields.push_back({stem + channel, FormatValue(control_.value, data_, 0), tip, bits});
            return;
        }
        for (size_t i = 0; i < Entries(); ++i)
            fields.push_back({stem + Printf("(%d)", int(i)), FormatValue(control_.value, data_, i * control_.size), tip, bits});
    }

    // bmBandsPresent, then one signed quarter-dB byte per band present, in
    // band order, as far as delivered.
    void EnumerateEqualizer(std::vector<FieldRecord>& fields)
    {
        const uint32_t present = uint32_t(data_[0]) | uint32_t(data_[1]) << 8 | uint32_t(data_[2]) << 16 |
                                 uint32_t(data_[3]) << 24;
        char bitmap[16];
        std::snprintf(bitmap, sizeof bitmap, "0x%08X", present);
        fields.push_back({"bmBandsPresent", bitmap, TipText(TipBandsPresent), 32});
        size_t at = 4;
        for (uint32_t bit = 0; bit < 32 && at < data_.size(); ++bit) {
            if (!(present >> bit & 1)) continue;
            const uint32_t band = kFirstBand + bit;
            std::string name = BandName(band);
            if (name.empty()) name = Printf("%d", int(band));
            fields.push_back({"bBand(" + name + ")", FormatValue(Value::QuarterDb, data_, at), TipText(TipBand), 8});
            ++at;
        }
    }

    const Control& control_;
    Addressing at_;
    std::span<const uint8_t> data_;
};

// ---------------------------------------------------------------- processing units

enum class Number : uint8_t { Bool, Decimal, Unsigned256, Signed256 };
struct ProcessingControl {
    uint8_t size;
    Number number;
};
// By control selector 1 to 15; selector 4 is the reverb type.
constexpr ProcessingControl kProcessingControls[] = {
    {1, Number::Bool},        {1, Number::Decimal},     {1, Number::Decimal},     {1, Number::Decimal},
    {1, Number::Decimal},     {2, Number::Unsigned256}, {1, Number::Decimal},     {1, Number::Decimal},
    {1, Number::Decimal},     {2, Number::Unsigned256}, {2, Number::Unsigned256}, {2, Number::Signed256},
    {2, Number::Signed256},   {2, Number::Unsigned256}, {2, Number::Unsigned256},
};
constexpr uint32_t kReverbTypeSelector = 4;

void WriteOne(CDecodeResultWriter& document, const ProcessingRow& row, const std::string& value,
              const std::string& tip, int64_t bits)
{
    const xml::Node group = document.AddGroup(row.title);
    document.AddItem(group, row.field, value, tip, 0, bits);
}

bool DescribeProcessingRequest(uint32_t selector, std::span<const uint8_t> data, CDecodeResultWriter& document)
{
    if (selector == 0 || selector > std::size(kProcessingControls)) return false;
    const ProcessingControl& control = kProcessingControls[selector - 1];
    if (data.size() != control.size) return false;
    if (selector == kReverbTypeSelector) {
        // Types 1 to 6 are named; the others show their number.
        const int v = int8_t(data[0]);
        const ProcessingRow* row = ProcessingRowOf(int64_t(kReverbTypeRow) + v);
        static constexpr ProcessingRow kNoRow{"", "", "", ""};
        const ProcessingRow& named = row ? *row : kNoRow;
        const bool known = v >= 1 && v <= 6;
        WriteOne(document, named, known ? named.unit : Printf("%d", v), known ? named.tip : "Unknow", 8);
        return true;
    }
    const ProcessingRow& row = *ProcessingRowOf(kFirstProcessingRow + selector - 1);
    std::string value;
    switch (control.number) {
    case Number::Bool: value = TrueFalse(data[0]); break;
    case Number::Decimal: value = Printf("%d", data[0]); break;
    case Number::Unsigned256: value = Printf("%.4lf", U16(data, 0) / 256.0); break;
    case Number::Signed256: value = Printf("%.4lf", S16(data, 0) / 256.0); break;
    }
    WriteOne(document, row, value + row.unit, row.tip, 8 * control.size);
    return true;
}

// The entity kind of a request type: its high byte.
uint32_t EntityOf(uint16_t type) { return type >> 8; }

}  // namespace

std::string TipText(uint32_t id) { return Entry(kTips, kFirstTip, id); }
std::string BandName(uint32_t band) { return Entry(kBands, kFirstBand, band); }

bool DescribeAudioRequest(uint16_t type, const SetupPacket& setup, std::span<const uint8_t> data,
                          CDecodeResultWriter& document)
{
    const uint32_t entity = EntityOf(type);
    const uint32_t selector = setup.wValue >> 8;
    if (entity == SubtypeProcessingUnit) return DescribeProcessingRequest(selector, data, document);
    const Control* control = FindControl(entity, selector);
    if (!control) return false;
    const Addressing addressing{uint8_t(setup.wValue), uint8_t(setup.wValue >> 8), uint8_t(setup.wValue),
                                setup.wLength};
    // One value exactly, but for the blocks of several values and the
    // equalizer's bitmap with its bands.
    const bool several = AllChannels(*control, addressing) || control->form == Form::GraphicEqualizer;
    if (several ? data.size() < control->size : data.size() != control->size) return false;
    ControlWalker walker(*control, addressing);
    walker.SetData(data.data(), uint32_t(data.size()));
    int64_t offset = 0;
    WriteEnumerableGroup(document, walker, control->title, offset);
    return true;
}

}  // namespace orvane::audio
