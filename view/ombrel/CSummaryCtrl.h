// The summary plug-in's view object: what the host holds. It counts the
// capture when the parse is published, on the publishing thread while the
// tree is sure to be valid, and hands the filled rows to its window on the
// GUI thread. The bookmarks it reads on the GUI thread, where they are edited.
#pragma once

#include <atomic>
#include <vector>

#include "CUsbViewFrame.h"
#include "SummaryStats.h"

namespace orvane::ombrel {

class CSummaryPane;

class CSummaryCtrl : public view::CUsbViewFrame, public IEventHandler {
public:
    static constexpr uint32_t kViewId = 4005;

    CSummaryCtrl();
    ~CSummaryCtrl() override;

    int32_t SetPublisher(IEventPublisher*) override { return 0; }
    int32_t OnEvent(IEventHandler* sender, int32_t type, intptr_t param1, intptr_t param2) override;

    CSummaryPane* Pane() const;
    // What the window shows: the filled tree and the marks its bookmark group lists.
    const std::vector<SummaryRow>& Rows() const { return rows_; }
    const std::vector<Mark>& Marks() const { return marks_; }
    // A double-click on a bookmark row's text.
    void GoToMark(const std::string& text);

protected:
    QWidget* CreateWindow(QWidget* parent) override;
    IEventHandler* Handler() override { return this; }

private:
    void Show();

    std::atomic<IDataSource*> source_{nullptr};
    std::atomic<uint64_t> generation_{0};  // counts clears
    SummaryStats stats_;  // touched only by the publishing thread of a parse
    std::vector<SummaryRow> rows_ = FixedTree();
    std::vector<Mark> marks_;
};

}  // namespace orvane::ombrel
