// A view plug-in with a real window, for the window's tests: it counts its
// Create calls so a test can tell when the host made its window.
#include <QLabel>

#include "IEventBus.h"

namespace {

// A window that asks for the fixture's width.
class CFixtureWindow final : public QLabel {
public:
    using QLabel::QLabel;
    QSize sizeHint() const override { return {FIXTURE_VIEW_WIDTH, 100}; }
};

int g_creates = 0;
int g_alive = 0;

class CGuiFixtureView final : public orvane::IUsbView, public orvane::IEventHandler {
public:
    CGuiFixtureView() { ++g_alive; }
    ~CGuiFixtureView() {
        delete window_;
        --g_alive;
    }

    void Release() override { delete this; }
    int32_t GetInfo(orvane::ViewInfo* info) override {
        info->id = FIXTURE_VIEW_ID;
        info->title = FIXTURE_VIEW_TITLE;
        return 1;
    }
    orvane::WindowHandle Create(orvane::WindowHandle parent) override {
        ++g_creates;
        if (!window_) window_ = new CFixtureWindow(FIXTURE_VIEW_TITLE, static_cast<QWidget*>(parent));
        return window_;
    }
    orvane::WindowHandle GetHwnd() override { return window_; }
    void Attach(orvane::IEventPublisher* publisher) override {
        if (publisher) publisher->Subscribe(this);
    }
    int32_t Reserved() override { return 0; }

    int32_t SetPublisher(orvane::IEventPublisher*) override { return 0; }
    int32_t OnEvent(orvane::IEventHandler*, int32_t, intptr_t, intptr_t) override { return 0; }

private:
    QLabel* window_ = nullptr;
};

}  // namespace

extern "C" __attribute__((visibility("default"))) orvane::IUsbView* CreateUsbView() { return new CGuiFixtureView; }
extern "C" __attribute__((visibility("default"))) int GuiFixtureCreates() { return g_creates; }
extern "C" __attribute__((visibility("default"))) int GuiFixtureAlive() { return g_alive; }
