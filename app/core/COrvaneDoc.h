// The capture project: the parser, the decoder manager, the bookmarks, both
// item trees and the project XML ("*.usb"), opened, saved and renewed here.
// The captured records and payload live in the device library and are written
// or read beside the project file through the data source.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "CBookmarkMgr.h"
#include "CDecoderManager.h"
#include "CUsbParser.h"
#include "Document.h"

namespace orvane::app {

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
    // of them. A failed open leaves the previous project, its bookmarks and
    // trigger as they were and sets `error`; it never throws.
    bool OnOpenDocument(const std::string& path, IDataSource* source, std::string* error);
    // Writes the capture files through `source` when there is one and the
    // project file, replacing the old three only once all are complete (see
    // ProjectFileNames). A failure sets `error` to what failed and why (empty
    // for a cancel) and leaves the old files as they were.
    bool OnSaveDocument(const std::string& path, IDataSource* source, std::string* error);
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
    // For the list's trigger row and commands, read on the UI thread while the
    // worker writes it at the end of a capture.
    const std::atomic<int32_t>* TriggerRecordAddress() const { return &trigger_; }

    CUsbParser& Parser() { return *parser_; }
    CDecoderManager& Manager() { return *manager_; }
    CBookmarkMgr& Bookmarks() { return *bookmarks_; }
    UsbItem& TransactionRoot() { return *transactionRoot_; }
    UsbItem& TransferRoot() { return *transferRoot_; }
    const xml::Document& Project() const { return project_; }

    // The message of an open refused because a capture file is not the one saved with the project.
    static std::string DamagedError(const std::string& fileName);
    // The message of a save that could not write `file`, with the system's reason.
    static std::string SaveError(const std::string& file, int error);

private:
    std::string ElementText(const char* xpath) const;
    // Whether `file` is what the project's record of it (`Size`, `Digest`) says.
    static bool MatchesRecord(const xml::Node& node, const std::string& file);
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
};

}  // namespace orvane::app
