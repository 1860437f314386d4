// Shows the analyser's identity and status and, with --capture, records a short
// capture and counts its packets by PID.
#include <cstdio>
#include <cstring>
#include <map>
#include <thread>

#include "CDeviceProxy.h"

using namespace orvane;

int main(int argc, char** argv) {
    bool capture = argc > 1 && std::strcmp(argv[1], "--capture") == 0;
    auto& backend = port::CurrentBackend();
    std::printf("analyser link: %s\n", backend.Name().c_str());
    pardix::CDeviceProxy source(&backend);

    DeviceInfo info{};
    if (!source.GetDeviceInfo(&info)) {
        std::printf("no analyser answers\n");
        return 1;
    }
    auto version = [](uint32_t v) {
        static char text[32];
        std::snprintf(text, sizeof text, "%u.%u.%u.%u", v >> 24, (v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
        return text;
    };
    std::printf("model 0x%X, serial %u, firmware %s", info.model, info.serialNumber, version(info.firmwareVersion));
    std::printf(", configuration %s\n", info.configVersion == kNoConfiguration ? "none" : version(info.configVersion));

    DeviceStatus status{};
    if (!source.GetStatus(&status)) {
        std::printf("status: not available\n");
        return 1;
    }
    std::printf("status flags 0x%02X, %u packets, %u payload bytes\n", status.flags, status.packets,
                status.payloadBytes);
    if (!capture) return 0;

    if (!source.ClearMemory() || !source.ConfigureStorage(1 << 20, 1 << 20, 1 << 22, 1 << 22, 0) ||
        !source.StartCapture()) {
        std::printf("capture could not start\n");
        return 1;
    }
    std::map<int, uint32_t> byPid;
    PacketRecord record;
    uint32_t index = 0;
    for (int idle = 0; idle < 200;) {
        int32_t r = source.GetRecord(index, &record);
        if (r == RecordEnd) break;
        if (r == RecordNotYet) {
            ++idle;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            continue;
        }
        ++byPid[record.IsBusEvent() ? -1 : record.PidNibble()];
        ++index;
    }
    std::printf("captured %u records\n", index);
    for (auto [pid, n] : byPid) std::printf("  %s %-3d %u\n", pid < 0 ? "event" : "PID", pid < 0 ? 0 : pid, n);
    return 0;
}
