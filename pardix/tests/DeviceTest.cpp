// The device object: its slots, bringing the analyser up, the analyser lock
// between processes, and the library's export.
#include <dlfcn.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "AnalyserLock.h"
#include "CDevice.h"
#include "EmulatedAnalyser.h"
#include "ProxyFixture.h"

extern char** environ;

using namespace orvane;
using namespace orvane::pardix;

namespace {

// Lock files of this test run live in a private folder that child processes share.
const bool kPrivateLockFolder = [] {
    char folder[] = "/tmp/orvane-locks-XXXXXX";
    if (!::mkdtemp(folder)) return false;
    ::setenv("ORVANE_LOCK_DIR", folder, 1);
    return true;
}();

class Child {
public:
    explicit Child(const char* mode) {
        int in[2], out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, in[1]);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        char* argv[] = {const_cast<char*>(ORVANE_LOCK_PROBE), const_cast<char*>(mode), nullptr};
        if (posix_spawn(&pid_, ORVANE_LOCK_PROBE, &actions, nullptr, argv, environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        stdin_ = in[1];
        stdout_ = out[0];
    }
    ~Child() {
        if (stdin_ >= 0) ::close(stdin_);
        if (stdout_ >= 0) ::close(stdout_);
        if (pid_ > 0) Wait();
    }
    // The first line the child prints.
    std::string Line() {
        std::string line;
        char c;
        while (::read(stdout_, &c, 1) == 1 && c != '\n') line += c;
        return line;
    }
    void CloseInput() {
        ::close(stdin_);
        stdin_ = -1;
    }
    // Exit code, or 128 + signal.
    int Wait() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    int stdout_ = -1;
};

int TryInChild() { return Child("try").Wait(); }

}  // namespace

TEST(AnalyserLockBetweenProcesses, SecondProcessIsKeptOffUntilTheFirstLetsGo) {
    ASSERT_TRUE(kPrivateLockFolder);
    {
        emu::EmulatedAnalyser emu;
        CDevice device(&emu);
        EXPECT_FALSE(device.IsOpen()) << "opened only by a call that needs the analyser";
        DeviceStatus status;
        ASSERT_EQ(device.GetStatus(&status), 1);
        EXPECT_EQ(TryInChild(), 3);
    }
    EXPECT_EQ(TryInChild(), 0) << "free again once the device is gone";
}

TEST(AnalyserLockBetweenProcesses, HeldElsewhereRefusesEverythingButTheIdentityAndRetries) {
    Child holder("hold");
    ASSERT_EQ(holder.Line(), "held");
    emu::EmulatedAnalyser emu;
    CDevice device(&emu);
    DeviceStatus status;
    DeviceInfo info;
    EXPECT_EQ(device.GetStatus(&status), 0);
    EXPECT_EQ(device.ApplySetup("<setup/>"), 0);
    EXPECT_EQ(device.Start(), 0);
    EXPECT_EQ(device.Stop(), 0);
    EXPECT_EQ(device.Control(3, nullptr), 0);
    EXPECT_EQ(device.GetDeviceInfo(&info), 1);
    EXPECT_EQ(emu.CommandCount(), 1u) << "only the identity reached the analyser";
    holder.CloseInput();
    EXPECT_EQ(holder.Wait(), 0);
    EXPECT_EQ(device.GetStatus(&status), 1) << "tried again at the next call";
}

TEST(AnalyserLockBetweenProcesses, AHolderThatCrashedLeavesNoLockBehind) {
    Child crasher("crash");
    ASSERT_EQ(crasher.Line(), "held");
    EXPECT_EQ(crasher.Wait(), 128 + SIGKILL);
    emu::EmulatedAnalyser emu;
    CDevice device(&emu);
    DeviceStatus status;
    EXPECT_EQ(device.GetStatus(&status), 1);
}

TEST(AnalyserLockBetweenProcesses, ALockThatCannotBeMadeIsAFailure) {
    port::AnalyserLock::SetDirectory("/proc/orvane-no-such-folder");
    emu::EmulatedAnalyser emu;
    CDevice device(&emu);
    DeviceStatus status;
    EXPECT_EQ(device.GetStatus(&status), 0);
    EXPECT_EQ(device.Start(), 0);
    EXPECT_EQ(emu.CommandCount(), 0u);
    port::AnalyserLock::SetDirectory("");
    EXPECT_EQ(device.GetStatus(&status), 1);
}

TEST(Device, BringsTheAnalyserUpOnceAndDownloadsOnlyWhenUnconfigured) {
    orvane::testing::TempDir dir;
    const std::string path = dir / "device.rvs";
    orvane::testing::WriteFile(path, orvane::testing::kConfigurationImage);
    for (bool configured : {true, false}) {
        emu::EmulatedAnalyser emu;
        emu.SetConfigured(configured);
        CDevice device(&emu);
        device.Source().SetConfigurationPath(path);
        ASSERT_EQ(device.Control(2, nullptr), 1);
        EXPECT_EQ(emu.ConfigurationVersion(), configured ? emu::EmulatedAnalyser::kDefaultConfigVersion : 0x01020304u);
        auto writes = emu.RegisterWrites();
        ASSERT_FALSE(writes.empty());
        EXPECT_EQ(writes.back().address, RegResetStrobe) << "then the reset";
        unsigned commands = emu.CommandCount();
        DeviceStatus status;
        ASSERT_EQ(device.GetStatus(&status), 1);
        EXPECT_EQ(emu.CommandCount(), commands + 1) << "opened once: only the status read";
    }
}

TEST(Device, ControlOperations) {
    emu::EmulatedAnalyser emu;
    CDevice device(&emu);
    int32_t out = -1;
    EXPECT_EQ(device.Control(99, &out), 0);
    EXPECT_EQ(out, -1);
    EXPECT_EQ(device.Control(kControlUploadProgress, &out), 1);
    EXPECT_EQ(out, 100) << "no upload running";
    EXPECT_EQ(device.Control(3, &out), 1);
    EXPECT_EQ(out, 1);
    emu.DisconnectAtCommand(1);
    EXPECT_EQ(device.Control(3, &out), 1);
    EXPECT_EQ(out, 0) << "the clear's own result";
}

TEST(Device, StartRunsArmsAndReleasesTheFilterAndStopClearsRun) {
    emu::EmulatedAnalyser emu;
    emu.SetEndWhenExhausted(false);
    emu.SetTraffic(orvane::testing::InTraffic(30));
    CDevice device(&emu);
    ASSERT_EQ(device.ApplySetup("<setup><storage packet=\"1024\"/><trigger><step/></trigger></setup>"), 1);
    ASSERT_EQ(device.Start(), 1);
    EXPECT_TRUE(emu.Capturing());
    EXPECT_EQ(emu.TriggerTable()[128], 0);
    DeviceStatus status;
    ASSERT_EQ(device.GetStatus(&status), 1);
    EXPECT_TRUE(status.flags & StatusRunning);
    ASSERT_EQ(device.Stop(), 1);
    EXPECT_FALSE(emu.Capturing());
    ASSERT_EQ(device.GetStatus(&status), 1);
    EXPECT_FALSE(status.flags & StatusRunning);

    // Any of the three writes failing fails the start.
    emu.DisconnectAtCommand(3);
    EXPECT_EQ(device.Start(), 0);
}

TEST(Device, TheLibraryExportsOnlyItsFactory) {
    ::setenv("ORVANE_PORT", "emulated", 1);
    void* library = ::dlopen(ORVANE_PARDIX_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << ::dlerror();
    auto create = reinterpret_cast<CreateDeviceFn>(::dlsym(library, kCreateDeviceExport));
    ASSERT_NE(create, nullptr);
    EXPECT_EQ(::dlsym(library, "_ZN6orvane6pardix7CDevice7ReleaseEv"), nullptr);
    IDevice* device = create();
    ASSERT_NE(device, nullptr);
    DeviceInfo info;
    EXPECT_EQ(device->GetDeviceInfo(&info), 1);
    EXPECT_EQ(info.model, kAnalyserModel);
    DeviceStatus status;
    EXPECT_EQ(device->GetStatus(&status), 1);
    device->Release();
    ::dlclose(library);
}
