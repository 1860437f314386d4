#include "EnvGuard.h"
#include "Port.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace orvane::port {
namespace {

// Records the last call; counts every call into a total it may share.
class FakeBackend : public PortBackend {
public:
    struct Call {
        int device, pipe;
        const void* buffer;
        unsigned long length;
        unsigned long* transferred;
        unsigned long timeoutMs;
        bool operator==(const Call&) const = default;
    };
    explicit FakeBackend(std::shared_ptr<std::atomic<int>> total = std::make_shared<std::atomic<int>>(0))
        : total(std::move(total)) {}
    int InitializeInterface(const InterfaceGuid* guid) override { return guid == &kAnalyserInterface ? 11 : 0; }
    int WritePort(int d, int p, const void* b, unsigned long l, unsigned long* t, unsigned long ms) override {
        return Record({d, p, b, l, t, ms}, 22);
    }
    int ReadPort(int d, int p, void* b, unsigned long l, unsigned long* t, unsigned long ms) override {
        return Record({d, p, b, l, t, ms}, 33);
    }
    std::string Name() const override { return "fake"; }

    std::shared_ptr<std::atomic<int>> total;
    Call last{};
    bool record = true;  // off when several threads call at once

private:
    int Record(const Call& call, int result) {
        if (record) last = call;
        ++*total;
        return result;
    }
};

class PortRegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        env_.Set("ORVANE_PORT", std::nullopt);
        env_.Set("ORVANE_ANALYSER_ID", std::nullopt);
    }
    void TearDown() override { SetBackend(nullptr); }
    EnvGuard env_;
};

TEST_F(PortRegistryTest, DispatchReachesInstalledBackendWithExactArguments) {
    auto fake = std::make_shared<FakeBackend>();
    auto other = std::make_shared<FakeBackend>();
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

TEST_F(PortRegistryTest, DefaultChoiceFollowsOrvanePortOnFirstUse) {
    env_.Set("ORVANE_PORT", "libusb");
    SetBackend(nullptr);
    EXPECT_EQ(CurrentBackend().Name(), "libusb");
    env_.Set("ORVANE_PORT", "emulated");
    EXPECT_EQ(CurrentBackend().Name(), "libusb");  // already chosen
#if ORVANE_PORT_HAS_EMULATOR
    SetBackend(nullptr);
    EXPECT_EQ(CurrentBackend().Name(), "emulated");
#endif
}

TEST_F(PortRegistryTest, WithoutAPluggedAnalyserDefaultIsEmulated) {
    const char* expected = ORVANE_PORT_HAS_EMULATOR ? "emulated" : "libusb";
    SetBackend(nullptr);
    EXPECT_EQ(CurrentBackend().Name(), expected);

    env_.Set("ORVANE_PORT", "bogus");
    env_.Set("ORVANE_ANALYSER_ID", "ffff:fffe");
    SetBackend(nullptr);
    EXPECT_EQ(CurrentBackend().Name(), expected);
}

TEST_F(PortRegistryTest, MakesBackendsByName) {
    EXPECT_EQ(BackendNames(), (std::vector<std::string>{"libusb", "emulated"}));
    for (const std::string& name : BackendNames()) {
        auto backend = MakeBackend(name);
        if (name == "emulated" && !ORVANE_PORT_HAS_EMULATOR) continue;
        ASSERT_TRUE(backend) << name;
        EXPECT_EQ(backend->Name(), name);
    }
    EXPECT_FALSE(MakeBackend("bogus"));
}

// A back end swapped out mid-call must stay alive until the call returns.
TEST_F(PortRegistryTest, SwappingWhileCallsRunLosesNoCall) {
    auto total = std::make_shared<std::atomic<int>>(0);
    auto makeFake = [&] {
        auto fake = std::make_shared<FakeBackend>(total);
        fake->record = false;
        return fake;
    };
    SetBackend(makeFake());
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
    for (int i = 0; i < kCalls; ++i) SetBackend(makeFake());
    for (auto& caller : callers) caller.join();
    EXPECT_EQ(*total, 2 * kThreads * kCalls);
}

}  // namespace
}  // namespace orvane::port
