// Names of vendors, products, classes and languages from the public "usb.ids"
// list. Read-only once loaded, so look-ups are safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace orvane {

class CUsbIdDatabase {
public:
    // Section tags of the key's top byte.
    enum Section : uint8_t {
        SectionNone = 0, SectionVendor = 1, SectionClass = 2, SectionAudioTerminal = 3,
        SectionHidDescriptor = 4, SectionHidItem = 5, SectionBias = 6, SectionPhysical = 7,
        SectionHidUsage = 8, SectionLanguage = 9, SectionCountry = 10, SectionVideoTerminal = 11,
    };

    CUsbIdDatabase() = default;
    // Builds the table from the text of a usb.ids file.
    explicit CUsbIdDatabase(std::string_view text);
    // An empty table when the file cannot be read.
    static CUsbIdDatabase FromFile(const std::string& path);
    // The list found first in SearchPaths(), read on first use and kept for the
    // process; empty (and said once on stderr) when there is none.
    static const CUsbIdDatabase& Instance();
    // A table without names, for code that reads fields alone: it loads nothing.
    static const CUsbIdDatabase& Empty();
    // "../common/usb.ids" beside the program, then the system's list.
    static std::vector<std::string> SearchPaths();
    static const char* DefaultPath();

    // Each answers the stored name (UTF-8) or an empty text; none changes the table.
    std::string GetVendorName(int vendor) const;
    std::string GetProductName(int vendor, int product) const;
    std::string GetClassName(int cls) const;
    std::string GetSubClassName(int cls, int subclass) const;
    std::string GetProtocolName(int cls, int subclass, int protocol) const;
    std::string GetLanguageName(int language) const;
    std::string GetDialectName(int language, int dialect) const;
    // Any section: level 1 to 3 with the codes of the levels above.
    std::string Lookup(Section section, int level, int top, int second = 0, int third = 0) const;

    size_t Size() const { return names_.size(); }

    static uint64_t Key(unsigned section, unsigned level, unsigned top, unsigned second, unsigned third);

private:
    void Load(std::string_view text);

    std::unordered_map<uint64_t, std::string> names_;
};

}  // namespace orvane
