#include "CPacketListCommands.h"

#include <algorithm>

#include "COrvaneDoc.h"
#include "SetupXml.h"
#include "TriggerStep.h"

namespace orvane::app {

const std::vector<CPacketListCommands::MenuEntry>& CPacketListCommands::RowMenu()
{
    static const std::vector<MenuEntry> kMenu = {
        {CmdCopy, "复制"},
        {CmdToggleSubtree, "展开/折叠"},
        {0, ""},
        {CmdFindCondition, "设为查找条件"},
        {CmdFindSettings, "查找设置..."},
        {CmdFindPrev, "上一个"},
        {CmdFindNext, "下一个"},
        {0, ""},
        {CmdSetTrigger, "设为触发条件"},
        {CmdAddTrigger, "添加触发条件"},
        {CmdGoToTrigger, "到触发位置"},
        {CmdTriggerSettings, "触发设置..."},
        {0, ""},
        {CmdAddMark, "添加标签..."},
        {CmdEditMark, "编辑标签..."},
        {CmdDeleteMark, "删除标签"},
        {CmdDeleteAllMarks, "删除全部标签"},
        {CmdPrevMark, "上一个标签"},
        {CmdNextMark, "下一个标签"},
    };
    return kMenu;
}

int CPacketListCommands::MarkCount()
{
    IBookmark* marks = list_.Bookmarks();
    return marks ? marks->GetCount() : 0;
}

bool CPacketListCommands::Enabled(int id, int selected)
{
    switch (id) {
    case CmdGoToTrigger:
        return list_.TriggerRecord() != -1;
    case CmdAddMark:
        return ItemAt(selected) != nullptr;
    case CmdEditMark:
    case CmdDeleteMark:
        return MarkAtRow(selected) >= 0;
    case CmdDeleteAllMarks:
    case CmdPrevMark:
    case CmdNextMark:
        return MarkCount() > 0;
    default:
        return true;
    }
}

bool CPacketListCommands::RowMenuEnabled(int id, int selected)
{
    switch (id) {
    case CmdCopy:
    case CmdToggleSubtree:
    case CmdSetTrigger:
    case CmdFindCondition:
        if (!ItemAt(selected)) return false;
        break;
    default:
        break;
    }
    return Enabled(id, selected);
}

CPacketListCommands::TriggerResult CPacketListCommands::SetTriggerCondition(int row, bool append, bool* patternCut)
{
    if (patternCut) *patternCut = false;
    UsbItem* item = ItemAt(row);
    if (!item) return TriggerResult::NoItem;
    std::vector<UsbItem*> packets;
    CollectPackets(item, packets);
    std::vector<TriggerStep> steps;
    bool cut = false;
    BuildTriggerSteps(packets, steps, list_.Cells().Decoder(), &cut);

    std::unique_lock<std::mutex> guard;
    if (docLock_) guard = std::unique_lock<std::mutex>(*docLock_);
    SetupXml setup;
    if (doc_) setup.LoadOrDefault(doc_->GetSetup());
    // Written into the setup before anything else moves, so that a refusal
    // leaves the trigger row and the stored steps as they were.
    if (!steps.empty() && !setup.WriteTriggerSteps(steps, append)) return TriggerResult::Refused;
    if (doc_) {
        doc_->SetTriggerRecord(int32_t(list_.Rows().LastRecordOf(item)));
        // An item that gives no step keeps the steps there are rather than clearing them.
        if (!steps.empty()) doc_->SetSetup(setup.Text());
        doc_->SetModified(true);
    }
    if (patternCut) *patternCut = cut && !steps.empty();
    return steps.empty() ? TriggerResult::NoSteps : TriggerResult::Stored;
}

bool CPacketListCommands::ProposeMark(int row, Mark& out)
{
    UsbItem* item = ItemAt(row);
    if (!item) return false;
    ItemSummary summary;
    list_.Cells().GetRowSummary(item, summary);
    out.packet = int32_t(item->firstRecord);
    out.name = summary.name;
    out.comment.clear();
    return true;
}

void CPacketListCommands::MarksEdited()
{
    list_.InvalidateMarkRows();
    // The marks are saved with the project: closing must not drop them unasked.
    if (!doc_) return;
    std::unique_lock<std::mutex> guard;
    if (docLock_) guard = std::unique_lock<std::mutex>(*docLock_);
    doc_->SetModified(true);
}

bool CPacketListCommands::AddMark(const Mark& mark)
{
    IBookmark* marks = list_.Bookmarks();
    if (!marks || !marks->Add(mark)) return false;
    MarksEdited();
    return true;
}

bool CPacketListCommands::EditMark(int index, const std::string& name, const std::string& comment)
{
    IBookmark* marks = list_.Bookmarks();
    Mark mark;
    if (!marks || !marks->GetAt(index, &mark)) return false;
    mark.name = name;
    mark.comment = comment;
    if (!marks->Modify(index, mark)) return false;
    MarksEdited();
    return true;
}

bool CPacketListCommands::DeleteMark(int row)
{
    const int index = MarkAtRow(row);
    IBookmark* marks = list_.Bookmarks();
    if (index < 0 || !marks || !marks->Remove(index)) return false;
    MarksEdited();
    return true;
}

bool CPacketListCommands::DeleteAllMarks()
{
    IBookmark* marks = list_.Bookmarks();
    if (!marks || marks->GetCount() <= 0) return false;
    marks->RemoveAll();
    MarksEdited();
    return true;
}

int CPacketListCommands::WalkMarks(int32_t start, bool next)
{
    IBookmark* marks = list_.Bookmarks();
    if (!marks) return -1;
    // Marks on packets that no row shows (hidden SOFs, or past the end of a
    // damaged capture) are passed over, perhaps by the hundred thousand: one
    // search finds where the walk begins, and the marks from there are placed
    // in batches, each in one pass over the rows, the batch doubling so that
    // the nearest shown mark still comes first and few passes are made.
    int32_t index = next ? marks->FindNext(&start) : marks->FindPrev(&start);
    bool more = index >= 0;
    std::vector<uint32_t> records;
    for (size_t batch = 1; more; batch *= 2) {
        records.clear();
        Mark mark;
        while (records.size() < batch && (more = marks->GetAt(index, &mark) != 0)) {
            index += next ? 1 : -1;
            if (mark.packet >= 0) records.push_back(uint32_t(mark.packet));
        }
        // Backwards the marks come last first; the rows are placed in ascending order.
        if (!next) std::reverse(records.begin(), records.end());
        const std::vector<int> rows = list_.Rows().RowsOfRecords(records);
        if (next) {
            for (int row : rows)
                if (row >= 0) return row;
        } else {
            for (auto row = rows.rbegin(); row != rows.rend(); ++row)
                if (*row >= 0) return *row;
        }
    }
    return -1;
}

int CPacketListCommands::PrevMarkRow(int selected)
{
    // From the row's earliest packet: its members may be kept newest first.
    UsbItem* item = ItemAt(selected);
    const int32_t start = item ? int32_t(list_.Rows().FirstRecordOf(item)) : -1;
    if (start == 0) return kStay;
    return WalkMarks(start, false);
}

int CPacketListCommands::NextMarkRow(int selected)
{
    // From the row after the selection (the first row without one), so a mark
    // on that row's own packet is found; past the last row from the start.
    UsbItem* item = ItemAt(selected < 0 ? 0 : selected + 1);
    const int32_t start = item ? int32_t(list_.Rows().FirstRecordOf(item)) - 1 : -2;
    return WalkMarks(start, true);
}

}  // namespace orvane::app
