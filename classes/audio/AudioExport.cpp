// The library's one export.
#include "CClassDecoder.h"
#include "ClassDecoderExport.h"

ORVANE_CLASS_DECODER_EXPORT(orvane::audio::CClassDecoder)
