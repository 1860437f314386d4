// The plug-in side of the view contract, shared by the view plug-ins: the
// IUsbView object that the host holds, its info, the window it creates on
// first show and the publisher it subscribes to. The window is a separate
// widget: the host may delete it with its dock before it releases the view,
// so the frame only ever deletes a window that is still there.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QWidget>

#include <string>
#include <utility>

#include "IEventBus.h"

namespace orvane::view {

class CUsbViewFrame : public IUsbView {
public:
    CUsbViewFrame(uint32_t id, std::string title, const QImage& icon);
    virtual ~CUsbViewFrame();
    CUsbViewFrame(const CUsbViewFrame&) = delete;
    CUsbViewFrame& operator=(const CUsbViewFrame&) = delete;

    void Release() override;
    int32_t GetInfo(ViewInfo* info) override;
    WindowHandle Create(WindowHandle parent) override;
    WindowHandle GetHwnd() override { return window_.data(); }
    void Attach(IEventPublisher* publisher) override;
    int32_t Reserved() override { return 0; }

    IEventPublisher* Publisher() const { return publisher_; }
    QWidget* Window() const { return window_.data(); }

protected:
    // A subclass whose window reads its members calls this in its destructor.
    void DestroyWindow() { delete window_.data(); }
    // The view's window as a child of `parent`; null when it cannot be made.
    virtual QWidget* CreateWindow(QWidget* parent) = 0;
    // The handler that Attach subscribes.
    virtual IEventHandler* Handler() = 0;

    // Runs `fn` on the GUI thread: at once when called there, else queued
    // (events after a parse come on the capture worker thread). A queued call
    // is dropped when the view is released first.
    template <class Fn>
    void OnGui(Fn&& fn) {
        if (QThread::currentThread() == gui_.thread())
            fn();
        else
            QMetaObject::invokeMethod(&gui_, std::forward<Fn>(fn), Qt::QueuedConnection);
    }
    template <class Fn>
    void Queue(Fn&& fn) { QMetaObject::invokeMethod(&gui_, std::forward<Fn>(fn), Qt::QueuedConnection); }

private:
    uint32_t id_;
    std::string title_;
    QByteArray iconPng_;
    IEventPublisher* publisher_ = nullptr;  // the host's, never released
    QPointer<QWidget> window_;
    QObject gui_;  // lives on the GUI thread; queued calls go through it
};

}  // namespace orvane::view
