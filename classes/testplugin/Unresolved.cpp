// Needs a symbol nothing provides, so loading it fails.
namespace orvane {
class IDecodeClass;
}

extern "C" orvane::IDecodeClass* MissingFromEveryLibrary();

extern "C" __attribute__((visibility("default"))) orvane::IDecodeClass* CreateDecoder()
{
    return MissingFromEveryLibrary();
}
