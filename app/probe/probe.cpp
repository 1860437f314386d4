// Captures from the analyser through the device library, as the program does,
// then parses, learns and decodes the capture and prints both levels of the
// packet list and the learned device tree. Without --capture it shows the
// analyser's identity and status only.
#include <dlfcn.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "AppDirectory.h"
#include "CDecodeFactory.h"
#include "COrvaneDoc.h"
#include "IDevice.h"
#include "ItemTree.h"
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
                    cell(row.status < 0 ? -1 : row.status & 0xFFFF).c_str(), cell(row.size).c_str());
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
    int32_t unused = 0;
    if (!device->ApplySetup(setup.c_str()) || !device->Control(2, &unused) || !device->Start()) {
        std::printf("capture could not start\n");
        device->Release();
        return 1;
    }
    for (int polls = 0; polls < 600; ++polls) {  // at most 30 s
        if (device->GetStatus(&status) && (status.flags & StatusComplete)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    device->Control(1, &unused);  // upload the payload while the records are parsed
    std::printf("captured %u records, %u payload bytes, trigger at record %d\n", status.packets, status.payloadBytes,
                status.trigger);

    CDecodeFactory factory;
    {
        app::COrvaneDoc doc(&factory);
        IDataSource* source = device->GetDataSource();
        doc.Parser().SetDataSource(source);
        AppendingSink transactions(doc.TransactionRoot());
        doc.Parser().Parse(&transactions);
        std::string tree;
        doc.Parser().GetDeviceTree(tree);
        Print(doc.Parser(), doc.TransactionRoot(), "transaction level", 40);

        doc.Manager().LoadDeviceTree(tree);
        doc.Manager().SetHost(&doc.Parser());
        doc.Manager().SetRoot(&doc.TransactionRoot());
        doc.Manager().ReleaseDecoders();
        AppendingSink transfers(doc.TransferRoot());
        doc.Manager().DecodeAll(&transfers);
        Print(doc.Manager(), doc.TransferRoot(), "transfer level", 40);
        std::printf("\ndevice tree: %s\n", tree.c_str());
        doc.Manager().ReleaseDecoders();
    }
    device->Release();
    return 0;
}
