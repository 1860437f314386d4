#include "IPrompt.h"

#include <QDialog>
#include <QFileDialog>

namespace orvane::app {

namespace {

class CDialogPrompt final : public IPrompt {
public:
    QMessageBox::StandardButton Message(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                        QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton) override {
        QMessageBox box(icon, QStringLiteral("Orvane"), text, buttons, parent);
        if (defaultButton != QMessageBox::NoButton) box.setDefaultButton(defaultButton);
        return static_cast<QMessageBox::StandardButton>(box.exec());
    }
    int Exec(QDialog& dialog) override { return dialog.exec(); }
    QString OpenFileName(QWidget* parent, const QString& directory, const QString& filter, const QString& title,
                         const QString& defaultSuffix) override {
        return AskFileName(parent, QFileDialog::AcceptOpen, directory, filter, title, defaultSuffix);
    }
    QString SaveFileName(QWidget* parent, const QString& suggested, const QString& filter, const QString& title,
                         const QString& defaultSuffix) override {
        return AskFileName(parent, QFileDialog::AcceptSave, suggested, filter, title, defaultSuffix);
    }

private:
    static QString AskFileName(QWidget* parent, QFileDialog::AcceptMode mode, const QString& start,
                               const QString& filter, const QString& title, const QString& defaultSuffix) {
        QFileDialog dialog(parent, title, start, filter);
        dialog.setAcceptMode(mode);
        dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
        dialog.setDefaultSuffix(defaultSuffix);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
        return dialog.selectedFiles().constFirst();
    }
};

CDialogPrompt g_dialogs;
IPrompt* g_prompt = nullptr;

}  // namespace

IPrompt& Prompt() { return g_prompt ? *g_prompt : g_dialogs; }

void SetPrompt(IPrompt* prompt) { g_prompt = prompt; }

}  // namespace orvane::app
