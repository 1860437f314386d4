// Start-up: the command line, the About box, the update check, Qt's own
// Chinese texts and the upload progress dialog.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QUrl>
#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <QTimer>
#include <QFileInfo>
#include <QTreeWidget>

#include "CAboutDlg.h"
#include "CDevice.h"
#include "CMainFrame.h"
#include "COrvaneApp.h"
#include "CPacketListModel.h"
#include "CProgressDlg.h"
#include "EmulatedAnalyser.h"
#include "GuiTestSupport.h"
#include "SessionBuilder.h"

using namespace orvane;
using namespace orvane::app;
using namespace orvane::app::test;

namespace {

constexpr int kBoundMs = 60000;

IDevice* EmulatedDevice(emu::EmulatedAnalyser& emu) {
    emu::SessionBuilder::Options session;
    session.operations = 20;
    emu.SetTraffic(emu::SessionBuilder(session).Build());
    return new pardix::CDevice(&emu, "orvane-startup-test-" + std::to_string(::getpid()));
}

COrvaneApp::Options AppOptions(IDevice* device) {
    COrvaneApp::Options options;
    options.device = device;
    options.memorySettings = true;
    options.classesFolder = "/nonexistent";
    options.viewFolder = "/nonexistent";
    options.demoFolder = "/nonexistent";
    return options;
}

}  // namespace

TEST(StartUp, CommandLineOpensASavedProjectAndRefusesADamagedOne) {
    ClearProgramSettings();
    ScriptedPrompt prompt;
    RecordingDesktop desktop;
    const QString project = QString::fromStdString(TempFolder("cmdline")) + "/cap.usb";
    int rows = 0;
    {
        emu::EmulatedAnalyser emu;
        COrvaneApp app(AppOptions(EmulatedDevice(emu)));
        ASSERT_EQ(app.Start({}), -1) << "no argument: a new project";
        CMainFrame& frame = *app.Frame();
        EXPECT_TRUE(frame.ProjectPath().isEmpty());
        EXPECT_EQ(frame.windowTitle(), QString::fromUtf8("无标题 - Orvane"));
        ASSERT_TRUE(QTest::qWaitFor([&] { frame.UpdateStatus(); return frame.Worker().CanStart(); }, kBoundMs));
        frame.OnStartRecord(true);
        ASSERT_TRUE(QTest::qWaitFor([&] {
            return frame.Worker().IsIdle() && frame.Worker().DataAvailable() && AllRowsShown(*frame.ListModel());
        }, kBoundMs));
        rows = frame.ListModel()->rowCount();
        ASSERT_TRUE(QTest::qWaitFor([&] { return UploadDone(frame.Device()); }, kBoundMs));
        ASSERT_TRUE(frame.SaveProject(project));
        EXPECT_TRUE(frame.RecentFiles().startsWith(project));
    }
    {
        emu::EmulatedAnalyser emu;
        COrvaneApp app(AppOptions(EmulatedDevice(emu)));
        ASSERT_EQ(app.Start({project, "--no-update-check"}), -1);
        CMainFrame& frame = *app.Frame();
        EXPECT_EQ(frame.ProjectPath(), project);
        EXPECT_TRUE(frame.isVisible());
        ASSERT_TRUE(QTest::qWaitFor([&] {
            return frame.Worker().IsIdle() && frame.ListModel()->rowCount() == rows;
        }, kBoundMs));
    }
    EXPECT_TRUE(prompt.messages.isEmpty()) << prompt.messages.join('|').toStdString();

    const QString damaged = QString::fromStdString(TempFolder("cmdline")) + "/damaged.usb";
    {
        QFile file(damaged);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("<Orvane Version=\"2.0\"><Packet PathName=");
    }
    emu::EmulatedAnalyser emu;
    COrvaneApp app(AppOptions(EmulatedDevice(emu)));
    EXPECT_EQ(app.Start({damaged, "--no-update-check"}), 1);
    EXPECT_EQ(prompt.messages, QStringList{QString::fromUtf8(COrvaneDoc::kOpenError)});
    EXPECT_FALSE(app.Frame()->isVisible());
    EXPECT_TRUE(desktop.started.isEmpty());
}

