// The data plug-in's view object: what the host holds. It owns the hex
// control, which the bus's events reach, and stands between the control and
// the pane window, which the host may delete with its dock.
#pragma once

#include "CShowDataCtrl.h"
#include "CUsbViewFrame.h"

namespace orvane::nembrin {

class CDataPane;

class CNembrinView : public view::CUsbViewFrame, public IDataPaneHost {
public:
    static constexpr uint32_t kViewId = 4006;

    CNembrinView();
    ~CNembrinView() override;

    void Attach(IEventPublisher* publisher) override;

    CShowDataCtrl& Control() { return ctrl_; }
    CDataPane* Pane() const;

    // IDataPaneHost, forwarded to the pane while it is there.
    int32_t ClientWidth() const override;
    int32_t ClientHeight() const override;
    void SetScrollBar(bool vertical, int64_t maximum, int64_t page) override;
    void SetScrollPos(bool vertical, int64_t position) override;
    void Repaint() override;
    void StopDragTimer() override;
    void ShowCaret(int32_t x, int32_t y) override;
    void HideCaret() override;
    void SettingChanged(SettingIndex index, int32_t value) override;
    void FindNotFound() override;
    void FindAtEnd() override;
    bool OnGuiThread() const override;
    void Post(std::function<void()> fn) override { OnGui(std::move(fn)); }

protected:
    QWidget* CreateWindow(QWidget* parent) override;
    IEventHandler* Handler() override { return &ctrl_; }

private:
    CShowDataCtrl ctrl_;
};

}  // namespace orvane::nembrin
