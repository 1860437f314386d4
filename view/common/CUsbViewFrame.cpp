#include "CUsbViewFrame.h"

#include <QBuffer>

namespace orvane::view {

CUsbViewFrame::CUsbViewFrame(uint32_t id, std::string title, const QImage& icon) : id_(id), title_(std::move(title))
{
    QBuffer buffer(&iconPng_);
    buffer.open(QIODevice::WriteOnly);
    icon.save(&buffer, "PNG");
}

CUsbViewFrame::~CUsbViewFrame() { DestroyWindow(); }

void CUsbViewFrame::Release() { delete this; }

int32_t CUsbViewFrame::GetInfo(ViewInfo* info)
{
    if (!info) return 0;
    info->id = id_;
    info->title = title_;
    info->icon = ImageList{reinterpret_cast<const uint8_t*>(iconPng_.constData()), uint32_t(iconPng_.size()),
                           16, 16, iconPng_.isEmpty() ? 0u : 1u};
    return 1;
}

WindowHandle CUsbViewFrame::Create(WindowHandle parent)
{
    if (!window_) window_ = CreateWindow(static_cast<QWidget*>(parent));
    return window_.data();
}

void CUsbViewFrame::Attach(IEventPublisher* publisher)
{
    publisher_ = publisher;
    if (publisher) publisher->Subscribe(Handler());
}

}  // namespace orvane::view
