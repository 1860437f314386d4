// Exports "CreateDecoder" but never makes a decoder.
namespace orvane {
class IDecodeClass;
}

extern "C" __attribute__((visibility("default"))) orvane::IDecodeClass* CreateDecoder() { return nullptr; }
