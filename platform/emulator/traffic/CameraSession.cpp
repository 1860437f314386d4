// The camera's class traffic: a still-image session as a host runs it against
// a camera with one memory card. Commands go out on bulk endpoint 2, data and
// responses come in on bulk endpoint 1, and the host polls the interrupt
// endpoint 3 for events all along; the camera answers one poll with an event
// when a picture is taken during the session.
#include <algorithm>
#include <cstdio>
#include <string>

#include "PtpWire.h"
#include "SessionBuilder.h"

namespace orvane::emu {

namespace {

using B = BusTrafficBuilder;
using ptp::Bytes;

constexpr uint64_t kTicksPerMs = 60000;
constexpr uint32_t kStorageId = 0x00010001;
constexpr uint32_t kSessionId = 1;
constexpr uint32_t kFirstHandle = 0x00000021;
constexpr uint16_t kExifJpeg = 0x3801, kJfif = 0x3808;

Bytes DeviceInfo()
{
    Bytes d;
    ptp::Put16(d, 100);  // standard version 1.00
    ptp::Put32(d, 0);    // no vendor extension
    ptp::Put16(d, 0);
    ptp::PutString(d, "");
    ptp::Put16(d, 0);  // standard mode
    ptp::PutArray16(d, {0x1001, 0x1002, 0x1003, 0x1004, 0x1005, 0x1006, 0x1007, 0x1008, 0x1009, 0x100A, 0x100B,
                        0x1014, 0x1015});
    ptp::PutArray16(d, {0x4002, 0x4003, 0x4004, 0x4005, 0x400C});
    ptp::PutArray16(d, {0x5001, 0x5003, 0x5011});
    ptp::PutArray16(d, {kExifJpeg});
    ptp::PutArray16(d, {kExifJpeg, kJfif});
    ptp::PutString(d, "Orvane Test");
    ptp::PutString(d, "Emulated Camera");
    ptp::PutString(d, "1.0");
    ptp::PutString(d, "0001");
    return d;
}

Bytes StorageInfo(uint64_t freeBytes)
{
    Bytes s;
    ptp::Put16(s, 4);  // removable RAM
    ptp::Put16(s, 2);  // generic hierarchical
    ptp::Put16(s, 0);  // read-write
    ptp::Put64(s, uint64_t(8) << 30);
    ptp::Put64(s, freeBytes);
    ptp::Put32(s, 0xFFFFFFFF);  // free images not reported
    ptp::PutString(s, "SD Card");
    ptp::PutString(s, "");
    return s;
}

Bytes ObjectInfo(uint32_t number, uint32_t size)
{
    char name[16];
    std::snprintf(name, sizeof name, "IMG_%04u.JPG", unsigned(number));
    const std::string date = "20261209T12" + std::to_string(10 + number % 50) + "00";
    Bytes o;
    ptp::Put32(o, kStorageId);
    ptp::Put16(o, kExifJpeg);
    ptp::Put16(o, 0);  // no protection
    ptp::Put32(o, size);
    ptp::Put16(o, kJfif);
    ptp::Put32(o, 5120);  // thumbnail bytes
    ptp::Put32(o, 160);
    ptp::Put32(o, 120);
    ptp::Put32(o, 4000);
    ptp::Put32(o, 3000);
    ptp::Put32(o, 24);
    ptp::Put32(o, 0);  // in the store's root
    ptp::Put16(o, 0);  // not an association
    ptp::Put32(o, 0);
    ptp::Put32(o, 0);
    ptp::PutString(o, name);
    ptp::PutString(o, date);
    ptp::PutString(o, date);
    ptp::PutString(o, "");
    return o;
}

}  // namespace

void SessionBuilder::CameraTraffic()
{
    const uint8_t a = opts_.address;
    const uint64_t pollPeriod = (opts_.speed == SpeedHigh ? 8 : 10) * kTicksPerMs;
    uint64_t nextPoll = b_.Now();
    // The host keeps an interrupt request pending: a NAKed poll each period.
    auto poll = [&] {
        if (b_.Now() < nextPoll) return;
        if (hub_) b_.SplitInHandshake(*hub_, a, 3, B::EtInterrupt, PidNak);
        else b_.InHandshake(a, 3, PidNak);
        nextPoll = b_.Now() + pollPeriod;
    };
    auto bulkIn = [&](const Bytes& bytes) {
        int naks = Random(3) == 0 ? 1 + int(Random(6)) : 0;  // the camera fetching its data
        for (size_t at = 0; at < bytes.size(); at += bulkMaxPacket_) {
            const size_t end = std::min(bytes.size(), at + bulkMaxPacket_);
            InPacket(1, B::EtBulk, Bytes(bytes.begin() + long(at), bytes.begin() + long(end)), naks);
            naks = 0;
            poll();
        }
        // A transfer of whole packets ends with a zero-length one.
        if (bytes.size() % bulkMaxPacket_ == 0) InPacket(1, B::EtBulk, {}, 0);
    };
    uint32_t transaction = 0;
    auto operation = [&](uint16_t code, std::initializer_list<uint32_t> params, const Bytes* data) {
        const uint32_t id = transaction;
        OutPacket(2, B::EtBulk, ptp::Container(ptp::Command, code, id, params), Random(4) == 0 ? 1 : 0);
        poll();
        if (data) bulkIn(ptp::Container(ptp::Data, code, id, *data));
        bulkIn(ptp::Container(ptp::Response, 0x2001, id, {}));  // OK
        b_.Idle(b_.FrameTicks() / 2 + Random(uint32_t(b_.FrameTicks())));
        poll();
        if (transaction) ++transaction;
    };

    // The card holds some pictures; the host looks at each and downloads the
    // newest. The pictures stay within what the analyser keeps by default.
    const uint32_t listed = uint32_t(std::clamp(opts_.operations - 9, 1, 32));
    std::vector<uint32_t> handles, sizes;
    for (uint32_t i = 0; i <= listed; ++i) {
        handles.push_back(kFirstHandle + i);
        sizes.push_back(180 * 1024 + Random(50 * 1024));
    }
    const uint64_t freeBytes = uint64_t(5) << 30;

    const Bytes deviceInfo = DeviceInfo();
    operation(0x1001, {}, &deviceInfo);        // GetDeviceInfo, before any session
    operation(0x1002, {kSessionId}, nullptr);  // OpenSession is transaction 0
    transaction = 1;
    Bytes storageIds;
    ptp::PutArray32(storageIds, {kStorageId});
    operation(0x1004, {}, &storageIds);  // GetStorageIDs
    const Bytes storageInfo = StorageInfo(freeBytes);
    operation(0x1005, {kStorageId}, &storageInfo);  // GetStorageInfo
    Bytes listing;
    ptp::PutArray32(listing, std::vector<uint32_t>(handles.begin(), handles.end() - 1));
    operation(0x1007, {kStorageId, 0, 0}, &listing);  // GetObjectHandles of the whole store
    auto info = [&](uint32_t i) {
        const Bytes dataset = ObjectInfo(i + 1, sizes[i]);
        operation(0x1008, {handles[i]}, &dataset);  // GetObjectInfo
    };
    auto download = [&](uint32_t i) {
        Bytes jpeg = RandomBytes(sizes[i]);
        const uint8_t soi[] = {0xFF, 0xD8, 0xFF, 0xE1};
        std::copy(std::begin(soi), std::end(soi), jpeg.begin());
        jpeg[jpeg.size() - 2] = 0xFF;
        jpeg.back() = 0xD9;
        operation(0x1009, {handles[i]}, &jpeg);  // GetObject
    };
    for (uint32_t i = 0; i < listed; ++i) info(i);
    download(listed - 1);

    // The shutter is pressed: the next poll of the event pipe carries ObjectAdded.
    WaitMs(uint32_t(pollPeriod / kTicksPerMs));
    InPacket(3, B::EtInterrupt, ptp::Container(ptp::Event, 0x4002, 0, {handles.back()}), 0);
    nextPoll = b_.Now() + pollPeriod;
    WaitMs(2);
    info(listed);
    download(listed);
    operation(0x1003, {}, nullptr);  // CloseSession
}

}  // namespace orvane::emu
