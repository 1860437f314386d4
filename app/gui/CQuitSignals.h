// Ends the program cleanly on SIGTERM, SIGINT and SIGHUP (a logout, a service
// manager, Ctrl+C in the terminal): the signal only wakes the event loop,
// which then runs `quit`, so the device library's temporary payload store is
// removed as at any other end.
#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace orvane::app {

class CQuitSignals : public QObject {
public:
    // One at a time; the previous handlers come back when it goes.
    explicit CQuitSignals(std::function<void()> quit, QObject* parent = nullptr);
    ~CQuitSignals() override;

private:
    static void OnSignal(int signal);

    std::function<void()> quit_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace orvane::app
