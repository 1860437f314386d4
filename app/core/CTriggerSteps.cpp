#include "CTriggerSteps.h"

#include <utility>

#include "FindCondition.h"

namespace orvane::app {

const CTriggerSteps::ColumnInfo CTriggerSteps::kColumnInfo[kColumns] = {
    {"编号", 40}, {"地址", 80}, {"端点", 320}, {"令牌PID", 70}, {"数据PID", 70}, {"握手PID", 70},
    {"数据(?表示任意数据)", 200},
};

namespace {
constexpr CTriggerSteps::PidBox kToken[] = {
    {0xF00, "全选"}, {MaskSetup, "SETUP"}, {MaskIn, "IN"}, {MaskOut, "OUT"}, {MaskSof, "SOF"}};
constexpr CTriggerSteps::PidBox kData[] = {
    {0x0F0, "全选"}, {MaskData0, "DATA0"}, {MaskData1, "DATA1"}, {MaskData2, "DATA2"}, {MaskMData, "MDATA"}};
constexpr CTriggerSteps::PidBox kHandshake[] = {
    {0x00F, "全选"}, {MaskAck, "ACK"}, {MaskNak, "NAK"}, {MaskStall, "STALL"}, {MaskNyet, "NYET"}};
constexpr int kEndpointBoxes = 17;
}  // namespace

const CTriggerSteps::PidBox* CTriggerSteps::PidBoxes(int column)
{
    switch (column) {
    case ColToken: return kToken;
    case ColData: return kData;
    case ColHandshake: return kHandshake;
    default: return nullptr;
    }
}

CTriggerSteps::Box CTriggerSteps::EndpointBox(int i, int cellLeft, int rowTop)
{
    // 17 pixels apart, the "全选" box 22 after the last endpoint.
    const int left = cellLeft + kCellIndent + i * 17 + (i == kEndpointBoxes - 1 ? 5 : 0);
    const int top = rowTop + (kRowHeight - kBoxSize) / 2;
    return {left, top, left + kBoxSize, top + kBoxSize};
}

CTriggerSteps::Box CTriggerSteps::PidBoxRect(int i, int cellLeft, int rowTop)
{
    // 8 pixels down, 10 after the first box, 2 between the others.
    const int top = rowTop + 8 + (i > 0 ? kBoxSize + 10 + (i - 1) * (kBoxSize + 2) : 0);
    const int left = cellLeft + kCellIndent;
    return {left, top, left + kBoxSize, top + kBoxSize};
}

bool CTriggerSteps::Add()
{
    if (steps_.size() >= kMaxSteps) return false;
    steps_.push_back(TriggerStep{});
    return true;
}

int CTriggerSteps::Remove(int selected)
{
    if (selected < 0 || size_t(selected) >= steps_.size()) return -1;
    steps_.erase(steps_.begin() + selected);
    if (steps_.empty()) return -1;
    return selected < int(steps_.size()) ? selected : selected - 1;
}

int CTriggerSteps::MoveUp(int selected)
{
    if (selected < 1 || size_t(selected) >= steps_.size()) return selected;
    std::swap(steps_[size_t(selected)], steps_[size_t(selected) - 1]);
    return selected - 1;
}

int CTriggerSteps::MoveDown(int selected)
{
    if (selected < 0 || size_t(selected) + 1 >= steps_.size()) return selected;
    std::swap(steps_[size_t(selected)], steps_[size_t(selected) + 1]);
    return selected + 1;
}

CTriggerSteps::ButtonStates CTriggerSteps::States(int selected) const
{
    const bool row = selected >= 0 && size_t(selected) < steps_.size();
    return {row, !steps_.empty(), row && selected >= 1, row && size_t(selected) + 1 < steps_.size()};
}

bool CTriggerSteps::EndpointTicked(const TriggerStep& step, int i)
{
    if (i == kEndpointBoxes - 1) return step.endpoint == 0xFFFF;
    return (step.endpoint >> (15 - i)) & 1;
}

void CTriggerSteps::ClickEndpoint(TriggerStep& step, int i)
{
    if (i == kEndpointBoxes - 1)
        step.endpoint = step.endpoint == 0xFFFF ? 0 : 0xFFFF;
    else if (i >= 0 && i < kEndpointBoxes - 1)
        step.endpoint = uint16_t(step.endpoint ^ (1u << (15 - i)));
}

void CTriggerSteps::ClickPid(TriggerStep& step, uint16_t bits)
{
    if (step.pidMask & bits) step.pidMask = uint16_t(step.pidMask & ~bits);
    else step.pidMask = uint16_t(step.pidMask | bits);
}

bool CTriggerSteps::ClickAt(TriggerStep& step, int column, int x, int y)
{
    if (column == ColEndpoint) {
        for (int i = 0; i < kEndpointBoxes; ++i)
            if (EndpointBox(i, 0, 0).Contains(x, y)) {
                ClickEndpoint(step, i);
                return true;
            }
        return false;
    }
    const PidBox* boxes = PidBoxes(column);
    if (!boxes) return false;
    for (int i = 0; i < kPidBoxes; ++i) {
        Box b = PidBoxRect(i, 0, 0);
        b.right = b.left + kPidHitWidth;
        if (b.Contains(x, y)) {
            ClickPid(step, boxes[i].bits);
            return true;
        }
    }
    return false;
}

void CTriggerSteps::Commit(TriggerStep& step, const std::string& addressText, const std::string& dataText)
{
    step.address = TriggerAddressOfText(addressText);
    step.data = FindText::Trimmed(dataText);
}

std::string CTriggerSteps::AddressCellText(uint8_t address)
{
    return address > 254 ? std::string("<任意地址>") : std::to_string(address);
}

std::string CTriggerSteps::PatternCellText(const std::string& data)
{
    if (data.empty()) return "<空数据包>";
    if (data == "?") return "<任意数据>";
    return data;
}

bool CTriggerSteps::PatternCut() const
{
    for (const TriggerStep& s : steps_)
        if (PatternTokens(s.data) > kMaxPatternTokens) return true;
    return false;
}

}  // namespace orvane::app
