#include "SetupXml.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace orvane::app {

const char* const SetupXml::kDefaultText =
    "<setup>   <storage packet=\"32768\" payload=\"1048576\" pre_trigger_percent=\"50\"/>   <filter>   "
    "<basic flags=\"0xFFFFFFFF\"/>   <advance drop=\"0\">   "
    "<conditon id=\"0\" enable=\"0\" address=\"0\" upstream=\"0xFFFF\" downstream=\"0xFFFF\"/>   "
    "<conditon id=\"1\" enable=\"0\" address=\"0\" upstream=\"0xFFFF\" downstream=\"0xFFFF\"/>   "
    "<conditon id=\"2\" enable=\"0\" address=\"0\" upstream=\"0xFFFF\" downstream=\"0xFFFF\"/>   "
    "<conditon id=\"3\" enable=\"0\" address=\"0\" upstream=\"0xFFFF\" downstream=\"0xFFFF\"/>   "
    "</advance>   </filter>   <trigger>   </trigger>   </setup>";

const char* const SetupXml::kTooManyStepsText = "当前版本最多支持 16 级事物触发，请过滤 NAK 事物后重试。";
const char* const SetupXml::kImportFailedText = "无法导入设置，当前设置保持不变：";
const char* const SetupXml::kExportFailedText = "无法导出设置：";

