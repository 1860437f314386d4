// The emulated analyser's sessions as a new user meets them: captured with
// the default settings, as a new project's first capture is, through the
// class plug-ins of the build, each shows its device learned and its class
// rows at the transfer level.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "CCaptureWorker.h"
#include "CDecodeFactory.h"
#include "CDevice.h"
#include "COrvaneDoc.h"
#include "EmulatedAnalyser.h"
#include "Port.h"
#include "SetupXml.h"

using namespace orvane;
using namespace orvane::app;

namespace {

// A bound against hanging, never a timing assertion.
bool WaitUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 60000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return done();
}

int Count(const UsbItem& root, const std::function<bool(uint16_t)>& test) {
    int n = 0;
    for (const UsbItem* child : root.children) n += (test(child->type) ? 1 : 0) + Count(*child, test);
    return n;
}

struct Session {
    const char* name;
    std::function<bool(uint16_t)> classRow;
};

// What the program captures with ORVANE_EMULATED_DEVICE set to `name`.
class Captured {
public:
    Captured(const char* name, const std::string& setup) : factory_(ORVANE_CLASSES_DIR), doc_(&factory_) {
        const char* before = std::getenv("ORVANE_EMULATED_DEVICE");
        const std::string saved = before ? before : "";
        ::setenv("ORVANE_EMULATED_DEVICE", name, 1);
        analyser_ = port::MakeBackend("emulated");
        if (before) ::setenv("ORVANE_EMULATED_DEVICE", saved.c_str(), 1);
        else ::unsetenv("ORVANE_EMULATED_DEVICE");
        doc_.SetSetup(setup);
        CCaptureWorker::Options fast;
        fast.pollInterval = fast.idleInterval = std::chrono::milliseconds(2);
        // The worker releases the device.
        auto* device = new pardix::CDevice(analyser_.get(), "orvane-demo-test-" + std::to_string(::getpid()));
        worker_ = std::make_unique<CCaptureWorker>(doc_, device, nullptr, fast);
    }
    ~Captured() { worker_->Shutdown(); }

    // Captures and decodes the transfer level.
    bool Run() {
        if (worker_->StartRecord() != CCaptureWorker::StartResult::Started) return false;
        if (!WaitUntil([&] { return worker_->IsIdle() && worker_->DataAvailable(); })) return false;
        return worker_->OnTransferLevel() && WaitUntil([&] { return worker_->IsIdle() && worker_->ClassDecoded(); });
    }
    COrvaneDoc& Doc() { return doc_; }

private:
    std::shared_ptr<port::PortBackend> analyser_;
    CDecodeFactory factory_;
    COrvaneDoc doc_;
    std::unique_ptr<CCaptureWorker> worker_;
};

}  // namespace

TEST(DemoSessions, EachFitsTheDefaultSettingsWithItsDeviceAndClassRows) {
    const Session sessions[] = {
        {"mouse", [](uint16_t t) { return t == 267; }},                   // Input Report
        {"disk", [](uint16_t t) { return t >= 0xFF00; }},                 // a SCSI command
        {"camera", [](uint16_t t) { return t >= 0x1000 && t < 0x2000; }},  // a PTP operation
        {"audio", [](uint16_t t) { return t >= 513 && t <= 4351; }},      // an audio class request
    };
    for (const Session& s : sessions) {
        Captured capture(s.name, SetupXml::kDefaultText);
        ASSERT_TRUE(capture.Run()) << s.name;
        const std::string tree = capture.Doc().GetConfiguration();
        EXPECT_NE(tree.find("address=\"5\""), std::string::npos) << s.name << ": " << tree;
        EXPECT_NE(tree.find("idVendor=\"4617\""), std::string::npos) << s.name << ": the device descriptor was kept";
        EXPECT_NE(tree.find("<interface"), std::string::npos) << s.name << ": the configuration was kept";
        EXPECT_GT(Count(capture.Doc().TransferRoot(), s.classRow), 0) << s.name;
    }
}

TEST(DemoSessions, TheLargeReadIsKeptWholeWithLargerStorage) {
    SetupXml setup;
    setup.SetPacketRecords(64 * 1024);
    setup.SetPayloadBytes(16 * 1024 * 1024);
    Captured capture("large-read", setup.Text());
    ASSERT_TRUE(capture.Run());
    EXPECT_NE(capture.Doc().GetConfiguration().find("idVendor=\"4617\""), std::string::npos);
    int32_t largest = 0;
    for (UsbItem* item : capture.Doc().TransferRoot().children) {
        ItemSummary row;
        if (item->type == 0xFF00 + 0x28 && capture.Doc().Manager().Summarize(item, &row)) largest = std::max(largest, row.size);
    }
    EXPECT_EQ(largest, 4 * 1024 * 1024) << "the READ(10) whole";
}