TEST(StartUp, UpdateCheckRunsUnlessTurnedOffAndNeverWithoutAnUpdater) {
    ClearProgramSettings();
    RecordingDesktop desktop;
    const struct {
        QStringList arguments;
        bool setting;
        bool posted;
    } rows[] = {
        {{}, true, true},
        {{"--no-update-check"}, true, false},
        {{}, false, false},
    };
    for (const auto& row : rows) {
        QSettings("Kavrin", "Orvane").setValue("UpdateCheck", row.setting);
        COrvaneApp app(AppOptions(nullptr));
        ASSERT_EQ(app.Start(row.arguments), -1);
        EXPECT_EQ(app.UpdateCheckPosted(), row.posted) << row.arguments.join(' ').toStdString();
        QTest::qWait(10);
    }
    // The build has no updater beside the program, so nothing was started.
    EXPECT_FALSE(QFileInfo::exists(UpdaterPath()));
    EXPECT_TRUE(desktop.started.isEmpty());
    EXPECT_TRUE(UpdaterPath().endsWith("/update"));
    EXPECT_TRUE(HelpFilePath().endsWith("/common/usbhelp.pdf"));
}

TEST(StartUp, AboutBoxWithAndWithoutAnAnalyser) {
    const QString unknown = QString::fromUtf8("未知");
    {
        CAboutDlg dialog(CAboutDlg::Collect(nullptr, nullptr));
        EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8("关于 Orvane"));
        EXPECT_EQ(dialog.Value(CAboutDlg::Program)->text(), QString(ORVANE_VERSION));
        for (auto field : {CAboutDlg::Firmware, CAboutDlg::Algorithm, CAboutDlg::Model, CAboutDlg::Serial})
            EXPECT_EQ(dialog.Value(field)->text(), unknown);
        EXPECT_EQ(dialog.Plugins()->columnCount(), 4);
        EXPECT_EQ(dialog.Plugins()->headerItem()->text(3), QString::fromUtf8("插件版本"));
        EXPECT_EQ(dialog.Plugins()->topLevelItemCount(), 0);
        // The program's own icon, from the resources compiled in, in each size it is drawn in.
        EXPECT_EQ(ProgramIcon().availableSizes().size(), 7);
        const QList<QLabel*> labels = dialog.findChildren<QLabel*>();
        EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), [](QLabel* l) { return !l->pixmap().isNull(); }));
    }
    emu::EmulatedAnalyser emu;
    IDevice* device = EmulatedDevice(emu);
    DeviceInfo info;
    ASSERT_EQ(device->GetDeviceInfo(&info), 1);
    CDecodeFactory factory(std::string(ORVANE_SOURCE_DIR) + "/nonexistent");
    CAboutDlg dialog(CAboutDlg::Collect(device, &factory));
    EXPECT_EQ(dialog.Value(CAboutDlg::Model)->text(), "Orvane-II");
    EXPECT_EQ(dialog.Value(CAboutDlg::Firmware)->text().toStdString(), FormatVersion(info.firmwareVersion));
    EXPECT_EQ(dialog.Value(CAboutDlg::Algorithm)->text().toStdString(), FormatVersion(info.configVersion));
    EXPECT_EQ(dialog.Value(CAboutDlg::Serial)->text(), QString::number(info.serialNumber));
    device->Release();
}

TEST(StartUp, QtOwnTextsAreChinese) {
    ASSERT_TRUE(COrvaneApp::LoadTranslations(*qApp));
    EXPECT_NE(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Cancel");
}

TEST(StartUp, UploadProgressDialogClosesAtTheEndAndCancelGivesUp) {
    int progress = 40;
    CProgressDlg dialog([&] { return progress; });
    EXPECT_EQ(dialog.Bar()->value(), 40);
    QTimer::singleShot(150, [&] { progress = 100; });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);

    progress = 10;
    CProgressDlg cancelled([&] { return progress; });
    QTimer::singleShot(50, &cancelled, &QDialog::reject);
    EXPECT_EQ(cancelled.exec(), QDialog::Rejected);
}

TEST(StartUp, HelpAndUpdaterStartWithoutAShellOnlyWhenPresent) {
    RecordingDesktop desktop;
    const struct {
        QString path;
        bool (*run)();
        QStringList* log;
        QString expected;
    } rows[] = {
        {HelpFilePath(), &OpenHelp, &desktop.opened, QUrl::fromLocalFile(HelpFilePath()).toString()},
        {UpdaterPath(), &StartUpdater, &desktop.started, UpdaterPath() + " /SilentCheck"},
    };
    for (const auto& row : rows) {
        ASSERT_FALSE(QFileInfo::exists(row.path)) << "the build has none";
        EXPECT_FALSE(row.run());
        EXPECT_TRUE(row.log->isEmpty());
        QDir().mkpath(QFileInfo(row.path).absolutePath());
        {
            QFile file(row.path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        EXPECT_TRUE(row.run());
        QFile::remove(row.path);
        EXPECT_EQ(*row.log, QStringList{row.expected});
    }
}
