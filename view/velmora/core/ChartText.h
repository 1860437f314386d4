// The charts' user-facing texts, kept in one place.
#pragma once

#include <cstdint>
#include <string>

namespace orvane::velmora {

// Seconds per tick as every chart converts record times.
constexpr double kTickSeconds = 1.67e-8;

// printf into a string (texts stay short; a longer one is cut).
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "999byte", "0.98Kb", ...: each unit takes over at 1000 of the smaller one.
std::string FormatByteSize(uint64_t bytes);
// "1.5ms", "-2ns", "0s"; false (and no text) below the picosecond range.
bool FormatTime(double seconds, std::string* out);
std::string FormatTime(double seconds);
// The decimal step of the readings at a zoom: the power of ten that a pixel
// still resolves, from 1 ps to 1 s.
double ReadingStep(double pixelsPerSecond);
// A reading rounded to `step` (a power of ten) in the largest unit below it,
// with the step's digits, so one zoom reads at one precision: "1.82763120s",
// "587.93us", "40ms"; "0s" for what rounds to 0.
std::string ReadingText(double seconds, double step);

// The packet painter's name of a PID nibble (" " for 0).
const char* PidName(uint8_t pid);
// The info strip's name of a record's PID byte: "BusSemp" for 0, "Error(...)"
// when the check nibble does not match.
std::string PacketTypeName(uint8_t pidByte);

// The readings (times under the pointer, a band's ends and width) at one step.
std::string SelectionText(double t1, double t2, double step);
std::string PacketCountText(int64_t count);
// The packet-type chart's info strip while the pointer hovers; the time
// alone for an index below 0 (no packet near the pointer).
std::string HoverText(double t, int64_t index, uint8_t pidByte, double step);
// "%s | %s" of two parts.
std::string JoinInfo(const std::string& left, const std::string& right);
// The bus-usage chart's unit: percent from 50 on, per mille below.
std::string UsageUnitText(int32_t maxValue);

// Captions, registry names and prompts.
namespace text {
constexpr const char* kViewTitle = "包视图";
constexpr const char* kSettingsOrg = "Kavrin";
constexpr const char* kSettingsApp = "Orvane";
constexpr const char* kSettingsGroup = "Velmora";
constexpr const char* kChildViewType = "ChildViewType";
constexpr const char* kGroup = "Group";
constexpr const char* kShowFly = "ShowFly";
}  // namespace text

}  // namespace orvane::velmora
