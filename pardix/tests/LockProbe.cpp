// A second process for the analyser-lock tests. Modes:
//   try   - exit 0 when it can open the analyser, 3 when refused with the
//           refusal complete (no status, setup or start; identity answered), 4 otherwise
//   hold  - open it, print "held", keep it until stdin closes
//   crash - open it, print "held", die by SIGKILL without any clean-up
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "CDevice.h"
#include "EmulatedAnalyser.h"

using namespace orvane;

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    emu::EmulatedAnalyser emu;
    pardix::CDevice device(&emu);
    DeviceStatus status;
    const bool opened = device.GetStatus(&status) == 1;
    if (std::strcmp(argv[1], "try") == 0) {
        if (opened) return 0;
        DeviceInfo info;
        bool refused = device.ApplySetup("<setup/>") == 0 && device.Start() == 0 && device.Stop() == 0 &&
                       device.Control(2, nullptr) == 0;
        return refused && device.GetDeviceInfo(&info) == 1 && info.model == kAnalyserModel ? 3 : 4;
    }
    if (!opened) return 5;
    std::printf("held\n");
    std::fflush(stdout);
    if (std::strcmp(argv[1], "crash") == 0) ::kill(::getpid(), SIGKILL);
    char c;
    while (::read(0, &c, 1) > 0) {
    }
    return 0;
}
