// A file written under a temporary name beside its target and renamed over it
// only when complete, so the target is either the old file or the new one.
#pragma once

#include <cstddef>
#include <string>

namespace orvane::pardix {

class CAtomicFile {
public:
    explicit CAtomicFile(std::string target);
    ~CAtomicFile();  // an uncommitted temporary is removed
    CAtomicFile(const CAtomicFile&) = delete;
    CAtomicFile& operator=(const CAtomicFile&) = delete;

    // Creates the temporary; false when the folder takes no new file.
    bool Create();
    int Fd() const { return fd_; }
    bool Write(const void* data, size_t size);
    // Flushes and closes the temporary; the target is not touched yet.
    bool Finish();
    // Renames the finished temporary over the target, keeping the old target
    // aside until the object dies so Rollback can put it back.
    bool Commit();
    void Rollback();

private:
    std::string target_;
    std::string temp_;
    std::string backup_;
    int fd_ = -1;
    bool finished_ = false;
    bool committed_ = false;
};

}  // namespace orvane::pardix
