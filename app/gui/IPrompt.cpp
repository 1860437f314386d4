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
    QString OpenFileName(QWidget* parent, const QString& directory, const QString& filter) override {
        return QFileDialog::getOpenFileName(parent, QString(), directory, filter);
    }
    QString SaveFileName(QWidget* parent, const QString& suggested, const QString& filter) override {
        return QFileDialog::getSaveFileName(parent, QString(), suggested, filter);
    }
};

CDialogPrompt g_dialogs;
IPrompt* g_prompt = nullptr;

}  // namespace

IPrompt& Prompt() { return g_prompt ? *g_prompt : g_dialogs; }

void SetPrompt(IPrompt* prompt) { g_prompt = prompt; }

}  // namespace orvane::app
