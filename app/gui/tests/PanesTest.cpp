// The detail and device-tree panes on their own: groups, nested rows and field
// ranges, reuse and coalescing, trees from the worker thread, and editing.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QTest>
#include <QTreeWidget>

#include <string>
#include <thread>
#include <vector>

#include "CDetailGroup.h"
#include "CEventPublisher.h"
#include "CPanelDetail.h"
#include "CPanelDevice.h"
#include "IDecode.h"
#include "SettingStore.h"
#include "UsbItem.h"

using namespace orvane;
using namespace orvane::app;

namespace {

struct EventLog : IEventHandler {
    struct Entry {
        IEventHandler* sender;
        int32_t type;
        intptr_t p1, p2;
        std::string text;
    };
    int32_t SetPublisher(IEventPublisher*) override { return 0; }
    int32_t OnEvent(IEventHandler* sender, int32_t type, intptr_t p1, intptr_t p2) override {
        std::string text = type == EventDeviceTreeChanged ? *reinterpret_cast<const std::string*>(p1) : "";
        entries.push_back({sender, type, p1, p2, text});
        return 1;
    }
    std::vector<Entry> Of(int32_t type) const {
        std::vector<Entry> out;
        for (const Entry& e : entries)
            if (e.type == type) out.push_back(e);
        return out;
    }
    std::vector<Entry> entries;
};

// Describes an item by its first record: one group named after it.
struct FakeDecoder : IDecode {
    void Release() override {}
    int32_t Summarize(UsbItem*, ItemSummary*) override { return 0; }
    int32_t GetData(UsbItem*, uint8_t*, uint32_t) override { return -1; }
    int32_t GetDetail(UsbItem* item, std::string& xml) override {
        asked.push_back(item->firstRecord);
        xml = "<groups><group name=\"item " + std::to_string(item->firstRecord) +
              "\"><item name=\"a\" value=\"1\" tip=\"first\" offset=\"0\" bits=\"8\"/></group></groups>";
        return 1;
    }
    const ImageList* GetImageList(UsbItem*) override { return nullptr; }
    int32_t OnNotify(int32_t, void*, intptr_t) override { return 0; }
    std::vector<uint32_t> asked;
};

std::string Field(const std::string& name, int64_t offset, int bits, const std::string& inner = "") {
    std::string open = "<item name=\"" + name + "\" value=\"" + name + "-value\" tip=\"" + name + " tip\" offset=\"" +
                       std::to_string(offset) + "\" bits=\"" + std::to_string(bits) + "\"";
    return inner.empty() ? open + "/>" : open + ">" + inner + "</item>";
}

std::string GroupOf(const std::string& name, int fields) {
    std::string text = "<group name=\"" + name + "\">";
    for (int i = 0; i < fields; ++i) text += Field(name + std::to_string(i), 8 * i, 8);
    return text + "</group>";
}

}  // namespace

