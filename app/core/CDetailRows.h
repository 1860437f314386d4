// The detail pane's display without its widgets: a decode-result document as
// groups of field rows, nested rows depth-first after their parent, and the bit
// range of every field in the order the rows are made.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvane::app {

class CDetailRows {
public:
    // A grid is 61 pixels plus 21 a field high, nested fields included.
    static constexpr int kGridBaseHeight = 61;
    static constexpr int kGridRowHeight = 21;
    static int GridHeight(size_t fields) { return kGridBaseHeight + kGridRowHeight * int(fields); }

    struct Range {
        int64_t offset = 0;  // first bit within the item's data
        int64_t bits = 0;    // 0: the field points at no data
        bool operator==(const Range&) const = default;
    };
    struct Field {
        std::string name, value, tip;
        int depth = 0;      // 0 for a field directly in its group
        int parent = -1;    // index of the parent field within the group; -1 at depth 0
        size_t range = 0;   // index into Ranges()
    };
    struct Group {
        std::string name;
        std::vector<Field> fields;  // depth-first, in document order
    };

    // Replaces the display. False, and no groups, for a text that is not XML
    // or whose root is not `groups` (a decoder fault shows as nothing).
    bool Load(const std::string& text);
    void Clear();

    const std::vector<Group>& Groups() const { return groups_; }
    const std::vector<Range>& Ranges() const { return ranges_; }
    // Null for an index out of range.
    const Range* RangeAt(size_t index) const { return index < ranges_.size() ? &ranges_[index] : nullptr; }

    // Decimal with optional blanks and sign; empty, non-numeric or out-of-range text reads as 0.
    static int64_t ReadDecimal(const std::string& text);

private:
    std::vector<Group> groups_;
    std::vector<Range> ranges_;
};

}  // namespace orvane::app
