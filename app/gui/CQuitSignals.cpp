#include "CQuitSignals.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace orvane::app {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
int gWakeFds[2] = {-1, -1};
struct sigaction gPrevious[std::size(kSignals)];

}  // namespace

void CQuitSignals::OnSignal(int) {
    // Only what is safe in a handler: one byte to the event loop.
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(gWakeFds[0], &byte, 1);
    errno = saved;
}

CQuitSignals::CQuitSignals(std::function<void()> quit, QObject* parent) : QObject(parent), quit_(std::move(quit)) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, gWakeFds) != 0) return;
    notifier_ = new QSocketNotifier(gWakeFds[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(gWakeFds[1], bytes, sizeof bytes) > 0) {
        }
        if (quit_) quit_();
    });
    struct sigaction action {};
    action.sa_handler = &CQuitSignals::OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &action, &gPrevious[i]);
}

CQuitSignals::~CQuitSignals() {
    if (!notifier_) return;
    for (size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &gPrevious[i], nullptr);
    delete notifier_;
    ::close(gWakeFds[0]);
    ::close(gWakeFds[1]);
    gWakeFds[0] = gWakeFds[1] = -1;
}

}  // namespace orvane::app
