// The main frame: command ids and their shortcuts, the toolbar, command states
// through a capture, view plug-in panes, the layout, the demo menu and drops.
#include <gtest/gtest.h>
#include <dlfcn.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QSettings>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QUrl>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>
#include <thread>

#include "CCommandBarsManager.h"
#include "CDecodeFactory.h"
#include "CDevice.h"
#include "CEventPublisher.h"
#include "CPanelDetail.h"
#include "CPanelDevice.h"
#include "CMainFrame.h"
#include "CProgressDlg.h"
#include "CQuitSignals.h"
#include "CRecordSheet.h"
#include "CPacketListModel.h"
#include "CUsbListCtrl.h"
#include "CaptureSource.h"
#include "CListHeader.h"
#include "EmulatedAnalyser.h"
#include "GuiTestSupport.h"
#include "NullDevice.h"
#include "SessionBuilder.h"
#include "SettingStore.h"
#include "SetupXml.h"
#include "StandardCommands.h"
#include "WindowLayout.h"

using namespace orvane;
using namespace orvane::app;
using namespace orvane::app::test;

namespace {

constexpr int kBoundMs = 60000;

std::string FixtureFolder() { return ORVANE_GUI_FIXTURES; }

// Create calls so far of the fixture library `name` (loaded by the view factory).
int Creates(const char* name) {
    const std::string path = FixtureFolder() + "/" + name + ".so";
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!module) return 0;
    auto creates = reinterpret_cast<int (*)()>(::dlsym(module, "GuiFixtureCreates"));
    const int count = creates ? creates() : -1;
    ::dlclose(module);
    return count;
}

CMainFrame::Options WithPlugins(std::string demo = "/nonexistent") {
    CMainFrame::Options options;
    options.viewFolder = FixtureFolder();
    options.demoFolder = std::move(demo);
    return options;
}

QList<int> ToolbarIds(const QToolBar& bar) {
    QList<int> ids;
    for (QAction* action : bar.actions()) ids.append(action->isSeparator() ? 0 : CCommandRegistry::IdOf(action));
    return ids;
}

template <class Device = pardix::CDevice>
Device* EmulatedDevice(emu::EmulatedAnalyser& emu, int operations) {
    emu::SessionBuilder::Options session;
    session.operations = operations;
    emu.SetTraffic(emu::SessionBuilder(session).Build());
    // Released by the worker at shut-down.
    return new Device(&emu, "orvane-frame-test-" + std::to_string(::getpid()));
}

// The device's data source, passed through. While `hold` is set, a save that
// has written the capture files under their temporary names waits there until
// it is asked to give up (at most kBoundMs): a test acts while it writes.
class SaveGate final : public IDataSource {
public:
    explicit SaveGate(IDataSource& source) : in_(source) {}

    // True once a held save waits.
    bool WaitParked() {
        std::unique_lock lock(mutex_);
        return parkedChanged_.wait_for(lock, std::chrono::milliseconds(kBoundMs), [&] { return parked_; });
    }
    std::atomic<bool> hold{false};

    int32_t OpenOrSave(const char* packetPath, const char* dataPath, int32_t save) override {
        const int32_t done = in_.OpenOrSave(packetPath, dataPath, save);
        if (save == 1 && hold && progress_) {
            {
                std::lock_guard lock(mutex_);
                parked_ = true;
            }
            parkedChanged_.notify_all();
            // The cancel comes with no notice: it is looked at until it is set.
            const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBoundMs);
            while (!progress_->cancel && std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return done;
    }
    void SetSaveProgress(SaveProgress* progress) override {
        progress_ = progress;
        in_.SetSaveProgress(progress);
    }

    uint32_t GetCount() override { return in_.GetCount(); }
    int32_t GetRecord(uint32_t index, PacketRecord* out) override { return in_.GetRecord(index, out); }
    int32_t GetPayload(const PacketRecord* r, uint8_t* dst, uint32_t capacity, uint16_t* crc) override {
        return in_.GetPayload(r, dst, capacity, crc);
    }
    int32_t Release() override { return in_.Release(); }
    int32_t GetDeviceInfo(DeviceInfo* out) override { return in_.GetDeviceInfo(out); }
    int32_t GetStatus(DeviceStatus* out) override { return in_.GetStatus(out); }
    int32_t DownloadImage() override { return in_.DownloadImage(); }
    int32_t Reset() override { return in_.Reset(); }
    int32_t ResetFilter() override { return in_.ResetFilter(); }
    int32_t WriteFilterHeld() override { return in_.WriteFilterHeld(); }
    int32_t WriteFilter() override { return in_.WriteFilter(); }
    int32_t SetAdvancedFilter(int32_t enable) override { return in_.SetAdvancedFilter(enable); }
    int32_t SetFilterFlags(uint32_t flags) override { return in_.SetFilterFlags(flags); }
    int32_t SetDropMode(int32_t drop) override { return in_.SetDropMode(drop); }
    int32_t SetCondition(uint32_t address, uint32_t id, uint32_t up, uint32_t down) override {
        return in_.SetCondition(address, id, up, down);
    }
    int32_t ConfigureStorage(uint32_t prePacket, uint32_t packet, uint32_t prePayload, uint32_t payload,
                             uint32_t buffer) override {
        return in_.ConfigureStorage(prePacket, packet, prePayload, payload, buffer);
    }
    int32_t HoldCapture() override { return in_.HoldCapture(); }
    int32_t StartCapture() override { return in_.StartCapture(); }
    int32_t SetRunning(int32_t run) override { return in_.SetRunning(run); }
    int32_t ResetTrigger() override { return in_.ResetTrigger(); }
    int32_t SetTriggerStep(uint32_t index, uint32_t address, uint32_t endpoint, uint32_t pidMask,
                           const char* data) override {
        return in_.SetTriggerStep(index, address, endpoint, pidMask, data);
    }
    int32_t ArmTrigger() override { return in_.ArmTrigger(); }
    int32_t Reserved() override { return in_.Reserved(); }
    IDataSource* GetDataSource() override { return this; }
    int32_t BeginUpload() override { return in_.BeginUpload(); }
    int32_t EndUpload() override { return in_.EndUpload(); }
    int32_t ClearMemory() override { return in_.ClearMemory(); }
    const PacketRecord* PeekRecords(uint32_t index, uint32_t* count) override { return in_.PeekRecords(index, count); }
    int32_t LastFileError(const char** path) override { return in_.LastFileError(path); }
    int32_t MissingPayload(uint32_t* first, uint32_t* count) override { return in_.MissingPayload(first, count); }

private:
    IDataSource& in_;
    SaveProgress* progress_ = nullptr;
    std::mutex mutex_;
    std::condition_variable parkedChanged_;
    bool parked_ = false;
};

// An emulated analyser whose saves go through a SaveGate.
struct GatedDevice final : pardix::CDevice {
    using CDevice::CDevice;
    IDataSource* GetDataSource() override { return &gate; }
    SaveGate gate{Source()};
};

// Captures on the emulated analyser until the parse has finished.
void Capture(CMainFrame& frame) {
    ASSERT_TRUE(QTest::qWaitFor([&] { frame.UpdateStatus(); return frame.Worker().CanStart(); }, kBoundMs));
    frame.Document().SetSetup(SetupXml().Text());
    ASSERT_EQ(frame.Worker().StartRecord(), CCaptureWorker::StartResult::Started);
    ASSERT_TRUE(QTest::qWaitFor([&] { return frame.Worker().IsIdle() && frame.Worker().DataAvailable(); }, kBoundMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return UploadDone(frame.Device()); }, kBoundMs));
}

// A window that has captured on an emulated analyser, for saves of it.
class MainFrameSave : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(Capture(frame)); }

    bool cleared = (ClearProgramSettings(), true);
    ScriptedPrompt prompt;
    emu::EmulatedAnalyser emu;
    GatedDevice* device = EmulatedDevice<GatedDevice>(emu, 20);  // the frame's, released with it
    CMainFrame frame{CMainFrame::Options{.device = device, .demoFolder = "/nonexistent"}};
};

// The bookmark rows of the summary plug-in's report, in its order.
QStringList SummaryMarks(CMainFrame& frame) {
    QStringList rows;
    auto* report = frame.Pane(4005) ? frame.Pane(4005)->findChild<QTreeWidget*>() : nullptr;
    if (!report) return {QStringLiteral("no summary")};
    for (int i = 0; i < report->topLevelItemCount(); ++i) {
        QTreeWidgetItem* group = report->topLevelItem(i);
        if (group->text(0) != QString::fromUtf8("标签")) continue;
        for (int j = 0; j < group->childCount(); ++j) rows.append(group->child(j)->text(0));
    }
    return rows;
}

// The document's marks as the summary writes them.
QStringList DocumentMarks(COrvaneDoc& doc) {
    QStringList rows;
    for (int32_t i = 0; i < doc.Bookmarks().GetCount(); ++i) {
        Mark m;
        doc.Bookmarks().GetAt(i, &m);
        rows.append(QString::fromStdString((m.name.empty() ? "Bookmark" : m.name) + ":" + m.comment + "(" +
                                           std::to_string(m.packet) + ")"));
    }
    return rows;
}

}  // namespace

