// Find, trigger and record settings through the window on the emulated
// analyser: a trigger set from a selected row fires on that traffic in the
// next capture, the record settings' SOF filter keeps SOFs out of it, and find
// walks the capture, reveals and selects its hit, marks it and publishes its
// bytes, and stops when a quit closes the window inside its event pump.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include <algorithm>
#include <functional>

#include "CDevice.h"
#include "CFindSheet.h"
#include "CMainFrame.h"
#include "CPacketListModel.h"
#include "CQuitSignals.h"
#include "CRecordSheet.h"
#include "CTriggerOptionDlg.h"
#include "CUsbListCtrl.h"
#include "EmulatedAnalyser.h"
#include "GuiTestSupport.h"
#include "SessionBuilder.h"
#include "SetupXml.h"

using namespace orvane;
using namespace orvane::app;
using namespace orvane::app::test;

namespace {

constexpr int kBoundMs = 60000;
QString U(const char* text) { return QString::fromUtf8(text); }

struct EventLog : IEventHandler {
    std::vector<std::array<intptr_t, 3>> events;
    int32_t SetPublisher(IEventPublisher*) override { return 0; }
    int32_t OnEvent(IEventHandler*, int32_t type, intptr_t a, intptr_t b) override {
        events.push_back({type, a, b});
        return 0;
    }
    std::vector<std::array<intptr_t, 3>> Of(int32_t type) const {
        std::vector<std::array<intptr_t, 3>> out;
        for (const auto& e : events)
            if (e[0] == type) out.push_back(e);
        return out;
    }
};

void Walk(UsbItem* item, const std::function<void(UsbItem*)>& visit) {
    for (UsbItem* child : item->children) {
        visit(child);
        Walk(child, visit);
    }
}

struct CaptureTest : ::testing::Test {
    ScriptedPrompt prompt;
    emu::EmulatedAnalyser emu;
    std::unique_ptr<CMainFrame> frame;
    EventLog log;

    void SetUp() override {
        ClearProgramSettings();
        emu::SessionBuilder::Options session;
        session.operations = 60;
        emu.SetTraffic(emu::SessionBuilder(session).Build());
        CMainFrame::Options options;
        options.device = new pardix::CDevice(&emu, "orvane-find-test-" + std::to_string(::getpid()));
        options.demoFolder = "/nonexistent";
        frame = std::make_unique<CMainFrame>(options);
        frame->Document().SetSetup(SetupXml::kDefaultText);
        frame->Publisher().Subscribe(&log);
        ASSERT_TRUE(QTest::qWaitFor([&] { frame->UpdateStatus(); return frame->Worker().CanStart(); }, kBoundMs));
    }
    void TearDown() override {
        frame->Publisher().Unsubscribe(&log);
        frame.reset();
    }

    CPacketListModel& Model() { return *frame->ListModel(); }
    CUsbListCtrl& List() { return *frame->ListCtrl(); }

    void Capture() {
        ASSERT_TRUE(frame->Commands().Execute(cmd::StartRecord));
        CCaptureWorker& w = frame->Worker();
        ASSERT_TRUE(QTest::qWaitFor([&] {
            return w.IsIdle() && w.DataAvailable() && AllRowsShown(Model());
        }, kBoundMs));
        QTest::qWait(50);
    }
    int CountItems(const std::function<bool(UsbItem*)>& pick) {
        int n = 0;
        Walk(&frame->Document().TransactionRoot(), [&](UsbItem* item) { n += pick(item) ? 1 : 0; });
        return n;
    }
    std::vector<uint8_t> Bytes(UsbItem* item) {
        size_t n = 0;
        const std::vector<uint8_t>& bytes = Model().List().Cells().GetItemData(item, &n);
        return std::vector<uint8_t>(bytes.begin(), bytes.begin() + ptrdiff_t(n));
    }
};

}  // namespace

