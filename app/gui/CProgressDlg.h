// Shown while a save waits for the payload upload, or writes a large capture:
// the progress, polled every 100 ms; it closes by itself at 100, Cancel (or a
// progress below 0: there is nothing left to wait for) gives the save up.
#pragma once

#include <QDialog>

#include <functional>

class QProgressBar;

namespace orvane::app {

class CProgressDlg : public QDialog {
    Q_OBJECT
public:
    // The object name of the dialog a save shows while it writes.
    static constexpr const char* kSaveName = "saveProgress";

    // `progress` answers 0-100, or -1 to give up; polled on the UI thread.
    // Without a title and text it is the upload's dialog.
    explicit CProgressDlg(std::function<int()> progress, QWidget* parent = nullptr, const QString& title = {},
                          const QString& text = {});

    QProgressBar* Bar() const { return bar_; }
    // One poll, as the timer does.
    void Poll();

private:
    std::function<int()> progress_;
    QProgressBar* bar_;
};

}  // namespace orvane::app
