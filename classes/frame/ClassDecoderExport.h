// The one export of a class decoder plug-in. A library defines it once with
// ORVANE_CLASS_DECODER_EXPORT(MyDecoder); each call makes a new decoder.
#pragma once

#include <new>

#include "IDecode.h"

namespace orvane {

// Null when the object cannot be made: nothing but the pointer may leave the
// library.
template <class Decoder>
IDecodeClass* CreateClassDecoder() noexcept
{
    try {
        return new (std::nothrow) Decoder();
    } catch (...) {
        return nullptr;
    }
}

}  // namespace orvane

// The About box lists the plug-in with this version.
#define ORVANE_CLASS_DECODER_EXPORT(Decoder)                                                  \
    extern "C" __attribute__((visibility("default"))) const char OrvaneFileVersion[] =       \
        ORVANE_VERSION;                                                                       \
    extern "C" __attribute__((visibility("default"))) orvane::IDecodeClass* CreateDecoder() \
    {                                                                                         \
        return orvane::CreateClassDecoder<Decoder>();                                         \
    }
