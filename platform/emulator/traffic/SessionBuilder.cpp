#include "SessionBuilder.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace orvane::emu {

namespace {

using Bytes = SessionBuilder::Bytes;
using B = BusTrafficBuilder;

constexpr uint64_t kTicksPerMs = 60000;
constexpr uint16_t kVendorId = 0x1209;

// Standard requests and descriptor types (USB 2.0 chapter 9).
constexpr uint8_t kGetDescriptor = 6, kSetAddress = 5, kSetConfiguration = 9, kSetInterface = 11;
constexpr uint8_t kDescDevice = 1, kDescConfig = 2, kDescString = 3, kDescQualifier = 6;

void Put16(Bytes& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void Put32(Bytes& b, uint32_t v) {
    Put16(b, v);
    Put16(b, v >> 16);
}
void Put32Be(Bytes& b, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(v >> s));
}
void Append(Bytes& b, std::initializer_list<uint8_t> bytes) { b.insert(b.end(), bytes); }

Bytes StringDescriptor(const std::string& text) {
    Bytes d{uint8_t(2 + 2 * text.size()), kDescString};
    for (char c : text) Put16(d, uint8_t(c));
    return d;
}

// Boot mouse: three buttons, X and Y (HID 1.11 appendix E.10).
const Bytes kMouseReport = {
    0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09, 0x19, 0x01, 0x29, 0x03, 0x15,
    0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02, 0x95, 0x01, 0x75, 0x05, 0x81, 0x01, 0x05, 0x01,
    0x09, 0x30, 0x09, 0x31, 0x15, 0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x02, 0x81, 0x06, 0xC0, 0xC0,
};

}  // namespace

Bytes SessionBuilder::SetupPacket(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                                  uint16_t length) {
    Bytes s{requestType, request};
    Put16(s, value);
    Put16(s, index);
    Put16(s, length);
    return s;
}

SessionBuilder::SessionBuilder(const Options& options) : opts_(options) {
    if (opts_.speed == SpeedLow && opts_.kind != Kind::Mouse)
        throw std::invalid_argument("only the mouse runs at low speed");
    if (opts_.speed != SpeedLow && opts_.speed != SpeedFull && opts_.speed != SpeedHigh)
        throw std::invalid_argument("no such device speed");
    if (opts_.behindHub && opts_.speed == SpeedHigh)
        throw std::invalid_argument("split transactions serve full- and low-speed devices");
    if (opts_.address == 0 || opts_.address > 127 || (opts_.behindHub && opts_.address == kHubAddress))
        throw std::invalid_argument("bad device address");
    MakeDescriptors();
}

void SessionBuilder::MakeDescriptors() {
    const bool high = opts_.speed == SpeedHigh;
    maxPacket0_ = (opts_.kind == Kind::Mouse && !high) ? 8 : 64;
    bulkMaxPacket_ = high ? 512 : 64;

    static const char* kProducts[] = {"Emulated Mouse", "Emulated Disk", "Emulated Camera", "Emulated Speaker"};
    const int kind = int(opts_.kind);
    device_ = {18, kDescDevice, 0x00, 0x02, 0, 0, 0, maxPacket0_};
    Put16(device_, kVendorId);
    Put16(device_, uint16_t(0x0001 + kind));
    Append(device_, {0x00, 0x01, 1, 2, 3, 1});

    report_.clear();
    Bytes body;
    auto endpoint = [&](uint8_t address, uint8_t attributes, uint16_t maxPacket, uint8_t interval) {
        Append(body, {7, 5, address, attributes});
        Put16(body, maxPacket);
        body.push_back(interval);
    };
    const uint8_t interruptInterval = high ? 7 : 10;  // 8 ms at high speed (2^(7-1) microframes)
    uint8_t interfaces = 1;
    switch (opts_.kind) {
    case Kind::Mouse:
        report_ = kMouseReport;
        Append(body, {9, 4, 0, 0, 1, 0x03, 0x01, 0x02, 0});
        Append(body, {9, 0x21, 0x11, 0x01, 0x00, 1, 0x22});
        Put16(body, uint16_t(report_.size()));
        endpoint(0x81, 0x03, 4, interruptInterval);
        break;
    case Kind::Disk:
        Append(body, {9, 4, 0, 0, 2, 0x08, 0x06, 0x50, 0});
        endpoint(0x81, 0x02, bulkMaxPacket_, 0);
        endpoint(0x02, 0x02, bulkMaxPacket_, 0);
        break;
    case Kind::Camera:
        Append(body, {9, 4, 0, 0, 3, 0x06, 0x01, 0x01, 0});
        endpoint(0x81, 0x02, bulkMaxPacket_, 0);
        endpoint(0x02, 0x02, bulkMaxPacket_, 0);
        endpoint(0x83, 0x03, 64, interruptInterval);  // one packet holds any event
        break;
    case Kind::Audio:
        interfaces = 2;
        AudioInterfaces(body);
        break;
    }
    const uint8_t attributes = opts_.kind == Kind::Mouse ? 0xA0 : 0x80;
    config_ = {9, kDescConfig};
    Put16(config_, uint16_t(9 + body.size()));
    Append(config_, {interfaces, 1, 0, attributes, 50});
    config_.insert(config_.end(), body.begin(), body.end());

    strings_ = {{4, kDescString, uint8_t(kLangId), uint8_t(kLangId >> 8)}, StringDescriptor("Orvane Test"),
                StringDescriptor(kProducts[kind]), StringDescriptor("OT" + std::to_string(1000 + opts_.seed % 9000))};
}

