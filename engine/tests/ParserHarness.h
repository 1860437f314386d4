// Runs the parser over built traffic and describes the tree it hands out.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "BusTrafficBuilder.h"
#include "CUsbParser.h"
#include "CaptureSource.h"
#include "ItemTree.h"

namespace orvane::testing {

class CollectingSink : public IProgress {
public:
    std::unique_ptr<UsbItem> rootItem_ = std::make_unique<UsbItem>();
    UsbItem& root = *rootItem_;
    std::vector<float> progress;
    int finished = 0;

    ~CollectingSink() { FreeChildren(&root); }
    int32_t OnItem(UsbItem* item) override {
        root.Append(item);
        return 1;
    }
    int32_t OnProgress(float fraction) override {
        progress.push_back(fraction);
        return 1;
    }
    int32_t OnFinish() override {
        ++finished;
        return 1;
    }
    int32_t Reserved() override { return 0; }
};

// "type@address.endpoint:status(children)", the parts present only when set.
inline std::string Describe(const UsbItem* item) {
    std::string s = std::to_string(item->type);
    if (item->address != kNone) s += "@" + std::to_string(item->address) + "." + std::to_string(item->endpoint);
    if (item->status != kNone) s += ":" + std::to_string(item->status);
    if (!item->children.empty() && item->type >= 16) {
        s += "(";
        for (uint32_t i = 0; i < item->children.size(); ++i) {
            if (i) s += " ";
            s += Describe(item->children[i]);
        }
        s += ")";
    }
    return s;
}

inline std::string Describe(const CollectingSink& sink) {
    std::string s;
    for (auto* item : sink.root.children) s += (s.empty() ? "" : " ") + Describe(item);
    return s;
}

// Every record exactly once among the packet leaves is what a correct parse of
// any capture gives (damaged PIDs may overtake a pending run, so order aside).
inline void CollectLeaves(const UsbItem* item, std::vector<uint32_t>& out) {
    if (item->children.empty()) {
        out.push_back(item->firstRecord);
        return;
    }
    for (auto* child : item->children) {
        EXPECT_TRUE(child->parent == item);
        CollectLeaves(child, out);
    }
}

inline void ExpectEveryRecordOnce(const CollectingSink& sink, size_t records) {
    std::vector<uint32_t> leaves;
    for (auto* item : sink.root.children) CollectLeaves(item, leaves);
    ASSERT_EQ(leaves.size(), records);
    std::sort(leaves.begin(), leaves.end());
    for (uint32_t i = 0; i < leaves.size(); ++i) ASSERT_EQ(leaves[i], i);
}

inline std::string Parse(emu::BusCapture capture, CollectingSink& sink) {
    emu::CaptureSource source(std::move(capture));
    CUsbParser parser;
    parser.SetDataSource(&source);
    EXPECT_EQ(parser.Parse(&sink), 1);
    EXPECT_EQ(sink.finished, 1);
    return Describe(sink);
}

}  // namespace orvane::testing
