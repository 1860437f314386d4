// The find sheet, the record settings sheet and its trigger page offscreen:
// the select-all boxes, the PID block, button texts, what the controls read
// into and write back, the record page's rules, the endpoint picker, import
// and export, and OK refusing what the analyser cannot take.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QTest>

#include "CFindSheet.h"
#include "COrvaneDoc.h"
#include "CRecordSheet.h"
#include "CTriggerOptionDlg.h"
#include "GuiTestSupport.h"
#include "QtTestEnvironment.h"
#include "TestFiles.h"

using namespace orvane;
using namespace orvane::app;
using namespace orvane::app::test;

namespace {

[[maybe_unused]] ::testing::Environment* const kQt =
    ::testing::AddGlobalTestEnvironment(new orvane::testing::QtEnvironment);

QString U(const char* text) { return QString::fromUtf8(text); }

void Click(QAbstractButton* button) { button->click(); }

}  // namespace

TEST(FindSheet, ButtonsSelectAllBoxesAndThePidBlock)
{
    FindCondition condition;
    QWidget owner;
    CFindSheet sheet(condition, &owner);
    sheet.show();
    EXPECT_EQ(sheet.windowTitle(), U("查找"));
    EXPECT_EQ(sheet.PlaceMarkBox()->text(), U("放置标签(&B)"));
    EXPECT_EQ(sheet.PreviousButton()->text(), U("上一个(&P)"));
    EXPECT_EQ(sheet.NextButton()->text(), U("下一个(&N)"));
    EXPECT_EQ(sheet.Pages()->tabText(0), U("查找事务"));
    EXPECT_EQ(sheet.Pages()->tabText(1), U("查找信息"));
    EXPECT_EQ(sheet.TransactionEdit(0)->placeholderText(), U("<任意条件>"));

    // The PID combination box shows and hides the whole block.
    EXPECT_TRUE(sheet.PidBlock()->isHidden());
    Click(sheet.UsePidBox());
    EXPECT_FALSE(sheet.PidBlock()->isHidden());
    Click(sheet.UsePidBox());
    EXPECT_TRUE(sheet.PidBlock()->isHidden());
    Click(sheet.UsePidBox());

    // "全选" sets its group; the group's boxes set "全选" when all four are ticked.
    Click(sheet.SelectAllBox(1));
    for (int i = 4; i < 8; ++i) EXPECT_TRUE(sheet.PidBox(i)->isChecked()) << i;
    EXPECT_FALSE(sheet.PidBox(3)->isChecked());
    Click(sheet.PidBox(5));
    EXPECT_FALSE(sheet.SelectAllBox(1)->isChecked());
    Click(sheet.PidBox(5));
    EXPECT_TRUE(sheet.SelectAllBox(1)->isChecked());
    for (int i = 8; i < 12; ++i) Click(sheet.PidBox(i));
    EXPECT_TRUE(sheet.SelectAllBox(2)->isChecked());
    Click(sheet.SelectAllBox(2));
    for (int i = 8; i < 12; ++i) EXPECT_FALSE(sheet.PidBox(i)->isChecked()) << i;

    // The buttons ask the list to search.
    std::vector<bool> asked;
    QObject::connect(&sheet, &CFindSheet::FindRequested, [&](bool forward) { asked.push_back(forward); });
    Click(sheet.NextButton());
    Click(sheet.PreviousButton());
    EXPECT_EQ(asked, (std::vector<bool>{true, false}));
}

