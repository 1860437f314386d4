// How a project's three files are replaced so that a save killed at any
// moment leaves the old project or the new one, never a mix.
//
// A save writes every new file under a temporary name beside its target: the
// capture files as "<name>.saving" and the project file as "<project>.saving".
// Only when all three are complete on disk is the project temporary renamed
// to "<project>.commit"; from then on the save counts as made, and the
// renames onto the targets that follow are finished by the next open or save
// should the process die among them. Anything else of an earlier save is a
// leftover and removed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace orvane::app {

struct ProjectFileNames {
    explicit ProjectFileNames(const std::string& projectPath);

    std::string project, packet, data;  // the targets: "cap.usb", "cap.ph", "cap.data"
    std::string projectTemp, packetTemp, dataTemp;
    std::string commit;  // a complete new project whose renames may be unfinished
    std::string folder;

    // Completes a save that died after it was made, then removes what other
    // saves left. Returns 0, or the errno of a rename that failed (the
    // commit then stays for the next try).
    int FinishEarlierSave() const;
    // Renames the committed files onto their targets; 0 or the failing errno,
    // with `failed` the target that could not be replaced.
    int RollForward(std::string* failed = nullptr) const;
    void RemoveTemporaries() const;
};

// What the project file records of a capture file so that an open can tell a
// file of another save: its size and a digest of its bytes. The digest reads
// files of up to 4 MiB whole and of larger ones 64 evenly spread blocks of
// 64 KiB (the first and the last among them), so it costs the same for any
// capture; captures of different sessions differ in every block of records.
struct CaptureDigest {
    uint64_t size = 0;
    uint64_t digest = 0;
    bool operator==(const CaptureDigest&) const = default;
};

// The file's digest; nullopt with errno set when it cannot be read.
std::optional<CaptureDigest> DigestFile(const std::string& path);

// Writes `text` to `path` (created or truncated) and flushes it to the disk;
// 0 or the errno of the failure.
int WriteDurably(const std::string& path, const std::string& text, const std::string& replaces);
// Flushes a folder's entries (renames, new files) to the disk.
void SyncFolder(const std::string& folder);

}  // namespace orvane::app
