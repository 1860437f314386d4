// The trigger page's steps without the widget: the step list with its
// buttons' operations and states, what a click on a drawn check box changes,
// and where those boxes are drawn in a row.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "SetupXml.h"
#include "TriggerStep.h"

namespace orvane::app {

class CTriggerSteps {
public:
    static constexpr size_t kMaxSteps = SetupXml::kMaxSteps;
    static constexpr const char* kTooManyText = "最多支持16级触发！";
    static constexpr const char* kClearQuestion = "所有触发设置将清空！";

    // ---- the drawn row ----
    static constexpr int kRowHeight = 120;
    static constexpr int kBoxSize = 16;
    static constexpr int kCellIndent = 5;
    struct Box {
        int left, top, right, bottom;  // right and bottom exclusive
        bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
    };
    struct PidBox {
        uint16_t bits;
        const char* label;
    };
    enum Column { ColNumber, ColAddress, ColEndpoint, ColToken, ColData, ColHandshake, ColPattern, kColumns };
    struct ColumnInfo {
        const char* title;
        int width;
    };
    static const ColumnInfo kColumnInfo[kColumns];
    // Five boxes of a PID column (3-5): "全选" first.
    static const PidBox* PidBoxes(int column);
    static constexpr int kPidBoxes = 5;
    // Box i of 17 in the endpoint cell: endpoints 15 down to 0, then "全选".
    static Box EndpointBox(int i, int cellLeft, int rowTop);
    static Box PidBoxRect(int i, int cellLeft, int rowTop);
    static constexpr int kPidLabelOffset = 25;
    static constexpr int kPidHitWidth = 40;

    // ---- steps ----
    std::vector<TriggerStep>& Steps() { return steps_; }
    const std::vector<TriggerStep>& Steps() const { return steps_; }
    size_t Count() const { return steps_.size(); }

    void Load(const SetupXml& setup) { steps_ = setup.LoadTriggerSteps(); }
    // Replaces the document's steps; false (nothing written) past 16.
    bool Store(SetupXml& setup) const { return setup.WriteTriggerSteps(steps_, false); }

    // A step matching everything; false at 16 steps.
    bool Add();
    // Answers the row to select afterwards (-1 none).
    int Remove(int selected);
    void Clear() { steps_.clear(); }
    int MoveUp(int selected);
    int MoveDown(int selected);

    struct ButtonStates {
        bool remove, clear, up, down;
    };
    ButtonStates States(int selected) const;

    // ---- clicks on the drawn boxes ----
    // Endpoint box i as EndpointBox numbers them.
    static void ClickEndpoint(TriggerStep& step, int i);
    // Clears the box's bits when any is set, else sets them all.
    static void ClickPid(TriggerStep& step, uint16_t bits);
    static bool EndpointTicked(const TriggerStep& step, int i);
    static bool PidTicked(const TriggerStep& step, uint16_t bits) { return (step.pidMask & bits) == bits; }
    // Applies a click at (x, y) inside the row's cell of `column` (cell-relative
    // to the cell's left and the row's top); true when a box was hit.
    static bool ClickAt(TriggerStep& step, int column, int x, int y);

    // The in-place edits: address and pattern texts committed into a step.
    static void Commit(TriggerStep& step, const std::string& addressText, const std::string& dataText);
    // The texts drawn in the address and pattern cells.
    static std::string AddressCellText(uint8_t address);
    static std::string PatternCellText(const std::string& data);
    // Whether any step's pattern is longer than the analyser compares.
    bool PatternCut() const;

private:
    std::vector<TriggerStep> steps_;
};

}  // namespace orvane::app
