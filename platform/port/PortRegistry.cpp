#include "Port.h"

#include "LibusbBackend.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#if ORVANE_HAVE_EMULATOR
#include "EmulatedAnalyser.h"
#endif

namespace orvane::port {
namespace {

struct Row {
    const char* name;
    std::shared_ptr<PortBackend> (*make)();
};

std::shared_ptr<PortBackend> MakeLibusb() { return std::make_shared<LibusbBackend>(); }

std::shared_ptr<PortBackend> MakeEmulated() {
#if ORVANE_HAVE_EMULATOR
    return std::make_shared<emu::EmulatedAnalyser>();
#else
    return nullptr;
#endif
}

constexpr Row kRows[] = {
    {"libusb", MakeLibusb},
    {"emulated", MakeEmulated},
};

std::mutex gMutex;
std::shared_ptr<PortBackend> gCurrent;

std::shared_ptr<PortBackend> ChooseDefault() {
    if (const char* wanted = std::getenv("ORVANE_PORT"); wanted && *wanted) {
        if (auto backend = MakeBackend(wanted)) return backend;
        std::fprintf(stderr, "orvane: ORVANE_PORT=\"%s\" is not an available port back end; choosing one\n", wanted);
    }
    auto usb = std::make_shared<LibusbBackend>();
    if (usb->AnalyserPresent()) return usb;
    if (auto emulated = MakeBackend("emulated")) return emulated;
    // Without an emulator the libusb back end still fails every call cleanly.
    return usb;
}

}  // namespace

std::shared_ptr<PortBackend> MakeBackend(const std::string& name) {
    for (const Row& row : kRows)
        if (name == row.name) return row.make();
    return nullptr;
}

std::vector<std::string> BackendNames() {
    std::vector<std::string> names;
    for (const Row& row : kRows) names.emplace_back(row.name);
    return names;
}

std::shared_ptr<PortBackend> CurrentBackendShared() {
    std::lock_guard lock(gMutex);
    if (!gCurrent) gCurrent = ChooseDefault();
    return gCurrent;
}

PortBackend& CurrentBackend() { return *CurrentBackendShared(); }

std::shared_ptr<PortBackend> SetBackend(std::shared_ptr<PortBackend> backend) {
    std::lock_guard lock(gMutex);
    gCurrent.swap(backend);
    return backend;
}

int InitializeInterface(const InterfaceGuid* guid) { return CurrentBackendShared()->InitializeInterface(guid); }

int WritePort(int device, int pipe, const void* buffer, unsigned long length, unsigned long* transferred,
              unsigned long timeoutMs) {
    return CurrentBackendShared()->WritePort(device, pipe, buffer, length, transferred, timeoutMs);
}

int ReadPort(int device, int pipe, void* buffer, unsigned long length, unsigned long* transferred,
             unsigned long timeoutMs) {
    return CurrentBackendShared()->ReadPort(device, pipe, buffer, length, transferred, timeoutMs);
}

}  // namespace orvane::port
