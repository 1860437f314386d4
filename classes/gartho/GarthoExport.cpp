// The library's one export.
#include "CDecode.h"
#include "ClassDecoderExport.h"

ORVANE_CLASS_DECODER_EXPORT(orvane::gartho::CDecode)
