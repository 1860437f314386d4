// The data pane's arithmetic: its five display settings and which values they
// may take, the widths of the address column and the two data areas, the
// fitted row width, scroll clamping, the cells of one row with their
// highlight colour, and the texts a row and a copied selection show.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace orvane::nembrin {

enum AreaMode : int32_t { AreaChars = 1, AreaBinary = 2, AreaHex = 3 };
enum AddressMode : int32_t { AddressDecimal = 1, AddressHex = 2 };
constexpr int32_t kAutoWidth = 10;  // Width 10 fits the row to the pane

// The settings in their stored order (the index of each is its sub-menu's).
enum SettingIndex : int32_t { SetAddressType, SetWidth, SetGroupType, SetLeftArea, SetRightArea, kSettingCount };
extern const char* const kSettingNames[kSettingCount];

struct DisplaySettings {
    int32_t addressType = AddressHex;
    int32_t width = kAutoWidth;
    int32_t bytesPerRow = kAutoWidth;  // what a row shows: Width, or the fitted count
    int32_t groupType = 1;             // group size in bytes
    int32_t leftArea = AreaHex;
    int32_t rightArea = AreaBinary;

    int32_t Get(SettingIndex index) const;
    // Width also sets the bytes per row.
    void Set(SettingIndex index, int32_t value);
};

// Only the values a menu offers may stand; anything else keeps the default
// (a stored group of 0 or a width of 0 would divide by zero).
bool IsValidSetting(SettingIndex index, int32_t value);
// Reads each stored value through `read` (false when absent) and keeps the valid ones.
DisplaySettings LoadSettings(const std::function<bool(const char* name, int32_t* value)>& read);

// One display command of the context menu: the setting it changes and the value.
struct DisplayCommand {
    int32_t id;
    SettingIndex setting;
    int32_t value;
};
extern const std::vector<DisplayCommand> kDisplayCommands;
const DisplayCommand* FindDisplayCommand(int32_t id);
// The changes a command makes, in order: the width/grouping rule that runs
// first (if any), then its own. Each is written and check-marked on its own.
std::vector<std::pair<SettingIndex, int32_t>> CommandChanges(const DisplaySettings& s, int32_t id);

// Cells one byte column takes in an area, and whether groups are set apart.
int32_t ColumnCells(int32_t area);
// Width of an area in cells (a leading gap before each group, a trailing cell).
int32_t AreaCells(int32_t area, int32_t bytesPerRow, int32_t group);
// Decimal digits of a length (at least 1).
int32_t DecimalDigits(uint64_t value);
// The address column in cells: 12 for hexadecimal, digits + 2 for decimal.
int32_t AddressCells(int32_t addressType, uint64_t length);
// Bytes per row fitted to `available` pixels (7 a character), 0 when it does not fit two.
int32_t FitBytesPerRow(int32_t available, int32_t leftArea, int32_t rightArea);
// The fewest pixels FitBytesPerRow fits `bytesPerRow` bytes into.
int32_t FittedWidth(int32_t bytesPerRow, int32_t leftArea, int32_t rightArea);

// A scroll position clamped to 0 .. max - page + 1 (0 when the page covers it).
int64_t ClampScroll(int64_t position, int64_t maximum, int64_t page);
// The first visible row that brings `row` into view; `first` when it is.
int64_t ScrollRowFor(int64_t row, int64_t first, int64_t visible, int64_t rows);

// Highlight kinds; each activation makes its kind the most recent.
enum HighlightKind : uint8_t { KindField = 1, KindHit = 2, KindSelection = 4 };
class Recency {
public:
    void Activate(HighlightKind kind);
    // The most (or least) recently activated kind among `flags`; 0 for none.
    uint8_t MostRecent(uint8_t flags) const;
    uint8_t LeastRecent(uint8_t a, uint8_t b) const;

private:
    uint64_t Stamp(uint8_t kind) const;
    uint64_t stamps_[3] = {0, 0, 0};
};

// A bit range [start, end) in the item's data.
struct BitRange {
    int64_t start = -1;
    int64_t end = -1;
    bool Empty() const { return start < 0 || end <= start; }
    bool Overlaps(int64_t from, int64_t to) const { return !Empty() && start < to && from < end; }
};

struct Highlights {
    BitRange field;
    BitRange selection;
    const std::vector<BitRange>* hits = nullptr;
    // The kinds that cover bit `bit`.
    uint8_t At(int64_t bit) const;
    bool AnyIn(int64_t from, int64_t to) const;
};

// One drawn cell of a row: its character and the kind whose colour it takes.
struct RowCell {
    char ch;
    uint8_t kind;
};

// The text of one row of an area: characters, binary or hexadecimal, with a
// blank between groups (none for characters).
std::string RowText(int32_t area, const uint8_t* bytes, int64_t count, int32_t group);
// The same row cell by cell with its colours; rowStart is the row's first byte.
// Bit 8 * i + k of the data is bit k of byte i, k = 0 its least significant.
std::vector<RowCell> RowCells(int32_t area, const uint8_t* bytes, int64_t count, int32_t group, int64_t rowStart,
                              const Highlights& lit, const Recency& recency);

// Where a cell of an area falls: the byte column it belongs to (a gap belongs
// to the column before it), and whether it is the gap after a group.
struct CellHit {
    int32_t column;
    bool gapAfterGroup;
};
CellHit ColumnAtCell(int32_t area, int32_t cell, int32_t bytesPerRow, int32_t group);
// The first cell of a byte column (counted from the area's start).
int32_t CellOfColumn(int32_t area, int32_t column, int32_t group);

// The copied text of a selection, in the format of the area it began in.
std::string SelectionText(const uint8_t* data, uint64_t length, BitRange selection, int32_t area, int32_t group,
                          int32_t bytesPerRow);
// An address label.
std::string AddressText(int32_t addressType, uint64_t offset);

}  // namespace orvane::nembrin
