// A system-wide named lock that keeps a second process off the analyser: an
// flock on a per-user lock file, so the OS drops it when the holder dies.
//
// Within one process the lock is counted: every TryAcquire that returns
// Acquired needs one Release, and the file lock is dropped with the last.
// A forked child never inherits a hold; the lock file is opened O_CLOEXEC.
#pragma once

#include <string>

namespace orvane::port {

class AnalyserLock {
public:
    enum class Result {
        Acquired,     // this process holds the lock
        HeldByOther,  // another process holds it
        Failed,       // the lock file could not be made or locked
    };

    static constexpr const char* kDefaultName = "ORVANE_DEVICE";

    static Result TryAcquire(const std::string& name = kDefaultName);
    // Drops one hold; a name not held is ignored.
    static void Release(const std::string& name = kDefaultName);
    static bool HeldByThisProcess(const std::string& name = kDefaultName);

    // Folder for lock files; empty restores the default: $ORVANE_LOCK_DIR,
    // else $XDG_RUNTIME_DIR, else ~/.cache/orvane/run-<uid> (made 0700).
    static void SetDirectory(const std::string& directory);
    // Where the lock file of `name` lives now; empty when no folder is known.
    static std::string LockFilePath(const std::string& name = kDefaultName);
};

}  // namespace orvane::port
