// Real traffic of any size: the real captures beside the project (when the
// folder is there) and the sessions the emulated analyser records for its four
// devices, one after the other, each taking an equal share of the records.
// A capture or session keeps its enumeration once and then repeats the rest,
// later in time, so every device stays learned as on a real bus; every
// packet's bytes follow the one before's, as the analyser writes them.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "BusCapture.h"
#include "Crc.h"
#include "EmulatedAnalyser.h"
#include "PacketRecord.h"
#include "Port.h"
#include "RingCapture.h"

namespace orvane::bench {

// Appends `session` to `into` until `records` of it are there (or the ring
// of a capture that holds all its payload is full): its first part up to the
// first token on a class endpoint once, then the rest over and over; with
// `reenumerate`, the whole session over and over, so its device is enumerated
// again at the same address each time. Time stamps follow what `into` holds
// already; each packet's bytes are written after the one before, as the
// analyser writes them.
inline void AppendTiled(RingCapture& into, const emu::BusCapture& session, size_t records, bool reenumerate = false) {
    if (session.records.empty()) return;
    size_t body = 0;
    while (!reenumerate && body < session.records.size()) {
        const PacketRecord& r = session.records[body];
        const uint8_t pid = r.PidNibble();
        if ((pid == PidIn || pid == PidOut) && r.Endpoint() != 0) break;
        ++body;
    }
    if (body == session.records.size()) body = 0;  // nothing but enumeration: repeat it all
    const uint64_t start = into.Empty() ? 0 : into.Back().Timestamp() + 60000;  // 1 ms apart
    const uint64_t first = session.records.front().Timestamp();
    const uint64_t span = session.records.back().Timestamp() - session.records[body].Timestamp() + 1000;
    const size_t end = into.Size() + records;
    into.Reserve(end);
    size_t i = 0;
    for (uint64_t shift = start - first; into.Size() < end;) {
        PacketRecord r = session.records[i];
        r.SetTimestamp(r.Timestamp() + shift);
        const uint8_t* bytes = nullptr;  // a packet the session lacks the bytes of is written as zeros
        if (r.IsData() && !r.PayloadLost() && size_t(r.PayloadOffset()) + r.Length() <= session.payload.size())
            bytes = session.payload.data() + r.PayloadOffset();
        if (!into.Append(r, bytes)) return;
        if (++i == session.records.size()) i = body, shift += span;
    }
}

// `records` of `session` tiled as AppendTiled does, alone in a capture.
inline emu::BusCapture Tiled(const emu::BusCapture& session, size_t records, bool reenumerate = false,
                             Payload payload = Payload::Wrapped) {
    RingCapture ring(payload);
    AppendTiled(ring, session, records, reenumerate);
    return ring.Take();
}

// Payload bytes a record of `session` repeated over and over writes, about.
inline double PayloadPerRecord(const emu::BusCapture& session) {
    uint64_t bytes = 0;
    for (const PacketRecord& r : session.records)
        if (r.IsData()) bytes += r.Length();
    return session.records.empty() ? 0 : double(bytes) / double(session.records.size());
}

// The same records, with every SET_ADDRESS after the first handing out an
// address no device answers at: the host still reads the descriptors and sets
// the configuration each round, but its device is enumerated once. Against a
// re-enumerating capture it tells what the enumerations themselves cost apart
// from the control traffic they carry. Each such setup packet's own bytes are
// changed, its CRC with them.
inline void HandNoAddressAgain(emu::BusCapture& capture, uint8_t unused = 127) {
    bool first = true;
    for (size_t i = 0; i + 1 < capture.records.size(); ++i) {
        const PacketRecord& token = capture.records[i];
        const PacketRecord& data = capture.records[i + 1];
        if (token.PidNibble() != PidSetup || !data.IsData() || data.PayloadLength() != 8 || data.PayloadLost()) continue;
        const uint32_t at = data.PayloadOffset();
        if (size_t(at) + 10 > capture.payload.size()) continue;
        uint8_t* setup = capture.payload.data() + at;
        if (setup[0] != 0x00 || setup[1] != 0x05) continue;
        if (std::exchange(first, false)) continue;
        setup[2] = unused;
        setup[3] = 0;
        const uint16_t crc = emu::Crc::Crc16(std::span<const uint8_t>(setup, 8));
        setup[8] = uint8_t(crc);
        setup[9] = uint8_t(crc >> 8);
    }
}

// The session a capture of the emulated analyser records with
// ORVANE_EMULATED_DEVICE set to `device`, as the program builds it.
inline emu::BusCapture EmulatedSession(const char* device) {
    const char* before = std::getenv("ORVANE_EMULATED_DEVICE");
    const std::string saved = before ? before : "";
    ::setenv("ORVANE_EMULATED_DEVICE", device, 1);
    auto analyser = std::dynamic_pointer_cast<emu::EmulatedAnalyser>(port::MakeBackend("emulated"));
    if (before) ::setenv("ORVANE_EMULATED_DEVICE", saved.c_str(), 1);
    else ::unsetenv("ORVANE_EMULATED_DEVICE");
    return analyser ? analyser->NextTraffic() : emu::BusCapture{};
}

// A real capture's ".ph" and ".data" files; empty when they are not there.
inline emu::BusCapture CaptureFiles(const std::filesystem::path& base) {
    emu::BusCapture capture;
    std::ifstream ph(base.string() + ".ph", std::ios::binary), data(base.string() + ".data", std::ios::binary);
    if (!ph || !data) return capture;
    const std::vector<char> bytes((std::istreambuf_iterator<char>(ph)), std::istreambuf_iterator<char>());
    capture.records.resize(bytes.size() / sizeof(PacketRecord));
    std::memcpy(capture.records.data(), bytes.data(), capture.records.size() * sizeof(PacketRecord));
    capture.payload.assign(std::istreambuf_iterator<char>(data), std::istreambuf_iterator<char>());
    return capture;
}

// `records` records of real traffic (with Payload::Held, as many as the
// payload ring holds whole, up to `records`); `parts`, when given, names what
// went in.
inline emu::BusCapture RealTraffic(size_t records, Payload payload = Payload::Wrapped,
                                   std::vector<std::string>* parts = nullptr) {
    std::vector<std::pair<std::string, emu::BusCapture>> sessions;
    for (const char* name : {"usb_ls_mouse", "usb_fs_vcp", "usb_hs_flash_drive"}) {
        emu::BusCapture capture = CaptureFiles(std::filesystem::path(ORVANE_CAPTURES_DIR) / name);
        if (!capture.records.empty()) sessions.emplace_back(name, std::move(capture));
    }
    for (const char* device : {"mouse", "large-read", "camera", "audio"}) {
        emu::BusCapture session = EmulatedSession(device);
        if (!session.records.empty()) sessions.emplace_back(std::string("emulated ") + device, std::move(session));
    }
    if (sessions.empty()) return {};
    if (payload == Payload::Held) {
        // Fewer records, in the same shares, when theirs would not fit in the ring.
        double bytes = 0;
        for (const auto& session : sessions) bytes += PayloadPerRecord(session.second) * double(records) / double(sessions.size());
        const double room = 0.98 * double(RingCapture::kMaxRingBytes);
        if (bytes > room) records = size_t(double(records) * room / bytes);
    }
    RingCapture traffic(payload);
    traffic.Reserve(records);
    for (size_t i = 0; i < sessions.size(); ++i) {
        const size_t share = records / sessions.size() + (i + 1 == sessions.size() ? records % sessions.size() : 0);
        AppendTiled(traffic, sessions[i].second, share);
        if (parts) parts->push_back(sessions[i].first);
    }
    return traffic.Take();
}

}  // namespace orvane::bench
