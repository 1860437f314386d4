#include "CAtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <vector>

#include "RegularFile.h"

namespace orvane::pardix {

namespace {

// The process's umask without changing it (umask(2) would race other threads).
mode_t CurrentUmask() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "Umask:") {
            unsigned value = 022;
            status >> std::oct >> value;
            return mode_t(value);
        }
    }
    return 022;
}

}  // namespace

CAtomicFile::CAtomicFile(std::string target) : target_(std::move(target)) {}

CAtomicFile::~CAtomicFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!temp_.empty() && !committed_) ::unlink(temp_.c_str());
    if (!backup_.empty()) ::unlink(backup_.c_str());
}

bool CAtomicFile::Create() {
    std::vector<char> name(target_.begin(), target_.end());
    for (char c : std::string(".XXXXXX")) name.push_back(c);
    name.push_back('\0');
    fd_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0) return false;
    temp_ = name.data();
    // An existing target keeps its rights; a new one gets the user's usual ones.
    struct stat st {};
    mode_t mode = ::stat(target_.c_str(), &st) == 0 ? (st.st_mode & 07777) : (0666 & ~CurrentUmask());
    ::fchmod(fd_, mode);
    return true;
}

bool CAtomicFile::Write(const void* data, size_t size) { return WriteAll(fd_, data, size); }

bool CAtomicFile::Finish() {
    if (fd_ < 0) return false;
    bool ok = ::fsync(fd_) == 0;
    ok = (::close(fd_) == 0) && ok;
    fd_ = -1;
    finished_ = ok;
    return ok;
}

bool CAtomicFile::Commit() {
    if (!finished_ || committed_) return false;
    const std::string backup = temp_ + ".old";
    if (::link(target_.c_str(), backup.c_str()) == 0) backup_ = backup;
    committed_ = ::rename(temp_.c_str(), target_.c_str()) == 0;
    if (!committed_ && !backup_.empty()) {
        ::unlink(backup_.c_str());
        backup_.clear();
    }
    return committed_;
}

void CAtomicFile::Rollback() {
    if (!committed_) return;
    if (!backup_.empty()) {
        if (::rename(backup_.c_str(), target_.c_str()) == 0) backup_.clear();
    } else {
        ::unlink(target_.c_str());
    }
    committed_ = false;
    temp_.clear();
}

}  // namespace orvane::pardix