TEST(FindSheet, ControlsReadIntoTheConditionAndRowConditionsWriteBack)
{
    FindCondition condition;
    QWidget owner;
    CFindSheet sheet(condition, &owner);
    sheet.TransactionEdit(0)->setText("3");
    sheet.TransactionEdit(2)->setText("12 ab");
    Click(sheet.UsePidBox());
    Click(sheet.PidBox(1));  // IN
    Click(sheet.PidBox(8));  // ACK
    Click(sheet.PlaceMarkBox());
    sheet.RowEdit(0)->setText("  IN  ");
    sheet.SpeedCombo()->setCurrentIndex(3);
    sheet.StatusCombo()->setCurrentIndex(-1);
    sheet.ReadCondition();
    EXPECT_EQ(condition.mode, 0u);
    EXPECT_TRUE(condition.placeMark);
    EXPECT_EQ(condition.address, 3);
    EXPECT_EQ(condition.endpoint, -1);
    EXPECT_EQ(condition.data, (std::vector<uint8_t>{0x12, 0xAB}));
    EXPECT_TRUE(condition.usePidCombination);
    EXPECT_EQ(condition.pidMask, 0x102u);
    EXPECT_EQ(condition.rowText, "IN");
    EXPECT_EQ(condition.rowSpeed, 2) << "HS";
    EXPECT_EQ(condition.rowStatus, -2) << "no selection matches anything";

    condition.rowText = "GET_DESCRIPTOR";
    condition.rowAddress = 5;
    condition.rowSize = -1;
    condition.rowData = {0x80, 0x06};
    condition.rowSpeed = 3;
    condition.rowStatus = 0x10002;
    sheet.TransactionEdit(1)->setText("7");  // typed, not yet read
    sheet.WriteRowConditions();
    EXPECT_EQ(condition.endpoint, 7) << "the transaction page is read first";
    EXPECT_EQ(sheet.RowEdit(0)->text(), "GET_DESCRIPTOR");
    EXPECT_EQ(sheet.RowEdit(1)->text(), "5");
    EXPECT_EQ(sheet.RowEdit(4)->text(), "80 06 ");
    EXPECT_EQ(sheet.RowEdit(5)->text(), "");
    EXPECT_EQ(sheet.SpeedCombo()->currentIndex(), 2) << "FS";
    EXPECT_EQ(sheet.StatusCombo()->currentIndex(), -1) << "an error class has no entry";
    sheet.SetActivePage(CFindSheet::RowPage);
    sheet.ReadCondition();
    EXPECT_EQ(condition.mode, 1u);
    EXPECT_EQ(condition.rowStatus, -2);
    EXPECT_EQ(condition.rowData, (std::vector<uint8_t>{0x80, 0x06}));
}

TEST(RecordSheet, RecordPageRulesAndThePicker)
{
    ScriptedPrompt prompt;
    CRecordSheet::SetRememberedPage(CRecordSheet::RecordPage);
    CRecordSheet sheet;
    EXPECT_EQ(sheet.windowTitle(), U("记录设置"));
    EXPECT_EQ(sheet.ImportButton()->text(), U("导入(&I)"));
    EXPECT_EQ(sheet.ExportButton()->text(), U("导出(&E)"));
    EXPECT_EQ(sheet.RestoreButton()->text(), U("恢复(&R)"));
    EXPECT_FALSE(sheet.SetSetupXml("<setup"));
    EXPECT_EQ(sheet.SetupText(), SetupXml().Text()) << "text that does not load gives the defaults";
    ASSERT_TRUE(sheet.SetSetupXml(
        "<setup><storage packet=\"4096\" payload=\"1048576\" pre_trigger_percent=\"50\"/><filter>"
        "<basic flags=\"0x20\"/><advance drop=\"0\"><conditon id=\"0\" enable=\"1\" address=\"3\" "
        "upstream=\"0x0005\" downstream=\"0xFFFF\"/><conditon id=\"1\" enable=\"0\" address=\"0\" "
        "upstream=\"0xFFFF\" downstream=\"0xFFFF\"/></advance></filter><trigger/></setup>"));
    CRecordOptionDlg* page = sheet.RecordOptionPage();
    sheet.show();
    EXPECT_EQ(page->PacketCombo()->currentText(), "4 K");
    EXPECT_EQ(page->PayloadCombo()->count(), 10);
    EXPECT_EQ(page->PayloadCombo()->itemText(9), "512 M");
    EXPECT_EQ(page->PacketCombo()->itemText(15), "32 M");
    EXPECT_TRUE(page->FilterBox(2)->isChecked()) << "SOF";
    EXPECT_FALSE(page->AddressEdit(1)->isEnabled()) << "a disabled condition's controls are greyed";
    EXPECT_TRUE(page->AddressEdit(0)->isEnabled());

    // Ticking all five ticks "全部过滤"; clearing one clears it; "全部过滤" sets all five.
    for (int i : {0, 1, 3, 4}) Click(page->FilterBox(i));
    EXPECT_TRUE(page->FilterAllBox()->isChecked());
    Click(page->FilterBox(3));
    EXPECT_FALSE(page->FilterAllBox()->isChecked());
    Click(page->FilterAllBox());
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(page->FilterBox(i)->isChecked()) << i;
    Click(page->ConditionBox(1));
    EXPECT_TRUE(page->UpstreamButton(1)->isEnabled());

    // The slider keeps 1-99.
    page->PercentSlider()->setValue(0);
    EXPECT_EQ(page->PercentLabel()->text(), U("预触发：1%"));
    page->PercentSlider()->setValue(100);
    EXPECT_EQ(page->PercentLabel()->text(), U("预触发：99%"));

    // The picker opens on the button's mask and writes its caption.
    Click(page->UpstreamButton(0));
    CEndpointDlg* picker = page->Picker();
    ASSERT_NE(picker, nullptr);
    EXPECT_TRUE(picker->EndpointBox(0)->isChecked());
    EXPECT_FALSE(picker->EndpointBox(1)->isChecked());
    EXPECT_TRUE(picker->EndpointBox(2)->isChecked());
    EXPECT_FALSE(picker->AllBox()->isChecked());
    Click(picker->AllBox());
    EXPECT_EQ(page->UpstreamButton(0)->text(), "0xFFFF");
    Click(picker->EndpointBox(15));
    EXPECT_EQ(page->UpstreamButton(0)->text(), "0x7FFF");
    EXPECT_FALSE(picker->AllBox()->isChecked());
    picker->hide();

    // An enabled condition addressed 200 is refused: the analyser would keep 72.
    page->AddressEdit(1)->setText("200");
    page->PacketCombo()->setCurrentIndex(10);  // "1 M"
    Click(sheet.OkButton());
    EXPECT_NE(sheet.result(), QDialog::Accepted);
    ASSERT_EQ(prompt.messages.size(), 1);
    EXPECT_TRUE(prompt.messages[0].contains(U("条件2"))) << prompt.messages[0].toStdString();
    page->AddressEdit(1)->setText("127");
    Click(page->DropRadio());
    sheet.Pages()->setCurrentIndex(CRecordSheet::TriggerPage);
    Click(sheet.OkButton());
    EXPECT_EQ(sheet.result(), QDialog::Accepted);
    SetupXml stored;
    ASSERT_TRUE(stored.Load(sheet.SetupText()));
    EXPECT_EQ(stored.PacketRecords(), 1048576u);
    EXPECT_EQ(stored.PreTriggerPercent(), 99u);
    EXPECT_EQ(stored.FilterFlags(), 0x7Cu);
    EXPECT_TRUE(stored.DropMode());
    EXPECT_EQ(stored.Conditions()[1].address, 127u);
    EXPECT_EQ(stored.Conditions()[0].upstream, "0x7FFF");
    EXPECT_EQ(CRecordSheet::RememberedPage(), CRecordSheet::TriggerPage) << "the page at the last OK";
    CRecordSheet next;
    EXPECT_EQ(next.Pages()->currentIndex(), CRecordSheet::TriggerPage);
    CRecordSheet::SetRememberedPage(CRecordSheet::RecordPage);
}

