// The program's event bus and the view plug-in contract.
#pragma once

#include <cstdint>
#include <string>

#include "ImageList.h"

namespace orvane {

enum EventType : int32_t {
    EventItemSelected = 0,
    // 1 is not used
    EventDataReady = 2,
    EventGoToPacket = 3,
    EventParseFinished = 4,
    EventDeviceTreeChanged = 5,
    EventCaptureCleared = 6,
    EventByteRangeSelected = 7,
    EventMarksChanged = 8,
};

class IEventPublisher;

class IEventHandler {
public:
    virtual int32_t SetPublisher(IEventPublisher* publisher) = 0;
    virtual int32_t OnEvent(IEventHandler* sender, int32_t type, intptr_t param1, intptr_t param2) = 0;

protected:
    ~IEventHandler() = default;
};

class IEventPublisher {
public:
    virtual int32_t Subscribe(IEventHandler* handler) = 0;
    virtual int32_t Unsubscribe(IEventHandler* handler) = 0;
    virtual int32_t Publish(IEventHandler* sender, int32_t type, intptr_t param1, intptr_t param2) = 0;

protected:
    ~IEventPublisher() = default;
};

struct ViewInfo {
    uint32_t id = 0;
    std::string title;
    ImageList icon;   // one icon, owned by the plug-in
};

// Window handles cross as the toolkit's widget pointer, opaque to the core.
using WindowHandle = void*;

class IUsbView {
public:
    virtual void Release() = 0;
    virtual int32_t GetInfo(ViewInfo* info) = 0;
    virtual WindowHandle Create(WindowHandle parent) = 0;
    virtual WindowHandle GetHwnd() = 0;
    virtual void Attach(IEventPublisher* publisher) = 0;
    virtual int32_t Reserved() = 0;

protected:
    ~IUsbView() = default;
};

using CreateUsbViewFn = IUsbView* (*)();
constexpr const char* kCreateUsbViewExport = "CreateUsbView";

namespace xml { class Node; }

struct Mark {
    int32_t packet = 0;
    std::string name;
    std::string comment;
};

class IBookmark {
public:
    virtual int32_t GetCount() = 0;
    virtual int32_t GetAt(int32_t index, Mark* out) = 0;
    virtual int32_t Add(const Mark& mark) = 0;
    virtual int32_t Modify(int32_t index, const Mark& mark) = 0;
    virtual int32_t Remove(int32_t index) = 0;
    virtual int32_t RemoveAll() = 0;
    virtual int32_t FindNext(int32_t* packet) = 0;
    virtual int32_t FindPrev(int32_t* packet) = 0;
    virtual int32_t Serialize(xml::Node* project, int32_t load) = 0;

protected:
    ~IBookmark() = default;
};

}  // namespace orvane