TEST(DetailPane, GroupsNestedRowsAndTheirRanges) {
    CEventPublisher bus;
    EventLog log;
    CPanelDetail pane;
    bus.Subscribe(&log);
    pane.SetPublisher(&bus);
    pane.show();
    ASSERT_TRUE(pane.ShowDecodeDetail("<groups>" + GroupOf("Setup", 3) + "<group name=\"Data\">" +
                                      Field("length", 16, 8, Field("low", 16, 4) + Field("high", 20, 4)) +
                                      Field("far", 5000000000LL, 64) + "</group></groups>"));
    ASSERT_EQ(pane.GroupCount(), 2);
    EXPECT_EQ(pane.Group(0)->Caption(), "Setup");
    EXPECT_EQ(pane.Group(0)->Grid()->topLevelItemCount(), 3);
    QTreeWidget* data = pane.Group(1)->Grid();
    ASSERT_EQ(data->topLevelItemCount(), 2);
    QTreeWidgetItem* length = data->topLevelItem(0);
    EXPECT_EQ(length->text(1), "length-value");
    ASSERT_EQ(length->childCount(), 2);
    EXPECT_TRUE(length->isExpanded());
    EXPECT_EQ(pane.FieldRanges().size(), 7u);
    EXPECT_TRUE(log.entries.empty()) << "showing selects nothing";

    data->setCurrentItem(length);
    data->setCurrentItem(length->child(1));
    data->setCurrentItem(data->topLevelItem(1));
    const auto ranges = log.Of(EventByteRangeSelected);
    ASSERT_EQ(ranges.size(), 3u);
    EXPECT_EQ(ranges[0].sender, static_cast<IEventHandler*>(&pane));
    EXPECT_EQ(std::pair(ranges[0].p1, ranges[0].p2), std::pair(intptr_t(16), intptr_t(8)));
    EXPECT_EQ(std::pair(ranges[1].p1, ranges[1].p2), std::pair(intptr_t(20), intptr_t(4)));
    EXPECT_EQ(ranges[2].p1, intptr_t(5000000000LL)) << "offsets beyond 32 bits pass whole";
    EXPECT_TRUE(pane.Group(1)->TipLine().contains("far tip"));
    EXPECT_EQ(data->font(), CDetailGroup::GridFont());
    EXPECT_LE(QFontMetrics(data->font()).height(), 16);
    EXPECT_EQ(data->font().family(), QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());

    // Not a decode result: nothing shown, nothing published.
    for (const char* text : {"", "garbage", "<devices/>"}) {
        EXPECT_FALSE(pane.ShowDecodeDetail(text)) << text;
        EXPECT_EQ(pane.GroupCount(), 0) << text;
        EXPECT_TRUE(pane.FieldRanges().empty()) << text;
    }
    EXPECT_EQ(log.Of(EventByteRangeSelected).size(), 3u);
}

TEST(DetailPane, GroupWidgetsAreKeptByPosition) {
    CPanelDetail pane;
    pane.show();
    pane.ShowDecodeDetail("<groups>" + GroupOf("A", 3) + GroupOf("B", 14) + GroupOf("C", 1) + "</groups>");
    ASSERT_EQ(pane.GroupCount(), 3);
    CDetailGroup* first = pane.Group(0);
    CDetailGroup* second = pane.Group(1);
    second->SetExpanded(false);
    pane.ShowDecodeDetail("<groups>" + GroupOf("X", 2) + GroupOf("Y", 5) + "</groups>");
    ASSERT_EQ(pane.GroupCount(), 2);
    EXPECT_EQ(pane.Group(0), first);
    EXPECT_EQ(pane.Group(1), second);
    EXPECT_EQ(second->Caption(), "Y");
    EXPECT_EQ(second->Grid()->topLevelItemCount(), 5);
    EXPECT_FALSE(second->IsExpanded()) << "a folded group stays folded";
    EXPECT_EQ(pane.FieldRanges().size(), 7u);
}

TEST(DetailPane, AWalkThroughTheListShowsWhereItStopped) {
    CEventPublisher bus;
    CPanelDetail pane;
    // Time stands still but where the test moves it, however slowly it runs.
    qint64 now = 1000;
    pane.SetClock([&] { return now; });
    bus.Subscribe(&pane);
    FakeDecoder decoder;
    std::vector<UsbItem> items(100);
    for (uint32_t i = 0; i < items.size(); ++i) items[i].firstRecord = i;
    auto select = [&](UsbItem& item) {
        bus.Publish(nullptr, EventItemSelected, reinterpret_cast<intptr_t>(&item), reinterpret_cast<intptr_t>(&decoder));
    };

    select(items[0]);
    EXPECT_EQ(decoder.asked, std::vector<uint32_t>{0}) << "a lone selection shows at once";
    for (UsbItem& item : items) select(item);
    EXPECT_TRUE(pane.SelectionPending());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !pane.SelectionPending(); }, 5000));
    EXPECT_EQ(decoder.asked, (std::vector<uint32_t>{0, 99}));
    EXPECT_EQ(pane.Group(0)->Caption(), "item 99");

    // A walk cut short by a new capture never asks about its items: they are freed.
    now += CPanelDetail::kCoalesceMs;
    select(items[1]);
    select(items[2]);
    ASSERT_TRUE(pane.SelectionPending());
    bus.Publish(nullptr, EventCaptureCleared, 0, 0);
    EXPECT_EQ(pane.GroupCount(), 0);
    QTest::qWait(CPanelDetail::kCoalesceMs * 3);
    EXPECT_EQ(decoder.asked, (std::vector<uint32_t>{0, 99, 1}));
    EXPECT_EQ(pane.GroupCount(), 0);
}

