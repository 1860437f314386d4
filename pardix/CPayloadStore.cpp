#include "CPayloadStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "RegularFile.h"

namespace orvane::pardix {

CPayloadStore::CPayloadStore() : window_(new uint8_t[kWindowBytes]) {}

CPayloadStore::~CPayloadStore() { Close(); }

bool CPayloadStore::Open(const std::string& path) {
    int fd = OpenRegularFile(path);
    if (fd < 0) return false;
    Adopt(fd, path);
    return true;
}

void CPayloadStore::Adopt(int fd, const std::string& path) {
    std::lock_guard guard(mutex_);
    CloseFile();
    fd_ = fd;
    path_ = path;
}

bool CPayloadStore::Create(const std::string& path) {
    std::lock_guard guard(mutex_);
    CloseFile();
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0) return false;
    path_ = path;
    return true;
}

void CPayloadStore::Close() {
    std::lock_guard guard(mutex_);
    CloseFile();
}

void CPayloadStore::CloseFile() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    path_.clear();
    EmptyWindow();
}

uint64_t CPayloadStore::Size() const {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) return 0;
    return uint64_t(st.st_size);
}

const uint8_t* CPayloadStore::View(uint64_t offset, uint32_t count) {
    if (fd_ < 0 || count > kWindowBytes) return nullptr;
    uint64_t end = offset + count;
    if (end > Size()) return nullptr;
    if (offset < windowFirst_ || end > windowEnd_) {
        EmptyWindow();
        uint64_t got = 0;
        while (got < kWindowBytes) {
            ssize_t r = ::pread(fd_, window_.get() + got, kWindowBytes - got, off_t(offset + got));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) break;
            got += uint64_t(r);
        }
        if (got < count) return nullptr;
        windowFirst_ = offset;
        windowEnd_ = offset + got;
    }
    return window_.get() + (offset - windowFirst_);
}

bool CPayloadStore::Append(const uint8_t* data, uint32_t count) {
    std::lock_guard guard(mutex_);
    if (fd_ < 0) return false;
    if (::lseek(fd_, 0, SEEK_END) < 0) return false;
    // Appending past the window leaves it valid: it only ever covers bytes already written.
    return WriteAll(fd_, data, count);
}

bool CPayloadStore::CopyTo(int fd, const std::function<bool(size_t)>& copied) const {
    if (fd_ < 0) return true;
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[kWindowBytes]);
    for (off_t at = 0;;) {
        ssize_t r = ::pread(fd_, buffer.get(), kWindowBytes, at);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return false;
        if (r == 0) return true;
        if (!WriteAll(fd, buffer.get(), size_t(r))) return false;
        at += r;
        if (copied && !copied(size_t(r))) {
            errno = ECANCELED;
            return false;
        }
    }
}

}  // namespace orvane::pardix
