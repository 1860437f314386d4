// Runs the parser over built traffic and describes the tree it hands out.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
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

// The window's hand-over: a worker thread's parse or decoding passes each item
// on, and the UI thread describes the newest rows it holds while the worker
// goes on, as a painting list does. Every `pauseEvery` items the worker waits
// until the UI has described the rows once more, without synchronising with
// it, so the two threads overlap however the scheduler runs them.
class HandOffSink : public CollectingSink {
public:
    static constexpr size_t pauseEvery = 16;

    int32_t OnItem(UsbItem* item) override {
        root.Append(item);
        size_t count;
        {
            std::lock_guard lock(mutex_);
            handed_.push_back(item);
            count = handed_.size();
        }
        if (count % pauseEvery == 0) {
            const uint32_t seen = passes_.load(std::memory_order_relaxed);
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
            while (passes_.load(std::memory_order_relaxed) < seen + 2 && std::chrono::steady_clock::now() < until)
                std::this_thread::yield();
        }
        return 1;
    }
    int32_t OnFinish() override {
        done_.store(true, std::memory_order_release);
        return CollectingSink::OnFinish();
    }

    // UI thread, while `worker` runs: describes the newest rows handed over
    // (and their members) with `describe` until the worker ends.
    template <class Describe>
    void DescribeWhile(std::thread& worker, Describe describe) {
        for (bool done = false; !done;) {
            done = done_.load(std::memory_order_acquire);
            std::vector<UsbItem*> rows;
            {
                std::lock_guard lock(mutex_);
                rows.assign(handed_.end() - std::min<size_t>(handed_.size(), 2 * pauseEvery), handed_.end());
            }
            for (UsbItem* row : rows) {
                describe(row);
                for (UsbItem* member : row->children) describe(member);
            }
            passes_.fetch_add(1, std::memory_order_relaxed);
        }
        worker.join();
    }

private:
    std::mutex mutex_;
    std::vector<UsbItem*> handed_;
    std::atomic<uint32_t> passes_{0};
    std::atomic<bool> done_{false};
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
        // A SOF run of the transfer level leaves its SOFs the parent the parser
        // gave them: their group, or the root a lone one was handed out at.
        const UsbItem* given = child->parent;
        const bool sofRun = item->type == ItemSofGroup && child->type == PidSof && given &&
                            (given->type == ItemSofGroup || (given->type == ItemBusEvent && !given->parent));
        EXPECT_TRUE(child->parent == item || sofRun);
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
