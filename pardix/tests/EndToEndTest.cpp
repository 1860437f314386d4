// A whole capture against the emulated analyser: configured from setup XML,
// started, triggered by the steps, ended, uploaded while the records are read,
// saved, and opened again offline byte for byte.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "CDevice.h"
#include "EmulatedAnalyser.h"
#include "SessionBuilder.h"
#include "SetupXml.h"

using namespace orvane;
using namespace orvane::pardix;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

struct Served {
    std::vector<PacketRecord> records;
    std::vector<Bytes> payloads;  // data bytes and CRC, per record (empty for others)
};

// Reads as the parser does: by index, waiting while the source says "not yet".
Served ReadAll(IDataSource& source) {
    Served out;
    PacketRecord r;
    for (uint32_t i = 0;;) {
        int32_t got = source.GetRecord(i, &r);
        if (got == RecordEnd) break;
        if (got == RecordNotYet) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        Bytes payload;
        if (r.IsData()) {
            payload.resize(r.PayloadLength());
            uint16_t crc = 0;
            int32_t n = source.GetPayload(&r, payload.data(), uint32_t(payload.size()), &crc);
            payload.resize(size_t(std::max(n, 0)));
            payload.push_back(uint8_t(crc));
            payload.push_back(uint8_t(crc >> 8));
        }
        out.records.push_back(r);
        out.payloads.push_back(std::move(payload));
        ++i;
    }
    return out;
}

}  // namespace

TEST(EndToEnd, ConfigureTriggerUploadSaveAndReopen) {
    emu::SessionBuilder::Options options;
    options.kind = emu::SessionBuilder::Kind::Mouse;
    options.operations = 400;
    emu::SessionBuilder session(options);
    emu::EmulatedAnalyser emu;
    emu.SetTraffic(session.Build());
    emu.SetPace(300);
    emu.SetCaptureStart(0x40, 0x1005);

    // Get the device descriptor at address 0, then SET_CONFIGURATION 1 at 5.
    app::SetupXml setup;
    ASSERT_TRUE(setup.SetFilterFlags(app::SetupXml::FilterSof | app::SetupXml::FilterNak));
    const uint16_t setupPids = app::MaskSetup | app::MaskData0 | app::MaskAck;
    ASSERT_TRUE(setup.WriteTriggerSteps({{0, 0x0001, setupPids, "80 06 00 01 H"}, {5, 0x0001, setupPids, "00 09 01 00 H"}},
                                        false));

    CDevice device(&emu);
    ASSERT_EQ(device.ApplySetup(setup.Text().c_str()), 1);
    ASSERT_EQ(device.Control(2, nullptr), 1);
    ASSERT_EQ(device.Start(), 1);

    Served online;
    std::thread parser([&] { online = ReadAll(*device.GetDataSource()); });
    DeviceStatus status;
    bool uploading = false;
    for (int polls = 0; polls < 20000; ++polls) {
        ASSERT_EQ(device.GetStatus(&status), 1);
        if (!uploading && (status.flags & StatusComplete)) {
            ASSERT_EQ(device.Control(1, nullptr), 1);
            uploading = true;
        }
        if (uploading && device.Source().UploadStateNow() == UploadIdle) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    parser.join();
    ASSERT_TRUE(uploading);
    ASSERT_EQ(device.Source().UploadStateNow(), UploadIdle);

    // What the trigger and the filter made of the traffic.
    ASSERT_TRUE(status.flags & StatusTriggered);
    ASSERT_EQ(online.records.size(), status.packets);
    ASSERT_GE(status.trigger, 2);
    const auto& recs = online.records;
    const size_t t = size_t(status.trigger);
    EXPECT_EQ(recs[t].PidNibble(), PidAck);
    EXPECT_EQ(recs[t - 1].PidNibble(), PidData0);
    EXPECT_EQ(Bytes(online.payloads[t - 1].begin(), online.payloads[t - 1].begin() + 4), (Bytes{0x00, 0x09, 0x01, 0x00}));
    EXPECT_EQ(recs[t - 2].PidNibble(), PidSetup);
    EXPECT_EQ(recs[t - 2].Address(), 5);
    for (const PacketRecord& r : recs) {
        EXPECT_NE(r.PidNibble(), PidSof);
        EXPECT_NE(r.PidNibble(), PidNak);
    }
    EXPECT_LT(emu.RecordsWritten(), session.Build().records.size());

    // The store is the capture's payload memory from the payload start on.
    const ControlBlock cb = device.Source().ControlImage();
    const std::string store = device.Source().TemporaryFolder() + "/" + CDeviceProxy::kStoreName;
    EXPECT_EQ(fs::file_size(store), uint64_t(cb.payloadBytesCaptured) + 1024 - (cb.payloadStart % 8));

    char folder[] = "/tmp/orvane-e2e-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string ph = std::string(folder) + "/capture.ph", data = std::string(folder) + "/capture.data";
    ASSERT_EQ(device.GetDataSource()->OpenOrSave(ph.c_str(), data.c_str(), 1), 1);

    CDeviceProxy offline(&emu);
    ASSERT_EQ(offline.OpenOrSave(ph.c_str(), data.c_str(), 0), 1);
    const unsigned commands = emu.CommandCount();
    Served reopened = ReadAll(offline);
    EXPECT_EQ(emu.CommandCount(), commands) << "served from the files alone";
    ASSERT_EQ(reopened.records.size(), online.records.size());
    for (size_t i = 0; i < recs.size(); ++i) {
        ASSERT_EQ(reopened.records[i].word0, recs[i].word0) << i;
        ASSERT_EQ(reopened.records[i].word1, recs[i].word1) << i;
        ASSERT_EQ(reopened.payloads[i], online.payloads[i]) << i;
    }
    fs::remove_all(folder);
}