// ---- building ----

BusCapture SessionBuilder::Build() {
    b_ = BusTrafficBuilder(BusSpeed() == SpeedHigh ? SpeedFull : BusSpeed());
    rng_.seed(opts_.seed);
    toggles_.clear();
    damaged_.clear();
    hub_.reset();
    if (opts_.behindHub) hub_ = B::HubPort{kHubAddress, kHubPort, opts_.speed == SpeedLow};

    b_.Idle(kTicksPerMs + Random(kTicksPerMs));
    b_.SetFrame(uint16_t(Random(2048)));
    if (hub_) {
        b_.SetSpeed(SpeedHigh).SetAutoSof(true);
        b_.Idle(2 * kTicksPerMs);
        ResetThroughHub();
    } else {
        Attach();
    }
    Enumerate();
    // SET_CONFIGURATION resets the device's data toggles.
    std::erase_if(toggles_, [&](const auto& t) { return t.first >> 8 == opts_.address; });
    switch (opts_.kind) {
    case Kind::Mouse: MouseTraffic(); break;
    case Kind::Disk: DiskTraffic(); break;
    case Kind::Camera: CameraTraffic(); break;
    case Kind::Audio: AudioTraffic(); break;
    }
    b_.Idle(3 * b_.FrameTicks());
    return b_.Take();
}

// Connect, 10 ms reset (with the high-speed chirp handshake), then SOFs.
void SessionBuilder::Attach() {
    b_.BusEvent(EvHostConnect);
    b_.Idle(5 * kTicksPerMs);
    b_.BusEvent(EvDeviceConnect);
    b_.Idle(100 * kTicksPerMs);  // connect debounce
    const uint64_t resetEnd = b_.Now() + 10 * kTicksPerMs;
    b_.BusEvent(EvHostReset);
    if (opts_.speed == SpeedHigh) {
        b_.Idle(6000);  // 100 us of SE0 before the device chirps
        b_.BusEvent(EvDeviceChirp, 2 * kTicksPerMs);
        b_.Idle(3000);
        for (int i = 0; b_.Now() + 3000 < resetEnd; ++i)  // ~50 us per host chirp
            b_.BusEvent(i % 2 ? EvHostChirpJ : EvHostChirpK, 3000);
    }
    b_.AdvanceTo(resetEnd);
    b_.BusEvent(EvHostResetCompleted);
    b_.SetSpeed(opts_.speed);
    b_.Idle(20);
    b_.SetAutoSof(opts_.speed != SpeedLow);  // a low-speed bus has keep-alives, not SOFs
    b_.Idle(10 * kTicksPerMs);               // reset recovery
}