TEST(MainFrameCommands, IdsShortcutsAndToolbarOrder) {
    ClearProgramSettings();
    CMainFrame frame(CMainFrame::Options{.demoFolder = "/nonexistent"});
    CCommandRegistry& commands = frame.Commands();
    const struct {
        int id;
        std::vector<QKeySequence> keys;
    } rows[] = {
        {57600, {QKeySequence("Ctrl+N")}},
        {57601, {QKeySequence("Ctrl+O")}},
        {57603, {QKeySequence("Ctrl+S")}},
        {57607, {QKeySequence("Ctrl+P")}},
        {32846, {QKeySequence("Ctrl+F")}},
        {32780, {QKeySequence("F5")}},
        {32781, {QKeySequence("F7")}},
        {57680, {QKeySequence("F6")}},
        {57681, {QKeySequence("Shift+F6")}},
        {57634, {QKeySequence("Ctrl+C"), QKeySequence("Ctrl+Ins")}},
        {57635, {QKeySequence("Ctrl+X"), QKeySequence("Shift+Del")}},
        {57637, {QKeySequence("Ctrl+V"), QKeySequence("Shift+Ins")}},
        {57643, {QKeySequence("Ctrl+Z"), QKeySequence("Alt+Backspace")}},
        {32852, {}},
        {35001, {}},
    };
    for (const auto& row : rows) {
        QAction* action = commands.Action(row.id);
        ASSERT_NE(action, nullptr) << row.id;
        EXPECT_EQ(CCommandRegistry::IdOf(action), row.id);
        EXPECT_EQ(action->shortcuts(), QList<QKeySequence>(row.keys.begin(), row.keys.end())) << row.id;
    }
    // No two commands share a key.
    std::set<QString> keys;
    for (int id : commands.Ids())
        for (const QKeySequence& key : commands.Action(id)->shortcuts())
            EXPECT_TRUE(keys.insert(key.toString()).second) << key.toString().toStdString();

    const QList<int> expected = {57600, 57601, 57603, 0, 32780, 32781, 0, 32784, 32785, 0, 32788, 32789,
                                 32790, 0, 32852, 32854, 32855, 32856, 32857, 32851, 0, 32846, 32848, 32849,
                                 0, 32782, 32850, 32834};
    EXPECT_EQ(ToolbarIds(*frame.StandardBar()), expected);
    EXPECT_EQ(frame.StandardBar()->objectName(), "Standard");
    EXPECT_EQ(frame.Pane(4000)->objectName(), "Pane4000");
    EXPECT_EQ(frame.Pane(4002)->objectName(), "Pane4002");

    // The list serves its commands through the registry: no row, no mark to add.
    commands.Update();
    EXPECT_FALSE(commands.Action(cmd::AddMark)->isEnabled());
    EXPECT_TRUE(commands.Action(cmd::ClearFilter)->isEnabled());
    EXPECT_FALSE(commands.Action(cmd::DeleteAllMarks)->isEnabled());

    // A command nobody serves stays disabled; binding it enables it.
    const int id = 39999;
    commands.Define(id, "test");
    EXPECT_FALSE(commands.Action(id)->isEnabled());
    EXPECT_FALSE(commands.Execute(id));
    int runs = 0;
    bool allowed = false;
    commands.Bind(id, [&] { ++runs; }, [&] { return allowed; });
    EXPECT_FALSE(commands.Execute(id));
    allowed = true;
    commands.Update();
    EXPECT_TRUE(commands.Action(id)->isEnabled());
    commands.Action(id)->trigger();
    EXPECT_EQ(runs, 1);
    // A shortcut between two update passes finds the state as it is now.
    allowed = false;
    commands.Action(id)->trigger();
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(commands.Action(id)->isEnabled());
}

TEST(MainFrameCommands, F6CyclesThroughTheVisiblePanes) {
    ClearProgramSettings();
    CMainFrame frame(CMainFrame::Options{.demoFolder = "/nonexistent"});
    frame.show();
    QApplication::setActiveWindow(&frame);
    frame.ListCtrl()->setFocus();
    std::vector<QWidget*> seen;
    for (int i = 0; i < 3; ++i) {
        frame.Commands().Execute(cmd::NextPane);
        seen.push_back(QApplication::focusWidget());
    }
    ASSERT_NE(seen[0], nullptr);
    EXPECT_TRUE(frame.Pane(4000)->isAncestorOf(seen[0]) || frame.Pane(4002)->isAncestorOf(seen[0]));
    EXPECT_EQ(seen[2], frame.ListCtrl()) << "round the two panes and back to the list";
    frame.Commands().Execute(cmd::PreviousPane);
    EXPECT_EQ(QApplication::focusWidget(), seen[1]);
}

TEST(MainFrameCommands, StatesFollowACaptureFromIdleToParsed) {
    ClearProgramSettings();
    emu::EmulatedAnalyser emu;
    CMainFrame frame(CMainFrame::Options{.device = EmulatedDevice(emu, 400), .demoFolder = "/nonexistent"});
    CCommandRegistry& c = frame.Commands();
    CCaptureWorker& worker = frame.Worker();
    using State = CCaptureWorker::CaptureState;
    struct Snapshot {
        State state;
        bool start, stop, transaction, transfer, hide, open;
    };
    std::vector<Snapshot> log;
    auto enabled = [&](int id) { return c.Action(id)->isEnabled(); };
    QObject::connect(&c, &CCommandRegistry::Updated, [&] {
        log.push_back({worker.State(), enabled(cmd::StartRecord), enabled(cmd::StopRecord),
                       enabled(cmd::TransactionLevel), enabled(cmd::TransferLevel), enabled(cmd::HideSof),
                       enabled(cmd::FileOpen)});
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { frame.UpdateStatus(); return enabled(cmd::StartRecord); }, kBoundMs));
    frame.Document().SetSetup(SetupXml::kDefaultText);
    frame.Document().SetModified(false);
    EXPECT_FALSE(enabled(cmd::StopRecord));
    EXPECT_FALSE(enabled(cmd::TransferLevel)) << "no data yet";
    EXPECT_FALSE(frame.Document().IsModified());

    // The upload is held until the states were seen during it. No event runs
    // meanwhile: the status poll would wait for the held read.
    struct Release {
        emu::EmulatedAnalyser& emu;
        ~Release() { emu.HoldMemoryReads(false); }
    } release{emu};
    emu.HoldMemoryReads(true);
    ASSERT_TRUE(c.Execute(cmd::StartRecord));
    EXPECT_TRUE(frame.Document().IsModified()) << "a capture is never lost without the prompt";
    for (int waited = 0; worker.State() != State::Parse && waited < kBoundMs; waited += 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(worker.State(), State::Parse) << "the capture ended and its upload began";
    // Held in the upload, the worker stays in Parse: the second update is one it saw throughout.
    c.Update();
    c.Update();
    emu.HoldMemoryReads(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return worker.IsIdle() && worker.DataAvailable(); }, kBoundMs));
    // The states follow by a queued update.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return enabled(cmd::TransferLevel) && enabled(cmd::StartRecord) && !enabled(cmd::StopRecord); },
        kBoundMs));
    c.Update();  // idle for good now: one update that saw it throughout

    // Each command reads the worker's state on its own while the worker moves on,
    // so only an update whose state was already the previous snapshot's saw that
    // state throughout (the states only move forward here).
    std::set<State> states, checked;
    std::optional<State> previous;
    for (const Snapshot& s : log) {
        states.insert(s.state);
        const bool settled = previous == s.state;
        previous = s.state;
        if (!settled) continue;
        checked.insert(s.state);
        const bool idle = s.state == State::Idle;
        EXPECT_EQ(s.stop, s.state == State::Capturing);
        if (!idle) {
            EXPECT_FALSE(s.start);
            EXPECT_FALSE(s.transaction);
            EXPECT_FALSE(s.transfer);
            EXPECT_FALSE(s.hide);
            EXPECT_FALSE(s.open) << "no project is opened under the worker";
        } else {
            EXPECT_TRUE(s.transaction && s.hide && s.open);
        }
    }
    EXPECT_TRUE(states.count(State::Capturing));
    EXPECT_TRUE(states.count(State::Parse));
    EXPECT_TRUE(checked.count(State::Parse) && checked.count(State::Idle));
    EXPECT_TRUE(enabled(cmd::TransactionLevel) && enabled(cmd::HideSof) && enabled(cmd::FileOpen));
}

