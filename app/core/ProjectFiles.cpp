#include "ProjectFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "RegularFile.h"

namespace orvane::app {

namespace fs = std::filesystem;

namespace {

constexpr const char* kTempSuffix = ".saving";

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// 0 when `from` is gone or was renamed onto `to`, else the errno.
int RenameIfThere(const std::string& from, const std::string& to) {
    if (!Exists(from)) return 0;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

constexpr uint64_t kWholeFileBytes = 4u << 20;
constexpr uint64_t kBlockBytes = 64u << 10;
constexpr int kBlocks = 64;

// A 64-bit mix over words (FNV-1a's primes, a word at a time): enough to tell
// files apart, not meant to resist forgery.
uint64_t Mix(uint64_t hash, const uint8_t* bytes, size_t size) {
    constexpr uint64_t kPrime = 0x100000001B3ull;
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        hash = (hash ^ word) * kPrime;
        hash ^= hash >> 29;
    }
    for (; i < size; ++i) hash = (hash ^ bytes[i]) * kPrime;
    return hash;
}

bool ReadAt(int fd, uint8_t* dst, uint64_t size, uint64_t offset) {
    uint64_t got = 0;
    while (got < size) {
        const ssize_t r = ::pread(fd, dst + got, size - got, off_t(offset + got));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) {
            if (r == 0) errno = EIO;  // shorter than it said
            return false;
        }
        got += uint64_t(r);
    }
    return true;
}

}  // namespace

ProjectFileNames::ProjectFileNames(const std::string& projectPath) {
    const fs::path path(projectPath);
    const std::string base = (path.parent_path() / path.stem()).string();
    project = projectPath;
    packet = base + ".ph";
    data = base + ".data";
    projectTemp = project + kTempSuffix;
    packetTemp = packet + kTempSuffix;
    dataTemp = data + kTempSuffix;
    commit = project + ".commit";
    folder = path.parent_path().string();
    if (folder.empty()) folder = ".";
}

int ProjectFileNames::RollForward(std::string* failed) const {
    // The project file last: until it is replaced the commit marks the save as unfinished.
    const std::pair<const std::string*, const std::string*> steps[] = {
        {&dataTemp, &data}, {&packetTemp, &packet}, {&commit, &project}};
    for (const auto& [from, to] : steps) {
        if (const int error = RenameIfThere(*from, *to)) {
            if (failed) *failed = *to;
            return error;
        }
    }
    SyncFolder(folder);
    return 0;
}

int ProjectFileNames::FinishEarlierSave() const {
    if (Exists(commit))
        if (const int error = RollForward()) return error;
    RemoveTemporaries();
    return 0;
}

void ProjectFileNames::RemoveTemporaries() const {
    // Ours by name: the temporaries themselves and what the device library
    // makes on the way to them ("cap.ph.saving.Xa9b2c").
    const std::string prefixes[] = {fs::path(projectTemp).filename().string(), fs::path(packetTemp).filename().string(),
                                    fs::path(dataTemp).filename().string()};
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        for (const std::string& prefix : prefixes) {
            if (name.compare(0, prefix.size(), prefix) != 0 || entry.is_directory(error)) continue;
            ::unlink(entry.path().c_str());
            break;
        }
    }
}

std::optional<CaptureDigest> DigestFile(const std::string& path) {
    const int fd = OpenRegularFile(path);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    CaptureDigest result;
    result.size = uint64_t(st.st_size);
    uint64_t hash = Mix(0xCBF29CE484222325ull, reinterpret_cast<const uint8_t*>(&result.size), 8);
    const bool whole = result.size <= kWholeFileBytes;
    const uint64_t blockBytes = whole ? result.size : kBlockBytes;
    std::unique_ptr<uint8_t[]> block(new uint8_t[std::max<uint64_t>(blockBytes, 1)]);
    bool ok = true;
    for (int i = 0; ok && i < (whole ? 1 : kBlocks); ++i) {
        const uint64_t at = whole ? 0 : (result.size - kBlockBytes) * uint64_t(i) / (kBlocks - 1);
        ok = ReadAt(fd, block.get(), blockBytes, at);
        if (ok) hash = Mix(hash, block.get(), size_t(blockBytes));
    }
    const int error = errno;
    ::close(fd);
    if (!ok) {
        errno = error;
        return std::nullopt;
    }
    result.digest = hash;
    return result;
}

int WriteDurably(const std::string& path, const std::string& text, const std::string& replaces) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) return errno;
    // The file it will replace keeps its rights, as the capture files do.
    struct stat old {};
    if (::stat(replaces.c_str(), &old) == 0) ::fchmod(fd, old.st_mode & 07777);
    int error = 0;
    if (!WriteAll(fd, text.data(), text.size()) || ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && !error) error = errno;
    if (error) ::unlink(path.c_str());
    return error;
}

void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace orvane::app
