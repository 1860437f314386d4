#include "LibusbBackend.h"

#include "AnalyserLock.h"

#include <libusb.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace orvane::port {

struct LibusbBackend::Context {
    libusb_context* ctx = nullptr;
    ~Context() { libusb_exit(ctx); }
};

// An open, claimed analyser. Shared with in-flight transfers, so closing it
// after an error never pulls the handle from under another thread.
struct LibusbBackend::Device {
    std::shared_ptr<Context> context;
    libusb_device_handle* handle = nullptr;
    std::map<uint8_t, uint8_t> transferTypes;  // endpoint address -> LIBUSB_TRANSFER_TYPE_*
    ~Device() {
        libusb_release_interface(handle, 0);
        libusb_close(handle);
    }
};

namespace {

std::optional<unsigned> ParseHex(const std::string& text, size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits) return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        value = value * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(c))
                                                       ? c - '0'
                                                       : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
    }
    return value;
}

bool ValidEndpoint(unsigned address) {
    return address <= 0xFF && (address & 0x70) == 0 && (address & 0x0F) != 0;
}

std::string HexId(const LibusbBackend::UsbId& id) {
    char text[16];
    std::snprintf(text, sizeof text, "%04x:%04x", id.vendor, id.product);
    return text;
}

int ResolveEndpoint(const LibusbBackend::EndpointMap& map, int pipe, bool in) {
    if (pipe < 1 || pipe > 15) return -1;
    if (auto it = map.find(pipe); it != map.end()) {
        const uint8_t chosen = in ? it->second.in : it->second.out;
        if (chosen != 0) return chosen;
    }
    return in ? (0x80 | pipe) : pipe;
}

// A referenced device with the given id, or null; the caller unrefs it.
libusb_device* FindDevice(libusb_context* ctx, const LibusbBackend::UsbId& id) {
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(ctx, &list);
    if (count < 0) return nullptr;
    libusb_device* found = nullptr;
    for (ssize_t i = 0; i < count && !found; ++i) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(list[i], &descriptor) == 0 && descriptor.idVendor == id.vendor &&
            descriptor.idProduct == id.product)
            found = libusb_ref_device(list[i]);
    }
    libusb_free_device_list(list, 1);
    return found;
}

std::map<uint8_t, uint8_t> InterfaceZeroEndpoints(libusb_device* device) {
    std::map<uint8_t, uint8_t> types;
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != 0) return types;
    for (int i = 0; i < config->bNumInterfaces; ++i) {
        const libusb_interface& interface = config->interface[i];
        if (interface.num_altsetting < 1 || interface.altsetting[0].bInterfaceNumber != 0) continue;
        const libusb_interface_descriptor& alt = interface.altsetting[0];
        for (int e = 0; e < alt.bNumEndpoints; ++e)
            types[alt.endpoint[e].bEndpointAddress] = alt.endpoint[e].bmAttributes & LIBUSB_TRANSFER_TYPE_MASK;
    }
    libusb_free_config_descriptor(config);
    return types;
}

}  // namespace

LibusbBackend::LibusbBackend() {
    if (const char* text = std::getenv("ORVANE_ANALYSER_ID"); text && *text) {
        id_ = ParseId(text);
        if (!id_) std::fprintf(stderr, "orvane: ignoring malformed ORVANE_ANALYSER_ID \"%s\" (want vvvv:pppp)\n", text);
    }
    if (const char* text = std::getenv("ORVANE_ANALYSER_ENDPOINTS"); text && *text) {
        if (auto map = ParseEndpoints(text))
            endpoints_ = std::move(*map);
        else
            std::fprintf(stderr, "orvane: ignoring malformed ORVANE_ANALYSER_ENDPOINTS \"%s\"\n", text);
    }
}

LibusbBackend::~LibusbBackend() = default;

std::optional<LibusbBackend::UsbId> LibusbBackend::ParseId(const std::string& text) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos) return std::nullopt;
    auto vendor = ParseHex(text.substr(0, colon), 4);
    auto product = ParseHex(text.substr(colon + 1), 4);
    if (!vendor || !product) return std::nullopt;
    return UsbId{static_cast<uint16_t>(*vendor), static_cast<uint16_t>(*product)};
}