namespace {

const char* const kTree =
    "<devices>"
    "<device address=\"5\" idVendor=\"0\" idPorduct=\"0\"><configuration bConfigurationValue=\"1\">"
    "<interface bInterfaceNumber=\"0\" bAlternateSetting=\"0\" bInterfaceClass=\"3\" bInterfaceSubClass=\"1\">"
    "<endpoint bEndpointAddress=\"129\" bmAttributes=\"3\"/></interface></configuration></device>"
    "<device address=\"7\" idVendor=\"0\" idPorduct=\"0\"><configuration bConfigurationValue=\"1\">"
    "<interface bInterfaceNumber=\"0\" bAlternateSetting=\"0\" bInterfaceClass=\"8\" bInterfaceSubClass=\"6\">"
    "<endpoint bEndpointAddress=\"129\" bmAttributes=\"2\"/><endpoint bEndpointAddress=\"2\" bmAttributes=\"2\"/>"
    "</interface></configuration></device>"
    "</devices>";

struct DevicePaneFixture : ::testing::Test {
    void SetUp() override {
        bus.Subscribe(&pane);
        bus.Subscribe(&log);
        pane.SetPublisher(&bus);
        pane.SetSettings(&store);
        pane.show();
    }
    void Publish(const std::string& text) {
        bus.Publish(&log, EventDeviceTreeChanged, reinterpret_cast<intptr_t>(&text), 0);
    }
    QStringList TopTexts() const {
        QStringList texts;
        for (int i = 0; i < pane.Tree()->topLevelItemCount(); ++i) texts << pane.Tree()->topLevelItem(i)->text(0);
        return texts;
    }

    SettingStore store{""};
    CEventPublisher bus;
    EventLog log;
    CPanelDevice pane;
};

}  // namespace

TEST_F(DevicePaneFixture, EditSaveAndExport) {
    Publish(kTree);
    ASSERT_EQ(TopTexts(), (QStringList{"Address 5 (/)", "Address 7 (/)"}));
    EXPECT_EQ(pane.Tree()->topLevelItem(1)->child(0)->childCount(), 2);
    EXPECT_FALSE(pane.ConfigurationCombo()->isEnabled()) << "nothing selected";
    EXPECT_FALSE(pane.SaveAction()->isEnabled());
    EXPECT_TRUE(pane.ExportAction()->isEnabled());

    // Store the mouse's configuration, then give it to the disk.
    ASSERT_TRUE(pane.SelectDevice(5));
    EXPECT_TRUE(pane.ConfigurationCombo()->isEnabled());
    pane.OnExportToFavorites();
    ASSERT_EQ(pane.ConfigurationCombo()->count(), 1);
    ASSERT_EQ(store.GetConfigurationCount(), 1);
    EXPECT_EQ(pane.ConfigurationCombo()->currentIndex(), -1) << "the earlier selection is kept";
    // An interface line of the disk: the pick applies to its device.
    pane.Tree()->setCurrentItem(pane.Tree()->topLevelItem(1)->child(0));
    pane.OnConfigurationSelected(0);
    EXPECT_TRUE(pane.SaveAction()->isEnabled());
    EXPECT_EQ(pane.SelectedAddress(), 7);
    EXPECT_EQ(pane.Tree()->currentItem(), pane.Tree()->topLevelItem(1)) << "the device line replaces the interface";
    EXPECT_EQ(pane.Tree()->topLevelItem(1)->child(0)->childCount(), 1) << "the disk now has the mouse's endpoints";
    EXPECT_EQ(pane.ConfigurationCombo()->currentIndex(), 0);
    pane.SelectDevice(5);
    EXPECT_EQ(pane.ConfigurationCombo()->currentIndex(), -1);
    pane.SelectDevice(7);
    EXPECT_EQ(pane.ConfigurationCombo()->currentIndex(), 0) << "its guid matches the stored entry";

    // Export again with the disk's entry selected: the selection stays.
    pane.OnExportToFavorites();
    EXPECT_EQ(pane.ConfigurationCombo()->count(), 2);
    EXPECT_EQ(pane.ConfigurationCombo()->currentIndex(), 0);

    log.entries.clear();
    pane.OnSaveConfiguration();
    const auto applied = log.Of(EventDeviceTreeChanged);
    ASSERT_EQ(applied.size(), 1u);
    EXPECT_EQ(applied[0].sender, static_cast<IEventHandler*>(&pane));
    EXPECT_EQ(applied[0].text, pane.LastText());
    EXPECT_NE(applied[0].text.find("guid="), std::string::npos);
    EXPECT_FALSE(pane.SaveAction()->isEnabled());
    pane.OnSaveConfiguration();
    EXPECT_EQ(log.Of(EventDeviceTreeChanged).size(), 1u) << "nothing to apply";
}

