#include "Port.h"

#include "LibusbBackend.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "EmulatedAnalyser.h"
#include "SessionBuilder.h"

namespace orvane::port {
namespace {

struct Row {
    const char* name;
    std::shared_ptr<PortBackend> (*make)();
};

std::shared_ptr<PortBackend> MakeLibusb() { return std::make_shared<LibusbBackend>(); }

// The device whose traffic the emulated analyser records: ORVANE_EMULATED_DEVICE
// names it (mouse, disk, camera, audio, large-read); each capture gets a new
// seed. All but large-read fit what the default capture settings keep, their
// enumeration included; large-read is the disk with one 4 MiB READ, as a file
// copy does, and needs 64 K records and 16 MiB of payload to be kept whole.
std::shared_ptr<PortBackend> MakeEmulated() {
    auto analyser = std::make_shared<emu::EmulatedAnalyser>();
    emu::SessionBuilder::Options options;
    options.kind = emu::SessionBuilder::Kind::Mouse;
    if (const char* name = std::getenv("ORVANE_EMULATED_DEVICE")) {
        std::string kind(name);
        if (kind == "disk") options.kind = emu::SessionBuilder::Kind::Disk;
        if (kind == "large-read") {
            options.kind = emu::SessionBuilder::Kind::Disk;
            options.largeReadBytes = 4 * 1024 * 1024;
        }
        if (kind == "camera") options.kind = emu::SessionBuilder::Kind::Camera;
        if (kind == "audio") options.kind = emu::SessionBuilder::Kind::Audio;
    }
    if (options.kind != emu::SessionBuilder::Kind::Mouse) options.speed = SpeedHigh;
    options.operations = 64;
    analyser->SetTrafficProvider([options]() mutable {
        auto capture = emu::SessionBuilder(options).Build();
        ++options.seed;
        return capture;
    });
    return analyser;
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
