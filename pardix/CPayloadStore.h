// The payload store: one open file (the temporary upload store while online,
// the opened ".data" file offline) read through a 1 MiB window.
//
// Read may come from any thread beside the one that appends or changes the
// file: each call is whole under the store's own lock, so a reader never
// waits for more than a disk write. Size, CopyTo, IsOpen and Path are for the
// threads that change the file, which the caller keeps to one at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
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
    // Hands `use` the bytes [offset, offset + count) when the file holds all
    // of them, valid during the call; false otherwise.
    template <class Use>
    bool Read(uint64_t offset, uint32_t count, Use&& use) {
        std::lock_guard guard(mutex_);
        const uint8_t* bytes = View(offset, count);
        if (bytes) use(bytes);
        return bytes != nullptr;
    }
    bool Append(const uint8_t* data, uint32_t count);
    // Writes the whole file to `fd` from its current position; true for no file.
    // `copied`, when given, hears of each window written and stops the copy
    // (false, errno ECANCELED) by answering false.
    bool CopyTo(int fd, const std::function<bool(size_t)>& copied = {}) const;

private:
    const uint8_t* View(uint64_t offset, uint32_t count);
    void CloseFile();
    void EmptyWindow() { windowFirst_ = windowEnd_ = 0; }

    std::mutex mutex_;

    int fd_ = -1;
    std::string path_;
    std::unique_ptr<uint8_t[]> window_;
    uint64_t windowFirst_ = 0;
    uint64_t windowEnd_ = 0;
};

}  // namespace orvane::pardix
