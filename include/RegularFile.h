// Opening and reading files named by users or by files they open, and writing whole buffers. Only regular
// files are read: a directory fails on read, a device such as /dev/zero never
// ends, and a named pipe blocks the open until some writer comes.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <new>
#include <string>

namespace orvane {

// A read-only descriptor of `path` when it is a regular file (links followed),
// else -1 with errno set (ENODEV for a file of another kind). Never blocks.
inline int OpenRegularFile(const std::string& path) {
    // Non-blocking, so that opening a pipe without a writer returns at once.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = ENODEV;
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// True when `path` names something that exists but is not a regular file.
inline bool IsOtherThanRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
}

// The whole of a regular file of at most `maxBytes` bytes into `text`; false,
// with `text` left alone, for anything else, a failed read or too little memory.
inline bool ReadRegularFile(const std::string& path, uint64_t maxBytes, std::string& text) noexcept {
    const int fd = OpenRegularFile(path);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && uint64_t(st.st_size) <= maxBytes;
    std::string read;
    try {
        if (ok) read.reserve(size_t(st.st_size));
        char buffer[65536];
        while (ok) {
            const ssize_t r = ::read(fd, buffer, sizeof buffer);
            if (r < 0 && errno == EINTR) continue;
            if (r == 0) break;
            // The bound holds for a file that grows while it is read, too.
            ok = r > 0 && read.size() + size_t(r) <= maxBytes;
            if (ok) read.append(buffer, size_t(r));
        }
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    ::close(fd);
    if (ok) text.swap(read);
    return ok;
}

// Writes all `size` bytes to `fd` from its current position; false, with
// errno set, when a write fails or makes no progress (a full disk).
inline bool WriteAll(int fd, const void* data, size_t size) noexcept {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t w = ::write(fd, bytes, size);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            if (w == 0) errno = ENOSPC;
            return false;
        }
        bytes += w;
        size -= size_t(w);
    }
    return true;
}

}  // namespace orvane