TEST_F(CaptureTest, TriggerSetFromASelectedRowFiresOnItInTheNextCapture) {
    Capture();
    // The last SETUP transaction of the capture, and the first one like it.
    int row = -1;
    for (int r = 0; r < Model().rowCount(); ++r)
        if (Model().ItemAt(r)->type == ItemSetupTransaction) row = r;
    ASSERT_GE(row, 0);
    UsbItem* chosen = Model().ItemAt(row);
    const std::vector<uint8_t> bytes = Bytes(chosen);
    ASSERT_FALSE(bytes.empty());
    int64_t expected = -1;
    Walk(&frame->Document().TransactionRoot(), [&](UsbItem* item) {
        if (expected < 0 && item->type == ItemSetupTransaction && item->address == chosen->address &&
            item->endpoint == chosen->endpoint && Bytes(item) == bytes)
            expected = CPacketListRows::LastLeaf(item)->firstRecord;
    });
    ASSERT_GE(expected, 0);

    List().SelectRow(row);
    ASSERT_TRUE(frame->Commands().Execute(cmd::SetTrigger));
    SetupXml setup;
    ASSERT_TRUE(setup.Load(frame->Document().GetSetup()));
    const auto steps = setup.LoadTriggerSteps();
    ASSERT_EQ(steps.size(), 1u);
    EXPECT_EQ(steps[0].address, chosen->address);
    EXPECT_EQ(steps[0].pidMask, MaskSetup | MaskData0 | MaskAck);
    EXPECT_TRUE(prompt.messages.isEmpty()) << prompt.messages.join(' ').toStdString();
    // "触发设置..." shows the step on the trigger page.
    prompt.onExec = [&](QDialog& dialog) {
        auto& sheet = static_cast<CRecordSheet&>(dialog);
        EXPECT_EQ(sheet.Pages()->currentIndex(), CRecordSheet::TriggerPage);
        EXPECT_EQ(sheet.TriggerOptionPage()->Steps().Steps(), steps);
        return int(QDialog::Rejected);
    };
    ASSERT_TRUE(frame->Commands().Execute(cmd::TriggerSettings));
    EXPECT_EQ(prompt.dialogs.size(), 1);

    Capture();
    EXPECT_EQ(frame->Document().TriggerRecord(), expected) << "the analyser fired on the step";
    const int triggerRow = Model().List().TriggerRow();
    ASSERT_GE(triggerRow, 0);
    EXPECT_TRUE(Model().List().PaintRow(triggerRow).trigger) << "the trigger row is marked";
    UsbItem* fired = Model().ItemAt(triggerRow);
    EXPECT_EQ(fired->type, ItemSetupTransaction);
    EXPECT_EQ(Bytes(fired), bytes);
}

TEST_F(CaptureTest, RecordSettingsSofFilterKeepsSofsOutOfTheCapture) {
    SetupXml open;
    ASSERT_TRUE(open.SetFilterFlags(0));
    frame->Document().SetSetup(open.Text());
    Capture();
    auto sof = [](UsbItem* item) { return item->type == PidSof || item->type == ItemSofGroup; };
    auto nak = [](UsbItem* item) { return item->type == PidNak; };
    ASSERT_GT(CountItems(sof), 0);
    const int naks = CountItems(nak);
    ASSERT_GT(naks, 0);

    // 存储设置: tick SOF only and OK.
    prompt.onExec = [](QDialog& dialog) {
        auto& sheet = static_cast<CRecordSheet&>(dialog);
        sheet.show();
        EXPECT_EQ(sheet.Pages()->currentIndex(), CRecordSheet::RecordPage);
        sheet.RecordOptionPage()->FilterBox(2)->click();
        sheet.OkButton()->click();
        return sheet.result();
    };
    frame->Document().SetModified(false);
    ASSERT_TRUE(frame->Commands().Execute(cmd::StorageSettings));
    ASSERT_EQ(prompt.dialogs, QStringList{"orvane::app::CRecordSheet"});
    EXPECT_TRUE(frame->Document().IsModified());
    SetupXml stored;
    ASSERT_TRUE(stored.Load(frame->Document().GetSetup()));
    EXPECT_EQ(stored.FilterFlags(), uint32_t(SetupXml::FilterSof));

    Capture();
    EXPECT_EQ(CountItems(sof), 0);
    EXPECT_EQ(CountItems(nak), naks) << "only SOFs were filtered";
}

TEST_F(CaptureTest, RefusedSetupOpensTheSheetUntilItIsCancelledOrFixed) {
    // A storage of 3 records is no buffer the analyser has.
    frame->Document().SetSetup("<setup><storage packet=\"3\" payload=\"3\" pre_trigger_percent=\"50\"/></setup>");
    int opened = 0;
    prompt.onExec = [&](QDialog&) {
        ++opened;
        return int(QDialog::Rejected);
    };
    ASSERT_TRUE(frame->Commands().Execute(cmd::StartRecord));
    EXPECT_EQ(opened, 1) << "Cancel gives the capture up";
    EXPECT_TRUE(frame->Worker().IsIdle());
    EXPECT_FALSE(frame->Worker().DataAvailable());

    // OK stores the sheet's sizes, which the analyser takes.
    prompt.onExec = [](QDialog& dialog) {
        auto& sheet = static_cast<CRecordSheet&>(dialog);
        sheet.show();
        sheet.OkButton()->click();
        return sheet.result();
    };
    Capture();
    SetupXml stored;
    ASSERT_TRUE(stored.Load(frame->Document().GetSetup()));
    EXPECT_EQ(stored.PacketRecords(), 1024u);
    EXPECT_EQ(stored.PayloadBytes(), 1048576u);
}