// The hub reports the new device, resets its port and reports the reset done.
void SessionBuilder::ResetThroughHub() {
    const uint16_t lowSpeed = opts_.speed == SpeedLow ? 0x0200 : 0;
    auto statusChange = [&] {
        b_.InNak(kHubAddress, 1, 1 + int(Random(3)));
        b_.In(kHubAddress, 1, NextToggle(kHubAddress, 0x81), {uint8_t(1 << kHubPort)});
    };
    auto portStatus = [&](uint16_t status, uint16_t change) {
        Bytes reply;
        Put16(reply, status | lowSpeed);
        Put16(reply, change);
        HubControl(SetupPacket(0xA3, 0, 0, kHubPort, 4), reply);
    };
    statusChange();
    portStatus(0x0101, 0x0001);                               // connected, powered; connection changed
    HubControl(SetupPacket(0x23, 1, 16, kHubPort, 0), {});    // CLEAR_FEATURE C_PORT_CONNECTION
    HubControl(SetupPacket(0x23, 3, 4, kHubPort, 0), {});     // SET_FEATURE PORT_RESET
    b_.Idle(12 * kTicksPerMs);
    statusChange();
    portStatus(0x0103, 0x0010);                               // enabled; reset changed
    HubControl(SetupPacket(0x23, 1, 20, kHubPort, 0), {});    // CLEAR_FEATURE C_PORT_RESET
    b_.Idle(10 * kTicksPerMs);
}

void SessionBuilder::HubControl(const Bytes& setup, const Bytes& data) {
    B::ControlOptions o;
    o.maxPacket = 64;
    b_.ControlTransfer(kHubAddress, setup, data, o);
    b_.Idle(b_.FrameTicks());
}

void SessionBuilder::Control(uint8_t address, const Bytes& setup, const Bytes& data, bool stall) {
    B::ControlOptions o;
    o.maxPacket = maxPacket0_;
    o.hub = hub_;
    o.stall = stall;
    o.naks = Random(4) == 0 ? 1 : 0;
    const uint16_t wLength = uint16_t(setup[6] | setup[7] << 8);
    b_.ControlTransfer(address, setup, Bytes(data.begin(), data.begin() + std::min<size_t>(wLength, data.size())), o);
    b_.Idle(b_.FrameTicks() / 2 + Random(uint32_t(b_.FrameTicks())));
}

void SessionBuilder::Enumerate() {
    const uint8_t a = opts_.address;
    Control(0, SetupPacket(0x80, kGetDescriptor, kDescDevice << 8, 0, 8), device_);
    Control(0, SetupPacket(0x00, kSetAddress, a, 0, 0), {});
    b_.Idle(2 * kTicksPerMs);  // SET_ADDRESS recovery
    Control(a, SetupPacket(0x80, kGetDescriptor, kDescDevice << 8, 0, 18), device_);
    Control(a, SetupPacket(0x80, kGetDescriptor, kDescConfig << 8, 0, 9), config_);
    Control(a, SetupPacket(0x80, kGetDescriptor, kDescConfig << 8, 0, uint16_t(config_.size())), config_);
    // Only a high-speed capable device has a device qualifier; the others stall.
    const bool high = opts_.speed == SpeedHigh;
    Bytes qualifier{10, kDescQualifier, 0x00, 0x02, 0, 0, 0, 64, 1, 0};
    Control(a, SetupPacket(0x80, kGetDescriptor, kDescQualifier << 8, 0, 10), high ? qualifier : Bytes{}, !high);
    Control(a, SetupPacket(0x80, kGetDescriptor, kDescString << 8, 0, 255), strings_[0]);
    for (uint8_t i = 1; i <= 3; ++i)
        Control(a, SetupPacket(0x80, kGetDescriptor, uint16_t(kDescString << 8 | i), kLangId, 255), strings_[i]);
    Control(a, SetupPacket(0x00, kSetConfiguration, 1, 0, 0), {});
}

// ---- endpoint traffic ----

Pid SessionBuilder::NextToggle(uint8_t address, uint8_t endpointAddress) {
    auto [it, added] = toggles_.try_emplace(uint16_t(address << 8 | endpointAddress), PidData0);
    Pid now = it->second;
    it->second = now == PidData0 ? PidData1 : PidData0;
    return now;
}

void SessionBuilder::WaitMs(uint32_t ms) { b_.Idle(ms * kTicksPerMs); }

SessionBuilder::Bytes SessionBuilder::RandomBytes(size_t n) {
    Bytes out(n);
    for (auto& v : out) v = uint8_t(rng_() >> 24);
    return out;
}

