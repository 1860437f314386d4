// The real analyser through libusb. Pipe n maps to endpoint n in the
// direction of the call (OUT n for WritePort, IN 0x80|n for ReadPort) unless
// overridden. The device is opened lazily, only while this process holds the
// AnalyserLock, and closed again after an unplug or I/O error so that the
// next call re-opens it. All calls are thread-safe.
#pragma once

#include "Port.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace orvane::port {

class LibusbBackend : public PortBackend {
public:
    struct UsbId {
        uint16_t vendor = 0;
        uint16_t product = 0;
        bool operator==(const UsbId&) const = default;
    };
    // Per-pipe endpoint addresses; 0 keeps the default for that direction.
    struct PipeEndpoints {
        uint8_t out = 0;
        uint8_t in = 0;
        bool operator==(const PipeEndpoints&) const = default;
    };
    using EndpointMap = std::map<int, PipeEndpoints>;

    // Reads ORVANE_ANALYSER_ID ("vvvv:pppp", hex) and ORVANE_ANALYSER_ENDPOINTS
    // ("1:01/81,2:02,3:83"); malformed values are ignored with a warning.
    LibusbBackend();
    ~LibusbBackend() override;
    LibusbBackend(const LibusbBackend&) = delete;
    LibusbBackend& operator=(const LibusbBackend&) = delete;

    // Returns 1 when an analyser with the configured id is on the bus.
    int InitializeInterface(const InterfaceGuid* guid) override;
    int WritePort(int device, int pipe, const void* buffer, unsigned long length, unsigned long* transferred,
                  unsigned long timeoutMs) override;
    int ReadPort(int device, int pipe, void* buffer, unsigned long length, unsigned long* transferred,
                 unsigned long timeoutMs) override;
    std::string Name() const override { return "libusb"; }

    // Changing the id closes an open device.
    void SetAnalyserId(std::optional<UsbId> id);
    std::optional<UsbId> AnalyserId() const;
    void SetEndpoints(EndpointMap endpoints);
    // The endpoint address a call on `pipe` uses; -1 for a pipe outside 1..15.
    int EndpointAddress(int pipe, bool in) const;

    // Whether an analyser with the configured id is on the bus (not opened).
    bool AnalyserPresent();
    bool IsOpen() const;
    // The reason the last call failed, for diagnostics.
    std::string LastError() const;

    static std::optional<UsbId> ParseId(const std::string& text);
    static std::optional<EndpointMap> ParseEndpoints(const std::string& text);

private:
    struct Context;
    struct Device;

    int Transfer(int device, int pipe, bool in, unsigned char* buffer, unsigned long length,
                 unsigned long* transferred, unsigned long timeoutMs);
    std::shared_ptr<Device> OpenLocked();
    bool EnsureContextLocked();
    void CloseLocked();
    void FailLocked(std::string reason);

    mutable std::mutex mutex_;
    std::optional<UsbId> id_;
    EndpointMap endpoints_;
    std::shared_ptr<Context> context_;
    std::shared_ptr<Device> device_;
    std::string lastError_;
};

}  // namespace orvane::port
