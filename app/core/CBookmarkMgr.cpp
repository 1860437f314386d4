#include "CBookmarkMgr.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "Document.h"

namespace orvane::app {

int32_t CBookmarkMgr::GetCount()
{
    std::lock_guard guard(lock_);
    return int32_t(marks_.size());
}

int32_t CBookmarkMgr::GetAt(int32_t index, Mark* out)
{
    std::lock_guard guard(lock_);
    if (!out || !InRange(index)) return 0;
    *out = marks_[size_t(index)];
    return 1;
}

int32_t CBookmarkMgr::Add(const Mark& mark)
{
    std::lock_guard guard(lock_);
    auto at = std::lower_bound(marks_.begin(), marks_.end(), mark.packet,
                               [](const Mark& m, int32_t value) { return m.packet < value; });
    marks_.insert(at, mark);
    return 1;
}

int32_t CBookmarkMgr::Modify(int32_t index, const Mark& mark)
{
    std::lock_guard guard(lock_);
    if (!InRange(index)) return 0;
    Mark& stored = marks_[size_t(index)];
    if (stored.packet != mark.packet) return 0;
    stored.name = mark.name;
    stored.comment = mark.comment;
    return 1;
}

int32_t CBookmarkMgr::Remove(int32_t index)
{
    std::lock_guard guard(lock_);
    if (!InRange(index)) return 0;
    marks_.erase(marks_.begin() + index);
    return 1;
}

int32_t CBookmarkMgr::RemoveAll()
{
    std::lock_guard guard(lock_);
    marks_.clear();
    return 1;
}

int32_t CBookmarkMgr::FindNext(int32_t* packet)
{
    if (!packet) return -1;
    std::lock_guard guard(lock_);
    // The marks are sorted by packet: a search, not a walk, however many there are.
    auto at = std::upper_bound(marks_.begin(), marks_.end(), *packet,
                               [](int32_t value, const Mark& m) { return value < m.packet; });
    if (at == marks_.end()) return -1;
    *packet = at->packet;
    return int32_t(at - marks_.begin());
}

int32_t CBookmarkMgr::FindPrev(int32_t* packet)
{
    if (!packet) return -1;
    std::lock_guard guard(lock_);
    auto at = std::lower_bound(marks_.begin(), marks_.end(), *packet,
                               [](const Mark& m, int32_t value) { return m.packet < value; });
    if (at == marks_.begin()) return -1;
    --at;
    *packet = at->packet;
    return int32_t(at - marks_.begin());
}

void CBookmarkMgr::Swap(CBookmarkMgr& other) noexcept
{
    if (&other == this) return;
    std::scoped_lock guard(lock_, other.lock_);
    marks_.swap(other.marks_);
}

int32_t CBookmarkMgr::ParsePacket(const std::string& text)
{
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    uint32_t value = 0;  // wraps by design; no overflow to fear
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
        value = value * 10u + uint32_t(text[i] - '0');
    if (negative) value = 0u - value;
    return int32_t(value);
}

int32_t CBookmarkMgr::Serialize(xml::Node* project, int32_t load)
{
    if (!project || project->isNull()) return 0;
    std::lock_guard guard(lock_);
    return load ? Load(*project) : Save(*project);
}

int32_t CBookmarkMgr::Load(const xml::Node& project)
{
    std::vector<xml::Node> elements = project.selectNodes("//mark");
    // Sorted once, by packet and then last in the file first: the order adding
    // each in turn gives (a new mark goes before equal ones), without inserting
    // into the middle of the sequence each time.
    std::vector<std::pair<int32_t, uint32_t>> order;  // packet, index from the file's end
    order.reserve(elements.size());
    for (size_t i = 0; i < elements.size(); ++i)
        order.emplace_back(ParsePacket(elements[i].attribute("packet").value_or("")), uint32_t(elements.size() - 1 - i));
    std::sort(order.begin(), order.end());
    marks_.clear();
    marks_.reserve(order.size());
    for (const auto& [packet, fromEnd] : order) {
        const xml::Node& element = elements[elements.size() - 1 - fromEnd];
        // A mark without a packet is kept at packet 0 rather than dropped.
        marks_.push_back(Mark{packet, element.attribute("name").value_or(""), element.attribute("comment").value_or("")});
    }
    return 1;
}

int32_t CBookmarkMgr::Save(const xml::Node& project)
{
    // New elements are made in a scratch document; appending copies them in.
    xml::Document scratch;
    xml::Node marks = project.selectSingleNode("//marks");
    if (!marks) {
        xml::Node root = project.selectSingleNode("/*");
        if (!root) return 0;
        marks = root.appendChild(scratch.createElement("marks"));
        if (!marks) return 0;
    }
    // Freed, not detached: nothing holds the old elements, and a project saved
    // again and again would keep every earlier copy of its marks.
    for (const xml::Node& child : marks.childNodes()) marks.deleteChild(child);
    for (const Mark& mark : marks_) {
        xml::Node element = scratch.createElement("mark");
        char packet[16];
        std::snprintf(packet, sizeof packet, "%u", uint32_t(mark.packet));
        element.setAttribute("packet", packet);
        element.setAttribute("name", mark.name);
        element.setAttribute("comment", mark.comment);
        marks.appendChild(element);
    }
    return 1;
}

}  // namespace orvane::app
