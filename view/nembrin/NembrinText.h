// The data pane's own texts and settings keys.
#pragma once

namespace orvane::nembrin::text {

constexpr const char* kViewTitle = "数据";
constexpr const char* kSettingsOrg = "Kavrin";
constexpr const char* kSettingsApp = "Orvane";
constexpr const char* kSettingsGroup = "Nembrin";
constexpr const char* kFindGroup = "Nembrin/FindDialog";

constexpr const char* kMainMenu = "主菜单";
constexpr const char* kCopy = "复制(CTRL + C)";
constexpr const char* kFind = "查找(CTRL + F)";

constexpr const char* kFindCaption = "查找";
constexpr const char* kFindAll = "查找所有";
constexpr const char* kFindNext = "下一个";
constexpr const char* kFindPrev = "上一个";
constexpr const char* kPromptCaption = "提示消息";
constexpr const char* kErrorCaption = "错误提示";
constexpr const char* kBadPattern = "输入的查找内容有误";
constexpr const char* kNotFound = "未找到相应数据！";
constexpr const char* kAtStart = "已到达查找其实位置";

}  // namespace orvane::nembrin::text