TEST(MainFramePlugins, ViewMenuOrderAndWindowsMadeOnFirstShowingOnly) {
    ClearProgramSettings();
    const int chartBefore = Creates("a_chart");
    const int summaryBefore = Creates("b_summary");
    {
        CMainFrame frame(WithPlugins());
        frame.show();
        QTest::qWait(20);
        // Inserted one by one after "解码(&T)": reverse factory order.
        const QList<QAction*> items = frame.ViewMenu()->actions();
        const qsizetype detail = items.indexOf(frame.Commands().Action(cmd::PaneDetail));
        ASSERT_EQ(detail, 4);
        ASSERT_GT(items.size(), detail + 2);
        EXPECT_EQ(CCommandRegistry::IdOf(items[detail + 1]), 4005);
        EXPECT_EQ(items[detail + 1]->text(), QString::fromUtf8("统计"));
        EXPECT_EQ(CCommandRegistry::IdOf(items[detail + 2]), 4004);
        EXPECT_EQ(items[detail + 2]->text(), QString::fromUtf8("包视图"));
        ASSERT_NE(frame.Pane(4004), nullptr);
        EXPECT_EQ(frame.Pane(4004)->objectName(), "Pane4004");
        EXPECT_FALSE(frame.Pane(4004)->isVisible()) << "plug-in panes start closed";
        EXPECT_EQ(Creates("a_chart"), chartBefore);

        ASSERT_TRUE(frame.Commands().Execute(4004));
        EXPECT_TRUE(frame.Pane(4004)->isVisible());
        ASSERT_NE(frame.Pane(4004)->widget(), nullptr);
        EXPECT_EQ(Creates("a_chart"), chartBefore + 1);
        frame.Pane(4004)->hide();
        frame.Commands().Execute(4004);
        EXPECT_EQ(Creates("a_chart"), chartBefore + 1) << "made once";
        EXPECT_EQ(Creates("b_summary"), summaryBefore) << "never shown, never made";
    }
    // The frame released its views before the factory unloaded their libraries.
    void* module = ::dlopen((FixtureFolder() + "/a_chart.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (module) {
        auto alive = reinterpret_cast<int (*)()>(::dlsym(module, "GuiFixtureAlive"));
        EXPECT_EQ(alive(), 0);
        ::dlclose(module);
    }
}

TEST(MainFramePlugins, LayoutRoundTripShowsAPluginPaneAgain) {
    ClearProgramSettings();
    {
        CMainFrame frame(WithPlugins());
        frame.show();
        frame.Commands().Execute(4005);
        frame.Pane(4000)->hide();
        frame.close();
    }
    const int before = Creates("b_summary");
    CMainFrame frame(WithPlugins());
    frame.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return frame.Pane(4005)->isVisible(); }, 2000));
    EXPECT_NE(frame.Pane(4005)->widget(), nullptr) << "the restored pane got its window";
    EXPECT_EQ(Creates("b_summary"), before + 1);
    EXPECT_FALSE(frame.Pane(4000)->isVisible());
    EXPECT_FALSE(frame.Pane(4004)->isVisible());
}

TEST(MainFramePlugins, TabsSplitsAndFloatingPanesPassTheLayoutCheckAndComeBack) {
    ClearProgramSettings();
    {
        CMainFrame frame(WithPlugins());
        frame.show();
        frame.Commands().Execute(4004);
        frame.Commands().Execute(4005);
        frame.tabifyDockWidget(frame.Pane(4004), frame.Pane(4005));
        frame.splitDockWidget(frame.Pane(cmd::PaneDetail), frame.Pane(cmd::PaneDevice), Qt::Vertical);
        frame.Pane(cmd::PaneDetail)->setFloating(true);
        frame.addToolBar(Qt::LeftToolBarArea, frame.StandardBar());
        const QByteArray layout = frame.saveState();
        std::string error;
        EXPECT_TRUE(CheckWindowLayout(std::string_view(layout.constData(), size_t(layout.size())), &error)) << error;
        frame.close();
    }
    CMainFrame frame(WithPlugins());
    frame.show();
    EXPECT_EQ(frame.tabifiedDockWidgets(frame.Pane(4005)), QList<QDockWidget*>{frame.Pane(4004)});
    EXPECT_TRUE(frame.Pane(cmd::PaneDetail)->isFloating());
    EXPECT_EQ(frame.toolBarArea(frame.StandardBar()), Qt::LeftToolBarArea);
}

TEST(MainFramePlugins, ADamagedLayoutOrOneWhoseRestoreEndedTheLastStartGivesWayToTheDefault) {
    ClearProgramSettings();
    {
        CMainFrame frame(WithPlugins());
        frame.show();
        frame.Pane(cmd::PaneDevice)->hide();
        frame.close();
    }
    QSettings settings("Kavrin", "Orvane");
    const QByteArray saved = settings.value("NormalLayout").toByteArray();
    ASSERT_GT(saved.size(), 16);
    ASSERT_EQ(uint8_t(saved[8]), 0xfd) << "the dock areas come first";
    QByteArray farOut = saved;
    farOut[15] = char(0x7f);  // the first area's position, far past the four the toolkit has
    const struct {
        const char* name;
        QByteArray layout;
        bool restoring;  // the last start ended inside the restore
        bool kept;
    } cases[] = {
        {"sound", saved, false, true},
        {"the last restore ended the program", saved, true, false},
        {"a dock area out of range", farOut, false, false},
    };
    for (const auto& c : cases) {
        settings.setValue("NormalLayout", c.layout);
        if (c.restoring) settings.setValue("RestoringLayout", true);
        settings.sync();
        {
            CMainFrame frame(WithPlugins());
            frame.show();
            EXPECT_EQ(frame.Pane(cmd::PaneDevice)->isVisible(), !c.kept) << c.name;
        }
        settings.sync();
        EXPECT_EQ(settings.contains("NormalLayout"), c.kept) << c.name;
        EXPECT_FALSE(settings.contains("RestoringLayout")) << c.name;
    }
}

TEST(MainFramePlugins, EventsReachThePanesThePluginsAndLastTheList) {
    ClearProgramSettings();
    CMainFrame frame(WithPlugins());
    const std::vector<IEventHandler*> handlers = static_cast<CEventPublisher&>(frame.Publisher()).Handlers();
    ASSERT_EQ(handlers.size(), 5u) << "two panes, two plug-ins, the list";
    EXPECT_EQ(handlers[0], static_cast<IEventHandler*>(frame.DetailPane()));
    EXPECT_EQ(handlers[1], static_cast<IEventHandler*>(frame.DevicePane()));
    EXPECT_EQ(handlers[4], static_cast<IEventHandler*>(frame.ListModel()));
}

// Lets the window lay out what it was asked to.
static void Settle() {
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
}

TEST(MainFramePlugins, PanesOpenAtAUsableSizeUnlessTheLayoutPlacedThem) {
    ClearProgramSettings();
    {
        CMainFrame frame(WithPlugins());
        frame.resize(1280, 720);
        frame.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
        QDockWidget* chart = frame.Pane(4004);
        QDockWidget* summary = frame.Pane(4005);
        frame.Commands().Execute(4004);
        Settle();
        EXPECT_GE(chart->height(), frame.height() / 3 - 2) << "a third of the window";
        EXPECT_GE(chart->width(), 600);
        frame.Commands().Execute(4005);
        Settle();
        EXPECT_TRUE(frame.tabifiedDockWidgets(summary).isEmpty()) << "both fit side by side";
        EXPECT_GE(summary->width(), 500);
        EXPECT_GE(chart->width(), 600);
        EXPECT_EQ(summary->y(), chart->y());
        EXPECT_GE(summary->height(), frame.height() / 3 - 2);
        // The user makes the charts lower; the next start keeps that.
        frame.resizeDocks({chart}, {120}, Qt::Vertical);
        Settle();
        ASSERT_LT(chart->height(), frame.height() / 3 - 2);
        frame.close();
    }
    {
        CMainFrame frame(WithPlugins());
        frame.resize(1280, 720);
        frame.show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return frame.Pane(4004)->isVisible(); }, 2000));
        Settle();
        EXPECT_LT(frame.Pane(4004)->height(), frame.height() / 3 - 2) << "the stored layout wins";
        frame.Pane(4004)->hide();
        frame.Commands().Execute(4004);
        Settle();
        EXPECT_LT(frame.Pane(4004)->height(), frame.height() / 3 - 2) << "shown again where it was";
    }
    // A layout stored before the panes were ever shown leaves them to their first
    // showing. Too narrow for both side by side, the second opens as a tab of the first.
    ClearProgramSettings();
    {
        CMainFrame frame(WithPlugins());
        frame.show();
        frame.close();
    }
    CMainFrame frame(WithPlugins());
    frame.resize(1000, 700);
    frame.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
    frame.Commands().Execute(4004);
    frame.Commands().Execute(4005);
    Settle();
    EXPECT_EQ(frame.tabifiedDockWidgets(frame.Pane(4005)), QList<QDockWidget*>{frame.Pane(4004)});
    EXPECT_GE(frame.Pane(4005)->height(), frame.height() / 3 - 2);
    EXPECT_GE(frame.Pane(4005)->width(), 500);
}

TEST(MainFrameFiles, DemoMenuListsUpTo101ProjectsByName) {
    ClearProgramSettings();
    const std::string folder = TempFolder("demo");
    for (const char* name : {"c.usb", "a.usb", "b.usb", "notes.txt"}) QFile(QString::fromStdString(folder + "/" + name)).open(QIODevice::WriteOnly);
    {
        CMainFrame frame(WithPlugins(folder));
        ASSERT_EQ(frame.DemoFiles().size(), 3);
        const QList<QAction*> items = frame.DemoMenu()->actions();
        ASSERT_EQ(items.size(), 3);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(CCommandRegistry::IdOf(items[i]), 40000 + i);
            EXPECT_EQ(items[i]->text(), QString("abc"[i]) + ".usb");
            EXPECT_EQ(frame.DemoFiles()[i], QString::fromStdString(folder) + "/" + QString("abc"[i]) + ".usb");
        }
    }
    for (int i = 0; i < 120; ++i)
        QFile(QString::fromStdString(folder) + QStringLiteral("/d%1.usb").arg(i, 3, 10, QChar('0'))).open(QIODevice::WriteOnly);
    CMainFrame frame(WithPlugins(folder));
    EXPECT_EQ(frame.DemoFiles().size(), 101);
    EXPECT_EQ(CCommandRegistry::IdOf(frame.DemoMenu()->actions().last()), 40100);
    EXPECT_EQ(frame.Commands().Action(40101), nullptr);
}

