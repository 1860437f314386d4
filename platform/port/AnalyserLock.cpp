#include "AnalyserLock.h"

#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvane::port {
namespace {

struct Hold {
    int fd = -1;
    int count = 0;
};

std::mutex gMutex;
std::map<std::string, Hold> gHolds;
std::string gDirectory;

// A forked child must not carry the parent's holds: closing its copies keeps
// it from pinning the lock after the parent lets go.
void AtForkPrepare() { gMutex.lock(); }
void AtForkParent() { gMutex.unlock(); }
void AtForkChild() {
    for (auto& [name, hold] : gHolds) {
        if (hold.fd >= 0) ::close(hold.fd);
        hold.fd = -1;
        hold.count = 0;
    }
    gMutex.unlock();
}

void RegisterForkHandlers() {
    static std::once_flag once;
    std::call_once(once, [] { pthread_atfork(AtForkPrepare, AtForkParent, AtForkChild); });
}

const char* NonEmptyEnv(const char* name) {
    const char* value = std::getenv(name);
    return (value && *value) ? value : nullptr;
}

std::string HomeDirectory() {
    if (const char* home = NonEmptyEnv("HOME")) return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return {};
}

bool MakeDirectory(const std::string& path) {
    return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

// Only a private folder of our own is trusted; anything else could let
// another user hold or swap the lock file.
bool IsPrivateDirectory(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 077) == 0;
}

struct Folder {
    std::string path;
    enum { Existing, Create, PrivateCache } kind = Existing;
};

Folder ChooseFolder() {
    if (!gDirectory.empty()) return {gDirectory, Folder::Create};
    if (const char* dir = NonEmptyEnv("ORVANE_LOCK_DIR")) return {dir, Folder::Create};
    if (const char* dir = NonEmptyEnv("XDG_RUNTIME_DIR"); dir && dir[0] == '/') return {dir, Folder::Existing};
    std::string home = HomeDirectory();
    if (home.empty()) return {};
    // Per uid, so a HOME shared through sudo does not mix two users' locks.
    return {home + "/.cache/orvane/run-" + std::to_string(geteuid()), Folder::PrivateCache};
}

bool PrepareFolder(const Folder& folder) {
    switch (folder.kind) {
    case Folder::Existing:
        return true;
    case Folder::Create:
        return MakeDirectory(folder.path);
    case Folder::PrivateCache: {
        const std::string home = HomeDirectory();
        return MakeDirectory(home + "/.cache") && MakeDirectory(home + "/.cache/orvane") &&
               MakeDirectory(folder.path) && IsPrivateDirectory(folder.path);
    }
    }
    return false;
}

bool ValidName(const std::string& name) {
    return !name.empty() && name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

std::string FilePath(const Folder& folder, const std::string& name) {
    return folder.path + "/" + name + ".lock";
}

}  // namespace

AnalyserLock::Result AnalyserLock::TryAcquire(const std::string& name) {
    if (!ValidName(name)) return Result::Failed;
    RegisterForkHandlers();
    std::lock_guard lock(gMutex);

    if (auto it = gHolds.find(name); it != gHolds.end() && it->second.count > 0) {
        ++it->second.count;
        return Result::Acquired;
    }

    const Folder folder = ChooseFolder();
    if (folder.path.empty() || !PrepareFolder(folder)) return Result::Failed;

    const std::string path = FilePath(folder, name);
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return Result::Failed;

    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return Result::Failed;
    }

    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int error = errno;
        ::close(fd);
        return error == EWOULDBLOCK ? Result::HeldByOther : Result::Failed;
    }

    gHolds[name] = Hold{fd, 1};
    return Result::Acquired;
}

void AnalyserLock::Release(const std::string& name) {
    std::lock_guard lock(gMutex);
    auto it = gHolds.find(name);
    if (it == gHolds.end() || it->second.count == 0) return;
    if (--it->second.count == 0) {
        // Closing the only descriptor drops the flock.
        ::close(it->second.fd);
        gHolds.erase(it);
    }
}

bool AnalyserLock::HeldByThisProcess(const std::string& name) {
    std::lock_guard lock(gMutex);
    auto it = gHolds.find(name);
    return it != gHolds.end() && it->second.count > 0;
}

void AnalyserLock::SetDirectory(const std::string& directory) {
    std::lock_guard lock(gMutex);
    gDirectory = directory;
}

std::string AnalyserLock::LockFilePath(const std::string& name) {
    if (!ValidName(name)) return {};
    std::lock_guard lock(gMutex);
    const Folder folder = ChooseFolder();
    return folder.path.empty() ? std::string{} : FilePath(folder, name);
}

}  // namespace orvane::port