TEST(RecordSheet, ExportImportRestoreAndDamagedFiles)
{
    ScriptedPrompt prompt;
    orvane::testing::TempDir dir;
    CRecordSheet sheet;
    sheet.SetSetupXml(SetupXml::kDefaultText);
    CRecordOptionDlg* page = sheet.RecordOptionPage();
    CTriggerOptionDlg* trigger = sheet.TriggerOptionPage();
    // Both pages seen: only a page shown stores its controls.
    sheet.show();
    for (int p : {CRecordSheet::TriggerPage, CRecordSheet::RecordPage}) sheet.Pages()->setCurrentIndex(p);
    page->PacketCombo()->setCurrentIndex(7);
    ASSERT_TRUE(trigger->Steps().Add());
    trigger->List()->Reload(-1);
    trigger->Steps().Steps()[0] = TriggerStep{3, 0x0002, 0x441, "12 34 H"};
    prompt.saveName = QString::fromStdString(dir / "setup.xml");
    Click(sheet.ExportButton());
    EXPECT_TRUE(prompt.messages.isEmpty()) << prompt.messages.join(' ').toStdString();
    EXPECT_EQ(prompt.fileDialogs, QStringList{U("导出设置|xml")});

    // Edits since then are undone by restore, and by importing the file.
    page->PacketCombo()->setCurrentIndex(0);
    trigger->Steps().Clear();
    Click(sheet.RestoreButton());
    EXPECT_EQ(page->PacketCombo()->currentIndex(), 7);
    ASSERT_EQ(trigger->Steps().Count(), 1u);
    page->PacketCombo()->setCurrentIndex(0);
    trigger->Steps().Clear();
    prompt.openName = prompt.saveName;
    Click(sheet.ImportButton());
    EXPECT_EQ(prompt.fileDialogs.last(), U("导入设置|xml"));
    EXPECT_EQ(page->PacketCombo()->currentIndex(), 7);
    ASSERT_EQ(trigger->Steps().Count(), 1u);
    EXPECT_EQ(trigger->Steps().Steps()[0], (TriggerStep{3, 0x0002, 0x441, "12 34 H"}));

    // A damaged file is refused with a message; the settings and the pages stay.
    orvane::testing::WriteText(dir / "bad.xml", "<setup><storage packet=");
    prompt.openName = QString::fromStdString(dir / "bad.xml");
    const std::string before = sheet.SetupText();
    Click(sheet.ImportButton());
    ASSERT_EQ(prompt.messages.size(), 1);
    EXPECT_TRUE(prompt.messages[0].startsWith(U(SetupXml::kImportFailedText)));
    EXPECT_EQ(sheet.SetupText(), before);
    EXPECT_EQ(page->PacketCombo()->currentIndex(), 7);

    // A failed export is reported.
    prompt.saveName = QString::fromStdString(dir / "no-such-folder/setup.xml");
    Click(sheet.ExportButton());
    ASSERT_EQ(prompt.messages.size(), 2);
    EXPECT_TRUE(prompt.messages[1].startsWith(U(SetupXml::kExportFailedText)));
}

