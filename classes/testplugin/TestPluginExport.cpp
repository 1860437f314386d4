// The export of one fixture build; the class triple comes from the build.
#include <cstdlib>

#include "CTestClassDecoder.h"
#include "ClassDecoderExport.h"

namespace {

class CFixtureDecoder : public orvane::CTestClassDecoder {
public:
    CFixtureDecoder() : CTestClassDecoder(FIXTURE_CLASS, FIXTURE_SUBCLASS, FIXTURE_PROTOCOL) {}
};

}  // namespace

#ifdef FIXTURE_FLAKY
// Probes fine, then fails to create while the test asks it to.
extern "C" __attribute__((visibility("default"))) orvane::IDecodeClass* CreateDecoder()
{
    if (std::getenv("ORVANE_FIXTURE_FAIL_CREATE")) return nullptr;
    return orvane::CreateClassDecoder<CFixtureDecoder>();
}
#else
ORVANE_CLASS_DECODER_EXPORT(CFixtureDecoder)
#endif