std::optional<LibusbBackend::EndpointMap> LibusbBackend::ParseEndpoints(const std::string& text) {
    std::string compact;
    std::copy_if(text.begin(), text.end(), std::back_inserter(compact),
                 [](char c) { return !std::isspace(static_cast<unsigned char>(c)); });
    EndpointMap map;
    size_t start = 0;
    while (start < compact.size()) {
        size_t end = compact.find(',', start);
        if (end == std::string::npos) end = compact.size();
        const std::string item = compact.substr(start, end - start);
        start = end + 1;

        const size_t colon = item.find(':');
        if (colon == std::string::npos || colon == 0 || colon > 2) return std::nullopt;
        int pipe = 0;
        for (size_t i = 0; i < colon; ++i) {
            if (!std::isdigit(static_cast<unsigned char>(item[i]))) return std::nullopt;
            pipe = pipe * 10 + (item[i] - '0');
        }
        if (pipe < 1 || pipe > 15) return std::nullopt;

        const std::string addresses = item.substr(colon + 1);
        const size_t slash = addresses.find('/');
        std::vector<std::string> parts{addresses.substr(0, slash)};
        if (slash != std::string::npos) parts.push_back(addresses.substr(slash + 1));
        PipeEndpoints& entry = map[pipe];
        bool seenIn = false, seenOut = false;
        for (const std::string& part : parts) {
            auto address = ParseHex(part, 2);
            if (!address || !ValidEndpoint(*address)) return std::nullopt;
            const bool in = (*address & 0x80) != 0;
            if (in ? seenIn : seenOut) return std::nullopt;  // "1:81/82" names no OUT endpoint
            (in ? seenIn : seenOut) = true;
            (in ? entry.in : entry.out) = static_cast<uint8_t>(*address);
        }
    }
    return map;
}

void LibusbBackend::SetAnalyserId(std::optional<UsbId> id) {
    std::lock_guard lock(mutex_);
    if (id_ == id) return;
    id_ = id;
    CloseLocked();
}

std::optional<LibusbBackend::UsbId> LibusbBackend::AnalyserId() const {
    std::lock_guard lock(mutex_);
    return id_;
}

void LibusbBackend::SetEndpoints(EndpointMap endpoints) {
    std::lock_guard lock(mutex_);
    endpoints_ = std::move(endpoints);
}

int LibusbBackend::EndpointAddress(int pipe, bool in) const {
    std::lock_guard lock(mutex_);
    return ResolveEndpoint(endpoints_, pipe, in);
}

bool LibusbBackend::IsOpen() const {
    std::lock_guard lock(mutex_);
    return device_ != nullptr;
}

std::string LibusbBackend::LastError() const {
    std::lock_guard lock(mutex_);
    return lastError_;
}

void LibusbBackend::FailLocked(std::string reason) { lastError_ = std::move(reason); }

void LibusbBackend::CloseLocked() { device_.reset(); }

bool LibusbBackend::EnsureContextLocked() {
    if (context_) return true;
    libusb_context* ctx = nullptr;
    const int rc = libusb_init(&ctx);
    if (rc != 0) {
        FailLocked(std::string("libusb_init: ") + libusb_error_name(rc));
        return false;
    }
    context_ = std::make_shared<Context>();
    context_->ctx = ctx;
    return true;
}

bool LibusbBackend::AnalyserPresent() {
    std::lock_guard lock(mutex_);
    if (!id_) return false;
    if (device_) return true;
    if (!EnsureContextLocked()) return false;
    libusb_device* found = FindDevice(context_->ctx, *id_);
    if (!found) return false;
    libusb_unref_device(found);
    return true;
}

