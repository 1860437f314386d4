// A view plug-in for the tests: it keeps the contract the host relies on
// (info, window stand-in, subscription in Attach) and logs what it receives.
#pragma once

#include "FixtureViewLog.h"

namespace orvane::fixture {

class CFixtureView : public IUsbView, public IEventHandler {
public:
    CFixtureView();
    virtual ~CFixtureView();

    void Release() override;
    int32_t GetInfo(ViewInfo* info) override;
    WindowHandle Create(WindowHandle parent) override;
    WindowHandle GetHwnd() override { return window_; }
    void Attach(IEventPublisher* publisher) override;
    int32_t Reserved() override { return 0; }

    int32_t SetPublisher(IEventPublisher*) override { return 0; }
    int32_t OnEvent(IEventHandler* sender, int32_t type, intptr_t param1, intptr_t param2) override;

    const FixtureViewLog& Log() const { return log_; }
    // What a double-click on a chart does.
    void DoubleClick(int32_t packet);

    static int32_t Alive() { return alive_; }

private:
    struct Window {
        WindowHandle parent;
    };

    IEventPublisher* publisher_ = nullptr;
    Window* window_ = nullptr;
    FixtureViewLog log_;
    static int32_t alive_;
};

}  // namespace orvane::fixture
