// The main window over the emulated analyser: a capture fills the list, a
// selected row fills the detail pane, the transfer level decodes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QTest>
#include <QTreeWidget>

#include <memory>
#include <mutex>
#include <vector>

#include "CDevice.h"
#include "CDetailGroup.h"
#include "CMainFrame.h"
#include "CPacketListModel.h"
#include "CPanelDetail.h"
#include "CPanelDevice.h"
#include "CUsbListCtrl.h"
#include "EmulatedAnalyser.h"
#include "GuiTestSupport.h"
#include "QtTestEnvironment.h"
#include "SessionBuilder.h"

using namespace orvane;
using namespace orvane::app;

namespace {

[[maybe_unused]] ::testing::Environment* const kQt =
    ::testing::AddGlobalTestEnvironment(new orvane::testing::QtEnvironment);

struct RangeLog : IEventHandler {
    int32_t SetPublisher(IEventPublisher*) override { return 0; }
    int32_t OnEvent(IEventHandler*, int32_t type, intptr_t p1, intptr_t p2) override {
        std::lock_guard lock(mutex);
        if (type == EventByteRangeSelected) ranges.emplace_back(int32_t(p1), int32_t(p2));
        return 1;
    }
    std::mutex mutex;
    std::vector<std::pair<int32_t, int32_t>> ranges;
};

// A bound against hanging, not a timing assertion.
constexpr int kBoundMs = 60000;

}  // namespace

TEST(MainFrame, CaptureFillsTheListTheDetailAndTheTransferLevel) {
    emu::EmulatedAnalyser emu;
    emu::SessionBuilder::Options session;
    session.operations = 20;
    emu.SetTraffic(emu::SessionBuilder(session).Build());
    // Released by the worker at shut-down.
    auto* device = new pardix::CDevice(&emu, "orvane-gui-test-" + std::to_string(::getpid()));
    CMainFrame frame(device);
    RangeLog log;
    frame.Publisher().Subscribe(&log);
    frame.show();
    CPacketListModel& model = *frame.ListModel();
    CCaptureWorker& worker = frame.Worker();

    ASSERT_TRUE(QTest::qWaitFor([&] { return worker.CanStart(); }, kBoundMs));
    frame.OnStartRecord(true);  // as the command line's capture: the default settings
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return worker.IsIdle() && worker.DataAvailable() && test::AllRowsShown(model); }, kBoundMs));
    EXPECT_EQ(model.Decoder(), static_cast<IDecode*>(&frame.Document().Parser()));
    EXPECT_FALSE(model.data(model.index(0, CPacketListCells::ColItem), Qt::DisplayRole).toString().isEmpty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return frame.DevicePane()->Tree()->topLevelItemCount() > 0; }, kBoundMs));
    EXPECT_TRUE(frame.DevicePane()->Tree()->topLevelItem(0)->text(0).startsWith("Address 5"));

    // The first row whose decoder gives a detail fills the pane when selected.
    CUsbListCtrl& list = *frame.ListCtrl();
    CPanelDetail& detail = *frame.DetailPane();
    for (int row = 0; row < model.rowCount() && detail.GroupCount() == 0; ++row) {
        list.setCurrentIndex(model.index(row, 0));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !detail.SelectionPending(); }));
    }
    ASSERT_GT(detail.GroupCount(), 0);
    ASSERT_FALSE(detail.FieldRanges().empty());
    QTreeWidgetItem* field = detail.Group(0)->Grid()->topLevelItem(0);
    ASSERT_NE(field, nullptr);
    detail.Group(0)->Grid()->setCurrentItem(field);
    ASSERT_EQ(log.ranges.size(), 1u);
    EXPECT_EQ(log.ranges[0].first, detail.FieldRanges()[0].offset);
    EXPECT_EQ(log.ranges[0].second, detail.FieldRanges()[0].bits);

    // A row with children opens under itself and closes again.
    int parent = -1;
    for (int r = 0; r < model.rowCount() && parent < 0; ++r)
        if (model.index(r, 0).data(CPacketListModel::HasChildrenRole).toBool()) parent = r;
    ASSERT_GE(parent, 0);
    const int before = model.rowCount();
    list.scrollTo(model.index(parent, 0));
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.ExpandBox(model.index(parent, 0)).center());
    EXPECT_GT(model.rowCount(), before);
    EXPECT_EQ(model.index(parent + 1, 0).data(CPacketListModel::DepthRole).toInt(), 2);
    list.setCurrentIndex(model.index(parent, 0));
    QTest::keyClick(&list, Qt::Key_Return);
    EXPECT_EQ(model.rowCount(), before);

    frame.OnTransferLevel();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return worker.IsIdle() && worker.ClassDecoded() && test::AllRowsShown(model); }, kBoundMs));
    EXPECT_EQ(model.Decoder(), static_cast<IDecode*>(&frame.Document().Manager()));

    // A new capture empties the panes and the list at once.
    frame.OnStartRecord(true);
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(detail.GroupCount(), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return worker.IsIdle() && worker.DataAvailable(); }, kBoundMs));
    frame.Publisher().Unsubscribe(&log);
}
