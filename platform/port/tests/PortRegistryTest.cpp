#include "EnvGuard.h"
#include "Port.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <tuple>
#include <vector>

namespace orvane::port {
namespace {

// Keeps the last call's arguments; counts every call into a total it may share.
class FakeBackend : public PortBackend {
public:
    using Call = std::tuple<int, int, const void*, unsigned long, unsigned long*, unsigned long>;
    explicit FakeBackend(std::shared_ptr<std::atomic<int>> total = std::make_shared<std::atomic<int>>(0), bool keep = true)
        : total(std::move(total)), keep(keep) {}
    int InitializeInterface(const InterfaceGuid* guid) override { return guid == &kAnalyserInterface ? 11 : 0; }
    int WritePort(int d, int p, const void* b, unsigned long l, unsigned long* t, unsigned long ms) override {
        return Count({d, p, b, l, t, ms}, 22);
    }
    int ReadPort(int d, int p, void* b, unsigned long l, unsigned long* t, unsigned long ms) override {
        return Count({d, p, b, l, t, ms}, 33);
    }
    std::string Name() const override { return "fake"; }

    std::shared_ptr<std::atomic<int>> total;
    bool keep;  // off when several threads call at once
    Call last{};

private:
    int Count(const Call& call, int result) {
        if (keep) last = call;
        ++*total;
        return result;
    }
};

class PortRegistryTest : public ::testing::Test {
protected:
    void TearDown() override { SetBackend(nullptr); }
    EnvGuard env_;
};

TEST_F(PortRegistryTest, DispatchReachesInstalledBackendWithExactArguments) {
    auto fake = std::make_shared<FakeBackend>(), other = std::make_shared<FakeBackend>();
    SetBackend(other);
    EXPECT_EQ(SetBackend(fake), other);
    EXPECT_EQ(&CurrentBackend(), fake.get());
    EXPECT_EQ(InitializeInterface(&kAnalyserInterface), 11);
    char data[60];
    unsigned long count = 0;
    EXPECT_EQ(WritePort(0, kBulkOutPipe, data, sizeof data, &count, kDownloadAckTimeoutMs), 22);
    EXPECT_EQ(fake->last, (FakeBackend::Call{0, kBulkOutPipe, data, sizeof data, &count, kDownloadAckTimeoutMs}));
    EXPECT_EQ(ReadPort(3, kBulkInPipe, data + 1, 7, &count, 5), 33);
    EXPECT_EQ(fake->last, (FakeBackend::Call{3, kBulkInPipe, data + 1, 7, &count, 5}));
    EXPECT_EQ(*other->total, 0);
    EXPECT_EQ(SetBackend(nullptr), fake);
}

TEST_F(PortRegistryTest, DefaultFollowsOrvanePortOnFirstUseAndFallsBackToTheEmulator) {
    const std::string fallback = ORVANE_PORT_HAS_EMULATOR ? "emulated" : "libusb";
    struct Case { std::optional<std::string> port, id; std::string chosen; };
    for (const Case& c : {Case{std::nullopt, std::nullopt, fallback}, {"bogus", "ffff:fffe", fallback},
                          {"emulated", std::nullopt, fallback}, {"libusb", std::nullopt, "libusb"}}) {
        env_.Set("ORVANE_PORT", c.port);
        env_.Set("ORVANE_ANALYSER_ID", c.id);
        SetBackend(nullptr);
        EXPECT_EQ(CurrentBackend().Name(), c.chosen) << c.port.value_or("unset");
    }
    env_.Set("ORVANE_PORT", "emulated");
    EXPECT_EQ(CurrentBackend().Name(), "libusb") << "already chosen";
    for (const std::string& name : BackendNames()) {
        if (name == "emulated" && !ORVANE_PORT_HAS_EMULATOR) continue;
        auto backend = MakeBackend(name);
        ASSERT_TRUE(backend) << name;
        EXPECT_EQ(backend->Name(), name);
    }
    EXPECT_FALSE(MakeBackend("bogus"));
}

// A back end swapped out mid-call must stay alive until the call returns.
TEST_F(PortRegistryTest, SwappingWhileCallsRunLosesNoCall) {
    auto total = std::make_shared<std::atomic<int>>(0);
    SetBackend(std::make_shared<FakeBackend>(total, false));
    constexpr int kThreads = 4, kCalls = 2000;
    std::vector<std::thread> callers;
    for (int t = 0; t < kThreads; ++t)
        callers.emplace_back([] {
            char byte = 0;
            unsigned long n = 0;
            for (int i = 0; i < kCalls; ++i) {
                WritePort(0, kCommandPipe, &byte, 1, &n, kTimeoutMs);
                ReadPort(0, kCommandPipe, &byte, 1, &n, kTimeoutMs);
            }
        });
    for (int i = 0; i < kCalls; ++i) SetBackend(std::make_shared<FakeBackend>(total, false));
    for (auto& caller : callers) caller.join();
    EXPECT_EQ(*total, 2 * kThreads * kCalls);
}

}  // namespace
}  // namespace orvane::port
