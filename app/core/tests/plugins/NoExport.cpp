// Loads fine but exports no "CreateUsbView".
extern "C" __attribute__((visibility("default"))) void* CreateDecoder() { return nullptr; }
