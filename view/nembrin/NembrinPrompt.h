// The find dialog's message boxes go through one prompt object, so tests
// read them instead of blocking in a modal loop.
#pragma once

#include <QMessageBox>
#include <QString>

namespace orvane::nembrin {

class IPrompt {
public:
    virtual ~IPrompt() = default;
    virtual void Message(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text) = 0;
};

// Real message boxes unless a test installed its own (not owned; null restores).
IPrompt& Prompt();
void SetPrompt(IPrompt* prompt);

}  // namespace orvane::nembrin
