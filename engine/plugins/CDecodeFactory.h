// The registry of class-decoder plug-ins: every "*.so" in the folder "classes"
// beside the program that exports "CreateDecoder". It learns the interface
// class each one serves, picks the plug-in for an interface, and keeps a
// library loaded only while decoders made from it are alive.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "IDecode.h"

namespace orvane {

class CDecodeFactory : public IDecodeFactory {
public:
    // How far the scan took one library; a library short of Probed is skipped.
    enum class PluginState { Found, Opened, FactoryResolved, Probed };
    struct ScanRecord {
        std::string path;
        PluginState state = PluginState::Found;
        std::string error;  // why the library went no further; empty once probed
    };

    // Scans GetAppDirectory() + "/classes".
    CDecodeFactory();
    explicit CDecodeFactory(const std::string& folder);
    ~CDecodeFactory();
    CDecodeFactory(const CDecodeFactory&) = delete;
    CDecodeFactory& operator=(const CDecodeFactory&) = delete;

    int32_t GetCount() override;
    int32_t GetInfo(int32_t index, int32_t* cls, int32_t* subclass, int32_t* protocol) override;
    int32_t Find(int32_t cls, int32_t subclass, int32_t protocol) override;
    IDecodeClass* Create(int32_t index) override;
    void ReleaseDecoder(IDecodeClass* decoder) override;
    // Empties `out` for an index out of range.
    std::string* GetPath(std::string* out, int32_t index) override;

    // Every library the scan met, in scan order, registered or not.
    const std::vector<ScanRecord>& GetScanReport() const { return report_; }
    bool IsLoaded(int32_t index) const;
    int32_t GetUserCount(int32_t index) const;

private:
    struct Entry {
        std::string path;
        void* module = nullptr;
        int32_t users = 0;
        int32_t cls = 0;
        int32_t subclass = 0;
        int32_t protocol = 0;
    };

    void Scan(const std::string& folder);
    void Probe(ScanRecord& record);
    bool InRange(int32_t index) const { return index >= 0 && size_t(index) < entries_.size(); }
    void UnloadIfUnused(Entry& entry);

    std::vector<Entry> entries_;
    std::vector<ScanRecord> report_;
    // The entry each live decoder came from, so a release never lands on
    // another plug-in that happens to serve the same class.
    std::unordered_map<IDecodeClass*, size_t> owners_;
};

}  // namespace orvane
