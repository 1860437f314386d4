#include "CUsbIdDatabase.h"

#include <algorithm>
#include <fstream>
#include <optional>

#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "AppDirectory.h"

#ifndef ORVANE_USB_IDS
#define ORVANE_USB_IDS "/usr/share/misc/usb.ids"
#endif

namespace orvane {
namespace {

struct Header {
    std::string_view prefix;
    CUsbIdDatabase::Section section;
    size_t skip;
};

// Tested in this order; the first match decides.
constexpr Header kHeaders[] = {
    {"C", CUsbIdDatabase::SectionClass, 2},
    {"AT", CUsbIdDatabase::SectionAudioTerminal, 3},
    {"HID", CUsbIdDatabase::SectionHidDescriptor, 4},
    {"R", CUsbIdDatabase::SectionHidItem, 2},
    {"BIAS", CUsbIdDatabase::SectionBias, 5},
    {"PHY", CUsbIdDatabase::SectionPhysical, 4},
    {"HUT", CUsbIdDatabase::SectionHidUsage, 4},
    {"L", CUsbIdDatabase::SectionLanguage, 2},
    {"HCC", CUsbIdDatabase::SectionCountry, 4},
    {"VT", CUsbIdDatabase::SectionVideoTerminal, 3},
};

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Leading blanks, then hex digits; only the low 16 bits are kept.
std::optional<uint16_t> ParseHex(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    uint32_t value = 0;
    size_t digits = 0;
    for (; i < text.size() && HexDigit(text[i]) >= 0; ++i, ++digits) value = ((value << 4) | HexDigit(text[i])) & 0xFFFF;
    if (digits == 0) return std::nullopt;
    return static_cast<uint16_t>(value);
}

// The text two characters after the first blank at or after `from`.
std::string_view NameAfterBlank(std::string_view line, size_t from)
{
    const size_t blank = line.find(' ', from);
    if (blank == std::string_view::npos || blank + 2 > line.size()) return {};
    return line.substr(blank + 2);
}

bool IsUtf8(std::string_view s)
{
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 9;
        if (extra == 9 || extra >= s.size() - i) return false;
        for (size_t k = 1; k <= extra; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        }
        i += extra + 1;
    }
    return true;
}

// Older lists are Latin-1; names are handed out as UTF-8.
std::string ToUtf8(std::string_view s)
{
    if (IsUtf8(s)) return std::string(s);
    std::string out;
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += ch;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace

uint64_t CUsbIdDatabase::Key(unsigned section, unsigned level, unsigned top, unsigned second, unsigned third)
{
    return (uint64_t{section & 0xFFu} << 56) | (uint64_t{level & 0xFFu} << 48) | (uint64_t{top & 0xFFFFu} << 32) |
           (uint64_t{second & 0xFFFFu} << 16) | uint64_t{third & 0xFFFFu};
}

CUsbIdDatabase::CUsbIdDatabase(std::string_view text)
{
    Load(text);
}

CUsbIdDatabase CUsbIdDatabase::FromFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return {};
    const std::streamoff size = in.tellg();
    if (size <= 0) return {};
    std::string text(static_cast<size_t>(size), '\0');
    in.seekg(0);
    in.read(text.data(), size);
    text.resize(static_cast<size_t>(in.gcount()));
    return CUsbIdDatabase(text);
}

std::vector<std::string> CUsbIdDatabase::SearchPaths()
{
    return {GetAppDirectory() + "/../common/usb.ids", DefaultPath()};
}

const CUsbIdDatabase& CUsbIdDatabase::Instance()
{
    static const CUsbIdDatabase instance = [] {
        const std::vector<std::string> paths = SearchPaths();
        for (const std::string& path : paths) {
            std::error_code ec;
            if (std::filesystem::is_regular_file(path, ec)) return FromFile(path);
        }
        // Said once: every name look-up then answers an empty text.
        std::fprintf(stderr, "orvane: no usb.ids in %s or %s; vendor, product and class names stay empty\n",
                     paths[0].c_str(), paths[1].c_str());
        return CUsbIdDatabase();
    }();
    return instance;
}

const CUsbIdDatabase& CUsbIdDatabase::Empty()
{
    static const CUsbIdDatabase empty;
    return empty;
}

const char* CUsbIdDatabase::DefaultPath()
{
    return ORVANE_USB_IDS;
}

void CUsbIdDatabase::Load(std::string_view text)
{
    names_.reserve(text.size() / 24);
    Section section = SectionNone;
    // -1 until a line of that level gives the code.
    int top = -1;
    int second = -1;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;

        if (line.starts_with("\t\t")) {
            const auto code = ParseHex(line.substr(2));
            // A third level belongs under a second level of a known header.
            if (!code || top < 0 || second < 0) continue;
            names_.insert_or_assign(Key(section, 3, top, second, *code), ToUtf8(NameAfterBlank(line, 0)));
        } else if (line.front() == '\t') {
            const auto code = ParseHex(line.substr(1));
            if (!code || top < 0) continue;
            second = *code;
            names_.insert_or_assign(Key(section, 2, top, *code, 0), ToUtf8(NameAfterBlank(line, 0)));
        } else {
            if (line.front() == '#') continue;
            section = SectionVendor;
            size_t skip = 0;
            for (const Header& h : kHeaders) {
                if (line.starts_with(h.prefix)) {
                    section = h.section;
                    skip = h.skip;
                    break;
                }
            }
            second = -1;
            const auto code = skip <= line.size() ? ParseHex(line.substr(skip)) : std::nullopt;
            top = code ? *code : -1;
            if (!code) continue;
            names_.insert_or_assign(Key(section, 1, top, 0, 0), ToUtf8(NameAfterBlank(line, std::min(skip, line.size()))));
        }
    }
}

std::string CUsbIdDatabase::Lookup(Section section, int level, int top, int second, int third) const
{
    const auto it = names_.find(Key(section, static_cast<unsigned>(level), static_cast<unsigned>(top),
                                    static_cast<unsigned>(second), static_cast<unsigned>(third)));
    return it == names_.end() ? std::string() : it->second;
}

std::string CUsbIdDatabase::GetVendorName(int vendor) const
{
    return Lookup(SectionVendor, 1, vendor);
}

std::string CUsbIdDatabase::GetProductName(int vendor, int product) const
{
    return Lookup(SectionVendor, 2, vendor, product);
}

std::string CUsbIdDatabase::GetClassName(int cls) const
{
    return Lookup(SectionClass, 1, cls);
}

std::string CUsbIdDatabase::GetSubClassName(int cls, int subclass) const
{
    if (cls == 0 && subclass == 0) return "(defined at interface level)";
    if (subclass == -1) return "(none)";
    return Lookup(SectionClass, 2, cls, subclass);
}

std::string CUsbIdDatabase::GetProtocolName(int cls, int subclass, int protocol) const
{
    if (protocol == 0 || subclass == -1) return "(none)";
    std::string name = Lookup(SectionClass, 3, cls, subclass, protocol);
    return name.empty() ? std::to_string(protocol) : name;
}

std::string CUsbIdDatabase::GetLanguageName(int language) const
{
    return Lookup(SectionLanguage, 1, language);
}

std::string CUsbIdDatabase::GetDialectName(int language, int dialect) const
{
    return Lookup(SectionLanguage, 2, language, dialect);
}

}  // namespace orvane
