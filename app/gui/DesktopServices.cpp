#include "DesktopServices.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>

#include <cstdio>

#include "AppDirectory.h"

// Resource initialisers live in the global namespace.
static void InitProgramIcon() { Q_INIT_RESOURCE(ProgramIcon); }

namespace orvane::app {

namespace {

class CSystemDesktop final : public IDesktop {
public:
    bool StartDetached(const QString& program, const QStringList& arguments) override {
        return QProcess::startDetached(program, arguments);
    }
    bool OpenUrl(const QUrl& url) override { return QDesktopServices::openUrl(url); }
};

CSystemDesktop g_system;
IDesktop* g_desktop = nullptr;

QString Beside(const char* relative) {
    return QFileInfo(QString::fromStdString(GetAppDirectory()) + relative).absoluteFilePath();
}

}  // namespace

QIcon ProgramIcon() {
    // Compiled into this static library: nothing else would pull it in.
    InitProgramIcon();
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) icon.addFile(QString(":/icons/orvane-%1.png").arg(size));
    return icon;
}

IDesktop& Desktop() { return g_desktop ? *g_desktop : g_system; }

void SetDesktop(IDesktop* desktop) { g_desktop = desktop; }

QString HelpFilePath() { return Beside("/../common/usbhelp.pdf"); }

QString UpdaterPath() { return Beside("/../update"); }

bool OpenHelp() {
    const QString path = HelpFilePath();
    if (!QFileInfo::exists(path)) {
        std::fprintf(stderr, "orvane: help file %s not found\n", path.toLocal8Bit().constData());
        return false;
    }
    return Desktop().OpenUrl(QUrl::fromLocalFile(path));
}

bool StartUpdater() {
    const QFileInfo updater(UpdaterPath());
    // A missing updater goes unnoticed: most installations have none.
    if (!updater.isFile() || !updater.isExecutable()) return false;
    return Desktop().StartDetached(updater.absoluteFilePath(), {QString::fromLatin1(kUpdaterArgument)});
}

}  // namespace orvane::app
