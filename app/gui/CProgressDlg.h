// Shown while a save waits for the payload upload: the upload's progress,
// polled every 100 ms; it closes by itself at 100, Cancel (or a progress below
// 0: there is nothing left to wait for) gives the save up.
#pragma once

#include <QDialog>

#include <functional>

class QProgressBar;

namespace orvane::app {

class CProgressDlg : public QDialog {
    Q_OBJECT
public:
    // `progress` answers 0-100, or -1 to give up; polled on the UI thread.
    explicit CProgressDlg(std::function<int()> progress, QWidget* parent = nullptr);

    QProgressBar* Bar() const { return bar_; }
    // One poll, as the timer does.
    void Poll();

private:
    std::function<int()> progress_;
    QProgressBar* bar_;
};

}  // namespace orvane::app
