#include "CEventPublisher.h"

#include <algorithm>

namespace orvane::app {

int32_t CEventPublisher::Subscribe(IEventHandler* handler)
{
    if (!handler) return 0;
    std::lock_guard<std::mutex> guard(lock_);
    if (std::find(handlers_.begin(), handlers_.end(), handler) != handlers_.end()) return 0;
    handlers_.push_back(handler);
    return 1;
}

int32_t CEventPublisher::Unsubscribe(IEventHandler* handler)
{
    std::lock_guard<std::mutex> guard(lock_);
    auto it = std::find(handlers_.begin(), handlers_.end(), handler);
    if (it == handlers_.end()) return 0;
    handlers_.erase(it);
    return 1;
}

bool CEventPublisher::IsSubscribed(IEventHandler* handler) const
{
    std::lock_guard<std::mutex> guard(lock_);
    return std::find(handlers_.begin(), handlers_.end(), handler) != handlers_.end();
}

int32_t CEventPublisher::Publish(IEventHandler* sender, int32_t type, intptr_t param1, intptr_t param2)
{
    // A copy, because a handler may change the list while it is being walked;
    // each one is checked again so a handler removed (and perhaps destroyed)
    // by an earlier one is never called.
    std::vector<IEventHandler*> snapshot;
    {
        std::lock_guard<std::mutex> guard(lock_);
        snapshot = handlers_;
    }
    for (IEventHandler* handler : snapshot) {
        if (IsSubscribed(handler)) handler->OnEvent(sender, type, param1, param2);
    }
    return 1;
}

int32_t CEventPublisher::GetCount() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return int32_t(handlers_.size());
}

std::vector<IEventHandler*> CEventPublisher::Handlers() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return handlers_;
}

}  // namespace orvane::app