TEST(TriggerPage, StepsButtonsClicksEditsAndTheSixteenStepLimit)
{
    ScriptedPrompt prompt;
    SetupXml setup;
    CTriggerOptionDlg page(setup);
    page.resize(1000, 500);
    page.show();
    CTriggerListCtrl* list = page.List();
    EXPECT_EQ(list->Header()->count(), CTriggerSteps::kColumns);
    EXPECT_FALSE(page.Button(CTriggerOptionDlg::Clear)->isEnabled());
    for (int i = 0; i < 16; ++i) Click(page.Button(CTriggerOptionDlg::Add));
    EXPECT_TRUE(prompt.messages.isEmpty());
    Click(page.Button(CTriggerOptionDlg::Add));
    ASSERT_EQ(prompt.messages.size(), 1);
    EXPECT_EQ(prompt.messages[0], U("最多支持16级触发！"));
    EXPECT_EQ(page.Steps().Count(), 16u);
    EXPECT_EQ(list->Selected(), 15) << "the added step is selected";
    EXPECT_TRUE(page.Button(CTriggerOptionDlg::Up)->isEnabled());
    EXPECT_FALSE(page.Button(CTriggerOptionDlg::Down)->isEnabled());

    // The edits sit over the selected row; leaving it commits them.
    list->Reload(0);
    list->ScrollTo(0);
    EXPECT_TRUE(list->AddressEdit()->isVisible());
    EXPECT_EQ(list->AddressEdit()->text(), "") << "any address";
    list->AddressEdit()->setText("5");
    list->DataEdit()->setText(" 01 H ");
    list->Select(1);
    EXPECT_EQ(page.Steps().Steps()[0].address, 5);
    EXPECT_EQ(page.Steps().Steps()[0].data, "01 H");
    Click(page.Button(CTriggerOptionDlg::Up));
    EXPECT_EQ(list->Selected(), 0);
    EXPECT_EQ(page.Steps().Steps()[1].address, 5);

    // The keys move through the rows, also from inside an edit, which is committed.
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(list->Selected(), 1);
    QTest::keyClick(list, Qt::Key_End);
    EXPECT_EQ(list->Selected(), 15);
    EXPECT_GE(list->CellRect(15, 0).top(), 0) << "scrolled into view";
    QTest::keyClick(list, Qt::Key_PageUp);
    EXPECT_LT(list->Selected(), 15);
    QTest::keyClick(list, Qt::Key_Home);
    EXPECT_EQ(list->Selected(), 0);
    QTest::keyClick(list, Qt::Key_Up);
    EXPECT_EQ(list->Selected(), 0) << "stays on the first row";
    list->AddressEdit()->setFocus();
    list->AddressEdit()->setText("7");
    QTest::keyClick(list->AddressEdit(), Qt::Key_Down);
    EXPECT_EQ(list->Selected(), 1);
    EXPECT_EQ(page.Steps().Steps()[0].address, 7);

    // A click on a drawn box flips it: endpoint 0 of the first row, then its "全选".
    page.Steps().Steps()[0].endpoint = 0;
    const QRect cell = list->CellRect(0, CTriggerSteps::ColEndpoint);
    const CTriggerSteps::Box ep0 = CTriggerSteps::EndpointBox(15, cell.left(), cell.top());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(ep0.left + 4, ep0.top + 4));
    EXPECT_EQ(page.Steps().Steps()[0].endpoint, 0x0001);
    const CTriggerSteps::Box all = CTriggerSteps::EndpointBox(16, cell.left(), cell.top());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(all.left + 4, all.top + 4));
    EXPECT_EQ(page.Steps().Steps()[0].endpoint, 0xFFFF);

    // Delete the last row selects the one before it; clear asks first.
    list->Reload(15);
    Click(page.Button(CTriggerOptionDlg::Remove));
    EXPECT_EQ(list->Selected(), 14);
    prompt.answers = {QMessageBox::No};
    Click(page.Button(CTriggerOptionDlg::Clear));
    EXPECT_EQ(page.Steps().Count(), 15u);
    prompt.answers = {QMessageBox::Yes};
    Click(page.Button(CTriggerOptionDlg::Clear));
    EXPECT_EQ(page.Steps().Count(), 0u);
    EXPECT_EQ(prompt.messages.last(), U("所有触发设置将清空！"));
}

