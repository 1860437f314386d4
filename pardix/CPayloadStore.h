// The payload store: one open file (the temporary upload store while online,
// the opened ".data" file offline) read through a 1 MiB window.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace orvane::pardix {

class CPayloadStore {
public:
    static constexpr uint32_t kWindowBytes = 0x100000;

    CPayloadStore();
    ~CPayloadStore();
    CPayloadStore(const CPayloadStore&) = delete;
    CPayloadStore& operator=(const CPayloadStore&) = delete;

    // Opens an existing regular file for reading (never blocking on a pipe);
    // on failure the open file stays.
    bool Open(const std::string& path);
    // Takes `fd`, already opened for reading `path`, as the store.
    void Adopt(int fd, const std::string& path);
    // Creates (or truncates) a file for reading and appending.
    bool Create(const std::string& path);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    const std::string& Path() const { return path_; }

    // Current length of the file, 0 when none is open.
    uint64_t Size() const;
    // The bytes [offset, offset + count) when the file holds all of them; valid
    // until the next call. Null otherwise.
    const uint8_t* View(uint64_t offset, uint32_t count);
    bool Append(const uint8_t* data, uint32_t count);
    // Writes the whole file to `fd` from its current position; true for no file.
    // `copied`, when given, hears of each window written and stops the copy
    // (false, errno ECANCELED) by answering false.
    bool CopyTo(int fd, const std::function<bool(size_t)>& copied = {}) const;

private:
    void EmptyWindow() { windowFirst_ = windowEnd_ = 0; }

    int fd_ = -1;
    std::string path_;
    std::unique_ptr<uint8_t[]> window_;
    uint64_t windowFirst_ = 0;
    uint64_t windowEnd_ = 0;
};

}  // namespace orvane::pardix
