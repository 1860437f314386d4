#include "CDecodeFactory.h"

#include "AppDirectory.h"
#include "PluginFolder.h"

namespace orvane {

namespace {

// Calls the export; a plug-in that throws is treated as one that failed.
IDecodeClass* CallCreate(void* symbol, std::string& error)
{
    try {
        IDecodeClass* decoder = reinterpret_cast<CreateDecoderFn>(symbol)();
        if (!decoder) error = std::string("\"") + kCreateDecoderExport + "\" returned no decoder";
        return decoder;
    } catch (...) {
        error = std::string("\"") + kCreateDecoderExport + "\" threw";
        return nullptr;
    }
}

void ReleaseQuietly(IDecodeClass* decoder)
{
    try {
        decoder->Release();
    } catch (...) {
        // A plug-in's destructor must not take the program with it.
    }
}

void LogSkipped(const std::string& path, const std::string& why) { LogSkippedPlugin("class", path, why); }

}  // namespace

CDecodeFactory::CDecodeFactory() : CDecodeFactory(GetAppDirectory() + "/classes") {}

CDecodeFactory::CDecodeFactory(const std::string& folder) { Scan(folder); }

CDecodeFactory::~CDecodeFactory()
{
    // Pinned libraries stay mapped, so decoders still alive stay callable.
    for (Entry& entry : entries_)
        if (entry.module) ::dlclose(entry.module);
}

void CDecodeFactory::Scan(const std::string& folder)
{
    for (const std::string& path : ListPluginLibraries(folder)) {
        ScanRecord record;
        record.path = path;
        Probe(record);
        if (record.state != PluginState::Probed) LogSkipped(record.path, record.error);
        report_.push_back(std::move(record));
    }
}

void CDecodeFactory::Probe(ScanRecord& record)
{
    // Not pinned yet: a library without the export is truly unloaded again.
    void* module = ::dlopen(record.path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        record.error = LastDlError();
        return;
    }
    record.state = PluginState::Opened;
    ::dlerror();
    void* symbol = ::dlsym(module, kCreateDecoderExport);
    if (!symbol) {
        record.error = std::string("no \"") + kCreateDecoderExport + "\" export";
        ::dlclose(module);
        return;
    }
    record.state = PluginState::FactoryResolved;
    if (void* pin = ::dlopen(record.path.c_str(), kPinnedPluginFlags | RTLD_NOLOAD)) ::dlclose(pin);

    if (IDecodeClass* decoder = CallCreate(symbol, record.error)) {
        Entry entry;
        entry.path = record.path;
        try {
            decoder->GetClassCode(&entry.cls, &entry.subclass, &entry.protocol);
            entries_.push_back(std::move(entry));
            record.state = PluginState::Probed;
        } catch (...) {
            record.error = "probing the decoder threw";
        }
        ReleaseQuietly(decoder);
    }
    ::dlclose(module);
}

int32_t CDecodeFactory::GetCount() { return int32_t(entries_.size()); }

int32_t CDecodeFactory::GetInfo(int32_t index, int32_t* cls, int32_t* subclass, int32_t* protocol)
{
    if (!InRange(index)) return 0;
    const Entry& entry = entries_[size_t(index)];
    if (cls) *cls = entry.cls;
    if (subclass) *subclass = entry.subclass;
    if (protocol) *protocol = entry.protocol;
    return 1;
}

int32_t CDecodeFactory::Find(int32_t cls, int32_t subclass, int32_t protocol)
{
    for (size_t i = 0; i < entries_.size(); ++i) {
        const Entry& e = entries_[i];
        if (e.cls != cls) continue;
        if (e.subclass == -1 || (e.subclass == subclass && (e.protocol == -1 || e.protocol == protocol)))
            return int32_t(i);
    }
    return -1;
}

IDecodeClass* CDecodeFactory::Create(int32_t index)
{
    if (!InRange(index)) return nullptr;
    Entry& entry = entries_[size_t(index)];
    if (!entry.module) {
        entry.module = ::dlopen(entry.path.c_str(), kPinnedPluginFlags);
        if (!entry.module) {
            LogSkipped(entry.path, LastDlError());
            return nullptr;
        }
    }
    ::dlerror();
    void* symbol = ::dlsym(entry.module, kCreateDecoderExport);
    std::string error = std::string("no \"") + kCreateDecoderExport + "\" export";
    IDecodeClass* decoder = symbol ? CallCreate(symbol, error) : nullptr;
    if (!decoder) {
        // Only a decoder handed out is a user; a failure leaves no count behind.
        LogSkipped(entry.path, error);
        UnloadIfUnused(entry);
        return nullptr;
    }
    try {
        owners_.emplace(decoder, size_t(index));
    } catch (...) {
        ReleaseQuietly(decoder);
        UnloadIfUnused(entry);
        return nullptr;
    }
    ++entry.users;
    return decoder;
}

void CDecodeFactory::ReleaseDecoder(IDecodeClass* decoder)
{
    if (!decoder) return;
    const auto owner = owners_.find(decoder);
    // Destroyed before its library may go.
    ReleaseQuietly(decoder);
    if (owner == owners_.end()) return;  // not ours, e.g. the built-in decoder
    Entry& entry = entries_[owner->second];
    owners_.erase(owner);
    --entry.users;
    UnloadIfUnused(entry);
}

void CDecodeFactory::UnloadIfUnused(Entry& entry)
{
    if (entry.users > 0 || !entry.module) return;
    ::dlclose(entry.module);
    entry.module = nullptr;
}

std::string* CDecodeFactory::GetPath(std::string* out, int32_t index)
{
    if (!out) return nullptr;
    if (InRange(index))
        *out = entries_[size_t(index)].path;
    else
        out->clear();
    return out;
}

bool CDecodeFactory::IsLoaded(int32_t index) const { return InRange(index) && entries_[size_t(index)].module; }

int32_t CDecodeFactory::GetUserCount(int32_t index) const
{
    return InRange(index) ? entries_[size_t(index)].users : 0;
}

}  // namespace orvane
