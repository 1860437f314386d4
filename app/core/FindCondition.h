// What the packet list's find looks for: transaction conditions (addresses,
// PIDs, size, payload bytes) or row conditions (the summary's texts and
// values), the texts of the find sheet's edits, and the matching of one item.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "UsbItem.h"

namespace orvane::app {

class CPacketListCells;

struct FindCondition {
    static constexpr size_t kMaxData = 1024;

    uint32_t mode = 0;  // the sheet's page: 0 transaction conditions, 1 row conditions
    bool placeMark = false;
    // Transaction conditions; -1 any.
    int32_t address = -1;
    int32_t endpoint = -1;
    int32_t size = -1;
    std::vector<uint8_t> data;
    bool usePidCombination = false;
    uint32_t pidMask = 0;  // FindPidBit of each checked PID
    // Row conditions; -1 any.
    int32_t rowAddress = -1;
    int32_t rowEndpoint = -1;
    int32_t rowInterface = -1;
    int32_t rowSize = -1;
    std::vector<uint8_t> rowData;
    std::string rowText;  // searched in the row's name
    int32_t rowSpeed = -1;
    int32_t rowStatus = -1;  // the whole ItemSummary status; any negative value is any
};

// PID bits of the transaction page: bits 0-3 SETUP, IN, OUT, PING; 4-7 DATA0,
// DATA1, DATA2, MDATA; 8-11 ACK, NAK, STALL, NYET.
enum FindPidGroup : uint32_t { FindTokenBits = 0x00F, FindDataBits = 0x0F0, FindHandshakeBits = 0xF00 };
// The bit of a single-packet item type; 0 for SOF, SPLIT, PRE and non-packets.
uint32_t FindPidBit(uint16_t itemType);

// The find sheet's edit texts and back.
namespace FindText {
// Empty (or blank) is any (-1); otherwise the leading decimal number, 0 when
// there is none. A negative number is any too.
int32_t Number(const std::string& text);
// "%d", empty for any.
std::string NumberText(int32_t value);
// Blank-separated hexadecimal bytes ("12 ab"), at most kMaxData; a piece that
// is no number reads as 0.
std::vector<uint8_t> HexBytes(const std::string& text);
// Each byte "%02X" and a blank.
std::string HexText(const std::vector<uint8_t>& bytes);
std::string Trimmed(const std::string& text);
// The speed combo: "<任意条件>", "LS", "FS", "HS".
int32_t SpeedOfIndex(int index);
int IndexOfSpeed(int32_t speed);
// The status combo: "<任意条件>", "ACK", "NYET", "NAK", "STALL", "OK", "FAILIED",
// "TIMEOUT". No selection (-1) gives -2, which matches anything; a status the
// combo does not list gives no selection.
inline int32_t StatusOfIndex(int index) { return index - 1; }
int IndexOfStatus(int32_t status);
constexpr int kStatusEntries = 8;
}  // namespace FindText

// The first occurrence of `pattern` in `bytes`; -1 for none or an empty pattern.
int64_t SearchBytes(const uint8_t* bytes, size_t count, const std::vector<uint8_t>& pattern);

// Whether the item meets the condition; a byte-pattern hit sets offset and
// length (else both stay -1). Summaries are not cached: a search of millions of
// items must not fill the list's cache.
bool MatchFindCondition(UsbItem* item, const FindCondition& condition, CPacketListCells& cells, int64_t* offset,
                        int64_t* length);

}  // namespace orvane::app
