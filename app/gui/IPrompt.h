// Every message box, file dialog and modal dialog of the window goes through
// one prompt object, so tests answer them from a script instead of blocking in
// a modal loop.
#pragma once

#include <QMessageBox>
#include <QString>

class QDialog;
class QWidget;

namespace orvane::app {

class IPrompt {
public:
    virtual ~IPrompt() = default;

    // A message box; returns the button pressed.
    virtual QMessageBox::StandardButton Message(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                                QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                                QMessageBox::StandardButton defaultButton = QMessageBox::NoButton) = 0;
    // Runs a dialog modally; returns QDialog::exec's result.
    virtual int Exec(QDialog& dialog) = 0;
    // Empty when cancelled. An empty `title` leaves the toolkit's own; a name
    // typed without an extension gets `defaultSuffix` (no dot) when one is given.
    virtual QString OpenFileName(QWidget* parent, const QString& directory, const QString& filter,
                                 const QString& title = {}, const QString& defaultSuffix = {}) = 0;
    virtual QString SaveFileName(QWidget* parent, const QString& suggested, const QString& filter,
                                 const QString& title = {}, const QString& defaultSuffix = {}) = 0;
};

// The program's prompt: real dialogs unless a test installed its own.
IPrompt& Prompt();
// Installs `prompt` (not owned); null restores the real dialogs.
void SetPrompt(IPrompt* prompt);

}  // namespace orvane::app
