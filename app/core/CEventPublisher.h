// The program's event bus: handlers subscribe once and receive every event
// synchronously, in subscription order, on the publishing thread.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "IEventBus.h"

namespace orvane::app {

class CEventPublisher : public IEventPublisher {
public:
    CEventPublisher() = default;
    virtual ~CEventPublisher() = default;
    CEventPublisher(const CEventPublisher&) = delete;
    CEventPublisher& operator=(const CEventPublisher&) = delete;

    // 1 when appended, 0 when null or already subscribed.
    int32_t Subscribe(IEventHandler* handler) override;
    // 1 when removed, 0 when it was not subscribed.
    int32_t Unsubscribe(IEventHandler* handler) override;
    // Handlers may subscribe, unsubscribe or publish from inside OnEvent: one
    // removed before its turn is not called, one added waits for the next event.
    int32_t Publish(IEventHandler* sender, int32_t type, intptr_t param1, intptr_t param2) override;

    int32_t GetCount() const;
    // The handlers in delivery order.
    std::vector<IEventHandler*> Handlers() const;

private:
    bool IsSubscribed(IEventHandler* handler) const;

    // Guards only the list, never a delivery: handlers run unlocked so they may
    // publish again or wait on the thread that subscribes.
    mutable std::mutex lock_;
    std::vector<IEventHandler*> handlers_;
};

}  // namespace orvane::app
