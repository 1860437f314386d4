#include "WindowLayout.h"

#include <cstdint>
#include <utility>

namespace orvane::app {

namespace {

// The markers of the toolkit's layout data (big-endian, QDataStream's Qt 5.0 form).
constexpr uint32_t kVersionMarker = 0xff;
constexpr uint8_t kDockAreas = 0xfd;
constexpr uint8_t kFloatingTabs = 0xf9;
constexpr uint8_t kToolBars = 0xfe;
constexpr uint8_t kToolBarsEx = 0xfc;  // with a floating toolbar's geometry
// Inside a dock area.
constexpr uint8_t kSequence = 0xfc;
constexpr uint8_t kTabs = 0xfa;
constexpr uint8_t kWidget = 0xfb;
constexpr int32_t kAreaCount = 4;  // left, right, top, bottom
// Panes split inside panes: the toolkit recurses as deep as the data says.
constexpr int kNestingLimit = 32;

class Reader {
public:
    explicit Reader(std::string_view data) : data_(data) {}

    bool AtEnd() const { return at_ == data_.size(); }
    bool Skip(size_t count) {
        if (data_.size() - at_ < count) return false;
        at_ += count;
        return true;
    }
    bool Byte(uint8_t* value) {
        if (at_ == data_.size()) return false;
        *value = uint8_t(data_[at_++]);
        return true;
    }
    bool Word(uint32_t* value) {
        if (data_.size() - at_ < 4) return false;
        uint32_t word = 0;
        for (int i = 0; i < 4; ++i) word = word << 8 | uint8_t(data_[at_++]);
        *value = word;
        return true;
    }
    bool Int(int32_t* value) {
        uint32_t word;
        if (!Word(&word)) return false;
        *value = int32_t(word);
        return true;
    }
    // A string: its length in bytes, all ones for a null one, then UTF-16.
    bool String() {
        uint32_t bytes;
        return Word(&bytes) && (bytes == 0xffffffffu || Skip(bytes));
    }

private:
    std::string_view data_;
    size_t at_ = 0;
};

class Checker {
public:
    explicit Checker(std::string_view data) : in_(data) {}

    bool Run() {
        uint32_t marker, version;
        if (!in_.Word(&marker) || !in_.Word(&version)) return Fail("shorter than its header");
        if (marker != kVersionMarker || version != 0) return Fail("not a window layout");
        while (!in_.AtEnd()) {
            uint8_t section;
            in_.Byte(&section);
            bool ok = false;
            if (section == kDockAreas) ok = DockAreas();
            else if (section == kFloatingTabs) ok = in_.Skip(16) && Area(0);  // its window's rectangle
            else if (section == kToolBars || section == kToolBarsEx) ok = ToolBars(section == kToolBarsEx);
            else return Fail("an unknown section");
            if (!ok) return Fail(error_.empty() ? "cut short" : error_);
        }
        return true;
    }

    const std::string& Error() const { return error_; }

private:
    bool Fail(std::string error) {
        error_ = std::move(error);
        return false;
    }
    bool Position() {
        int32_t position;
        if (!in_.Int(&position)) return false;
        if (position >= 0 && position < kAreaCount) return true;
        return Fail("a position " + std::to_string(position) + " outside the four areas");
    }
    bool DockAreas() {
        int32_t areas;
        if (!in_.Int(&areas)) return false;
        for (int32_t i = 0; i < areas; ++i)
            if (!Position() || !in_.Skip(8) || !Area(0)) return false;  // its size, then its panes
        int32_t corner;
        if (!in_.Skip(8)) return false;  // the central widget's size
        for (int i = 0; i < 4; ++i) {
            if (!in_.Int(&corner)) return false;
            // Which area owns each corner: left 1, right 2, top 4, bottom 8.
            if (corner != 1 && corner != 2 && corner != 4 && corner != 8) return Fail("a corner of no area");
        }
        return true;
    }
    // A dock area's panes, side by side or as tabs; an entry is a pane or a nested area.
    bool Area(int depth) {
        if (depth > kNestingLimit) return Fail("areas nested too deep");
        uint8_t marker, orientation;
        int32_t count;
        if (!in_.Byte(&marker)) return false;
        if (marker != kSequence && marker != kTabs) return Fail("an area without its marker");
        if (marker == kTabs && !in_.Skip(4)) return false;  // the current tab
        if (!in_.Byte(&orientation) || !in_.Int(&count)) return false;
        for (int32_t i = 0; i < count; ++i) {
            uint8_t entry, flags;
            if (!in_.Byte(&entry)) return false;
            if (entry == kWidget) {
                if (!in_.String() || !in_.Byte(&flags) || !in_.Skip(16)) return false;
            } else if (entry == kSequence) {
                if (!in_.Skip(16) || !Area(depth + 1)) return false;
            } else {
                return Fail("an area entry without its marker");
            }
        }
        return true;
    }
    bool ToolBars(bool withGeometry) {
        int32_t lines, count;
        uint8_t shown;
        if (!in_.Int(&lines)) return false;
        for (int32_t i = 0; i < lines; ++i) {
            if (!Position() || !in_.Int(&count)) return false;
            for (int32_t k = 0; k < count; ++k)  // name, shown, position, size, geometry
                if (!in_.String() || !in_.Byte(&shown) || !in_.Skip(withGeometry ? 16 : 12)) return false;
        }
        return true;
    }

    Reader in_;
    std::string error_;
};

}  // namespace

bool CheckWindowLayout(std::string_view state, std::string* error) {
    Checker checker(state);
    if (checker.Run()) return true;
    if (error) *error = checker.Error();
    return false;
}

}  // namespace orvane::app