namespace {

// Leading decimal digits, as the C runtime's string-to-integer reads them.
std::optional<uint32_t> Decimal(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    return uint32_t(std::strtol(text->c_str(), nullptr, 10));
}

std::optional<uint32_t> Hex(const std::string& text) {
    std::string upper = text;
    for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
    unsigned value = 0;
    if (std::sscanf(upper.c_str(), "0X%X", &value) != 1) return std::nullopt;
    return uint32_t(value);
}

std::string Format(const char* format, uint32_t value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

SetupXml::SetupXml() { doc_.loadXML(kDefaultText); }

bool SetupXml::Load(const std::string& text) { return doc_.loadXML(text); }

void SetupXml::LoadOrDefault(const std::string& text) {
    if (!Load(text)) doc_.loadXML(kDefaultText);
}

xml::Node SetupXml::Storage() const { return doc_.selectSingleNode("setup/storage"); }

std::optional<uint32_t> SetupXml::PacketRecords() const { return Decimal(Storage().attribute("packet")); }
std::optional<uint32_t> SetupXml::PayloadBytes() const { return Decimal(Storage().attribute("payload")); }
std::optional<uint32_t> SetupXml::PreTriggerPercent() const {
    return Decimal(Storage().attribute("pre_trigger_percent"));
}

bool SetupXml::SetExisting(const std::string& path, const std::string& attribute, const std::string& value) {
    xml::Node node = doc_.selectSingleNode(path);
    if (!node || !node.attribute(attribute)) return false;
    return node.setAttribute(attribute, value);
}

bool SetupXml::SetPacketRecords(uint32_t records) {
    return SetExisting("setup/storage", "packet", Format("%d", records));
}
bool SetupXml::SetPayloadBytes(uint32_t bytes) { return SetExisting("setup/storage", "payload", Format("%d", bytes)); }
bool SetupXml::SetPreTriggerPercent(uint32_t percent) {
    return SetExisting("setup/storage", "pre_trigger_percent", Format("%d", percent));
}

namespace {
int Position(uint32_t units, int positions) {
    int position = 0;
    while (units > 1) {
        units /= 2;
        ++position;
    }
    return position < positions ? position : positions - 1;
}
}  // namespace

int SetupXml::PacketPosition(uint32_t records) { return Position(records / 1024, kPacketPositions); }
int SetupXml::PayloadPosition(uint32_t bytes) { return Position(bytes / 0x100000, kPayloadPositions); }

uint32_t SetupXml::FilterFlags() const {
    auto text = doc_.selectSingleNode("setup/filter/basic").attribute("flags");
    if (!text) return 0xFFFFFFFFu;
    return Hex(*text).value_or(0xFFFFFFFFu);
}

bool SetupXml::SetFilterFlags(uint32_t flags) {
    return SetExisting("setup/filter/basic", "flags", Format("0X%X", flags));
}

bool SetupXml::DropMode() const {
    return Decimal(doc_.selectSingleNode("setup/filter/advance").attribute("drop")).value_or(0) > 0;
}

bool SetupXml::SetDropMode(bool drop) { return SetExisting("setup/filter/advance", "drop", drop ? "1" : "0"); }

std::array<SetupXml::Condition, SetupXml::kConditions> SetupXml::Conditions() const {
    std::array<Condition, kConditions> out{};
    for (const xml::Node& child : doc_.selectSingleNode("setup/filter/advance").childNodes()) {
        auto id = Decimal(child.attribute("id"));
        if (!id || *id >= uint32_t(kConditions)) continue;
        Condition& c = out[*id];
        c.enable = Decimal(child.attribute("enable")).value_or(0) != 0;
        c.address = Decimal(child.attribute("address")).value_or(0);
        if (auto up = child.attribute("upstream")) c.upstream = *up;
        if (auto down = child.attribute("downstream")) c.downstream = *down;
    }
    return out;
}

bool SetupXml::SetCondition(int id, const Condition& condition) {
    if (id < 0 || id >= kConditions) return false;
    for (xml::Node child : doc_.selectSingleNode("setup/filter/advance").childNodes()) {
        if (Decimal(child.attribute("id")) != uint32_t(id)) continue;
        auto update = [&](const char* name, const std::string& value) {
            if (child.attribute(name)) child.setAttribute(name, value);
        };
        update("enable", condition.enable ? "1" : "0");
        update("address", Format("%d", condition.address));
        update("upstream", condition.upstream);
        update("downstream", condition.downstream);
        return true;
    }
    return false;
}

uint16_t SetupXml::MaskOfText(const std::string& text) { return uint16_t(Hex(text).value_or(0)); }

std::string SetupXml::MaskText(uint16_t mask) { return Format("0x%04X", mask); }

namespace {
// A decimal attribute within [0, max] (or exactly `any`); anything else is `any`.
template <class T>
void ReadRanged(const xml::Node& node, const char* name, long long max, T any, T& out) {
    auto text = node.attribute(name);
    if (!text) return;
    const long long v = std::strtoll(text->c_str(), nullptr, 10);
    out = (v >= 0 && v <= max) || v == (long long)any ? T(v) : any;
}
}  // namespace

std::vector<TriggerStep> SetupXml::LoadTriggerSteps() const {
    std::vector<TriggerStep> steps;
    for (const xml::Node& node : doc_.selectNodes("//trigger/step")) {
        TriggerStep s;
        ReadRanged<uint8_t>(node, "address", 127, 255, s.address);
        ReadRanged<uint16_t>(node, "endpoint", 0xFFFF, 0xFFFF, s.endpoint);
        ReadRanged<uint16_t>(node, "pid_mask", 0xFFF, 0xFFFF, s.pidMask);
        if (auto v = node.attribute("data")) s.data = *v;
        steps.push_back(std::move(s));
    }
    return steps;
}

bool SetupXml::WriteTriggerSteps(const std::vector<TriggerStep>& steps, bool append) {
    xml::Node trigger = doc_.selectSingleNode("//trigger");
    if (!trigger) {
        xml::Node root = doc_.documentElement();
        if (!root) return false;
        trigger = root.appendChild(doc_.createElement("trigger"));
    }
    // Counted before anything changes, so a refusal leaves the document as it was.
    size_t kept = append ? doc_.selectNodes("//step").size() : 0;
    if (kept + steps.size() > kMaxSteps) return false;
    if (!append) {
        for (xml::Node child : trigger.childNodes()) trigger.removeChild(child);
        // Steps of a second trigger element would be loaded again with the new ones.
        for (xml::Node step : doc_.selectNodes("//trigger/step")) step.parent().removeChild(step);
    }
    for (const TriggerStep& s : steps) {
        xml::Node step = trigger.appendChild(doc_.createElement("step"));
        step.setAttribute("address", Format("%u", s.address));
        step.setAttribute("endpoint", Format("%u", s.endpoint));
        step.setAttribute("pid_mask", Format("%u", s.pidMask));
        step.setAttribute("data", s.data);
    }
    return true;
}

bool SetupXml::Import(const std::string& path, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    xml::Document loaded;
    if (!loaded.load(path, kMaxFileBytes))
        return fail(loaded.lastError().empty() ? "文件无法读取。" : loaded.lastError());
    const xml::Node root = loaded.documentElement();
    if (!root || root.name() != "setup") return fail("文件不是记录设置（根元素不是 setup）。");
    if (loaded.selectNodes("//trigger/step").size() > kMaxSteps) return fail("最多支持16级触发！");
    doc_ = std::move(loaded);
    return true;
}

bool SetupXml::Export(const std::string& path, std::string* error) {
    if (doc_.save(path)) return true;
    if (error) *error = "文件无法写入：" + path;
    return false;
}

}  // namespace orvane::app
