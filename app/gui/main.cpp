// The analyser program. --capture starts a capture at start-up, --list-plugins
// prints what was loaded and ends (see COrvaneApp::Start); the hidden
// --screenshot PATH waits for that capture, shows a row's detail, saves the
// window as a PNG and quits.
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include "CMainFrame.h"
#include "COrvaneApp.h"
#include "CQuitSignals.h"
#include "CPacketListModel.h"
#include "CUsbListCtrl.h"
#include "DesktopServices.h"

using orvane::app::CMainFrame;
using orvane::app::COrvaneApp;

namespace {

void TakeScreenshot(CMainFrame& frame, const QString& shotPath) {
    auto* poll = new QTimer(&frame);
    auto* clock = new QElapsedTimer;
    clock->start();
    QObject::connect(poll, &QTimer::timeout, &frame, [&frame, poll, clock, shotPath] {
        const bool ready =
            frame.Worker().IsIdle() && frame.Worker().DataAvailable() && frame.ListModel()->rowCount() > 0;
        if (!ready && clock->elapsed() < 30000) return;
        poll->stop();
        if (ready) {
            // A setup transaction of the device, opened, shows the most detail.
            auto* model = frame.ListModel();
            int row = 0;
            for (int r = 0; r < model->rowCount(); ++r) {
                const QModelIndex index = model->index(r, 0);
                if (index.data().toString().startsWith("SETUP") && model->index(r, 1).data().toString() != "0") {
                    row = r;
                    break;
                }
            }
            model->ToggleExpand(row);
            frame.ListCtrl()->setFocus();
            frame.ListCtrl()->setCurrentIndex(model->index(row, 0));
        }
        QTimer::singleShot(500, &frame, [&frame, shotPath, clock] {
            frame.grab().save(shotPath, "PNG");
            delete clock;
            // A picture, not a session: the capture is not offered for saving.
            frame.Document().SetModified(false);
            frame.close();
        });
    });
    poll->start(100);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication qt(argc, argv);
    QApplication::setOrganizationName("Kavrin");
    QApplication::setApplicationName("Orvane");
    // The desktop entry the window belongs to, and its icon.
    QApplication::setDesktopFileName("orvane");
    QApplication::setWindowIcon(orvane::app::ProgramIcon());
    COrvaneApp::LoadTranslations(qt);

    QStringList args = qt.arguments();
    args.removeFirst();
    const int shot = int(args.indexOf("--screenshot"));
    const QString shotPath = shot >= 0 && shot + 1 < args.size() ? args.takeAt(shot + 1) : QString();
    const bool capture = args.contains("--capture") || !shotPath.isEmpty();

    COrvaneApp::Options options;
    options.loadDevice = true;
    COrvaneApp app(std::move(options));
    const int code = app.Start(args);
    if (code >= 0) return code;
    CMainFrame& frame = *app.Frame();
    orvane::app::CQuitSignals quitSignals([&frame] {
        frame.QuitAtOnce();
        QCoreApplication::quit();  // also out of a dialog that is open
    });
    if (capture) QTimer::singleShot(300, &frame, [&frame] { frame.OnStartRecord(true); });
    if (!shotPath.isEmpty()) TakeScreenshot(frame, shotPath);
    return qt.exec();
}
