// The pane's commands: ids, prompts, and the rule that enables and checks
// the zoom tools from the current chart's zoom tests.
#pragma once

#include <array>
#include <cstdint>

namespace orvane::velmora {

enum Command : uint32_t {
    CmdPointer = 32811, CmdZoomOutH = 32772, CmdZoomInH = 32771, CmdFitH = 32778,
    CmdZoomOutV = 32797, CmdZoomInV = 32794, CmdFitV = 32796, CmdSyncViews = 32802, CmdViewList = 32791,
    CmdChartFirst = 42784,  // 42784-42788: one per chart class
};

// Group commands the charts hand to the pane, and the codes the pane passes on.
enum GroupCommand : uint32_t { GroupZoomIn = 40705, GroupZoomOut = 40706, GroupScroll = 40707, GroupFit = 3844 };

struct CommandInfo {
    uint32_t id;
    const char* prompt;
};

// The tool bar in its order; 0 is the separator.
constexpr std::array<CommandInfo, 10> kToolbar = {{
    {CmdPointer, "选择指针"}, {CmdZoomOutH, "水平缩小"}, {CmdZoomInH, "水平放大"}, {CmdFitH, "水平全屏"},
    {CmdZoomOutV, "垂直缩小"}, {CmdZoomInV, "垂直放大"}, {CmdFitV, "垂直全屏"}, {0, nullptr},
    {CmdSyncViews, "同步视图"}, {CmdViewList, "视图列表"},
}};

// What the current chart answers.
struct ZoomTests {
    bool canZoomInH = false, canZoomOutH = false, isFitH = false;
    bool canZoomInV = false, canZoomOutV = false, isFitV = false;
};

struct CommandState {
    bool enabled = false;
    bool checked = false;
    friend bool operator==(const CommandState&, const CommandState&) = default;
};

// The state of a zoom tool (CmdPointer and the six zoom commands). A tool
// that is disabled while active hands the mode back to the pointer.
inline CommandState ZoomToolState(uint32_t id, bool hasChart, bool hasSource, const ZoomTests& t,
                                  uint32_t* toolMode)
{
    CommandState state;
    if (!hasChart || (!hasSource && id != CmdPointer)) {
        state.enabled = false;
    } else {
        switch (id) {
        case CmdPointer: state.enabled = true; break;
        case CmdZoomOutH: state.enabled = t.canZoomOutH; break;
        case CmdZoomInH: state.enabled = t.canZoomInH; break;
        case CmdFitH: state.enabled = !t.isFitH; break;
        case CmdZoomOutV: state.enabled = t.canZoomOutV; break;
        case CmdZoomInV: state.enabled = t.canZoomInV; break;
        case CmdFitV: state.enabled = !t.isFitV; break;
        default: break;
        }
    }
    if (!state.enabled && *toolMode == id) {
        *toolMode = CmdPointer;
        state.checked = false;
    } else {
        state.checked = *toolMode == id;
    }
    return state;
}

// A tool command: on, or back to the pointer when it already was on.
inline uint32_t PickTool(uint32_t toolMode, uint32_t id)
{
    return id == CmdPointer ? CmdPointer : (toolMode == id ? uint32_t(CmdPointer) : id);
}

}  // namespace orvane::velmora