TEST_F(DevicePaneFixture, NewTreesReplaceEditsAndVanishedDevicesTakeNoPick) {
    Publish(kTree);
    pane.SelectDevice(5);
    pane.OnExportToFavorites();
    pane.SelectDevice(7);
    pane.OnConfigurationSelected(0);
    ASSERT_TRUE(pane.SaveAction()->isEnabled());

    // A tree from elsewhere: the unapplied change is gone, so is the command.
    Publish(kTree);
    EXPECT_FALSE(pane.SaveAction()->isEnabled());
    EXPECT_EQ(pane.SelectedAddress(), 7) << "the selected device stays selected";

    // The disk vanished with the next tree; a pick made for it changes nothing.
    Publish("<devices><device address=\"5\"/></devices>");
    ASSERT_EQ(TopTexts(), QStringList{"Address 5 (/)"});
    EXPECT_EQ(pane.SelectedAddress(), -1);
    EXPECT_FALSE(pane.ConfigurationCombo()->isEnabled());
    const std::string before = pane.Editor().Text();
    pane.OnConfigurationSelected(0);
    EXPECT_EQ(pane.Editor().Text(), before);
    EXPECT_FALSE(pane.SaveAction()->isEnabled());

    bus.Publish(nullptr, EventCaptureCleared, 0, 0);
    EXPECT_EQ(pane.Tree()->topLevelItemCount(), 0);
}

TEST_F(DevicePaneFixture, TreesFromTheWorkerThreadAreBuiltOnTheUiThread) {
    std::thread worker([&] { Publish(kTree); });
    worker.join();
    EXPECT_EQ(pane.Tree()->topLevelItemCount(), 0) << "not yet: the UI thread builds it";
    ASSERT_TRUE(QTest::qWaitFor([&] { return pane.Tree()->topLevelItemCount() == 2; }, 5000));
    EXPECT_EQ(pane.LastText(), kTree);

    // A tree queued before a new capture began belongs to a capture that is gone.
    std::thread late([&] { Publish("<devices><device address=\"9\"/></devices>"); });
    late.join();
    bus.Publish(nullptr, EventCaptureCleared, 0, 0);
    QTest::qWait(50);
    EXPECT_EQ(pane.Tree()->topLevelItemCount(), 0);

    // Of two queued trees the later one shows.
    std::thread twice([&] {
        Publish("<devices><device address=\"1\"/></devices>");
        Publish("<devices><device address=\"2\"/></devices>");
    });
    twice.join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return pane.Tree()->topLevelItemCount() == 1; }, 5000));
    QTest::qWait(20);
    EXPECT_EQ(TopTexts(), QStringList{"Address 2 (/)"});
}

// ---------------------------------------------------------------- in the window

#include <unistd.h>