TEST(MainFrameFiles, DroppedProjectAsksToSaveFirst) {
    ClearProgramSettings();
    ScriptedPrompt prompt;
    CMainFrame frame(CMainFrame::Options{.demoFolder = "/nonexistent"});
    frame.show();
    const QString damaged = QString::fromStdString(TempFolder("drop")) + "/broken.usb";
    {
        QFile file(damaged);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("<Orvane");
    }
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile("/tmp/readme.txt")});
    QDragEnterEvent refused(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&frame, &refused);
    EXPECT_FALSE(refused.isAccepted()) << "only projects are taken";

    data.setUrls({QUrl::fromLocalFile(damaged)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&frame, &enter);
    EXPECT_TRUE(enter.isAccepted());

    frame.Document().SetModified(true);
    prompt.answers = {QMessageBox::Cancel};
    QDropEvent cancelled(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&frame, &cancelled);
    ASSERT_EQ(prompt.messages.size(), 1);
    EXPECT_TRUE(prompt.messages[0].contains(QString::fromUtf8("保存"))) << prompt.messages[0].toStdString();
    EXPECT_TRUE(frame.Document().IsModified()) << "cancel keeps the project";

    prompt.answers = {QMessageBox::No};
    QDragEnterEvent again(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&frame, &again);  // each drop follows its own drag
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&frame, &drop);
    ASSERT_EQ(prompt.messages.size(), 3) << prompt.messages.join('|').toStdString();
    EXPECT_EQ(prompt.messages[2], QString::fromUtf8(COrvaneDoc::kOpenError)) << "it tried the dropped file";
}

TEST(MainFrameFiles, ModifiedProjectIsNeverDroppedWithoutAsking) {
    ClearProgramSettings();
    ScriptedPrompt prompt;
    const QString saveAs = QString::fromStdString(TempFolder("prompt")) + "/kept";
    // (answer, file name the save dialog gives) → does New go on, is the project still modified.
    const struct {
        QMessageBox::StandardButton answer;
        QString saveName;
        bool goesOn;
        bool stillModified;
    } rows[] = {
        {QMessageBox::Cancel, {}, false, true},
        {QMessageBox::No, {}, true, false},
        {QMessageBox::Yes, {}, false, true},  // the save dialog was cancelled
        {QMessageBox::Yes, saveAs, true, false},
    };
    for (const auto& row : rows) {
        CMainFrame frame(CMainFrame::Options{.demoFolder = "/nonexistent"});
        frame.Document().SetModified(true);
        frame.Document().Bookmarks().Add({7, "mark", ""});
        prompt.messages.clear();
        prompt.answers = {row.answer};
        prompt.saveName = row.saveName;
        frame.Commands().Execute(cmd::FileNew);
        ASSERT_EQ(prompt.messages.size(), 1);
        EXPECT_EQ(frame.Document().Bookmarks().GetCount() == 0, row.goesOn) << int(row.answer);
        EXPECT_EQ(frame.Document().IsModified(), row.stillModified) << int(row.answer);
    }
    EXPECT_TRUE(QFileInfo::exists(saveAs + ".usb")) << "saved with the extension added";

    // Closing asks too; cancel keeps the window.
    CMainFrame frame(CMainFrame::Options{.demoFolder = "/nonexistent"});
    frame.show();
    frame.Document().SetModified(true);
    prompt.messages.clear();
    prompt.answers = {QMessageBox::Cancel};
    EXPECT_FALSE(frame.close());
    EXPECT_EQ(prompt.messages.size(), 1);
    prompt.answers = {QMessageBox::No};
    EXPECT_TRUE(frame.close());
}

TEST(MainFrameCommands, ANewProjectsFirstCaptureAsksForTheRecordSettings) {
    ClearProgramSettings();
    ScriptedPrompt prompt;
    emu::EmulatedAnalyser emu;
    CMainFrame frame(CMainFrame::Options{.device = EmulatedDevice(emu, 20), .demoFolder = "/nonexistent"});
    CCaptureWorker& worker = frame.Worker();
    ASSERT_TRUE(QTest::qWaitFor([&] { frame.UpdateStatus(); return worker.CanStart(); }, kBoundMs));
    ASSERT_EQ(frame.Document().GetSetup(), "") << "a new project has no settings";

    // Cancel starts nothing and stores nothing.
    ASSERT_TRUE(frame.Commands().Execute(cmd::StartRecord));
    EXPECT_EQ(prompt.dialogs, QStringList{"orvane::app::CRecordSheet"});
    EXPECT_TRUE(worker.IsIdle());
    EXPECT_FALSE(worker.DataAvailable());
    EXPECT_EQ(frame.Document().GetSetup(), "");

    // OK stores the sheet's settings in the project, and they capture.
    prompt.onExec = [](QDialog& dialog) {
        auto& sheet = static_cast<CRecordSheet&>(dialog);
        sheet.show();
        EXPECT_EQ(sheet.Pages()->currentIndex(), CRecordSheet::RecordPage);
        sheet.RecordOptionPage()->FilterAllBox()->click();  // keep everything
        sheet.OkButton()->click();
        return sheet.result();
    };
    ASSERT_TRUE(frame.Commands().Execute(cmd::StartRecord));
    EXPECT_EQ(prompt.dialogs.size(), 2);
    SetupXml stored;
    ASSERT_TRUE(stored.Load(frame.Document().GetSetup()));
    EXPECT_EQ(stored.FilterFlags(), 0u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return worker.IsIdle() && worker.DataAvailable(); }, kBoundMs));
    EXPECT_GT(frame.Document().TransactionRoot().children.size(), 0u);

    // The next capture takes the stored settings without asking.
    ASSERT_TRUE(QTest::qWaitFor([&] { frame.UpdateStatus(); return worker.CanStart(); }, kBoundMs));
    ASSERT_TRUE(frame.Commands().Execute(cmd::StartRecord));
    EXPECT_EQ(prompt.dialogs.size(), 2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return worker.IsIdle() && worker.DataAvailable(); }, kBoundMs));
}

namespace {

// An analyser whose payload upload is half done.
struct UploadingDevice final : orvane::test::NullDevice {
    int32_t Control(int32_t op, int32_t* out) override {
        if (op == kControlFetchPayload) {
            ++fetches;
            if (out) *out = fetchStarts;
            return 1;
        }
        if (op != kControlUploadProgress) return 0;
        *out = progress;
        return 1;
    }
    int32_t progress = 50;
    int32_t fetchStarts = 0;  // 1: every fetch asked for starts (and, the progress at 100, ends at once)
    int fetches = 0;
};

}  // namespace

namespace {

// An analyser whose capture's record read stopped at a third: the save reads
// the rest and writes the capture files, which open again as files.
struct ReadInPartDevice final : orvane::test::NullDevice {
    struct Source : emu::CaptureSource {
        using emu::CaptureSource::CaptureSource;
        int32_t UnreadRecords(uint32_t* read, uint32_t* held) override {
            const int32_t answer = unread;
            if (read) *read = answer ? GetCount() : 0;
            if (held) *held = answer ? uint32_t(Capture().records.size()) : 0;
            // A replug during the pass read the rest: served whole from then on.
            if (answer == kRecordsReadSincePass) {
                SetAvailable(Capture().records.size());
                unread = 0;
            }
            return answer;
        }
        int32_t OpenOrSave(const char* packetPath, const char* dataPath, int32_t save) override {
            if (save == 1) {
                QFile(packetPath).open(QIODevice::WriteOnly);
                QFile(dataPath).open(QIODevice::WriteOnly);
                SetAvailable(Capture().records.size());
            }
            unread = 0;
            return 1;
        }
        std::atomic<int32_t> unread{EIO};
    };
    ReadInPartDevice() {
        emu::SessionBuilder::Options session;
        session.operations = 20;
        source = std::make_unique<Source>(emu::SessionBuilder(session).Build());
        source->SetAvailable(source->Capture().records.size() / 3);
    }
    int32_t GetStatus(DeviceStatus* out) override {
        out->flags = StatusOnline | StatusOnline2 | StatusComplete;
        return 1;
    }
    int32_t ApplySetup(const char*) override { return 1; }
    int32_t Start() override { return 1; }
    IDataSource* GetDataSource() override { return source.get(); }
    std::unique_ptr<Source> source;
};

}  // namespace