// A failed first attempt that the host repeats: the device ignores a damaged
// token, and the receiver of damaged data sends no handshake.
void SessionBuilder::Glitch(bool in, uint8_t endpoint, uint8_t et, Pid pid, const Bytes& bytes) {
    if (!Chance(opts_.damageRate)) return;
    const uint8_t a = opts_.address;
    if (hub_) {
        size_t at = b_.Split(hub_->hub, hub_->port, false, hub_->lowSpeed, false, et);
        b_.Damage(at, ErrCrc5);
        damaged_.push_back(at);
        b_.Idle(100);
        return;
    }
    const bool damageToken = Random(2) == 0;
    size_t token = b_.Token(in ? PidIn : PidOut, a, endpoint);
    size_t data = in && damageToken ? token : b_.Data(pid, bytes);
    if (damageToken) {
        b_.Damage(token, Random(2) ? ErrPidCheck : ErrCrc5);
        damaged_.push_back(token);
    } else {
        b_.Damage(data, Random(2) ? uint8_t(ErrCrc16) : uint8_t(ErrBitStuff | ErrCrc16));
        damaged_.push_back(data);
    }
    b_.Idle(b_.Speed() == SpeedLow ? 1200 : 300);  // the sender's time-out
}

void SessionBuilder::InPacket(uint8_t endpoint, uint8_t et, const Bytes& bytes, int naks) {
    const uint8_t a = opts_.address;
    for (int i = 0; i < naks; ++i) {
        if (hub_) b_.SplitInHandshake(*hub_, a, endpoint, et, PidNak);
        else b_.InHandshake(a, endpoint, PidNak);
    }
    Pid pid = NextToggle(opts_.address, 0x80 | endpoint);
    Glitch(true, endpoint, et, pid, bytes);
    if (hub_) b_.SplitIn(*hub_, a, endpoint, et, pid, bytes, Random(4) == 0 ? 1 : 0);
    else b_.In(a, endpoint, pid, bytes);
}

void SessionBuilder::OutPacket(uint8_t endpoint, uint8_t et, const Bytes& bytes, int naks) {
    const uint8_t a = opts_.address;
    if (et == B::EtIso) {
        // Isochronous: always DATA0 at one transaction a (micro)frame, no handshake, no retry.
        size_t data = hub_ ? b_.SplitOut(*hub_, a, endpoint, et, PidData0, bytes) + 2
                           : b_.Out(a, endpoint, PidData0, bytes, B::kNoHandshake) + 1;
        if (Chance(opts_.damageRate)) {
            b_.Damage(data, ErrCrc16);
            damaged_.push_back(data);
        }
        return;
    }
    Pid pid = NextToggle(opts_.address, endpoint);
    Glitch(false, endpoint, et, pid, bytes);
    if (hub_) {
        for (int i = 0; i < naks; ++i) b_.SplitOut(*hub_, a, endpoint, et, pid, bytes, PidNak);
        b_.SplitOut(*hub_, a, endpoint, et, pid, bytes);
    } else {
        b_.OutAfterNaks(a, endpoint, pid, bytes, naks);
    }
}

void SessionBuilder::BulkIn(const Bytes& bytes, bool zeroLengthEnd) {
    int naks = Random(3) == 0 ? 1 + int(Random(6)) : 0;  // the device fetching its data
    for (size_t at = 0; at < bytes.size(); at += bulkMaxPacket_) {
        size_t end = std::min(bytes.size(), at + bulkMaxPacket_);
        InPacket(1, B::EtBulk, Bytes(bytes.begin() + long(at), bytes.begin() + long(end)), naks);
        naks = 0;
    }
    if (zeroLengthEnd && (bytes.empty() || bytes.size() % bulkMaxPacket_ == 0)) InPacket(1, B::EtBulk, {}, 0);
}

void SessionBuilder::BulkOut(const Bytes& bytes, bool zeroLengthEnd) {
    int naks = Random(4) == 0 ? 1 + int(Random(3)) : 0;
    for (size_t at = 0; at < bytes.size(); at += bulkMaxPacket_) {
        size_t end = std::min(bytes.size(), at + bulkMaxPacket_);
        OutPacket(2, B::EtBulk, Bytes(bytes.begin() + long(at), bytes.begin() + long(end)), naks);
        naks = 0;
    }
    if (zeroLengthEnd && (bytes.empty() || bytes.size() % bulkMaxPacket_ == 0)) OutPacket(2, B::EtBulk, {}, 0);
}