#include "CDevice.h"
#include "CMainFrame.h"
#include "CPacketListModel.h"
#include "CUsbListCtrl.h"
#include "EmulatedAnalyser.h"
#include "GuiTestSupport.h"
#include "SessionBuilder.h"
#include "TestFiles.h"

namespace {

using orvane::testing::TempDir;
constexpr int kBoundMs = 60000;  // against hanging, not a timing assertion

// Selects rows from the top until the detail pane shows groups.
bool ShowSomeDetail(CMainFrame& frame) {
    CPacketListModel& model = *frame.ListModel();
    for (int row = 0; row < model.rowCount() && frame.DetailPane()->GroupCount() == 0; ++row) {
        frame.ListCtrl()->setCurrentIndex(model.index(row, 0));
        if (!QTest::qWaitFor([&] { return !frame.DetailPane()->SelectionPending(); })) return false;
    }
    return frame.DetailPane()->GroupCount() > 0;
}

}  // namespace

TEST(PanesInTheWindow, LevelSwitchesClearTheDetailAndADeviceTreeEditIsDecodedAgain) {
    emu::EmulatedAnalyser emu;
    emu::SessionBuilder::Options session;
    session.operations = 20;
    emu.SetTraffic(emu::SessionBuilder(session).Build());
    auto* device = new pardix::CDevice(&emu, "orvane-panes-test-" + std::to_string(::getpid()));
    CMainFrame frame(device);
    SettingStore store("");
    frame.SetSettings(&store);
    frame.show();
    CPacketListModel& model = *frame.ListModel();
    CCaptureWorker& worker = frame.Worker();
    ASSERT_TRUE(QTest::qWaitFor([&] { return worker.CanStart(); }, kBoundMs));
    frame.OnStartRecord(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return worker.IsIdle() && worker.DataAvailable() && test::AllRowsShown(model); },
                                kBoundMs));
    CPanelDevice& pane = *frame.DevicePane();
    ASSERT_TRUE(QTest::qWaitFor([&] { return pane.Tree()->topLevelItemCount() > 0; }, kBoundMs));

    // The item shown belongs to a level no longer shown after a switch.
    ASSERT_TRUE(ShowSomeDetail(frame));
    frame.OnTransferLevel();
    EXPECT_EQ(frame.DetailPane()->GroupCount(), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return worker.IsIdle() && worker.ClassDecoded() && test::AllRowsShown(model); },
                                kBoundMs));
    ASSERT_TRUE(ShowSomeDetail(frame));

    // Give the device its own configuration back from the settings, and apply.
    ASSERT_TRUE(pane.SelectDevice(5));
    pane.OnExportToFavorites();
    pane.OnConfigurationSelected(0);
    ASSERT_TRUE(pane.SaveAction()->isEnabled());
    int resets = 0;
    QObject::connect(&model, &QAbstractItemModel::modelReset, [&] { ++resets; });
    pane.OnSaveConfiguration();
    const std::string edited = pane.LastText();
    ASSERT_TRUE(QTest::qWaitFor([&] { return resets > 0 && worker.IsIdle() && worker.ClassDecoded(); }, kBoundMs));
    EXPECT_TRUE(QTest::qWaitFor([&] { return test::AllRowsShown(model); }, kBoundMs)) << "the transfer level came again";
    EXPECT_EQ(frame.Document().GetConfiguration(), edited) << "the project keeps the edited tree";
    EXPECT_TRUE(frame.Document().IsModified());
    EXPECT_EQ(frame.DetailPane()->GroupCount(), 0) << "the items of the old transfer level are gone";
    EXPECT_EQ(model.Decoder(), static_cast<IDecode*>(&frame.Document().Manager()));
    EXPECT_EQ(pane.Editor().StoredIndexOf(5), 0);
    EXPECT_FALSE(pane.SaveAction()->isEnabled());

    // Opening a project: nothing of the capture before stays in the panes.
    TempDir folder;
    const QString path = QString::fromStdString(folder / "panes.usb");
    ASSERT_TRUE(QTest::qWaitFor([&] { return test::UploadDone(frame.Device()); }, kBoundMs));
    ASSERT_TRUE(frame.SaveProject(path));
    ASSERT_TRUE(ShowSomeDetail(frame));
    ASSERT_TRUE(frame.OpenProject(path));
    EXPECT_EQ(frame.DetailPane()->GroupCount(), 0);
    EXPECT_EQ(pane.Tree()->topLevelItemCount(), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return worker.IsIdle() && pane.Tree()->topLevelItemCount() > 0; }, kBoundMs));
}

