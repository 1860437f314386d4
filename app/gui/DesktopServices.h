// The outside programs and files the window starts: the help file through the
// desktop's URL handler, the updater as a detached process. Neither goes
// through a shell: a program and its argument list, or a file URL.
#pragma once

#include <QIcon>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace orvane::app {

class IDesktop {
public:
    virtual ~IDesktop() = default;
    virtual bool StartDetached(const QString& program, const QStringList& arguments) = 0;
    virtual bool OpenUrl(const QUrl& url) = 0;
};

// The real desktop unless a test installed its own (not owned; null restores it).
IDesktop& Desktop();
void SetDesktop(IDesktop* desktop);

// The program's own icon, in every size it is drawn in.
QIcon ProgramIcon();

// "<program folder>/../common/usbhelp.pdf".
QString HelpFilePath();
// "<program folder>/../update".
QString UpdaterPath();
constexpr const char* kUpdaterArgument = "/SilentCheck";

// Opens the help file; false when it is missing or nothing opened it.
bool OpenHelp();
// Starts the updater with its silent-check argument when it exists and is
// executable; false otherwise.
bool StartUpdater();

}  // namespace orvane::app