std::shared_ptr<LibusbBackend::Device> LibusbBackend::OpenLocked() {
    if (!id_) {
        FailLocked("no analyser id configured (ORVANE_ANALYSER_ID)");
        return nullptr;
    }
    if (!EnsureContextLocked()) return nullptr;
    libusb_device* found = FindDevice(context_->ctx, *id_);
    if (!found) {
        FailLocked("analyser " + HexId(*id_) + " not found");
        return nullptr;
    }
    libusb_device_handle* handle = nullptr;
    int rc = libusb_open(found, &handle);
    if (rc != 0) {
        libusb_unref_device(found);
        FailLocked(std::string("libusb_open: ") + libusb_error_name(rc));
        return nullptr;
    }
    // Not every platform can detach a kernel driver; claiming tells us.
    libusb_set_auto_detach_kernel_driver(handle, 1);
    rc = libusb_claim_interface(handle, 0);
    if (rc != 0) {
        libusb_close(handle);
        libusb_unref_device(found);
        FailLocked(std::string("libusb_claim_interface: ") + libusb_error_name(rc));
        return nullptr;
    }
    auto device = std::make_shared<Device>();
    device->context = context_;
    device->handle = handle;
    device->transferTypes = InterfaceZeroEndpoints(found);
    libusb_unref_device(found);
    device_ = device;
    return device;
}

int LibusbBackend::Transfer(int device, int pipe, bool in, unsigned char* buffer, unsigned long length,
                            unsigned long* transferred, unsigned long timeoutMs) {
    unsigned long ignored = 0;
    if (!transferred) transferred = &ignored;
    *transferred = 0;

    std::shared_ptr<Device> open;
    int endpoint;
    {
        std::lock_guard lock(mutex_);
        endpoint = ResolveEndpoint(endpoints_, pipe, in);
        if (device != 0 || endpoint < 0 || (!buffer && length) || length > INT_MAX) {
            FailLocked("invalid arguments");
            return 0;
        }
        if (!AnalyserLock::HeldByThisProcess()) {
            // Another process may own the analyser; let go of it.
            CloseLocked();
            FailLocked("analyser lock not held by this process");
            return 0;
        }
        open = device_ ? device_ : OpenLocked();
        if (!open) return 0;
    }

    // libusb treats 0 as "wait forever"; a caller's 0 must not hang.
    const unsigned timeout = static_cast<unsigned>(std::clamp<unsigned long>(timeoutMs, 1, UINT_MAX));
    const auto type = open->transferTypes.find(static_cast<uint8_t>(endpoint));
    const bool interrupt = type != open->transferTypes.end() && type->second == LIBUSB_TRANSFER_TYPE_INTERRUPT;
    int actual = 0;
    const int rc = interrupt ? libusb_interrupt_transfer(open->handle, static_cast<unsigned char>(endpoint), buffer,
                                                         static_cast<int>(length), &actual, timeout)
                             : libusb_bulk_transfer(open->handle, static_cast<unsigned char>(endpoint), buffer,
                                                    static_cast<int>(length), &actual, timeout);
    *transferred = actual > 0 ? static_cast<unsigned long>(actual) : 0;
    if (rc == 0) return 1;

    if (rc == LIBUSB_ERROR_PIPE) libusb_clear_halt(open->handle, static_cast<unsigned char>(endpoint));
    std::lock_guard lock(mutex_);
    FailLocked(std::string(in ? "read" : "write") + " on endpoint " + std::to_string(endpoint) + ": " +
               libusb_error_name(rc));
    // Unplugged or broken: drop the handle so the next call opens afresh.
    if ((rc == LIBUSB_ERROR_NO_DEVICE || rc == LIBUSB_ERROR_IO) && device_ == open) CloseLocked();
    return 0;
}

int LibusbBackend::InitializeInterface(const InterfaceGuid* guid) {
    if (!guid || guid->data1 != kAnalyserInterface.data1 || guid->data2 != kAnalyserInterface.data2 ||
        guid->data3 != kAnalyserInterface.data3 ||
        !std::equal(guid->data4, guid->data4 + 8, kAnalyserInterface.data4))
        return 0;
    return AnalyserPresent() ? 1 : 0;
}

int LibusbBackend::WritePort(int device, int pipe, const void* buffer, unsigned long length,
                             unsigned long* transferred, unsigned long timeoutMs) {
    // libusb takes a non-const buffer for both directions but only reads it for OUT.
    return Transfer(device, pipe, false, static_cast<unsigned char*>(const_cast<void*>(buffer)), length, transferred,
                    timeoutMs);
}

int LibusbBackend::ReadPort(int device, int pipe, void* buffer, unsigned long length, unsigned long* transferred,
                            unsigned long timeoutMs) {
    return Transfer(device, pipe, true, static_cast<unsigned char*>(buffer), length, transferred, timeoutMs);
}

}  // namespace orvane::port
