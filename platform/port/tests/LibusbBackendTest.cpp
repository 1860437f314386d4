#include "AnalyserLock.h"
#include "EnvGuard.h"
#include "LibusbBackend.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace orvane::port {
namespace {

using UsbId = LibusbBackend::UsbId;

TEST(LibusbBackendConfig, ParsesIdAndEndpointOverrides) {
    EXPECT_EQ(LibusbBackend::ParseId("1234:abcd"), (UsbId{0x1234, 0xabcd}));
    EXPECT_EQ(LibusbBackend::ParseId("FFFF:1"), (UsbId{0xffff, 0x0001}));
    for (const char* bad : {"", "1234", "1234:", ":abcd", "12345:1", "12g4:0001", "0x12:34", "1234:abcd:1"})
        EXPECT_FALSE(LibusbBackend::ParseId(bad)) << bad;

    EXPECT_EQ(LibusbBackend::ParseEndpoints("1:01/81, 2:02,3:83"),
              (LibusbBackend::EndpointMap{{1, {0x01, 0x81}}, {2, {0x02, 0}}, {3, {0, 0x83}}}));
    for (const char* bad : {"1", "1:", "0:01", "16:01", "1:00", "1:80", "1:10", "1:101", "1:81/82", "1:01//81",
                            "1:01,,2:02"})
        EXPECT_FALSE(LibusbBackend::ParseEndpoints(bad)) << bad;
}

TEST(LibusbBackendConfig, MapsPipesToEndpointsFromEnvironmentAndSetters) {
    EnvGuard env;
    env.Set("ORVANE_ANALYSER_ID", "04b4:1004");
    env.Set("ORVANE_ANALYSER_ENDPOINTS", "2:06");
    LibusbBackend backend;
    EXPECT_EQ(backend.AnalyserId(), (UsbId{0x04b4, 0x1004}));
    struct Case { int pipe; bool in; int address; };
    for (Case c : {Case{2, false, 0x06}, {2, true, 0x82}, {1, false, 0x01}, {3, true, 0x83}, {0, false, -1}, {16, true, -1}})
        EXPECT_EQ(backend.EndpointAddress(c.pipe, c.in), c.address) << c.pipe << c.in;
    backend.SetEndpoints({{3, {0, 0x86}}});
    EXPECT_EQ(backend.EndpointAddress(3, true), 0x86);
    EXPECT_EQ(backend.EndpointAddress(2, false), 0x02);

    env.Set("ORVANE_ANALYSER_ID", "no-id");
    env.Set("ORVANE_ANALYSER_ENDPOINTS", "2:zz");
    LibusbBackend malformed;
    EXPECT_FALSE(malformed.AnalyserId());
    EXPECT_EQ(malformed.EndpointAddress(2, false), 0x02);
}

// No analyser here (or no USB at all in a sandbox): every call must fail at
// once with nothing transferred, whether or not the lock is held.
TEST(LibusbBackendOffline, EveryCallFailsCleanly) {
    char pattern[] = "/tmp/orvane-usb-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    AnalyserLock::SetDirectory(pattern);
    const std::optional<UsbId> ids[] = {std::nullopt, UsbId{0xffff, 0xfffe}};
    for (const auto& id : ids) {
        for (const bool locked : {false, true}) {
            SCOPED_TRACE(std::string(id ? "absent id" : "no id") + (locked ? ", locked" : ", unlocked"));
            if (locked) {
                ASSERT_EQ(AnalyserLock::TryAcquire(), AnalyserLock::Result::Acquired);
            }
            LibusbBackend backend;
            backend.SetAnalyserId(id);
            EXPECT_EQ(backend.InitializeInterface(&kAnalyserInterface), 0);

            unsigned char buffer[64] = {};
            for (int pipe : {kCommandPipe, kBulkOutPipe, kBulkInPipe}) {
                unsigned long transferred = 77;
                EXPECT_EQ(backend.WritePort(0, pipe, buffer, sizeof buffer, &transferred, kTimeoutMs), 0);
                EXPECT_EQ(transferred, 0u);
                transferred = 77;
                EXPECT_EQ(backend.ReadPort(0, pipe, buffer, sizeof buffer, &transferred, kTimeoutMs), 0);
                EXPECT_EQ(transferred, 0u);
            }
            EXPECT_FALSE(backend.IsOpen());
            EXPECT_FALSE(backend.LastError().empty());
            EXPECT_EQ(backend.ReadPort(0, kBulkInPipe, nullptr, 4, nullptr, kTimeoutMs), 0);
            EXPECT_EQ(backend.LastError(), "invalid arguments");
            if (locked) AnalyserLock::Release();
        }
    }
    AnalyserLock::SetDirectory("");
    std::filesystem::remove_all(pattern);
}

}  // namespace
}  // namespace orvane::port
