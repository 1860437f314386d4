#include "AnalyserLock.h"
#include "EnvGuard.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace orvane::port {
namespace {

using Result = AnalyserLock::Result;

// TryAcquire in a fresh child process, which exits at once.
Result AcquireInChild() {
    const pid_t pid = fork();
    if (pid == 0) _exit(static_cast<int>(AnalyserLock::TryAcquire()));
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? static_cast<Result>(WEXITSTATUS(status)) : Result::Failed;
}

// A child that acquires the lock and keeps it until `release` is closed.
struct Holder { pid_t pid = -1; int release = -1; };

Holder HoldInChild() {
    int ready[2], release[2];
    if (pipe(ready) != 0 || pipe(release) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        close(release[1]);
        const char result = static_cast<char>(AnalyserLock::TryAcquire());
        (void)!write(ready[1], &result, 1);
        while (read(release[0], ready, 1) > 0) {
        }
        _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    char result = -1;
    (void)!read(ready[0], &result, 1);
    close(ready[0]);
    EXPECT_EQ(static_cast<Result>(result), Result::Acquired);
    return {pid, release[1]};
}

class AnalyserLockTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/orvane-lock-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        AnalyserLock::SetDirectory(dir_);
    }
    void TearDown() override {
        while (AnalyserLock::HeldByThisProcess()) AnalyserLock::Release();
        AnalyserLock::SetDirectory("");
        std::filesystem::remove_all(dir_);
    }
    std::string dir_;
};

TEST_F(AnalyserLockTest, KeepsOtherProcessesOffUntilLastRelease) {
    EXPECT_FALSE(AnalyserLock::HeldByThisProcess());
    ASSERT_EQ(AnalyserLock::TryAcquire(), Result::Acquired);
    ASSERT_EQ(AnalyserLock::TryAcquire(), Result::Acquired);
    EXPECT_TRUE(AnalyserLock::HeldByThisProcess());
    EXPECT_EQ(AcquireInChild(), Result::HeldByOther);

    AnalyserLock::Release();
    EXPECT_TRUE(AnalyserLock::HeldByThisProcess());
    EXPECT_EQ(AcquireInChild(), Result::HeldByOther);

    // A program spawned meanwhile (no fork handlers run) must not inherit it.
    pid_t sleeper = -1;
    char* argv[] = {const_cast<char*>("sleep"), const_cast<char*>("60"), nullptr};
    ASSERT_EQ(posix_spawnp(&sleeper, "sleep", nullptr, nullptr, argv, environ), 0);
    AnalyserLock::Release();
    AnalyserLock::Release();  // one too many is ignored
    EXPECT_FALSE(AnalyserLock::HeldByThisProcess());
    EXPECT_EQ(AcquireInChild(), Result::Acquired);
    kill(sleeper, SIGKILL);
    waitpid(sleeper, nullptr, 0);
}

TEST_F(AnalyserLockTest, FreedWhenTheHolderExitsOrIsKilled) {
    for (const bool kill9 : {false, true}) {
        SCOPED_TRACE(kill9 ? "SIGKILL" : "exit");
        const Holder holder = HoldInChild();
        ASSERT_GT(holder.pid, 0);
        EXPECT_EQ(AnalyserLock::TryAcquire(), Result::HeldByOther);
        EXPECT_FALSE(AnalyserLock::HeldByThisProcess());

        if (kill9) kill(holder.pid, SIGKILL);
        close(holder.release);
        int status = 0;
        waitpid(holder.pid, &status, 0);
        EXPECT_EQ(kill9, WIFSIGNALED(status));

        EXPECT_EQ(AnalyserLock::TryAcquire(), Result::Acquired);
        AnalyserLock::Release();
    }
}

TEST_F(AnalyserLockTest, RefusesUnusableFoldersNamesAndSymlinks) {
    const std::string lockPath = AnalyserLock::LockFilePath();
    EXPECT_EQ(lockPath, dir_ + "/ORVANE_DEVICE.lock");
    EXPECT_EQ(AnalyserLock::TryAcquire(""), Result::Failed);
    EXPECT_EQ(AnalyserLock::TryAcquire("../escape"), Result::Failed);

    // A symlink planted at the lock path, dangling or not, is never followed.
    const std::string victim = dir_ + "/victim";
    ASSERT_EQ(symlink(victim.c_str(), lockPath.c_str()), 0);
    EXPECT_EQ(AnalyserLock::TryAcquire(), Result::Failed);
    EXPECT_FALSE(std::filesystem::exists(victim));
    std::ofstream(victim) << "keep";
    EXPECT_EQ(AnalyserLock::TryAcquire(), Result::Failed);

    AnalyserLock::SetDirectory(victim + "/sub");  // parent is a file
    EXPECT_EQ(AnalyserLock::TryAcquire(), Result::Failed);
    if (geteuid() != 0) {  // root ignores permission bits
        ASSERT_EQ(mkdir((dir_ + "/ro").c_str(), 0500), 0);
        AnalyserLock::SetDirectory(dir_ + "/ro");
        EXPECT_EQ(AnalyserLock::TryAcquire(), Result::Failed);
    }
    EXPECT_FALSE(AnalyserLock::HeldByThisProcess());
}

TEST_F(AnalyserLockTest, ChoosesAPrivateFolderFromTheEnvironment) {
    EnvGuard env;
    AnalyserLock::SetDirectory("");
    const std::string run = dir_ + "/.cache/orvane/run-" + std::to_string(geteuid());
    struct Case { const char *lockDir, *xdg; std::string folder; };
    for (const Case& c : {Case{"/env", "/xdg", dir_ + "/env"}, {nullptr, "/xdg", dir_ + "/xdg"}, {nullptr, nullptr, run}}) {
        env.Set("ORVANE_LOCK_DIR", c.lockDir ? std::optional(dir_ + c.lockDir) : std::nullopt);
        env.Set("XDG_RUNTIME_DIR", c.xdg ? std::optional(dir_ + c.xdg) : std::nullopt);
        env.Set("HOME", dir_);
        EXPECT_EQ(AnalyserLock::LockFilePath(), c.folder + "/ORVANE_DEVICE.lock");
    }
    ASSERT_EQ(AnalyserLock::TryAcquire(), Result::Acquired);  // creates the folder
    struct stat folder {}, file {};
    ASSERT_EQ(stat(run.c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 0777, 0700u);
    ASSERT_EQ(stat((run + "/ORVANE_DEVICE.lock").c_str(), &file), 0);
    EXPECT_EQ(file.st_mode & 0777, 0600u);
    AnalyserLock::Release();
    chmod(run.c_str(), 0770);  // a private folder others could write into is not trusted
    EXPECT_EQ(AnalyserLock::TryAcquire(), Result::Failed);
}

}  // namespace
}  // namespace orvane::port
