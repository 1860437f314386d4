// The capture project: the parser, the decoder manager, the bookmarks, both
// item trees and the project XML ("*.usb"), opened, saved and renewed here.
// The captured records and payload live in the device library and are written
// or read beside the project file through the data source.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CBookmarkMgr.h"
#include "CDecoderManager.h"
#include "CUsbParser.h"
#include "Document.h"
#include "ProjectFiles.h"

namespace orvane::app {

// A capture file that is not what the project recorded of it.
struct CaptureMismatch {
    std::string name;        // as the project names it
    uint64_t savedSize = 0;  // as the project recorded it
    CaptureDigest found;     // what the file holds now
    // Shorter than saved while the other file matches: a copy or a disk cut
    // it short, rather than a file of another save.
    bool cut = false;
    bool operator==(const CaptureMismatch&) const = default;
};

// The capture files an open found not to match, and whether the user wants
// them opened all the same.
struct CaptureCheck {
    std::vector<CaptureMismatch> mismatches;  // set by an open refused for them
    bool insist = false;                      // open in spite of exactly these
};

class COrvaneDoc {
public:
    // The one message every failed open shows.
    static constexpr const char* kOpenError = "意外的文件格式！";
    // Projects are read whole into memory; a real one (device tree, setup and
    // a few hundred thousand bookmarks) is a few MB, so anything larger is refused.
    static constexpr uint64_t kMaxProjectBytes = 64u << 20;
    static constexpr const char* kNewProject =
        "<Orvane Version=\"2.0\"><Packet PathName=\"\" TriggerNum=\"-1\"/><Data PathName=\"\"/>"
        "<Configuration/><Setup/><marks/></Orvane>";

    explicit COrvaneDoc(IDecodeFactory* factory = nullptr);
    ~COrvaneDoc();
    COrvaneDoc(const COrvaneDoc&) = delete;
    COrvaneDoc& operator=(const COrvaneDoc&) = delete;

    // Loads the project and opens its capture files through `source` (null: no
    // device, which fails). Only a regular file of at most kMaxProjectBytes
    // with the root `Orvane` is read, and only capture files named bare, in the
    // project's own folder, that match the size and digest the project recorded
    // of them, unless `check` insists on the mismatches a refused open put in
    // it. The parts a new project has that the file lacks are made empty; a
    // missing or unreadable TriggerNum is no trigger. A failed open leaves the
    // previous project, its bookmarks and trigger as they were and sets
    // `error`; it never throws.
    bool OnOpenDocument(const std::string& path, IDataSource* source, std::string* error,
                        CaptureCheck* check = nullptr);
    // Writes the capture files through `source` when there is one and the
    // project file, replacing the old three only once all are complete (see
    // ProjectFileNames). A failure sets `error` to what failed and why (empty
    // for a cancel) and leaves the old files as they were. `progress`, when
    // given, hears how far the capture files are written, and its cancel
    // gives the save up until the project file is written.
    bool OnSaveDocument(const std::string& path, IDataSource* source, std::string* error,
                        SaveProgress* progress = nullptr);
    // A new, empty project; the caller has cleared the view.
    bool OnNewDocument();

    std::string GetConfiguration() const;
    void SetConfiguration(const std::string& deviceTreeXml);
    std::string GetSetup() const;
    void SetSetup(const std::string& setupXml);

    // Every descendant of `root`, children before parents; the root's own list is left alone.
    static void FreeTransactionItems(UsbItem* root);
    // The transfer level's own nodes (control transfers, class-level items, the
    // SOF runs the decoder manager made); transaction-level items met there stay.
    void FreeTransferTree();
    // Both trees, the transfer level first: its nodes still point into the other.
    void ClearTrees();

    bool IsModified() const { return modified_; }
    void SetModified(bool modified) { modified_ = modified; }
    int32_t TriggerRecord() const { return trigger_; }
    void SetTriggerRecord(int32_t record) { trigger_ = record; }
    // The records the project was saved with when its record file opened cut
    // short, else 0: what the user is told the file held.
    uint32_t SavedRecords() const { return savedRecords_; }
    // For the list's trigger row and commands, read on the UI thread while the
    // worker writes it at the end of a capture.
    const std::atomic<int32_t>* TriggerRecordAddress() const { return &trigger_; }

    CUsbParser& Parser() { return *parser_; }
    CDecoderManager& Manager() { return *manager_; }
    CBookmarkMgr& Bookmarks() { return *bookmarks_; }
    UsbItem& TransactionRoot() { return *transactionRoot_; }
    UsbItem& TransferRoot() { return *transferRoot_; }
    const xml::Document& Project() const { return project_; }

    // The message of an open refused because capture files are not the ones saved with the project.
    static std::string DamagedError(const std::vector<CaptureMismatch>& mismatches);
    // Whether to open such a project all the same.
    static std::string OpenAnywayQuestion(const std::vector<CaptureMismatch>& mismatches);
    // The message of a save that could not write `file`, with the system's reason.
    static std::string SaveError(const std::string& file, int error);
    // A save refused because the capture's payload is not all at hand: which
    // data packets lack it, and the system's reason when one is known.
    static std::string PayloadShortError(const std::string& file, uint32_t first, uint32_t count, int reason);
    // A save refused because records the analyser holds could not be read
    // from it: how many were read of how many, and the system's reason.
    static std::string RecordsShortError(const std::string& file, uint32_t read, uint32_t held, int reason);
    // Left in the error text of a save that succeeded with the rows read of a
    // capture the analyser no longer holds.
    static std::string RecordsGoneNotice(uint32_t read, uint32_t held);

private:
    std::string ElementText(const char* xpath) const;
    // How `file` differs from the project's record of it (`Size`, `Digest`);
    // nullopt when it matches, when there is no record, or when it cannot be
    // read; *same only when it matches.
    static std::optional<CaptureMismatch> CompareWithRecord(const xml::Node& node, const std::string& file,
                                                           const std::string& name, bool* same);
    static std::string DigestText(uint64_t digest);

    std::unique_ptr<CUsbParser> parser_;
    std::unique_ptr<CDecoderManager> manager_;
    std::unique_ptr<CBookmarkMgr> bookmarks_;
    std::atomic<int32_t> trigger_{-1};
    // From the pool like every item, so their children can link to them.
    std::unique_ptr<UsbItem> transactionRoot_ = std::make_unique<UsbItem>();
    std::unique_ptr<UsbItem> transferRoot_ = std::make_unique<UsbItem>();
    xml::Document project_;
    bool modified_ = false;
    uint32_t savedRecords_ = 0;
};

}  // namespace orvane::app
