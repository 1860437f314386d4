// What the window's tests share: a prompt that answers from a script, a
// desktop that records instead of starting anything, and program settings kept
// in a folder of the test's own.
#pragma once

#include <QDialog>
#include <QSettings>
#include <QStringList>

#include <cstdlib>
#include <deque>
#include <functional>
#include <string>
#include <unistd.h>

#include "CPacketListModel.h"
#include "CProgressDlg.h"
#include "DesktopServices.h"
#include "IDevice.h"
#include "IPrompt.h"

namespace orvane::app::test {

class ScriptedPrompt : public IPrompt {
public:
    ScriptedPrompt() { SetPrompt(this); }
    ~ScriptedPrompt() override { SetPrompt(nullptr); }

    QMessageBox::StandardButton Message(QWidget*, QMessageBox::Icon, const QString& text,
                                        QMessageBox::StandardButtons, QMessageBox::StandardButton defaultButton) override {
        messages.append(text);
        defaults.append(defaultButton);
        if (answers.empty()) return QMessageBox::Ok;
        const QMessageBox::StandardButton answer = answers.front();
        answers.pop_front();
        return answer;
    }
    int Exec(QDialog& dialog) override {
        // A save shows its progress only when it is slow, a loaded machine's
        // saves too: unscripted, it runs to its end and is not one of `dialogs`.
        if (dialog.objectName() == CProgressDlg::kSaveName) {
            ++saveProgress;
            return onSaveProgress ? onSaveProgress(dialog) : dialog.exec();
        }
        dialogs.append(dialog.metaObject()->className());
        return onExec ? onExec(dialog) : QDialog::Rejected;
    }
    QString OpenFileName(QWidget*, const QString&, const QString&, const QString& title,
                         const QString& defaultSuffix) override {
        fileDialogs.append(title + "|" + defaultSuffix);
        return openName;
    }
    QString SaveFileName(QWidget*, const QString&, const QString&, const QString& title,
                         const QString& defaultSuffix) override {
        fileDialogs.append(title + "|" + defaultSuffix);
        return saveName;
    }

    QStringList messages;
    QList<QMessageBox::StandardButton> defaults;  // each message's default button
    std::deque<QMessageBox::StandardButton> answers;
    QStringList dialogs;
    // Each file dialog asked for, as "title|default suffix".
    QStringList fileDialogs;
    std::function<int(QDialog&)> onExec;
    int saveProgress = 0;  // how often a save showed its progress
    std::function<int(QDialog&)> onSaveProgress;
    QString openName;
    QString saveName;
};

class RecordingDesktop : public IDesktop {
public:
    RecordingDesktop() { SetDesktop(this); }
    ~RecordingDesktop() override { SetDesktop(nullptr); }
    bool StartDetached(const QString& program, const QStringList& arguments) override {
        started.append(program + " " + arguments.join(' '));
        return true;
    }
    bool OpenUrl(const QUrl& url) override {
        opened.append(url.toString());
        return true;
    }
    QStringList started;
    QStringList opened;
};

// A fresh folder under the test's temporary directory.
inline std::string TempFolder(const char* name) {
    std::string pattern = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/orvane-" + name + "-XXXXXX";
    return ::mkdtemp(pattern.data()) ? pattern : std::string();
}

// Every row of the parse has reached the view: the counts come by queued
// calls, so a view with some rows may still be short of the last ones.
inline bool AllRowsShown(CPacketListModel& model) {
    return model.rowCount() > 0 && model.rowCount() == model.RowCount();
}

// The payload's upload runs on after the parse; a save before its end waits in
// a dialog, which a scripted prompt turns down.
inline bool UploadDone(IDevice* device) {
    int32_t progress = 100;
    return !device || !device->Control(kControlUploadProgress, &progress) || progress >= 100;
}

// Empties the program's settings (kept under the test's own folder).
inline void ClearProgramSettings() { QSettings("Kavrin", "Orvane").clear(); }

}  // namespace orvane::app::test
