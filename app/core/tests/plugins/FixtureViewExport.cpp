// The plug-in's export and the hooks the tests call.
#include <new>

#include "CFixtureView.h"

using orvane::IUsbView;
using orvane::fixture::CFixtureView;
using orvane::fixture::FixtureViewLog;

#define FIXTURE_EXPORT extern "C" __attribute__((visibility("default")))

FIXTURE_EXPORT IUsbView* CreateUsbView()
{
#ifdef FIXTURE_NULL_VIEW
    return nullptr;  // a plug-in that cannot make a view
#else
    return new (std::nothrow) CFixtureView;
#endif
}

FIXTURE_EXPORT const FixtureViewLog* FixtureViewLogOf(IUsbView* view)
{
    return &static_cast<CFixtureView*>(view)->Log();
}

FIXTURE_EXPORT void FixtureViewDoubleClick(IUsbView* view, int32_t packet)
{
    static_cast<CFixtureView*>(view)->DoubleClick(packet);
}

FIXTURE_EXPORT int32_t FixtureViewAlive() { return CFixtureView::Alive(); }