// After a replug a save reads the rest of a capture listed in part: the
// window opens the saved project at once and shows it whole, with the level,
// the filter bar's texts and the selected packet the user had.
TEST(MainFrameFiles, ASaveThatReadTheRestShowsTheWholeCaptureWhereTheUserWas) {
    ClearProgramSettings();
    ScriptedPrompt prompt;
    ReadInPartDevice device;
    CMainFrame frame(CMainFrame::Options{.device = &device, .demoFolder = "/nonexistent"});
    frame.show();
    CUsbListCtrl& list = *frame.ListCtrl();
    CPacketListModel& model = *frame.ListModel();
    const int column = CPacketListCells::ColItem;
    // A capture whose record read stops a third of the way, listed as read.
    auto captureAThird = [&] {
        device.source->SetAvailable(device.source->Capture().records.size() / 3);
        device.source->unread = EIO;
        ASSERT_EQ(frame.Worker().StartRecord(), CCaptureWorker::StartResult::Started);
        ASSERT_TRUE(QTest::qWaitFor([&] { return frame.Worker().IsIdle() && frame.Worker().DataAvailable(); }, kBoundMs));
        QCoreApplication::processEvents();
    };
    // The rows whose item names hold `text`, and the last of them selected: their count and its record.
    auto filterAndSelectLast = [&](const QString& text, int* rows, uint32_t* record) {
        list.Header()->FilterEdit(column)->setText(text);
        list.ApplyHeaderFilter();
        *rows = model.rowCount();
        ASSERT_GT(*rows, 1);
        list.SelectRow(*rows - 1);
        UsbItem* selected = model.ItemAt(list.SelectedRow());
        ASSERT_NE(selected, nullptr);
        *record = selected->firstRecord;
    };
    // After the save: the filter's text, only rows that match it, more of them
    // than before (the rest was read), and the same record selected.
    auto expectPlace = [&](const QString& text, int rowsBefore, const UsbItem& root, uint32_t record) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return list.SelectedRow() >= 0; }, kBoundMs)) << "the place is taken up again";
        EXPECT_EQ(list.Header()->FilterEdit(column)->text(), text);
        EXPECT_GT(model.rowCount(), rowsBefore) << "the rows past the third, filtered";
        EXPECT_LT(model.rowCount(), int(root.children.size()));
        for (int row = 0; row < model.rowCount(); ++row)
            EXPECT_NE(model.data(model.index(row, column), Qt::DisplayRole).toString().indexOf(text), -1) << row;
        UsbItem* again = model.ItemAt(list.SelectedRow());
        ASSERT_NE(again, nullptr);
        EXPECT_EQ(again->firstRecord, record);
        EXPECT_FALSE(frame.Document().IsModified());
    };

    ASSERT_EQ(frame.Worker().StartRecord(), CCaptureWorker::StartResult::Started);
    ASSERT_TRUE(QTest::qWaitFor([&] { return frame.Worker().IsIdle() && frame.Worker().DataAvailable(); }, kBoundMs));
    QCoreApplication::processEvents();
    EXPECT_EQ(prompt.messages.size(), 1) << "read in part, and said so";
    const int shownBefore = model.rowCount();
    int filtered = 0;
    uint32_t record = 0;
    ASSERT_NO_FATAL_FAILURE(filterAndSelectLast("IN", &filtered, &record));
    ASSERT_TRUE(QTest::qWaitFor([&] { return frame.DetailPane()->GroupCount() > 0; }, kBoundMs));

    const QString path = QString::fromStdString(TempFolder("read-rest")) + "/cap.usb";
    ASSERT_TRUE(frame.SaveProject(path)) << prompt.messages.join('|').toStdString();
    EXPECT_EQ(frame.DetailPane()->GroupCount(), 0) << "the rows went";
    ASSERT_TRUE(QTest::qWaitFor([&] { return frame.Worker().IsIdle() && frame.Worker().DataAvailable(); }, kBoundMs));
    ASSERT_NO_FATAL_FAILURE(expectPlace("IN", filtered, frame.Document().TransactionRoot(), record));
    EXPECT_EQ(prompt.messages.size(), 1) << "nothing more to say";
    EXPECT_GT(int(frame.Document().TransactionRoot().children.size()), shownBefore);
    EXPECT_TRUE(QTest::qWaitFor([&] { return frame.DetailPane()->GroupCount() > 0; }, kBoundMs))
        << "the panes show it again";

    // At the transfer level the window goes back to it, and takes up the place once it is decoded.
    ASSERT_NO_FATAL_FAILURE(captureAThird());
    frame.OnTransferLevel();
    ASSERT_TRUE(QTest::qWaitFor([&] { return frame.Worker().IsIdle() && frame.Worker().ClassDecoded(); }, kBoundMs));
    QCoreApplication::processEvents();
    int transfers = 0;
    uint32_t transferRecord = 0;
    ASSERT_NO_FATAL_FAILURE(filterAndSelectLast("Test pair", &transfers, &transferRecord));
    ASSERT_TRUE(frame.SaveProject(QString::fromStdString(TempFolder("read-rest-transfer")) + "/cap.usb"))
        << prompt.messages.join('|').toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return frame.Worker().IsIdle() && frame.Worker().ClassDecoded(); }, kBoundMs));
    EXPECT_TRUE(frame.Worker().TransferLevelShown());
    ASSERT_NO_FATAL_FAILURE(expectPlace("Test pair", transfers, frame.Document().TransferRoot(), transferRecord));

    // Saved on the way to a New, such a capture is not opened again: the New goes on.
    ASSERT_NO_FATAL_FAILURE(captureAThird());
    prompt.answers.push_back(QMessageBox::Yes);
    frame.OnFileNew();
    EXPECT_TRUE(frame.ProjectPath().isEmpty());
    EXPECT_TRUE(frame.Document().TransactionRoot().children.empty());
    EXPECT_TRUE(frame.Worker().IsIdle());
    frame.close();
}

// A replug during the parse let the rest be read: the capture is parsed again
// whole. The rows it listed go on the UI thread, which paints them, and the
// new rows show their texts.
TEST(MainFrameFiles, AReplugDuringTheParseListsTheCaptureAgainFromTheUiThread) {
    ClearProgramSettings();
    ScriptedPrompt prompt;
    struct ClearedLog : IEventHandler {
        int32_t SetPublisher(IEventPublisher*) override { return 0; }
        int32_t OnEvent(IEventHandler*, int32_t type, intptr_t, intptr_t) override {
            if (type == EventCaptureCleared) threads.push_back(QThread::currentThread());
            return 0;
        }
        std::vector<QThread*> threads;  // written on the UI thread, or the worker's while the UI thread waits for it
    } cleared;
    ReadInPartDevice device;
    device.source->unread = kRecordsReadSincePass;
    CMainFrame frame(CMainFrame::Options{.device = &device, .demoFolder = "/nonexistent"});
    frame.Publisher().Subscribe(&cleared);
    frame.show();
    ASSERT_EQ(frame.Worker().StartRecord(), CCaptureWorker::StartResult::Started);
    ASSERT_TRUE(QTest::qWaitFor([&] { return frame.Worker().IsIdle() && frame.Worker().DataAvailable(); }, kBoundMs));
    QCoreApplication::processEvents();
    EXPECT_EQ(cleared.threads, (std::vector<QThread*>{frame.thread(), frame.thread()})) << "the start's, the parse again's";
    EXPECT_TRUE(prompt.messages.isEmpty()) << prompt.messages.join('|').toStdString();
    CPacketListModel& model = *frame.ListModel();
    ASSERT_GT(model.rowCount(), 0);
    const int column = CPacketListCells::ColItem;
    for (int row : {0, model.rowCount() - 1})
        EXPECT_FALSE(model.data(model.index(row, column), Qt::DisplayRole).toString().isEmpty()) << row;
    // The idle times read the capture's records.
    int idles = 0;
    for (int row = 1; row < model.rowCount(); ++row)
        idles += model.data(model.index(row, CPacketListCells::ColIdle), Qt::DisplayRole).toString().isEmpty() ? 0 : 1;
    EXPECT_GT(idles, 0);
    frame.Document().SetModified(false);
    EXPECT_TRUE(frame.close());
}

TEST(MainFrameFiles, SaveWaitsForTheUploadBehindACancellableDialog) {
    ClearProgramSettings();
    ScriptedPrompt prompt;
    UploadingDevice device;
    CMainFrame frame(CMainFrame::Options{.device = &device, .demoFolder = "/nonexistent"});
    const QString path = QString::fromStdString(TempFolder("upload")) + "/cap.usb";
    int shownAt = -1;
    prompt.onExec = [&](QDialog& dialog) {
        shownAt = static_cast<CProgressDlg&>(dialog).Bar()->value();
        return int(QDialog::Rejected);
    };
    EXPECT_FALSE(frame.SaveProject(path));
    EXPECT_EQ(prompt.dialogs, QStringList{"orvane::app::CProgressDlg"});
    EXPECT_EQ(shownAt, 50);
    EXPECT_FALSE(QFileInfo::exists(path)) << "cancel gives the save up";

    prompt.onExec = [&](QDialog&) {
        device.progress = 100;
        return int(QDialog::Accepted);
    };
    EXPECT_TRUE(frame.SaveProject(path));
    EXPECT_TRUE(QFileInfo::exists(path));
    prompt.dialogs.clear();
    EXPECT_TRUE(frame.SaveProject(path));
    EXPECT_TRUE(prompt.dialogs.isEmpty()) << "no upload, no dialog";

    // A fetch that ends short each time is asked for again, but not forever.
    device.fetchStarts = 1;
    device.fetches = 0;
    EXPECT_TRUE(frame.SaveProject(path));
    EXPECT_EQ(device.fetches, 3);
}