namespace {

// The default settings with values no page writes back as they stand: the
// basic flags in their default spelling, an enabled condition the record page
// refuses (address 200), and 17 trigger steps, one more than the table has.
struct UnwritableSetup {
    std::string text = SetupXml::kDefaultText;
    const std::string plain = "<conditon id=\"1\" enable=\"0\" address=\"0\"";
    const std::string refused = "<conditon id=\"1\" enable=\"1\" address=\"200\"";
    UnwritableSetup() {
        text.replace(text.find(plain), plain.size(), refused);
        std::string steps = "<trigger>";
        for (int i = 0; i < 17; ++i) steps += "<step address=\"1\" endpoint=\"2\" pid_mask=\"1024\" data=\"?\"/>";
        text.replace(text.find("<trigger>"), 9, steps);
    }
    bool RecordPartKept(const std::string& stored) const {
        return stored.find("flags=\"0xFFFFFFFF\"") != std::string::npos && stored.find(refused) != std::string::npos;
    }
};

}  // namespace

TEST(RecordSheet, OkRefusesSeventeenStepsFromTheProject)
{
    ScriptedPrompt prompt;
    const UnwritableSetup setup;
    COrvaneDoc doc;
    doc.SetSetup(setup.text);
    doc.SetModified(false);
    prompt.onExec = [&](QDialog& dialog) {
        auto& sheet = static_cast<CRecordSheet&>(dialog);
        sheet.show();
        EXPECT_EQ(sheet.Pages()->currentIndex(), CRecordSheet::TriggerPage);
        EXPECT_FALSE(sheet.PageShown(CRecordSheet::RecordPage));
        EXPECT_EQ(sheet.TriggerOptionPage()->Steps().Count(), 17u);
        Click(sheet.OkButton());
        EXPECT_NE(sheet.result(), QDialog::Accepted);
        sheet.TriggerOptionPage()->List()->Reload(16);
        Click(sheet.TriggerOptionPage()->Button(CTriggerOptionDlg::Remove));
        Click(sheet.OkButton());
        return sheet.result();
    };
    EXPECT_TRUE(CRecordSheet::EditDocumentSetup(nullptr, doc, nullptr, CRecordSheet::TriggerPage));
    ASSERT_EQ(prompt.messages, QStringList{U(SetupXml::kTooManyStepsText)}) << "the unseen condition refused nothing";
    SetupXml stored;
    ASSERT_TRUE(stored.Load(doc.GetSetup()));
    EXPECT_EQ(stored.LoadTriggerSteps().size(), 16u);
    EXPECT_TRUE(setup.RecordPartKept(doc.GetSetup())) << "the record page was never shown: " << doc.GetSetup();
    EXPECT_TRUE(doc.IsModified());

    // Cancel keeps the project's text.
    prompt.onExec = [](QDialog&) { return int(QDialog::Rejected); };
    const std::string kept = doc.GetSetup();
    EXPECT_FALSE(CRecordSheet::EditDocumentSetup(nullptr, doc, nullptr, CRecordSheet::RecordPage));
    EXPECT_EQ(doc.GetSetup(), kept);

    // OK on the record page alone leaves the steps for the capture start to refuse.
    doc.SetSetup(setup.text);
    prompt.onExec = [](QDialog& dialog) {
        auto& sheet = static_cast<CRecordSheet&>(dialog);
        sheet.show();
        EXPECT_FALSE(sheet.PageShown(CRecordSheet::TriggerPage));
        sheet.RecordOptionPage()->ConditionBox(1)->click();  // off: its address no longer counts
        Click(sheet.OkButton());
        return sheet.result();
    };
    EXPECT_TRUE(CRecordSheet::EditDocumentSetup(nullptr, doc, nullptr, CRecordSheet::RecordPage));
    ASSERT_TRUE(stored.Load(doc.GetSetup()));
    EXPECT_EQ(stored.LoadTriggerSteps().size(), 17u);
    EXPECT_EQ(stored.FilterFlags(), 0x7Cu) << "written by the page shown";
    CRecordSheet::SetRememberedPage(CRecordSheet::RecordPage);
}
