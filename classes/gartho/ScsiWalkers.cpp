#include "ScsiWalkers.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <span>
#include <vector>

#include "CByteCursor.h"
#include "FieldTable.h"

namespace orvane::gartho {

namespace {

constexpr ByteOrder Big = ByteOrder::Big;

std::string Size(uint64_t bytes) { return FormatSize(bytes); }

std::string ModePageName(uint64_t page)
{
    switch (page) {
    case 1: return "Read-Write Error Recovery Page)";
    case 5: return "Flexible Disk Page";
    case 27: return "Removable Block Access Capacities Page";
    case 28: return "Timer and Protect Page";
    case 63: return "Return all pages (valid only for the MODE SENSE command)";
    default: return {};
    }
}

std::string MediumType(uint64_t code)
{
    switch (code) {
    case 0x00: return "Default medium type (current mounted medium type)";
    case 0x1E: return "720 KB,formatted,Double-sided:DD,3.5-inch,135 tpi,1 MB unformatted,7,958 bits/radian";
    case 0x93: return "1.25 MB,formatted,Double-sided:HD,3.5-inch 135 tpi,1.6 MB unformatted,12,362 bits/radian";
    case 0x94: return "1.44 MB,formatted,Double-sided:HD,3.5-inch 135 tpi,2 MB unformatted,15,916 bits/radian";
    default: return {};
    }
}

std::string InactivityTime(uint64_t n)
{
    if (n == 0) return "Infinite";
    if (n <= 3) return std::to_string(125 << (n - 1)) + " ms";
    if (n <= 9) return std::to_string(1 << (n - 4)) + " s";
    return std::to_string(1 << (n - 10)) + " min";
}

constexpr const char* kPageControl[] = {"Current Values", "Changeable Values", "Default Values", "Saved Values"};
constexpr const char* kSelfTest[] = {"perform special diagnostic test", "perform default self-test"};
constexpr const char* kPrevent[] = {"enable (allow) the removal of the medium",
                                    "disable (prevent) removal of the medium"};
constexpr const char* kDescriptorCodes[] = {
    "Reserved", "Unformatted Media - Maximum formattable capacity for this cartridge",
    "Formatted Media - Current media capacity",
    "No Cartridge in Drive - Maximum formattable capacity for any cartridge"};

constexpr ClassField Op(const char* text) { return {.name = "Operation Code", .byte = 0, .bits = 8, .format = text}; }
constexpr ClassField kLun = {.name = "Logical Unit Number", .byte = 1, .bit = 5, .bits = 3, .format = "%u"};
constexpr ClassField YesNo(const char* name, uint8_t bit)
{
    return {.name = name, .byte = 1, .bit = bit, .bits = 1, .names = kYesNo};
}
constexpr ClassField Text(const char* name, uint16_t byte, uint16_t bits, const char* text)
{
    return {.name = name, .byte = byte, .bits = bits, .format = text};
}
constexpr ClassField kLbaHex = {.name = "Logical Block Address", .byte = 2, .bits = 32, .format = "0x%08X", .order = Big};

// ---- command blocks ----

constexpr ClassField kTestUnitReady[] = {
    Op("TEST UNIT READY"), {.name = "Reserved", .byte = 1, .bits = 5, .format = "%d"}, kLun,
    Text("Padding", 2, 112, "14 bytes")};
constexpr ClassField kRezeroUnit[] = {
    Op("REZERO UNIT"), {.name = "Reserved", .byte = 1, .bits = 5, .format = "0x%02X"}, kLun,
    Text("Padding", 2, 80, "10 bytes")};
constexpr ClassField kRequestSense[] = {
    Op("REQUEST SENSE"), {.name = "Reserved", .byte = 1, .bits = 5, .format = "0x%02X"}, kLun,
    Text("Reserved", 2, 16, "2 bytes"), {.name = "Allocation Length", .byte = 4, .bits = 8, .format = "%u bytes"},
    Text("Padding", 5, 56, "7 bytes")};
constexpr ClassField kFormatUnit[] = {
    Op("FORMAT UNIT"),
    {.name = "Defect List Format", .byte = 1, .bits = 3, .format = "%u"},
    {.name = "CmpList", .byte = 1, .bit = 3, .bits = 1, .format = "%u"},
    {.name = "FmtData", .byte = 1, .bit = 4, .bits = 1, .format = "%u"},
    kLun,
    {.name = "Track Number", .byte = 2, .bits = 8, .format = "%u"},
    {.name = "Interleave", .byte = 3, .bits = 16, .format = "%u", .order = Big},
    Text("Reserved", 5, 16, "FORMAT UNIT"),
    {.name = "Parameter List Length", .byte = 7, .bits = 16, .formatter = Size, .order = Big},
    Text("Padding", 9, 24, "3 bytes reserved")};
constexpr ClassField kInquiry[] = {
    Op("INQUERY"), YesNo("EVPD", 0), {.name = "Reserved", .byte = 1, .bit = 1, .bits = 4, .format = "0x%X"}, kLun,
    {.name = "Page Code", .byte = 2, .bits = 8, .format = "%u"},
    {.name = "Reserved", .byte = 3, .bits = 8, .format = "0x%X"},
    {.name = "Allocation Length", .byte = 4, .bits = 8, .format = "%d bytes"},
    Text("Padding", 5, 88, "11 bytes")};
constexpr ClassField kModeSense6[] = {
    Op("MODE SENSE(6)"),
    {.name = "Reserved", .byte = 1, .bits = 3, .format = "0x%X"},
    {.name = "Disable Block Descriptor", .byte = 1, .bit = 3, .bits = 1, .format = "%u"},
    {.name = "Reserved", .byte = 1, .bit = 4, .bits = 1, .format = "0x%X"},
    kLun,
    {.name = "Page Code", .byte = 2, .bits = 6, .formatter = ModePageName},
    {.name = "Page Control", .byte = 2, .bit = 6, .bits = 2, .names = kPageControl},
    {.name = "Reserved", .byte = 3, .bits = 8, .format = "0x%02X"},
    {.name = "Parameter List Length", .byte = 4, .bits = 8, .format = "%u bytes"},
    Text("Padding", 5, 88, "11 bytes")};
constexpr ClassField kSendDiagnostic[] = {
    Op("SEND DIAGNOSTIC"),
    {.name = "UnitOfl", .byte = 1, .bits = 1, .format = "%d"},
    {.name = "DefOfl", .byte = 1, .bit = 1, .bits = 1, .format = "%d"},
    {.name = "Self Test", .byte = 1, .bit = 2, .bits = 1, .names = kSelfTest},
    {.name = "Reserved", .byte = 1, .bit = 3, .bits = 1, .format = "%d"},
    {.name = "Page Format", .byte = 1, .bit = 4, .bits = 1, .format = "%d"},
    kLun,
    Text("Padding", 2, 80, "10 bytes")};
// The prevent bit stands at byte 2, as users of the decode know it.
constexpr ClassField kPreventAllow[] = {
    Op("PREVENT-ALLOW MEDIUM REMOVAL"), {.name = "Reserved", .byte = 1, .bits = 5, .format = "0x%X"}, kLun,
    {.name = "Prevent", .byte = 2, .bits = 1, .names = kPrevent},
    {.name = "Reserved", .byte = 2, .bit = 1, .bits = 7, .format = "0x%02X"},
    Text("Padding", 3, 56, "7 bytes")};
constexpr ClassField kReadFormatCapacities[] = {
    Op("READ FORMAT CAPACITIES"), {.name = "Reserved", .byte = 1, .bits = 5, .format = "0x%02X"}, kLun,
    Text("Reserved", 2, 40, "5 bytes"),
    {.name = "Allocation Length", .byte = 7, .bits = 16, .formatter = Size, .order = Big},
    Text("Padding", 9, 56, "7 bytes")};
constexpr ClassField kReadCapacity[] = {
    Op("READ CAPACITY"), YesNo("Relative Addressing", 0),
    {.name = "Reserved", .byte = 1, .bit = 1, .bits = 4, .format = "0x%X"}, kLun, kLbaHex,
    Text("Reserved", 6, 16, "2 bytes"),
    {.name = "Partial Medium Indicator", .byte = 8, .bits = 1, .format = "%u"},
    {.name = "Reserved", .byte = 8, .bit = 1, .bits = 7, .format = "%u"},
    Text("Padding", 9, 56, "7 bytes")};

#define ORVANE_RW10(text)                                                                               \
    {Op(text), YesNo("Relative Addressing", 0), {.name = "Reserved", .byte = 1, .bit = 1, .bits = 2, .format = "0x%X"}, \
     YesNo("Force Unit Access", 3), YesNo("Disable Page Out", 4), kLun, kLbaHex,                        \
     {.name = "Reserved", .byte = 6, .bits = 8, .format = "0x%X"},                                      \
     {.name = "Transfer Length", .byte = 7, .bits = 16, .format = "%d blocks", .order = Big},           \
     Text("Padding", 9, 56, "7 bytes")}
constexpr ClassField kRead10[] = ORVANE_RW10("READ(10)");
constexpr ClassField kWrite10[] = ORVANE_RW10("WRITE(10)");
#undef ORVANE_RW10

constexpr ClassField kSeek[] = {
    Op("SEEK"), {.name = "Reserved", .byte = 1, .bits = 5, .format = "0x%02X"}, kLun,
    {.name = "Logical Block Address", .byte = 2, .bits = 32, .formatter = Size, .order = Big},
    Text("Padding", 6, 48, "6 bytes")};

#define ORVANE_VERIFY(text)                                                                              \
    {Op(text), YesNo("Relative Addressing", 0), {.name = "Byte Check", .byte = 1, .bit = 1, .bits = 1, .format = "%d"}, \
     {.name = "Reserved", .byte = 1, .bit = 2, .bits = 2, .format = "%d"}, YesNo("Disable Page Out", 4), kLun, \
     kLbaHex, {.name = "Reserved", .byte = 6, .bits = 8, .format = "0x%X"},                             \
     {.name = "Transfer Length", .byte = 7, .bits = 16, .formatter = Size, .order = Big},               \
     Text("Padding", 9, 24, "3 bytes")}
constexpr ClassField kWriteAndVerify[] = ORVANE_VERIFY("WRITE AND VERIFY");
constexpr ClassField kVerify[] = ORVANE_VERIFY("VERIFY");
#undef ORVANE_VERIFY

constexpr ClassField kModeSelect[] = {
    Op("MODE SELECT"),
    {.name = "Save Pages", .byte = 1, .bits = 1, .format = "%u"},
    {.name = "Reserved", .byte = 1, .bit = 1, .bits = 3, .format = "0x%X"},
    {.name = "Page Format", .byte = 1, .bit = 4, .bits = 1, .format = "%u"},
    kLun,
    Text("Reserved", 2, 40, "5 bytes"),
    {.name = "Parameter List Length", .byte = 7, .bits = 16, .formatter = Size, .order = Big},
    Text("Padding", 9, 24, "3 bytes")};
constexpr ClassField kModeSense10[] = {
    Op("MODE SENSE"),
    {.name = "Reserved", .byte = 1, .bits = 3, .format = "0x%X"},
    {.name = "Disable Block Descriptor", .byte = 1, .bit = 3, .bits = 1, .format = "%u"},
    {.name = "Reserved", .byte = 1, .bit = 4, .bits = 1, .format = "0x%X"},
    kLun,
    {.name = "Page Code", .byte = 2, .bits = 6, .format = "%u"},
    {.name = "Page Control", .byte = 2, .bit = 6, .bits = 2, .names = kPageControl},
    Text("Reserved", 3, 32, "4 bytes"),
    {.name = "Parameter List Length", .byte = 7, .bits = 16, .formatter = Size, .order = Big},
    Text("Padding", 9, 24, "3 bytes")};

#define ORVANE_BYTE1_RW(text)                                                                           \
    Op(text), YesNo("Relative Addressing", 0), {.name = "Reserved", .byte = 1, .bit = 1, .bits = 2, .format = "0x%X"}, \
        YesNo("Force Unit Access", 3), YesNo("Disable Page Out", 4), kLun, kLbaHex,                     \
        {.name = "Transfer Length", .byte = 6, .bits = 32, .format = "%d blocks", .order = Big}
constexpr ClassField kRead12[] = {ORVANE_BYTE1_RW("READ(12)"), Text("Padding", 10, 16, "2 bytes")};
// Byte 10 follows the transfer length on the wire, so its bit range does too.
constexpr ClassField kWrite12[] = {ORVANE_BYTE1_RW("WRITE(12)"),
                                   {.name = "Reserved", .byte = 10, .bits = 8, .format = "0x%X"},
                                   Text("Padding", 11, 24, "3 bytes")};
#undef ORVANE_BYTE1_RW

// What the title's second number is.
enum class TitleArg : uint8_t { None, Lba, Track };

struct Command {
    uint8_t opcode;
    const char* title;
    TitleArg arg;
    std::span<const ClassField> fields;
};

constexpr Command kCommands[] = {
    {0x00, "Test Unit Ready (Lun %u)", TitleArg::None, kTestUnitReady},
    {0x01, "Rezero Unit (Lun %u)", TitleArg::None, kRezeroUnit},
    {0x03, "Reuest Sense (Lun %u)", TitleArg::None, kRequestSense},
    {0x04, "Format Unit (Lun %u,Track %u)", TitleArg::Track, kFormatUnit},
    {0x12, "Inquery (Lun %u)", TitleArg::None, kInquiry},
    {0x1A, "Mode Sense (Lun %u)", TitleArg::None, kModeSense6},
    {0x1D, "Send Diagnostic (Lun %u)", TitleArg::None, kSendDiagnostic},
    {0x1E, "Prevent/Allow Medium Removal (Lun %u)", TitleArg::None, kPreventAllow},
    {0x23, "Read Format Capacities (Lun %u)", TitleArg::None, kReadFormatCapacities},
    {0x25, "Read Capacity (Lun %u,Lba 0x%08X)", TitleArg::Lba, kReadCapacity},
    {0x28, "Read (Lun %u,Lba 0x%08X)", TitleArg::Lba, kRead10},
    {0x2A, "Write (Lun %u,Lba 0x%08X)", TitleArg::Lba, kWrite10},
    {0x2B, "Seek (Lun %u,Lba %u)", TitleArg::Lba, kSeek},
    {0x2E, "Write And Verify (Lun %u,Lba 0x%08X)", TitleArg::Lba, kWriteAndVerify},
    {0x2F, "Verify (Lun %u,Lba 0x%08X)", TitleArg::Lba, kVerify},
    {0x55, "Mode Select (Lun %u)", TitleArg::None, kModeSelect},
    {0x5A, "Mode Sense (Lun %u)", TitleArg::None, kModeSense10},
    {0xA8, "Read (Lun %u,Lba 0x%08X)", TitleArg::Lba, kRead12},
    {0xAA, "Write (Lun %u,Lba 0x%08X)", TitleArg::Lba, kWrite12},
};

const Command* FindCommand(uint16_t key)
{
    for (const Command& c : kCommands)
        if (c.opcode == key) return &c;
    return nullptr;
}

// A command block: its table, and a title with the LUN and a second number.
class CommandWalker : public CTableWalker {
public:
    explicit CommandWalker(const Command& command) : CTableWalker({}, command.fields), command_(command) {}
    void GetName(std::string& name) override
    {
        const CByteCursor block(Data());
        const unsigned lun = unsigned(block.LEAt(1, 1).value_or(0) >> 5);
        unsigned second = 0;
        if (command_.arg == TitleArg::Lba) second = unsigned(block.BEAt(2, 4).value_or(0));
        if (command_.arg == TitleArg::Track) second = unsigned(block.LEAt(2, 1).value_or(0));
        char text[96];
        std::snprintf(text, sizeof text, command_.title, lun, second);
        name = text;
    }

private:
    const Command& command_;
};

// ---- data ----

constexpr ClassField kCapacityData[] = {
    {.name = "Last Logical Block Address", .byte = 0, .bits = 32, .format = "0x%08X", .order = Big},
    {.name = "Block Length In Bytes", .byte = 4, .bits = 32, .formatter = Size, .order = Big},
};

constexpr ClassField kCapacityListHead[] = {
    {.name = "Capacity List Header.Reserved", .byte = 0, .bits = 8, .format = "0x%02X"},
    {.name = "Capacity List Header.Reserved", .byte = 1, .bits = 8, .format = "0x%02X"},
    {.name = "Capacity List Header.Reserved", .byte = 2, .bits = 8, .format = "0x%02X"},
    {.name = "Capacity List Header.Length", .byte = 3, .bits = 8, .format = "%u bytes"},
    {.name = "Capacity Descriptor.Number of Blocks", .byte = 4, .bits = 32, .format = "%u blocks", .order = Big},
    {.name = "Capacity Descriptor.Descriptor Code", .byte = 8, .bits = 2, .names = kDescriptorCodes},
    {.name = "Capacity Descriptor.Reserved", .byte = 8, .bit = 2, .bits = 6, .format = "0x%02X"},
    {.name = "Capacity Descriptor.Block Length", .byte = 9, .bits = 24, .format = "%d bytes", .order = Big},
};
// One formattable capacity descriptor, named after its index.
constexpr ClassField kFormattableDescriptor[] = {
    {.name = ".Number of Blocks", .byte = 0, .bits = 32, .format = "%u blocks", .order = Big},
    {.name = ".Reserved", .byte = 4, .bits = 8, .format = "0x%02X"},
    {.name = ".Length", .byte = 5, .bits = 24, .format = "%d bytes", .order = Big},
};
constexpr uint32_t kCapacityListHeadBytes = 12;
constexpr uint32_t kFormattableBytes = 8;

class CapacityListWalker : public CTableWalker {
public:
    CapacityListWalker() : CTableWalker("Capacity List", kCapacityListHead) {}
    void Enumerate(std::vector<FieldRecord>& fields) override
    {
        CTableWalker::Enumerate(fields);
        // The data count, not the header's length byte, says how many follow.
        const auto data = Data();
        if (data.size() < kCapacityListHeadBytes + kFormattableBytes) return;
        const size_t count = (data.size() - kCapacityListHeadBytes) / kFormattableBytes;
        for (size_t k = 0; k < count; ++k) {
            const size_t before = fields.size();
            EnumerateFields(kFormattableDescriptor,
                            data.subspan(kCapacityListHeadBytes + k * kFormattableBytes, kFormattableBytes), fields);
            for (size_t i = before; i < fields.size(); ++i)
                fields[i].name = "Formattable Capacity Descriptor[" + std::to_string(k) + "]" + fields[i].name;
        }
    }
};

constexpr ClassField kModeParameterHead[] = {
    {.name = "Mode Data Length", .byte = 0, .bits = 8, .format = "%u bytes"},
    {.name = "Medium Type Code", .byte = 1, .bits = 8, .formatter = MediumType},
    {.name = "Device-Specific Parameter", .byte = 2, .bits = 8, .format = "%u"},
    {.name = "Block Descriptor Length", .byte = 3, .bits = 8, .format = "%u bytes"},
};
constexpr uint32_t kModePageAt = 4;

constexpr ClassField kTimerAndProtect[] = {
    {.name = "Page Code", .byte = 0, .bits = 6, .format = "%u"},
    {.name = "Reserved", .byte = 0, .bit = 6, .bits = 1, .format = "%u"},
    {.name = "Parameters Savable", .byte = 0, .bit = 7, .bits = 1, .names = kYesNo},
    {.name = "Page Length", .byte = 1, .bits = 8, .format = "%d bytes"},
    {.name = "Reserved", .byte = 2, .bits = 8, .format = "0x%02X"},
    {.name = "Inactivity Time Multiplier", .byte = 3, .bits = 4, .formatter = InactivityTime},
    {.name = "Reserved", .byte = 3, .bit = 4, .bits = 4, .format = "0x%02X"},
    {.name = "SWPP", .byte = 4, .bits = 1, .format = "0x%02X"},
    {.name = "DISP", .byte = 4, .bit = 1, .bits = 1, .format = "0x%02X"},
    {.name = "Reserved", .byte = 4, .bit = 2, .bits = 6, .format = "0x%02X"},
    {.name = "Reserved", .byte = 5, .bits = 24, .format = "0x%06X"},
};

// The mode pages a device may answer; only Timer and Protect is decoded.
struct ModePage {
    uint8_t code;
    std::span<const ClassField> fields;
};
constexpr ModePage kModePages[] = {{1, {}}, {5, {}}, {27, {}}, {28, kTimerAndProtect}};

class ModeParameterListWalker : public CTableWalker {
public:
    ModeParameterListWalker() : CTableWalker("Mode Parameter List", kModeParameterHead) {}
    void Enumerate(std::vector<FieldRecord>& fields) override
    {
        CTableWalker::Enumerate(fields);
        // The page is taken to start at byte 4, whatever the block descriptor
        // length says; a list too short for a page has none.
        const auto data = Data();
        if (data.size() <= kModePageAt) return;
        const uint8_t code = data[kModePageAt] & 0x3F;
        for (const ModePage& page : kModePages)
            if (page.code == code) EnumerateFields(page.fields, data.subspan(kModePageAt), fields);
    }
};

}  // namespace

std::string FormatSize(uint64_t bytes)
{
    char text[64];
    const unsigned count = unsigned(bytes);
    if (bytes < 1024) std::snprintf(text, sizeof text, "%u bytes", count);
    else if (bytes < 0x100000) std::snprintf(text, sizeof text, "%.3g KB(%u bytes)", double(bytes) / 1024, count);
    else std::snprintf(text, sizeof text, "%.6g MB(%u bytes)", double(bytes) / 1024 / 1024, count);
    return text;
}

std::unique_ptr<IEnumerable> MakeWalker(uint16_t key)
{
    switch (key) {
    case kReadCapacityData: return std::make_unique<CTableWalker>("Capacity Data", kCapacityData);
    case kFormatCapacityData: return std::make_unique<CapacityListWalker>();
    case kModeSense6Data: return std::make_unique<ModeParameterListWalker>();
    default: break;
    }
    const Command* command = FindCommand(key);
    return command ? std::make_unique<CommandWalker>(*command) : nullptr;
}

std::vector<std::pair<uint32_t, std::span<const ClassField>>> FieldTables()
{
    std::vector<std::pair<uint32_t, std::span<const ClassField>>> tables;
    for (const Command& c : kCommands) tables.emplace_back(kCommandBlockBytes, c.fields);
    tables.emplace_back(8, kCapacityData);
    tables.emplace_back(kCapacityListHeadBytes, kCapacityListHead);
    tables.emplace_back(kFormattableBytes, kFormattableDescriptor);
    tables.emplace_back(kModePageAt, kModeParameterHead);
    tables.emplace_back(8, kTimerAndProtect);
    return tables;
}

bool HasWalker(uint16_t key)
{
    return key == kReadCapacityData || key == kFormatCapacityData || key == kModeSense6Data || FindCommand(key);
}

}  // namespace orvane::gartho