// An upload that never got its store: the save fetches the payload first,
// behind the same cancellable dialog, never inside the save itself; a fetch
// that a failed read cut short is asked for again.
TEST(MainFrameFiles, ASaveFetchesWhatTheUploadLackedBehindTheDialog) {
    ClearProgramSettings();
    ScriptedPrompt prompt;
    const std::string base = TempFolder("fetch");
    struct Restore {
        const char* saved = std::getenv("TMPDIR");
        std::string before = saved ? saved : "";
        ~Restore() { saved ? ::setenv("TMPDIR", before.c_str(), 1) : ::unsetenv("TMPDIR"); }
    } restore;
    ::setenv("TMPDIR", (base + "/missing").c_str(), 1);
    emu::EmulatedAnalyser emu;
    pardix::CDevice* device = EmulatedDevice(emu, 20);
    CMainFrame frame(CMainFrame::Options{.device = device, .demoFolder = "/nonexistent"});
    ASSERT_NO_FATAL_FAILURE(Capture(frame));
    ASSERT_TRUE(device->Source().TemporaryFolder().empty()) << "no store could be made for the upload";
    ASSERT_TRUE(frame.Document().IsModified());

    QDir().mkpath(QString::fromStdString(base + "/missing"));
    emu.HoldMemoryReads(true);  // the fetch stalls while the dialog is up
    const QString path = QString::fromStdString(base) + "/cap.usb";
    prompt.onExec = [&](QDialog&) { return int(QDialog::Rejected); };
    EXPECT_FALSE(frame.SaveProject(path));
    EXPECT_EQ(prompt.dialogs, QStringList{"orvane::app::CProgressDlg"});
    EXPECT_FALSE(QFileInfo::exists(path)) << "cancel gives the save up";
    EXPECT_TRUE(frame.Document().IsModified());

    // The held fetch fails at its next transfer. No events run meanwhile: the
    // status poll would reach the analyser too.
    auto failHeldFetch = [&] {
        emu.FailTransfer(1);
        emu.HoldMemoryReads(false);
        for (int i = 0; i < kBoundMs && !UploadDone(device); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return device->Source().MissingPayload(nullptr, nullptr) == EIO;
    };
    ASSERT_TRUE(failHeldFetch());

    // The next save's fetch fails part way too; it asks for the rest again.
    emu.HoldMemoryReads(true);
    prompt.onExec = [&](QDialog& dialog) {
        EXPECT_TRUE(failHeldFetch());
        return dialog.exec();
    };
    ASSERT_TRUE(frame.SaveProject(path)) << prompt.messages.join('|').toStdString();
    EXPECT_TRUE(prompt.messages.isEmpty());
    EXPECT_EQ(prompt.dialogs.size(), 2) << "the fetch asked for again shows in the same dialog";
    EXPECT_FALSE(frame.Document().IsModified());
    const DeviceStatus status = [&] {
        DeviceStatus s{};
        device->GetStatus(&s);
        return s;
    }();
    EXPECT_GE(QFileInfo(QString::fromStdString(base) + "/cap.data").size(), qint64(status.payloadBytes));
}

// A save that takes a while writes behind its progress dialog: Cancel leaves
// the project unsaved and its old files as they were, and left alone it ends
// by itself. The test holds the document while the dialog comes up, which
// keeps the save's thread from starting before the dialog has answered.
TEST_F(MainFrameSave, ASlowOneShowsItsProgressAndCancelKeepsTheOldFiles) {
    const QString base = QString::fromStdString(TempFolder("slow-save"));
    const QString path = base + "/cap.usb";
    ASSERT_TRUE(frame.SaveProject(path));
    auto read = [&](const char* name) {
        QFile file(base + name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const QByteArray project = read("/cap.usb"), packets = read("/cap.ph"), payload = read("/cap.data");
    ASSERT_FALSE(packets.isEmpty());
    frame.Document().SetSetup("<setup>changed</setup>");

    // The first save showed its dialog too when the machine was slow.
    const int shown = prompt.saveProgress;
    std::unique_lock hold(frame.Worker().DocumentMutex());
    QString title;
    prompt.onSaveProgress = [&](QDialog& dialog) {
        title = dialog.windowTitle();
        hold.unlock();
        return int(QDialog::Rejected);
    };
    EXPECT_FALSE(frame.SaveProject(path));
    EXPECT_EQ(prompt.saveProgress, shown + 1);
    EXPECT_EQ(title, QString::fromUtf8("正在保存"));
    EXPECT_TRUE(prompt.messages.isEmpty()) << "a cancel is no failure to report";
    EXPECT_TRUE(frame.Document().IsModified());
    EXPECT_EQ(read("/cap.usb"), project);
    EXPECT_EQ(read("/cap.ph"), packets);
    EXPECT_EQ(read("/cap.data"), payload);
    EXPECT_EQ(QDir(base).entryList(QDir::Files).size(), 3) << QDir(base).entryList().join(' ').toStdString();

    hold.lock();
    prompt.onSaveProgress = [&](QDialog& dialog) {
        hold.unlock();
        return dialog.exec();
    };
    EXPECT_TRUE(frame.SaveProject(path));
    EXPECT_EQ(prompt.saveProgress, shown + 2);
    EXPECT_FALSE(frame.Document().IsModified());
    EXPECT_NE(read("/cap.usb"), project);
    EXPECT_EQ(read("/cap.ph"), packets) << "the same capture, written again";
}

// A quit while a save writes asks it to give up and waits for its thread
// before the device goes: the capture files it wrote under their temporary
// names go, and no project is made.
TEST_F(MainFrameSave, AQuitWhileItWritesEndsItBeforeTheDevice) {
    const QString base = QString::fromStdString(TempFolder("quit-save"));
    const auto all = QDir::Files | QDir::Hidden | QDir::System;
    device->gate.hold = true;  // which also keeps the save slow enough for its dialog
    prompt.onSaveProgress = [&](QDialog& dialog) {
        EXPECT_TRUE(device->gate.WaitParked());
        EXPECT_EQ(QDir(base).entryList(all).size(), 2) << "the capture files, under their temporary names";
        EXPECT_TRUE(frame.Saving());
        frame.QuitAtOnce();
        EXPECT_FALSE(frame.Saving()) << "the quit waited for the save";
        static_cast<CProgressDlg&>(dialog).Poll();
        return dialog.result();
    };
    EXPECT_FALSE(frame.SaveProject(base + "/cap.usb"));
    EXPECT_EQ(prompt.saveProgress, 1);
    EXPECT_EQ(frame.Device(), nullptr);
    EXPECT_TRUE(prompt.messages.isEmpty()) << "a save given up is no failure to report";
    const QStringList files = QDir(base).entryList(all);
    EXPECT_TRUE(files.isEmpty()) << files.join(' ').toStdString();
}

TEST(MainFrameClose, AQuitWhileASaveWaitsForTheUploadGivesTheSaveUp) {
    ClearProgramSettings();
    ScriptedPrompt prompt;
    UploadingDevice device;
    CMainFrame frame(CMainFrame::Options{.device = &device, .demoFolder = "/nonexistent"});
    frame.show();
    const QString path = QString::fromStdString(TempFolder("upload-quit")) + "/cap.usb";
    prompt.onExec = [&](QDialog& dialog) {
        frame.QuitAtOnce();
        device.progress = 100;  // what a released device might answer
        static_cast<CProgressDlg&>(dialog).Poll();
        return dialog.result();
    };
    EXPECT_FALSE(frame.SaveProject(path));
    EXPECT_FALSE(QFileInfo::exists(path)) << "no project without its capture files";
    EXPECT_EQ(frame.Device(), nullptr);
    EXPECT_FALSE(frame.SaveProject(path));
    EXPECT_TRUE(prompt.messages.isEmpty()) << "no box once the window has closed";
}

TEST(MainFrameClose, NothingReadsTheCaptureAfterTheCloseReleasedTheDevice) {
    ClearProgramSettings();
    ScriptedPrompt prompt;
    emu::EmulatedAnalyser emu;
    CMainFrame::Options options = WithPlugins();
    options.device = EmulatedDevice(emu, 20);
    CMainFrame frame(std::move(options));
    frame.show();
    ASSERT_NO_FATAL_FAILURE(Capture(frame));
    CPacketListModel& model = *frame.ListModel();
    CUsbListCtrl& list = *frame.ListCtrl();
    CPanelDetail& detail = *frame.DetailPane();
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.rowCount() > 2; }, kBoundMs));
    // A selection waiting for the detail pane's coalescing timer.
    auto* coalesce = detail.findChild<QTimer*>(QString(), Qt::FindDirectChildrenOnly);
    ASSERT_NE(coalesce, nullptr);
    coalesce->start(kBoundMs);
    list.SelectRow(1);
    ASSERT_TRUE(detail.SelectionPending());
    // What the worker queues for the list during a parse, posted before the close.
    IDataSource* source = frame.Device()->GetDataSource();
    std::thread([&] {
        model.SetDataSource(source);
        model.SetRowDecoder(&frame.Document().Parser());
        model.SetRowCount(model.RowCount());
    }).join();

    frame.Document().SetModified(false);
    ASSERT_TRUE(frame.close());
    EXPECT_EQ(frame.Device(), nullptr);
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_FALSE(detail.SelectionPending());
    // Each of these read the released device before.
    QCoreApplication::processEvents();  // the queued calls
    coalesce->start(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !coalesce->isActive(); }, kBoundMs));
    list.doItemsLayout();
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(model.Decoder(), nullptr);
    EXPECT_EQ(detail.GroupCount(), 0);
}

