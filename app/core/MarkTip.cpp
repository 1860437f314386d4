#include "MarkTip.h"

namespace orvane::app {

std::string EscapeTipText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        out += c;
        if (c == '<') out += '<';
        // The engine replaces its entities one after another, so "&amp;lt;"
        // would still come out as "<": a carriage return, which it drops only
        // after the last entity, keeps any "&" from starting one.
        if (c == '&') out += '\r';
    }
    return out;
}

std::string MarkTipText(const Mark& mark) {
    if (mark.name.empty() && mark.comment.empty()) return {};
    std::string name = EscapeTipText(mark.name);
    // Characters, not bytes, as the width of "%4s" counted them; the
    // carriage returns of the escape show as nothing.
    size_t characters = 0;
    for (unsigned char c : name) characters += (c & 0xC0) != 0x80 && c != '\r';
    if (characters < 4) name.insert(0, 4 - characters, ' ');
    return name + "<br><hr color=blue><font color=blue><br>" + EscapeTipText(mark.comment) + "</font>";
}

}  // namespace orvane::app
