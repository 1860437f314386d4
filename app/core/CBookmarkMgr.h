// The document's bookmarks: marks kept sorted by packet, a new one going before
// equal ones, and their `marks` element in the project file. Every operation
// holds the manager's lock: MarksChanged hands it to the view plug-ins on the
// capture worker after a parse, where a plug-in may read the marks while the
// packet list edits them on the UI thread.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "IEventBus.h"

namespace orvane::app {

class CBookmarkMgr : public IBookmark {
public:
    CBookmarkMgr() = default;
    virtual ~CBookmarkMgr() = default;

    int32_t GetCount() override;
    // 0, leaving `out` alone, for an index out of range or a null `out`.
    int32_t GetAt(int32_t index, Mark* out) override;
    int32_t Add(const Mark& mark) override;
    // 0 for an index out of range or another packet than the stored one: a mark never moves.
    int32_t Modify(int32_t index, const Mark& mark) override;
    int32_t Remove(int32_t index) override;
    int32_t RemoveAll() override;
    // Index of the first mark after (FindNext) or last before (FindPrev) *packet,
    // whose packet is written back; -1 and nothing written when there is none.
    int32_t FindNext(int32_t* packet) override;
    int32_t FindPrev(int32_t* packet) override;
    // `project`: any node of the project document. Load reads every `mark`
    // element; save rewrites the `marks` element, made under the root when
    // missing. 0 and nothing changed for a null node or a document without root.
    int32_t Serialize(xml::Node* project, int32_t load) override;

    // A `packet` attribute's value: leading decimal digits with an optional
    // sign, 0 without digits, taken modulo 2^32 so "%u" text reads back as written.
    static int32_t ParsePacket(const std::string& text);

    // Exchanges the marks with `other`'s: an open loads aside and takes them over only when it succeeds.
    void Swap(CBookmarkMgr& other) noexcept;

private:
    // These three expect lock_ held.
    bool InRange(int32_t index) const { return index >= 0 && size_t(index) < marks_.size(); }
    int32_t Load(const xml::Node& project);
    int32_t Save(const xml::Node& project);

    mutable std::mutex lock_;
    std::vector<Mark> marks_;
};

}  // namespace orvane::app