TEST_F(CaptureTest, FindRevealsSelectsMarksAndPublishesTheHit) {
    Capture();
    // Nothing selected: forward finds nothing.
    ASSERT_TRUE(frame->Commands().Execute(cmd::FindNext));
    ASSERT_EQ(prompt.messages, QStringList{U("到达文件尾部！")});

    // A pattern from the last transaction with four bytes or more.
    std::vector<UsbItem*> transactions;
    Walk(&frame->Document().TransactionRoot(), [&](UsbItem* item) {
        if (item->type >= ItemInTransaction && item->type <= ItemPingTransaction) transactions.push_back(item);
    });
    UsbItem* source = nullptr;
    for (UsbItem* t : transactions)
        if (Bytes(t).size() >= 4) source = t;
    ASSERT_NE(source, nullptr);
    const std::vector<uint8_t> sourceBytes = Bytes(source);
    const std::vector<uint8_t> pattern(sourceBytes.begin() + 1, sourceBytes.begin() + 3);
    UsbItem* expected = nullptr;
    int64_t offset = -1;
    for (UsbItem* t : transactions) {
        const std::vector<uint8_t> b = Bytes(t);
        auto at = std::search(b.begin(), b.end(), pattern.begin(), pattern.end());
        if (at != b.end()) {
            expected = t;
            offset = at - b.begin();
        }
    }

    ASSERT_TRUE(frame->Commands().Execute(cmd::FindSettings));
    CFindSheet* sheet = List().FindSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(sheet->isVisible());
    sheet->TransactionEdit(2)->setText(QString::fromStdString(FindText::HexText(pattern)));
    sheet->PlaceMarkBox()->setChecked(true);
    log.events.clear();
    sheet->PreviousButton()->click();
    ASSERT_EQ(prompt.messages.size(), 1) << prompt.messages.join(' ').toStdString();
    const int row = List().SelectedRow();
    ASSERT_GE(row, 0);
    EXPECT_EQ(Model().ItemAt(row), expected) << "the hit's own row";
    Mark mark;
    ASSERT_EQ(frame->Document().Bookmarks().GetCount(), 1);
    frame->Document().Bookmarks().GetAt(0, &mark);
    EXPECT_EQ(mark.packet, int32_t(expected->firstRecord));
    EXPECT_EQ(mark.name, "");
    EXPECT_EQ(log.Of(EventMarksChanged).size(), 1u);
    const auto ranges = log.Of(EventByteRangeSelected);
    ASSERT_EQ(ranges.size(), 1u);
    EXPECT_EQ(ranges[0][1], offset * 8);
    EXPECT_EQ(ranges[0][2], 16);

    // The hit row as the condition: the row page shows it, and the twin search goes on from there.
    ASSERT_TRUE(frame->Commands().Execute(cmd::SetFindCondition));
    EXPECT_EQ(sheet->ActivePage(), CFindSheet::RowPage);
    ItemSummary summary;
    Model().List().Cells().GetRowSummary(expected, summary);
    EXPECT_EQ(sheet->RowEdit(0)->text().toStdString(), summary.name);
    EXPECT_EQ(sheet->RowEdit(1)->text(), QString::number(expected->address));
    sheet->PlaceMarkBox()->setChecked(false);
    // Without its bytes and size the row has twins: the search must reach one.
    sheet->RowEdit(4)->clear();
    sheet->RowEdit(5)->clear();
    int twins = 0;
    for (int command : {cmd::FindNext, cmd::FindPrevious}) {
        List().SelectRow(row);
        const qsizetype told = prompt.messages.size();
        ASSERT_TRUE(frame->Commands().Execute(command));
        if (prompt.messages.size() > told) continue;  // the end of the capture
        UsbItem* hit = Model().ItemAt(List().SelectedRow());
        EXPECT_NE(hit, expected) << "the search starts past the selected row";
        int64_t at, length;
        EXPECT_TRUE(MatchFindCondition(hit, List().Find().Condition(), Model().List().Cells(), &at, &length));
        ++twins;
    }
    EXPECT_GE(twins, 1) << "a row like the hit is found on one side of it";
    EXPECT_EQ(frame->Document().Bookmarks().GetCount(), 1);
}

TEST_F(CaptureTest, AQuitSignalInsideAFindsPumpEndsTheSearchAndShowsNothing) {
    Capture();
    List().SelectRow(0);
    List().SetFindProgressDelay(0);  // the search pumps events from its first block
    List().Find().Condition().address = 127;  // matches no transaction: the search runs to the end
    CQuitSignals handlers([&] { frame->QuitAtOnce(); });
    ::raise(SIGTERM);
    List().OnFind(true);
    EXPECT_TRUE(frame->Worker().State() == CCaptureWorker::CaptureState::Quit) << "the quit ran inside the search";
    EXPECT_TRUE(prompt.messages.isEmpty()) << "no box over the closed window";
    EXPECT_EQ(List().SelectedRow(), -1);
    EXPECT_EQ(Model().rowCount(), 0) << "the list let go of the capture before the device went";
}
