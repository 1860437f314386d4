// The packet list's commands without the widget: the row menu and when its
// entries are greyed, trigger conditions from a row, bookmarks on rows and the
// walk through them. The widget asks the user, shows the messages and
// publishes MarksChanged after a change.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "CPacketList.h"

namespace orvane::app {

class COrvaneDoc;

class CPacketListCommands {
public:
    enum Id : int {
        CmdClearFilter = 32791,
        CmdSetTrigger = 32834,
        CmdAddTrigger = 32835,
        CmdFindSettings = 32846,
        CmdFindCondition = 32847,
        CmdFindPrev = 32848,
        CmdFindNext = 32849,
        CmdTriggerSettings = 32850,
        CmdGoToTrigger = 32851,
        CmdAddMark = 32852,
        CmdEditMark = 32853,
        CmdDeleteMark = 32854,
        CmdDeleteAllMarks = 32855,
        CmdPrevMark = 32856,
        CmdNextMark = 32857,
        CmdToggleSubtree = 32859,
        CmdCopy = 32860,
    };
    struct MenuEntry {
        int id;  // 0: a separator
        const char* text;
    };
    static const std::vector<MenuEntry>& RowMenu();

    static constexpr const char* kDeleteAllQuestion = "确认删除所有标签？";
    static constexpr const char* kFileStart = "到达文件开头！";
    static constexpr const char* kFileEnd = "到达文件结尾！";
    static constexpr const char* kAddMarkTitle = "添加标签";
    static constexpr const char* kEditMarkTitle = "编辑标签";
    // A mark walk that has nothing to do (Previous from the first record).
    static constexpr int kStay = -2;

    explicit CPacketListCommands(CPacketList& list) : list_(list) {}
    // `lock` guards the document against the capture worker; may be null.
    void SetDocument(COrvaneDoc* doc, std::mutex* lock)
    {
        doc_ = doc;
        docLock_ = lock;
    }
    COrvaneDoc* Document() const { return doc_; }
    std::mutex* DocumentLock() const { return docLock_; }

    // Menu and toolbar state of a command, given the selected row (-1 none).
    bool Enabled(int id, int selected);
    // The row menu greys more: whatever needs a row or a mark on it.
    bool RowMenuEnabled(int id, int selected);

    enum class TriggerResult {
        NoItem,   // nothing done
        NoSteps,  // the trigger row moved; the setup's steps are as they were
        Refused,  // more than 16 steps would result: nothing changed
        Stored,
    };
    // Trigger steps from the row's item replace (or follow) those of the
    // document's setup; the trigger row moves to the item's last packet. Both
    // mark the document modified. `patternCut` (may be null) tells whether a
    // data packet was longer than a step's pattern holds.
    TriggerResult SetTriggerCondition(int row, bool append, bool* patternCut = nullptr);

    // The row's record and the name the add dialog proposes; false without an item.
    bool ProposeMark(int row, Mark& out);
    // Each change of the marks marks the document modified.
    bool AddMark(const Mark& mark);
    // The first mark on the row; -1 when none.
    int MarkAtRow(int row) { return list_.MarkAtRow(row); }
    // Name and comment of the mark at `index`; its packet stays.
    bool EditMark(int index, const std::string& name, const std::string& comment);
    bool DeleteMark(int row);
    bool DeleteAllMarks();
    int MarkCount();

    // The row of the previous or next mark that a row shows; -1 when the
    // search ran out (the user is told), kStay when there is nothing to do.
    int PrevMarkRow(int selected);
    int NextMarkRow(int selected);

private:
    void MarksEdited();
    int WalkMarks(int32_t start, bool next);
    UsbItem* ItemAt(int row) { return row >= 0 ? list_.Rows().ItemAtRow(row) : nullptr; }

    CPacketList& list_;
    COrvaneDoc* doc_ = nullptr;
    std::mutex* docLock_ = nullptr;
};

}  // namespace orvane::app
