// The view plug-ins: every "*.so" in the folder "view" beside the program that
// exports "CreateUsbView", in name order. A library is opened for good at its
// first CreateView and stays loaded until the factory is destroyed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "IEventBus.h"

namespace orvane::app {

class CViewFactory {
public:
    // One library the scan met; `error` says why it was skipped, empty when listed.
    struct ScanRecord {
        std::string path;
        std::string error;
    };

    // Scans GetAppDirectory() + "/view".
    CViewFactory();
    explicit CViewFactory(const std::string& folder);
    ~CViewFactory();
    CViewFactory(const CViewFactory&) = delete;
    CViewFactory& operator=(const CViewFactory&) = delete;

    int32_t GetCount() const { return int32_t(entries_.size()); }
    // A new view, or null for an index out of range, a library that does not
    // load or lacks the export, or a plug-in that makes no view.
    IUsbView* CreateView(int32_t index);

    // Empty for an index out of range.
    std::string GetPath(int32_t index) const;
    bool IsLoaded(int32_t index) const;
    const std::vector<ScanRecord>& GetScanReport() const { return report_; }

private:
    struct Entry {
        std::string path;
        void* module = nullptr;
    };

    void Scan(const std::string& folder);
    bool InRange(int32_t index) const { return index >= 0 && size_t(index) < entries_.size(); }

    std::vector<Entry> entries_;
    std::vector<ScanRecord> report_;
};

}  // namespace orvane::app
