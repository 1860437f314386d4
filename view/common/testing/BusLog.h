// For the view plug-ins' tests: a bus subscriber that keeps the packets of
// every GoToPacket it is sent.
#pragma once

#include <vector>

#include "IEventBus.h"

namespace orvane::view::test {

struct GoToLog : IEventHandler {
    int32_t SetPublisher(IEventPublisher*) override { return 0; }
    int32_t OnEvent(IEventHandler*, int32_t type, intptr_t param1, intptr_t) override {
        if (type == EventGoToPacket) packets.push_back(int32_t(param1));
        return 1;
    }
    std::vector<int32_t> packets;
};

}  // namespace orvane::view::test