TEST(MainFrameCommands, RowMenuRunsTheWindowsOwnActions) {
    ClearProgramSettings();
    emu::EmulatedAnalyser emu;
    CMainFrame frame(CMainFrame::Options{.device = EmulatedDevice(emu, 40), .demoFolder = "/nonexistent"});
    CCommandRegistry& c = frame.Commands();
    CCaptureWorker& worker = frame.Worker();
    ASSERT_TRUE(QTest::qWaitFor([&] { frame.UpdateStatus(); return c.Action(cmd::StartRecord)->isEnabled(); },
                                kBoundMs));
    frame.Document().SetSetup(SetupXml::kDefaultText);
    ASSERT_TRUE(c.Execute(cmd::StartRecord));
    ASSERT_TRUE(QTest::qWaitFor([&] { return worker.IsIdle() && worker.DataAvailable(); }, kBoundMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return frame.ListCtrl()->model()->rowCount() > 0; }, kBoundMs));
    frame.ListCtrl()->SelectRow(0);

    std::unique_ptr<QMenu> menu(frame.ListCtrl()->CreateRowMenu(nullptr));
    std::map<int, QAction*> entries;
    for (QAction* action : menu->actions())
        if (!action->isSeparator()) entries[action->data().toInt()] = action;
    ASSERT_EQ(entries.size(), 16u);
    for (auto [id, entry] : entries) {
        QAction* shared = c.Action(id);
        ASSERT_NE(shared, nullptr) << id;
        EXPECT_EQ(entry->shortcut(), shared->shortcut()) << id;
        if (!shared->isEnabled()) {
            EXPECT_FALSE(entry->isEnabled()) << id << " would do nothing";
        }
    }

    std::vector<int> executed;
    QObject::connect(&c, &CCommandRegistry::Executed, [&](int id) { executed.push_back(id); });
    QGuiApplication::clipboard()->clear();
    ASSERT_TRUE(entries.at(cmd::CopyRows)->isEnabled());
    entries.at(cmd::CopyRows)->trigger();
    EXPECT_EQ(executed, std::vector<int>{cmd::CopyRows}) << "picked through the registry, so states update";
    EXPECT_FALSE(QGuiApplication::clipboard()->text().isEmpty());
}

TEST(MainFrameFiles, ColumnLayoutReachesTheSettingsFileWithoutWaitingForExit) {
    ClearProgramSettings();
    const std::string path = TempFolder("frame-settings") + "/setting.xml";
    ::unlink(path.c_str());
    SettingStore store(path);
    CMainFrame frame(CMainFrame::Options{.settings = &store, .demoFolder = "/nonexistent"});
    const bool shown = frame.ListCtrl()->ListModel()->List().Columns().Visible(CPacketListCells::ColInterface);
    frame.ListCtrl()->ToggleColumn(CPacketListCells::ColInterface);
    // Read back by a second store, as the next run of the program would.
    auto stored = [&] {
        SettingStore next(path);
        int visible[CPacketListColumns::kCount] = {};
        return next.ExchangeListLayout(nullptr, nullptr, visible, CPacketListColumns::kCount, true) != 0 &&
               (visible[CPacketListCells::ColInterface] != 0) != shown;
    };
    EXPECT_TRUE(QTest::qWaitFor(stored, kBoundMs)) << "a killed program would have lost it";
}

namespace {

// Root writes into any folder: for a read-only folder to refuse it, the
// calling thread gives up that override while the object lives.
class WithoutRootOverride {
public:
    WithoutRootOverride() {
        if (::geteuid() != 0 || ::syscall(SYS_capget, &header_, saved_) != 0) return;
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        reduced[0].effective &= ~(1u << CAP_DAC_OVERRIDE);
        dropped_ = ::syscall(SYS_capset, &header_, reduced) == 0;
    }
    ~WithoutRootOverride() {
        if (dropped_) ::syscall(SYS_capset, &header_, saved_);
    }

private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2] = {};
    bool dropped_ = false;
};

std::map<std::string, QByteArray> FolderBytes(const std::string& folder) {
    std::map<std::string, QByteArray> files;
    for (const QFileInfo& info : QDir(QString::fromStdString(folder)).entryInfoList(QDir::Files)) {
        QFile file(info.absoluteFilePath());
        file.open(QIODevice::ReadOnly);
        files[info.fileName().toStdString()] = file.readAll();
    }
    return files;
}

}  // namespace

TEST(MainFrameFiles, AFailedSaveSaysWhatAndWhyKeepsTheOldFilesAndTheWindowOpen) {
    ClearProgramSettings();
    ScriptedPrompt prompt;
    emu::EmulatedAnalyser emu;
    CMainFrame frame(CMainFrame::Options{.device = EmulatedDevice(emu, 20), .demoFolder = "/nonexistent"});
    frame.show();
    ASSERT_NO_FATAL_FAILURE(Capture(frame));
    const std::string folder = TempFolder("failed-save");
    ASSERT_TRUE(frame.SaveProject(QString::fromStdString(folder + "/cap.usb")));
    const auto saved = FolderBytes(folder);
    ASSERT_EQ(saved.size(), 3u);

    struct rlimit unlimited {};
    ::getrlimit(RLIMIT_FSIZE, &unlimited);
    const struct {
        const char* name;
        std::function<void()> fault, mend;
        int error;
    } cases[] = {
        {"read-only folder", [&] { ::chmod(folder.c_str(), 0555); }, [&] { ::chmod(folder.c_str(), 0755); }, EACCES},
        // A disk that fills up while the records are written.
        {"capture file write",
         [&] {
             ::signal(SIGXFSZ, SIG_IGN);
             struct rlimit small = unlimited;
             small.rlim_cur = 512;
             ::setrlimit(RLIMIT_FSIZE, &small);
         },
         [&] { ::setrlimit(RLIMIT_FSIZE, &unlimited); }, EFBIG},
    };
    for (const auto& c : cases) {
        frame.Document().SetModified(true);
        prompt.messages.clear();
        prompt.answers = {QMessageBox::Yes};
        bool closed;
        {
            WithoutRootOverride plainUser;
            c.fault();
            closed = frame.close();
            c.mend();
        }
        EXPECT_FALSE(closed) << c.name;
        ASSERT_EQ(prompt.messages.size(), 2) << c.name;
        const QString message = prompt.messages[1];
        EXPECT_TRUE(message.contains(QString::fromStdString(folder + "/cap.ph"))) << message.toStdString();
        EXPECT_TRUE(message.contains(QString::fromStdString(std::generic_category().message(c.error))))
            << message.toStdString();
        EXPECT_EQ(FolderBytes(folder), saved) << c.name << ": the old files, and nothing else";
        EXPECT_TRUE(frame.Document().IsModified());
    }
    prompt.answers = {QMessageBox::Yes};
    EXPECT_TRUE(frame.close()) << "mended, the save goes through";
}

TEST(MainFrameFiles, AfterAStartTheAnalyserDoesNotTakeASaveAsksForANameAndTheProjectKeepsItsCapture) {
    ClearProgramSettings();
    ScriptedPrompt prompt;
    emu::EmulatedAnalyser emu;
    CMainFrame frame(CMainFrame::Options{.device = EmulatedDevice(emu, 20), .demoFolder = "/nonexistent"});
    frame.show();
    ASSERT_NO_FATAL_FAILURE(Capture(frame));
    const std::string folder = TempFolder("failed-start");
    ASSERT_TRUE(frame.SaveProject(QString::fromStdString(folder + "/cap.usb"))) << prompt.dialogs.join('|').toStdString();
    const auto saved = FolderBytes(folder);
    const std::string setup = frame.Document().GetSetup();

    // The settings are taken; the first write of the start is not.
    const unsigned before = emu.CommandCount();
    ASSERT_EQ(frame.Device()->ApplySetup(setup.c_str()), 1);
    emu.DisconnectAtCommand(emu.CommandCount() - before + 1);
    ASSERT_TRUE(frame.Commands().Execute(cmd::StartRecord));
    ASSERT_EQ(frame.Document().TransactionRoot().children.size(), 0u) << "the start failed";
    EXPECT_TRUE(frame.ProjectPath().isEmpty());
    EXPECT_TRUE(frame.windowTitle().startsWith(QString::fromUtf8("无标题"))) << frame.windowTitle().toStdString();
    EXPECT_EQ(frame.Document().GetSetup(), setup);

    ASSERT_TRUE(frame.Commands().Execute(cmd::FileSave));
    EXPECT_EQ(prompt.fileDialogs.size(), 1) << "a name is asked for";
    EXPECT_EQ(FolderBytes(folder), saved) << "cancelled, and nothing written over the project";
}

