#include "NembrinPrompt.h"

namespace orvane::nembrin {

namespace {

class CBoxPrompt : public IPrompt {
public:
    void Message(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text) override
    {
        QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
        box.exec();
    }
};

IPrompt* gPrompt = nullptr;

}  // namespace

IPrompt& Prompt()
{
    static CBoxPrompt boxes;
    return gPrompt ? *gPrompt : boxes;
}

void SetPrompt(IPrompt* prompt) { gPrompt = prompt; }

}  // namespace orvane::nembrin
