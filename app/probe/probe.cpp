// Captures from the analyser through the device library and the capture
// worker, as the window does, and prints both levels of the packet list and the
// learned device tree. Without --capture it shows the
// analyser's identity and status only.
#include <dlfcn.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "AppDirectory.h"
#include "CCaptureWorker.h"
#include "CDecodeFactory.h"
#include "COrvaneDoc.h"
#include "IDevice.h"
#include "SetupXml.h"

using namespace orvane;

namespace {

std::string Version(uint32_t v) {
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", v >> 24, (v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    return text;
}

void Print(IDecode& decoder, const UsbItem& root, const char* title, size_t limit) {
    std::printf("\n%s: %u rows\n%8s %14s  %-40s %4s %3s %6s %6s\n", title, root.children.size(), "record", "time (ns)",
                "name", "addr", "ep", "status", "size");
    size_t shown = 0;
    for (UsbItem* item : root.children) {
        if (shown++ == limit) {
            std::printf("%8s ...\n", "");
            break;
        }
        ItemSummary row;
        if (!decoder.Summarize(item, &row)) row.name = "(class item)";
        auto cell = [](int32_t v) { return v < 0 ? std::string() : std::to_string(v); };
        std::printf("%8u %14.0f  %-40.40s %4s %3s %6s %6s\n", item->firstRecord, double(row.time) * kTickNs,
                    row.name.c_str(), cell(row.address).c_str(), cell(row.endpoint).c_str(),
                    cell(StatusResult(row.status)).c_str(), cell(row.size).c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    const bool capture = argc > 1 && std::strcmp(argv[1], "--capture") == 0;
    const std::string library = GetAppDirectory() + "/libpardix.so";
    void* module = dlopen(library.c_str(), RTLD_NOW);
    auto create = module ? reinterpret_cast<CreateDeviceFn>(dlsym(module, kCreateDeviceExport)) : nullptr;
    IDevice* device = create ? create() : nullptr;
    if (!device) {
        std::printf("no device library (%s)\n", module ? "no CreateDevice export" : dlerror());
        return 1;
    }
    DeviceInfo info{};
    if (!device->GetDeviceInfo(&info)) {
        std::printf("no analyser answers\n");
        device->Release();
        return 1;
    }
    std::printf("analyser model 0x%X, serial %u, firmware %s, configuration %s\n", info.model, info.serialNumber,
                Version(info.firmwareVersion).c_str(),
                info.configVersion == kNoConfiguration ? "none" : Version(info.configVersion).c_str());
    DeviceStatus status{};
    if (!device->GetStatus(&status)) {
        std::printf("status: offline (another program may hold the analyser)\n");
        device->Release();
        return 1;
    }
    std::printf("status flags 0x%02X\n", status.flags);
    if (!capture) {
        device->Release();
        return 0;
    }

    // The default settings with nothing filtered out and the whole buffer kept
    // before the trigger, so the capture holds every packet of the session.
    std::string setup = app::SetupXml::kDefaultText;
    auto replace = [&setup](const std::string& from, const std::string& to) {
        if (auto at = setup.find(from); at != std::string::npos) setup.replace(at, from.size(), to);
    };
    replace("flags=\"0xFFFFFFFF\"", "flags=\"0X0\"");
    replace("pre_trigger_percent=\"50\"", "pre_trigger_percent=\"100\"");
    // The capture runs as in the window: through the capture worker.
    CDecodeFactory factory;
    app::COrvaneDoc doc(&factory);
    doc.SetSetup(setup);
    app::CCaptureWorker worker(doc, device, nullptr);  // owns the device from here
    auto waitFor = [&worker](auto done) {
        for (int i = 0; i < 1200 && !(worker.IsIdle() && done()); ++i)  // at most 60 s
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return worker.IsIdle() && done();
    };
    if (worker.StartRecord() != app::CCaptureWorker::StartResult::Started ||
        !waitFor([&worker] { return worker.DataAvailable(); })) {
        std::printf("capture could not be taken\n");
        return 1;
    }
    Print(doc.Parser(), doc.TransactionRoot(), "transaction level", 40);
    if (worker.OnTransferLevel() && waitFor([&worker] { return worker.ClassDecoded(); }))
        Print(doc.Manager(), doc.TransferRoot(), "transfer level", 40);
    std::printf("\ndevice tree: %s\n", doc.GetConfiguration().c_str());
    worker.Shutdown();
    return 0;
}