TEST(MainFrameFiles, TheSummaryListsTheDocumentsMarksAfterNewARefusedStartAnOpenAndAClose) {
    ClearProgramSettings();
    ScriptedPrompt prompt;
    emu::EmulatedAnalyser emu;
    CMainFrame frame(CMainFrame::Options{
        .device = EmulatedDevice(emu, 20), .viewFolder = ORVANE_VIEW_DIR, .demoFolder = "/nonexistent"});
    frame.show();
    frame.ShowPane(4005);
    COrvaneDoc& doc = frame.Document();
    // As the list's bookmark commands do.
    auto addMark = [&](const Mark& mark) {
        doc.Bookmarks().Add(mark);
        frame.Publisher().Publish(frame.ListModel(), EventMarksChanged,
                                  reinterpret_cast<intptr_t>(static_cast<IBookmark*>(&doc.Bookmarks())), 0);
    };
    // What the report lists at once, and once what the worker queued for it has come.
    auto expectShown = [&](const QStringList& marks, const char* after) {
        const std::string want = marks.join('|').toStdString();
        EXPECT_EQ(SummaryMarks(frame).join('|').toStdString(), want) << after;
        QCoreApplication::processEvents();
        EXPECT_EQ(SummaryMarks(frame).join('|').toStdString(), want) << after;
        EXPECT_EQ(DocumentMarks(doc).join('|').toStdString(), want) << after;
    };

    ASSERT_NO_FATAL_FAILURE(Capture(frame));
    addMark({3, "saved", "kept"});
    const std::string folder = TempFolder("summary-marks");
    const QString project = QString::fromStdString(folder + "/marks.usb");
    ASSERT_TRUE(frame.SaveProject(project)) << prompt.dialogs.join('|').toStdString();
    expectShown({"saved:kept(3)"}, "a capture and a save");

    frame.OnFileNew();
    ASSERT_TRUE(frame.ProjectPath().isEmpty());
    expectShown({}, "New");

    ASSERT_NO_FATAL_FAILURE(Capture(frame));
    addMark({5, "", "gone"});
    expectShown({"Bookmark:gone(5)"}, "a mark of the new project");
    // The settings are taken; the first write of the start is not.
    const unsigned before = emu.CommandCount();
    ASSERT_EQ(frame.Device()->ApplySetup(doc.GetSetup().c_str()), 1);
    emu.DisconnectAtCommand(emu.CommandCount() - before + 1);
    ASSERT_TRUE(frame.Commands().Execute(cmd::StartRecord));
    ASSERT_EQ(doc.TransactionRoot().children.size(), 0u) << "the start failed";
    expectShown({}, "a start the analyser did not take");
    emu.Reconnect();

    ASSERT_TRUE(frame.OpenProject(project));
    expectShown({"saved:kept(3)"}, "an open, while its capture is parsed");
    ASSERT_TRUE(QTest::qWaitFor([&] { return frame.Worker().IsIdle() && frame.Worker().DataAvailable(); }, kBoundMs));
    expectShown({"saved:kept(3)"}, "an open");

    ASSERT_TRUE(frame.close());
    expectShown({"saved:kept(3)"}, "a close");
}

TEST(MainFrameFiles, ASignalToQuitClosesWithoutAskingAndTheStoreGoes) {
    ClearProgramSettings();
    ScriptedPrompt prompt;
    emu::EmulatedAnalyser emu;
    pardix::CDevice* device = EmulatedDevice(emu, 20);
    auto frame = std::make_unique<CMainFrame>(CMainFrame::Options{.device = device, .demoFolder = "/nonexistent"});
    frame->show();
    ASSERT_NO_FATAL_FAILURE(Capture(*frame));
    const std::string store = device->Source().TemporaryFolder();
    ASSERT_TRUE(QFileInfo::exists(QString::fromStdString(store)));
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        bool quit = false;
        CQuitSignals handlers([&] { quit = true; });
        ::raise(signal);
        EXPECT_TRUE(QTest::qWaitFor([&] { return quit; }, kBoundMs)) << signal;
    }
    CQuitSignals handlers([&] { frame->QuitAtOnce(); });
    ::raise(SIGTERM);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !frame->isVisible(); }, kBoundMs));
    EXPECT_TRUE(prompt.messages.isEmpty()) << "the modified project is not offered for saving";
    frame.reset();
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(store)));
}

TEST(MainFrameFiles, ASignalToQuitWhileTheCustomiseSheetIsOpenClosesBothAndEndsTheProgram) {
    ClearProgramSettings();
    emu::EmulatedAnalyser emu;
    CMainFrame frame(CMainFrame::Options{.device = EmulatedDevice(emu, 20), .demoFolder = "/nonexistent"});
    frame.show();
    // As the program runs: the real sheet in its own loop inside the main one, and main's handler.
    CQuitSignals handlers([&] {
        frame.QuitAtOnce();
        QCoreApplication::quit();
    });
    bool sheetOpen = false;
    QTimer::singleShot(0, &frame, [&] { frame.OnCustomize(); });
    QTimer::singleShot(300, &frame, [&] {
        sheetOpen = frame.CommandBars().Customising();
        ::raise(SIGTERM);
    });
    QTimer::singleShot(10000, &frame, [] { QCoreApplication::exit(42); });  // the quit was dropped
    EXPECT_EQ(QCoreApplication::exec(), 0);
    // The last window's close also posted a quit that this loop ended before
    // taking: left queued, it would end every event loop a later test starts.
    QCoreApplication::removePostedEvents(QCoreApplication::instance(), QEvent::Quit);
    EXPECT_TRUE(sheetOpen);
    EXPECT_FALSE(frame.isVisible());
    EXPECT_FALSE(frame.CommandBars().Customising());
    EXPECT_EQ(frame.Device(), nullptr) << "the device was let go";
}

TEST(MainFrameFiles, ADamagedProjectOpensOnlyWhenTheUserSaysSo) {
    ClearProgramSettings();
    ScriptedPrompt prompt;
    emu::EmulatedAnalyser emu;
    CMainFrame frame(CMainFrame::Options{.device = EmulatedDevice(emu, 20), .demoFolder = "/nonexistent"});
    frame.show();
    // Until the upload is done a save shows its progress, which this prompt cancels.
    ASSERT_NO_FATAL_FAILURE(Capture(frame));
    const QString project = QString::fromStdString(TempFolder("damaged")) + "/cap.usb";
    ASSERT_TRUE(frame.SaveProject(project)) << prompt.dialogs.join('|').toStdString();
    IDataSource& source = *frame.Device()->GetDataSource();
    const uint32_t count = source.GetCount();
    const size_t rows = frame.Document().TransactionRoot().children.size();
    QFile records(QString(project).replace(".usb", ".ph"));
    ASSERT_TRUE(records.resize(records.size() - 8));

    // Dropped, it is asked about, "no" by default, and a no leaves the capture.
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(project)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&frame, &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    prompt.answers = {QMessageBox::No};
    QApplication::sendEvent(&frame, &drop);
    ASSERT_EQ(prompt.messages.size(), 1);
    const std::vector<CaptureMismatch> cut{{"cap.ph", count * 16ull, {count * 16ull - 8, 0}, true}};
    EXPECT_EQ(prompt.messages[0], QString::fromStdString(COrvaneDoc::OpenAnywayQuestion(cut)));
    EXPECT_EQ(prompt.defaults[0], QMessageBox::No);
    EXPECT_EQ(source.GetCount(), count);
    EXPECT_EQ(frame.Document().TransactionRoot().children.size(), rows);

    // Yes opens the whole records and says how many of the saved ones they are.
    prompt.messages.clear();
    prompt.answers = {QMessageBox::Yes};
    ASSERT_TRUE(frame.OpenProject(project));
    ASSERT_TRUE(QTest::qWaitFor([&] { return frame.Worker().IsIdle() && prompt.messages.size() == 2; }, kBoundMs));
    EXPECT_EQ(prompt.messages[1], QString::fromStdString(CCaptureWorker::ShortReadWarning(count - 1, count)));
    EXPECT_EQ(source.GetCount(), count - 1);
    EXPECT_EQ(frame.windowTitle(), "cap.usb - Orvane");
}

TEST(MainFrameFiles, TheBuiltDemonstrationProjectsAreListedAndOpenToTheirSessions) {
    ClearProgramSettings();
    ScriptedPrompt prompt;
    CDecodeFactory factory(ORVANE_CLASSES_DIR);
    emu::EmulatedAnalyser emu;
    CMainFrame frame(CMainFrame::Options{.device = EmulatedDevice(emu, 20), .factory = &factory,
                                         .demoFolder = ORVANE_DEMO_DIR});
    frame.show();
    QStringList names;
    for (QAction* item : frame.DemoMenu()->actions()) names.append(item->text());
    ASSERT_EQ(names, QStringList({"audio.usb", "camera.usb", "disk.usb", "large-read.usb", "mouse.usb"}));
    EXPECT_TRUE(frame.DemoMenu()->isEnabled());
    std::function<int(const UsbItem&)> classRows = [&](const UsbItem& root) {
        int n = 0;
        for (const UsbItem* child : root.children) n += (child->type > ItemControlTransfer ? 1 : 0) + classRows(*child);
        return n;
    };
    for (int i = 0; i < names.size(); ++i) {
        frame.Commands().Execute(cmd::DemoFirst + i);
        ASSERT_TRUE(QTest::qWaitFor([&] { return frame.Worker().IsIdle() && frame.Worker().DataAvailable(); }, kBoundMs))
            << names[i].toStdString();
        EXPECT_EQ(frame.windowTitle(), names[i] + " - Orvane");
        const std::string tree = frame.Document().GetConfiguration();
        EXPECT_NE(tree.find("idVendor=\"4617\""), std::string::npos) << names[i].toStdString() << ": enumerated";
        EXPECT_NE(tree.find("<interface"), std::string::npos) << names[i].toStdString();
        frame.Commands().Execute(cmd::TransferLevel);
        ASSERT_TRUE(QTest::qWaitFor([&] { return frame.Worker().IsIdle() && frame.Worker().ClassDecoded(); }, kBoundMs))
            << names[i].toStdString();
        EXPECT_GT(classRows(frame.Document().TransferRoot()), 0) << names[i].toStdString();
        frame.Commands().Execute(cmd::TransactionLevel);
    }
    EXPECT_TRUE(prompt.messages.isEmpty()) << prompt.messages.join('|').toStdString();
}
