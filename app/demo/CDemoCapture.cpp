#include "CDemoCapture.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

#include "CDevice.h"
#include "SetupXml.h"

namespace orvane::app {

namespace {

constexpr DemoSession kSessions[] = {
    {"mouse", false}, {"disk", false}, {"camera", false}, {"audio", false}, {"large-read", true},
};

// A bound against a session that never ends, not a timing.
bool WaitUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 60000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return done();
}

// The emulated analyser records the device ORVANE_EMULATED_DEVICE names when it is made.
std::shared_ptr<port::PortBackend> EmulatedAnalyser(const char* session) {
    const char* before = std::getenv("ORVANE_EMULATED_DEVICE");
    const std::string saved = before ? before : "";
    ::setenv("ORVANE_EMULATED_DEVICE", session, 1);
    auto analyser = port::MakeBackend("emulated");
    if (before) ::setenv("ORVANE_EMULATED_DEVICE", saved.c_str(), 1);
    else ::unsetenv("ORVANE_EMULATED_DEVICE");
    return analyser;
}

}  // namespace

std::span<const DemoSession> DemoSessions() { return kSessions; }

std::string CDemoCapture::Setup(const DemoSession& session) {
    if (!session.largeStorage) return SetupXml::kDefaultText;
    SetupXml setup;
    setup.SetPacketRecords(64 * 1024);
    setup.SetPayloadBytes(16 * 1024 * 1024);
    return setup.Text();
}

CDemoCapture::CDemoCapture(const DemoSession& session, IDecodeFactory* factory)
    : analyser_(EmulatedAnalyser(session.name)), doc_(factory) {
    doc_.SetSetup(Setup(session));
    CCaptureWorker::Options fast;
    fast.pollInterval = fast.idleInterval = std::chrono::milliseconds(2);
    // A lock of its own: a running analyser window keeps the usual one. The worker releases the device.
    auto* device = new pardix::CDevice(analyser_.get(), "orvane-demo-" + std::to_string(::getpid()));
    worker_ = std::make_unique<CCaptureWorker>(doc_, device, nullptr, fast);
}

CDemoCapture::~CDemoCapture() { worker_->Shutdown(); }

bool CDemoCapture::Capture() {
    if (worker_->StartRecord() != CCaptureWorker::StartResult::Started) return false;
    return WaitUntil([&] { return worker_->IsIdle() && worker_->DataAvailable(); });
}

bool CDemoCapture::DecodeTransfers() {
    return worker_->OnTransferLevel() && WaitUntil([&] { return worker_->IsIdle() && worker_->ClassDecoded(); });
}

bool CDemoCapture::Save(const std::string& path, std::string* error) { return worker_->SaveProject(path, error); }

}  // namespace orvane::app
