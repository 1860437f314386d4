// Find in the packet list without the sheet: the search of the shown item
// tree forward or backward from the selected row, and a row taken as the
// condition. The widget reads the sheet into the condition first, and reveals,
// selects and publishes the hit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "CPacketList.h"
#include "FindCondition.h"

namespace orvane::app {

class CPacketListFind {
public:
    static constexpr const char* kFileEnd = "到达文件尾部！";
    static constexpr const char* kFileStart = "到达文件头部！";

    // Blocks of top-level items searched so far and in all; false cancels.
    using Progress = std::function<bool(size_t done, size_t total)>;
    enum class Outcome { Found, NotFound, Cancelled };
    struct Hit {
        UsbItem* item = nullptr;
        UsbItem* top = nullptr;  // the top-level item it was found under
        int64_t offset = -1;     // of a byte-pattern hit in the item's bytes, else -1
        int64_t length = -1;
    };

    explicit CPacketListFind(CPacketList& list) : list_(list) {}

    FindCondition& Condition() { return condition_; }
    const FindCondition& Condition() const { return condition_; }

    // From the item of `selectedRow` (none: forward finds nothing, backward
    // starts at the end). Shown items only, collapsed subtrees included, a
    // parent before its children. The rows' lock is held only while a block's
    // items are copied, so the worker may append meanwhile.
    Outcome FindItem(int selectedRow, bool forward, Hit& hit, const Progress& progress = {});

    // The row's summary and bytes become the row conditions (mode 1); false
    // without an item.
    bool SetAsFindCondition(int row);

private:
    bool MatchTree(UsbItem* item, bool forward, uint32_t start, Hit& hit);

    CPacketList& list_;
    FindCondition condition_;
};

}  // namespace orvane::app