// ---- class traffic ----

void SessionBuilder::MouseTraffic() {
    const uint8_t a = opts_.address;
    Control(a, SetupPacket(0x21, 0x0A, 0, 0, 0), {});  // SET_IDLE, infinite
    Control(a, SetupPacket(0x81, kGetDescriptor, 0x2200, 0, uint16_t(report_.size())), report_);
    const uint32_t period = opts_.speed == SpeedHigh ? 8 : 10;
    for (int op = 0; op < opts_.operations; ++op) {
        // Polls without news are NAKed, one every period.
        for (uint32_t n = Random(4); n > 0; --n) {
            if (hub_) b_.SplitInHandshake(*hub_, a, 1, B::EtInterrupt, PidNak);
            else b_.InHandshake(a, 1, PidNak);
            WaitMs(period);
        }
        Bytes report{uint8_t(Random(8) == 0 ? 1 : 0), uint8_t(int8_t(Random(21)) - 10), uint8_t(int8_t(Random(21)) - 10)};
        InPacket(1, B::EtInterrupt, report, 0);
        WaitMs(period);
    }
}

void SessionBuilder::DiskTraffic() {
    const uint8_t a = opts_.address;
    Control(a, SetupPacket(0xA1, 0xFE, 0, 0, 1), {0});  // GET_MAX_LUN: one LUN
    const uint32_t lastLba = 0x0003FFFF;                 // 128 MiB of 512-byte blocks
    uint32_t tag = 1 + Random(1000);
    auto scsi = [&](const Bytes& cdb, uint32_t length, bool in, const Bytes& data) {
        Bytes cbw;
        Put32(cbw, 0x43425355);  // "USBC"
        Put32(cbw, tag);
        Put32(cbw, length);
        cbw.push_back(in ? 0x80 : 0x00);
        cbw.push_back(0);
        cbw.push_back(uint8_t(cdb.size()));
        cbw.insert(cbw.end(), cdb.begin(), cdb.end());
        cbw.resize(31, 0);
        BulkOut(cbw, false);
        if (length > 0) {
            if (in) BulkIn(data, false);
            else BulkOut(data, false);
        }
        Bytes csw;
        Put32(csw, 0x53425355);  // "USBS"
        Put32(csw, tag++);
        Put32(csw, 0);
        csw.push_back(0);
        BulkIn(csw, false);
        b_.Idle(b_.FrameTicks() / 4);
    };
    auto transfer10 = [&](uint8_t opcode, uint32_t lba, uint16_t blocks) {
        Bytes cdb{opcode, 0};
        Put32Be(cdb, lba);
        Append(cdb, {0, uint8_t(blocks >> 8), uint8_t(blocks), 0});
        scsi(cdb, blocks * 512u, opcode == 0x28, RandomBytes(blocks * 512u));
    };
    for (int op = 0; op < opts_.operations; ++op) {
        uint32_t choice = op < 3 ? uint32_t(op) : 3 + Random(4);
        switch (choice) {
        case 0: {  // INQUIRY
            Bytes inquiry{0x00, 0x80, 0x04, 0x02, 31, 0, 0, 0};
            for (char c : std::string("ORVANE  Emulated Disk   1.00")) inquiry.push_back(uint8_t(c));
            scsi({0x12, 0, 0, 0, 36, 0}, 36, true, inquiry);
            break;
        }
        case 1:
        case 3: scsi({0x00, 0, 0, 0, 0, 0}, 0, false, {}); break;  // TEST UNIT READY
        case 2: {  // READ CAPACITY(10)
            Bytes capacity;
            Put32Be(capacity, lastLba);
            Put32Be(capacity, 512);
            scsi({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8, true, capacity);
            if (opts_.largeReadBytes >= 512)
                transfer10(0x28, 0x100, uint16_t(std::min<uint32_t>(opts_.largeReadBytes / 512, 0xFFFF)));
            break;
        }
        case 6: transfer10(0x2A, Random(lastLba - 8), uint16_t(1 + Random(4))); break;  // WRITE(10)
        default: transfer10(0x28, Random(lastLba - 8), uint16_t(1 + Random(8))); break;  // READ(10)
        }
    }
}

}  // namespace orvane::emu
