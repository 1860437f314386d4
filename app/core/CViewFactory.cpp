#include "CViewFactory.h"

#include "AppDirectory.h"
#include "PluginFolder.h"

namespace orvane::app {

namespace {

void LogSkipped(const std::string& path, const std::string& why) { LogSkippedPlugin("view", path, why); }

std::string MissingExport() { return std::string("no \"") + kCreateUsbViewExport + "\" export"; }

}  // namespace

CViewFactory::CViewFactory() : CViewFactory(GetAppDirectory() + "/view") {}

CViewFactory::CViewFactory(const std::string& folder) { Scan(folder); }

CViewFactory::~CViewFactory()
{
    for (Entry& entry : entries_)
        if (entry.module) ::dlclose(entry.module);
}

void CViewFactory::Scan(const std::string& folder)
{
    for (const std::string& path : ListPluginLibraries(folder)) {
        ScanRecord record{path, {}};
        // Not pinned: only looked at, so it is truly unloaded again.
        if (void* module = ::dlopen(record.path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
            ::dlerror();
            if (!::dlsym(module, kCreateUsbViewExport)) record.error = MissingExport();
            ::dlclose(module);
        } else {
            record.error = LastDlError();
        }
        if (record.error.empty())
            entries_.push_back({record.path, nullptr});
        else
            LogSkipped(record.path, record.error);
        report_.push_back(std::move(record));
    }
}

IUsbView* CViewFactory::CreateView(int32_t index)
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
    void* symbol = ::dlsym(entry.module, kCreateUsbViewExport);
    if (!symbol) {
        LogSkipped(entry.path, MissingExport());
        return nullptr;
    }
    try {
        return reinterpret_cast<CreateUsbViewFn>(symbol)();
    } catch (...) {
        // A plug-in that throws is one that made no view.
        LogSkipped(entry.path, std::string("\"") + kCreateUsbViewExport + "\" threw");
        return nullptr;
    }
}

std::string CViewFactory::GetPath(int32_t index) const
{
    return InRange(index) ? entries_[size_t(index)].path : std::string();
}

bool CViewFactory::IsLoaded(int32_t index) const { return InRange(index) && entries_[size_t(index)].module; }

}  // namespace orvane::app
