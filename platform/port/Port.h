// The analyser's own USB link: three calls on numbered pipes of device 0
// (pipe 1 commands and replies, 2 bulk out, 3 bulk in). Two back ends serve
// them: a real analyser through libusb, and the emulated analyser.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvane::port {

struct InterfaceGuid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};

// {20553F8A-C378-4811-BA13-9178965CCC0C}
constexpr InterfaceGuid kAnalyserInterface = {
    0x20553F8A, 0xC378, 0x4811, {0xBA, 0x13, 0x91, 0x78, 0x96, 0x5C, 0xCC, 0x0C}};

constexpr int kCommandPipe = 1;
constexpr int kBulkOutPipe = 2;
constexpr int kBulkInPipe = 3;
constexpr unsigned long kTimeoutMs = 1000;
constexpr unsigned long kDownloadAckTimeoutMs = 2000;

// One back end. Calls return nonzero on success with the byte count in
// *transferred; a missing or unplugged analyser makes them fail cleanly.
class PortBackend {
public:
    virtual ~PortBackend() = default;
    virtual int InitializeInterface(const InterfaceGuid* guid) = 0;
    virtual int WritePort(int device, int pipe, const void* buffer, unsigned long length,
                          unsigned long* transferred, unsigned long timeoutMs) = 0;
    virtual int ReadPort(int device, int pipe, void* buffer, unsigned long length,
                         unsigned long* transferred, unsigned long timeoutMs) = 0;
    virtual std::string Name() const = 0;
};

// The process's back end: set explicitly, or chosen on first use from the
// environment variable ORVANE_PORT ("libusb", "emulated"); without it a real
// analyser is used when one is plugged in, else the emulated one.
PortBackend& CurrentBackend();
// Installs `backend` (tests, or the program's settings); null returns to the
// default choice. Returns the one it replaced.
std::shared_ptr<PortBackend> SetBackend(std::shared_ptr<PortBackend> backend);
std::shared_ptr<PortBackend> MakeBackend(const std::string& name);
// The installed back end, kept alive for as long as the caller holds it
// (CurrentBackend's reference lasts only until the next SetBackend).
std::shared_ptr<PortBackend> CurrentBackendShared();
// Names MakeBackend knows, in table order; a name whose back end is not built
// in makes MakeBackend return null.
std::vector<std::string> BackendNames();

// The three calls of the port library, on the current back end.
int InitializeInterface(const InterfaceGuid* guid);
int WritePort(int device, int pipe, const void* buffer, unsigned long length, unsigned long* transferred,
              unsigned long timeoutMs);
int ReadPort(int device, int pipe, void* buffer, unsigned long length, unsigned long* transferred,
             unsigned long timeoutMs);

}  // namespace orvane::port
