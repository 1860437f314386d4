// What a fixture view saw, and the extra exports through which tests read it
// and make it act as a user would.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "IEventBus.h"

namespace orvane::fixture {

struct FixtureViewLog {
    struct Event {
        IEventHandler* sender;
        int32_t type;
        intptr_t param1;
        intptr_t param2;
    };
    IEventHandler* handler = nullptr;  // the view's own, as it subscribes it
    std::vector<Event> events;
    std::vector<std::string> marks;    // "packet name comment" from the last MarksChanged
};

using FixtureViewLogFn = const FixtureViewLog* (*)(IUsbView*);
using FixtureViewDoubleClickFn = void (*)(IUsbView*, int32_t packet);
using FixtureViewAliveFn = int32_t (*)();
constexpr const char* kFixtureViewLogExport = "FixtureViewLogOf";
constexpr const char* kFixtureViewDoubleClickExport = "FixtureViewDoubleClick";
constexpr const char* kFixtureViewAliveExport = "FixtureViewAlive";

}  // namespace orvane::fixture
