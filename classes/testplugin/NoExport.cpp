// Loads and runs its constructor, but exports no "CreateDecoder".
extern "C" __attribute__((visibility("default"))) int CreateSomethingElse() { return 1; }

namespace {
struct Constructed {
    Constructed() {}
} constructed;
}  // namespace
