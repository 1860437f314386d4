// Needs a symbol nothing provides, so loading it fails.
namespace orvane {
class IUsbView;
}

extern "C" orvane::IUsbView* MissingFromEveryViewLibrary();

extern "C" __attribute__((visibility("default"))) orvane::IUsbView* CreateUsbView()
{
    return MissingFromEveryViewLibrary();
}
