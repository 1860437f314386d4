#include "HexLayout.h"

#include <algorithm>
#include <cstdio>

namespace orvane::nembrin {

const char* const kSettingNames[kSettingCount] = {"AddressType", "Width", "GroupType", "LeftArea", "RigthArea"};

const std::vector<DisplayCommand> kDisplayCommands = {
    {32806, SetAddressType, AddressDecimal}, {32807, SetAddressType, AddressHex},
    {32808, SetWidth, kAutoWidth},           {32809, SetWidth, 4},
    {32810, SetWidth, 8},                    {32811, SetWidth, 16},
    {32812, SetWidth, 32},                   {32813, SetGroupType, 1},
    {32814, SetGroupType, 2},                {32815, SetGroupType, 4},
    {32816, SetGroupType, 8},                {32817, SetLeftArea, AreaChars},
    {32819, SetLeftArea, AreaBinary},        {32820, SetLeftArea, AreaHex},
    {32821, SetRightArea, AreaChars},        {32822, SetRightArea, AreaBinary},
    {32823, SetRightArea, AreaHex},
};

int32_t DisplaySettings::Get(SettingIndex index) const
{
    switch (index) {
    case SetAddressType: return addressType;
    case SetWidth: return width;
    case SetGroupType: return groupType;
    case SetLeftArea: return leftArea;
    case SetRightArea: return rightArea;
    default: return 0;
    }
}

void DisplaySettings::Set(SettingIndex index, int32_t value)
{
    switch (index) {
    case SetAddressType: addressType = value; break;
    case SetWidth: width = bytesPerRow = value; break;
    case SetGroupType: groupType = value; break;
    case SetLeftArea: leftArea = value; break;
    case SetRightArea: rightArea = value; break;
    default: break;
    }
}

bool IsValidSetting(SettingIndex index, int32_t value)
{
    for (const DisplayCommand& c : kDisplayCommands)
        if (c.setting == index && c.value == value) return true;
    return false;
}

DisplaySettings LoadSettings(const std::function<bool(const char*, int32_t*)>& read)
{
    DisplaySettings s;
    for (int32_t i = 0; i < kSettingCount; ++i) {
        int32_t value = 0;
        if (read(kSettingNames[i], &value) && IsValidSetting(SettingIndex(i), value)) s.Set(SettingIndex(i), value);
    }
    return s;
}

const DisplayCommand* FindDisplayCommand(int32_t id)
{
    for (const DisplayCommand& c : kDisplayCommands)
        if (c.id == id) return &c;
    return nullptr;
}

std::vector<std::pair<SettingIndex, int32_t>> CommandChanges(const DisplaySettings& s, int32_t id)
{
    std::vector<std::pair<SettingIndex, int32_t>> changes;
    const DisplayCommand* c = FindDisplayCommand(id);
    if (!c) return changes;
    switch (id) {
    case 32808:
        if (s.groupType != 1) changes.push_back({SetGroupType, 1});
        break;
    case 32809:
        if (s.groupType == 8) changes.push_back({SetGroupType, 4});
        break;
    case 32814:
        if (s.width == kAutoWidth) changes.push_back({SetWidth, 8});
        break;
    case 32815:
        if (s.width == kAutoWidth) changes.push_back({SetWidth, 16});
        break;
    case 32816:
        if (s.width == 4) changes.push_back({SetWidth, 8});
        if (s.width == kAutoWidth) changes.push_back({SetWidth, 16});
        break;
    default: break;
    }
    changes.push_back({c->setting, c->value});
    return changes;
}

int32_t ColumnCells(int32_t area) { return area == AreaBinary ? 8 : area == AreaHex ? 2 : 1; }

int32_t AreaCells(int32_t area, int32_t b, int32_t g)
{
    if (area == AreaChars) return b + 2;
    return b / g + ColumnCells(area) * b + 1;
}

int32_t DecimalDigits(uint64_t value)
{
    int32_t digits = 1;
    while (value >= 10) {
        value /= 10;
        ++digits;
    }
    return digits;
}

int32_t AddressCells(int32_t addressType, uint64_t length)
{
    return addressType == AddressDecimal ? DecimalDigits(length) + 2 : 12;
}

namespace {

constexpr int32_t kFitCharWidth = 7;

// Characters one byte takes in both areas for the fit, its gap included.
int32_t FitCharsPerByte(int32_t leftArea, int32_t rightArea)
{
    auto digits = [](int32_t area) { return area == AreaBinary ? 8 : area == AreaHex ? 2 : 0; };
    return digits(leftArea) + digits(rightArea) + 2;
}

}  // namespace

int32_t FitBytesPerRow(int32_t available, int32_t leftArea, int32_t rightArea)
{
    if (available <= 0) return 0;
    int32_t n = (available / kFitCharWidth - 2) / FitCharsPerByte(leftArea, rightArea);
    return n > 1 ? n : 0;
}

int32_t FittedWidth(int32_t bytesPerRow, int32_t leftArea, int32_t rightArea)
{
    return kFitCharWidth * (bytesPerRow * FitCharsPerByte(leftArea, rightArea) + 2);
}

int64_t ClampScroll(int64_t position, int64_t maximum, int64_t page)
{
    // A range of 0 .. maximum holds maximum + 1 rows: only a page that
    // shows them all leaves nothing to scroll.
    if (page > maximum) return 0;
    return std::clamp<int64_t>(position, 0, maximum - page + 1);
}

int64_t ScrollRowFor(int64_t row, int64_t first, int64_t visible, int64_t rows)
{
    if (row >= first && row <= first + visible - 1) return first;
    // Short data never starts above its first row.
    return std::max<int64_t>(0, std::min(row - visible / 2, rows - visible));
}

uint64_t Recency::Stamp(uint8_t kind) const
{
    return kind == KindField ? stamps_[0] : kind == KindHit ? stamps_[1] : kind == KindSelection ? stamps_[2] : 0;
}

void Recency::Activate(HighlightKind kind)
{
    // The stamps are shared by every pane of the plug-in.
    static uint64_t clock = 0;
    uint64_t now = ++clock;
    if (kind == KindField) stamps_[0] = now;
    if (kind == KindHit) stamps_[1] = now;
    if (kind == KindSelection) stamps_[2] = now;
}

uint8_t Recency::MostRecent(uint8_t flags) const
{
    uint8_t best = 0;
    for (uint8_t k : {uint8_t(KindField), uint8_t(KindHit), uint8_t(KindSelection)})
        if ((flags & k) && (!best || Stamp(k) > Stamp(best))) best = k;
    return best;
}

uint8_t Recency::LeastRecent(uint8_t a, uint8_t b) const
{
    if (!a) return b;
    if (!b) return a;
    return Stamp(a) <= Stamp(b) ? a : b;
}

uint8_t Highlights::At(int64_t bit) const
{
    uint8_t flags = 0;
    if (field.Overlaps(bit, bit + 1)) flags |= KindField;
    if (selection.Overlaps(bit, bit + 1)) flags |= KindSelection;
    if (hits) {
        // Hits are sorted and disjoint.
        auto it = std::upper_bound(hits->begin(), hits->end(), bit,
                                   [](int64_t b, const BitRange& r) { return b < r.end; });
        if (it != hits->end() && it->start <= bit) flags |= KindHit;
    }
    return flags;
}

bool Highlights::AnyIn(int64_t from, int64_t to) const
{
    if (field.Overlaps(from, to) || selection.Overlaps(from, to)) return true;
    if (!hits) return false;
    auto it = std::upper_bound(hits->begin(), hits->end(), from,
                               [](int64_t b, const BitRange& r) { return b < r.end; });
    return it != hits->end() && it->start < to;
}

namespace {

char CharOf(uint8_t byte) { return byte >= 0x20 && byte < 0x7F ? char(byte) : '.'; }

void AppendByte(std::string& out, int32_t area, uint8_t byte)
{
    static const char kHex[] = "0123456789ABCDEF";
    if (area == AreaChars) {
        out += CharOf(byte);
    } else if (area == AreaBinary) {
        for (int bit = 7; bit >= 0; --bit) out += char('0' + ((byte >> bit) & 1));
    } else {
        out += kHex[byte >> 4];
        out += kHex[byte & 15];
    }
}

}  // namespace

std::string RowText(int32_t area, const uint8_t* bytes, int64_t count, int32_t group)
{
    std::string text;
    for (int64_t j = 0; j < count; ++j) {
        if (area != AreaChars && j > 0 && j % group == 0) text += ' ';
        AppendByte(text, area, bytes[j]);
    }
    return text;
}

std::vector<RowCell> RowCells(int32_t area, const uint8_t* bytes, int64_t count, int32_t group, int64_t rowStart,
                              const Highlights& lit, const Recency& recency)
{
    const std::string text = RowText(area, bytes, count, group);
    std::vector<RowCell> cells;
    cells.reserve(text.size());
    const int32_t unit = ColumnCells(area);
    const int32_t bitsPerCell = 8 / unit;
    std::vector<bool> gap;
    size_t at = 0;
    for (int64_t j = 0; j < count; ++j) {
        if (area != AreaChars && j > 0 && j % group == 0) {
            cells.push_back({text[at++], 0});
            gap.push_back(true);
        }
        for (int32_t c = 0; c < unit; ++c) {
            uint8_t f = 0;
            // Digits run most significant first; field offsets count a byte's
            // bits from its least significant, as USB numbers them.
            const int64_t byteBit = 8 * (rowStart + j);
            for (int32_t b = 0; b < bitsPerCell; ++b) f |= lit.At(byteBit + 7 - (c * bitsPerCell + b));
            cells.push_back({text[at++], recency.MostRecent(f)});
            gap.push_back(false);
        }
    }
    // A gap takes colour only between two coloured cells, the older of their kinds.
    for (size_t i = 1; i + 1 < cells.size(); ++i)
        if (gap[i] && cells[i - 1].kind && cells[i + 1].kind)
            cells[i].kind = recency.LeastRecent(cells[i - 1].kind, cells[i + 1].kind);
    return cells;
}

CellHit ColumnAtCell(int32_t area, int32_t cell, int32_t b, int32_t g)
{
    if (cell <= 1 || b <= 0) return {0, false};
    if (area == AreaChars) return {std::min(cell - 1, b - 1), false};
    const int32_t unit = ColumnCells(area);
    const int32_t groupCells = 1 + g * unit;  // leading gap and its columns
    const int32_t k = cell / groupCells, inGroup = cell % groupCells;
    // The gap that opens group k belongs to the last column of group k - 1.
    if (inGroup == 0) return {std::clamp(k * g - 1, 0, b - 1), true};
    return {std::min(k * g + (inGroup - 1) / unit, b - 1), false};
}

int32_t CellOfColumn(int32_t area, int32_t column, int32_t g)
{
    if (area == AreaChars) return column + 1;
    return column / g + ColumnCells(area) * column + 1;
}

std::string SelectionText(const uint8_t* data, uint64_t length, BitRange selection, int32_t area, int32_t group,
                          int32_t bytesPerRow)
{
    std::string text;
    if (selection.Empty() || !data) return text;
    const uint64_t first = uint64_t(selection.start / 8);
    const uint64_t end = std::min<uint64_t>(uint64_t(selection.end / 8), length);
    for (uint64_t i = first; i < end; ++i) {
        if (area != AreaChars && i % uint64_t(group) == 0) text += ' ';
        // Characters as the pane shows them: a zero byte would end the clipboard text.
        AppendByte(text, area, data[i]);
        if ((i + 1) % uint64_t(bytesPerRow) == 0 && i != 0) text += " \r\n";
    }
    return text;
}

std::string AddressText(int32_t addressType, uint64_t offset)
{
    char buffer[32];
    if (addressType == AddressDecimal)
        std::snprintf(buffer, sizeof buffer, "%llu", static_cast<unsigned long long>(offset));
    else
        std::snprintf(buffer, sizeof buffer, "0x%08llX", static_cast<unsigned long long>(offset));
    return buffer;
}

}  // namespace orvane::nembrin