#include <QAbstractScrollArea>
#include <QDockWidget>
#include <QImage>

#include "CCommandRegistry.h"
#include "CommandIds.h"

namespace {

// What the data plug-in's pane shows, as pixels.
QImage DataPaneImage(CMainFrame& frame) {
    QDockWidget* dock = frame.Pane(4006);
    auto* pane = dock ? dock->findChild<QAbstractScrollArea*>() : nullptr;
    return pane ? pane->viewport()->grab().toImage() : QImage();
}

// Selects rows from the top until the data pane shows bytes.
bool ShowSomeData(CMainFrame& frame, const QImage& empty) {
    CPacketListModel& model = *frame.ListModel();
    for (int row = 0; row < model.rowCount(); ++row) {
        frame.ListCtrl()->setCurrentIndex(model.index(row, 0));
        QCoreApplication::processEvents();
        if (DataPaneImage(frame) != empty) return true;
    }
    return false;
}

}  // namespace

TEST(PanesInTheWindow, TheDataPaneLetsGoOfARowTheListNoLongerSelects) {
    test::ClearProgramSettings();
    emu::EmulatedAnalyser emu;
    emu::SessionBuilder::Options session;
    session.operations = 20;
    emu.SetTraffic(emu::SessionBuilder(session).Build());
    CMainFrame::Options options;
    options.device = new pardix::CDevice(&emu, "orvane-data-pane-test-" + std::to_string(::getpid()));
    options.viewFolder = ORVANE_VIEW_DIR;
    options.demoFolder = "/nonexistent";
    CMainFrame frame(options);
    SettingStore store("");
    frame.SetSettings(&store);
    frame.resize(1200, 800);
    frame.show();
    frame.ShowPane(4006);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
    CPacketListModel& model = *frame.ListModel();
    CCaptureWorker& worker = frame.Worker();
    ASSERT_TRUE(QTest::qWaitFor([&] { return worker.CanStart(); }, kBoundMs));
    frame.OnStartRecord(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return worker.IsIdle() && worker.DataAvailable() && test::AllRowsShown(model); },
                                kBoundMs));
    QCoreApplication::processEvents();
    const QImage empty = DataPaneImage(frame);
    ASSERT_FALSE(empty.isNull()) << "the data pane is open";

    // A switch of level: no row is selected and the decode pane is empty.
    ASSERT_TRUE(ShowSomeData(frame, empty));
    frame.OnTransferLevel();
    ASSERT_TRUE(QTest::qWaitFor([&] { return worker.IsIdle() && worker.ClassDecoded() && test::AllRowsShown(model); },
                                kBoundMs));
    QCoreApplication::processEvents();
    EXPECT_EQ(frame.DetailPane()->GroupCount(), 0);
    EXPECT_TRUE(DataPaneImage(frame) == empty) << "the transfer level";

    ASSERT_TRUE(ShowSomeData(frame, empty));
    ASSERT_TRUE(frame.Commands().Execute(cmd::TransactionLevel));
    QCoreApplication::processEvents();
    EXPECT_TRUE(DataPaneImage(frame) == empty) << "back to the transaction level";

    // Hiding SOFs rebuilds the rows, without a selection.
    ASSERT_TRUE(ShowSomeData(frame, empty));
    ASSERT_TRUE(frame.Commands().Execute(cmd::HideSof));
    QCoreApplication::processEvents();
    EXPECT_EQ(frame.ListCtrl()->SelectedRow(), -1);
    EXPECT_TRUE(DataPaneImage(frame) == empty) << "SOFs hidden";

    // A row selected after the reset shows again.
    EXPECT_TRUE(ShowSomeData(frame, empty));
}
