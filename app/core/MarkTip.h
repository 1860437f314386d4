// The packet list's tip for a bookmarked row: the mark's name over its
// comment. Names and comments are user or capture text, never markup.
#pragma once

#include <string>

#include "IEventBus.h"

namespace orvane::app {

// "<" doubled, the tip engine's own escape, so no text can open a tag, and
// every "&" followed by a carriage return, so none starts an entity.
std::string EscapeTipText(const std::string& text);

// "%4s<br><hr color=blue><font color=blue><br>%s</font>" with the escaped
// name (padded to four characters) and comment; empty when both are empty.
std::string MarkTipText(const Mark& mark);

}  // namespace orvane::app
