// Turns capture settings (setup XML) into the analyser's storage, filter and
// trigger registers through a data source, leaving them held for the start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "IDataSource.h"
#include "IDevice.h"

namespace orvane::pardix {

class CSetupLoader {
public:
    // The largest circular buffer the analyser has.
    static constexpr uint64_t kMaxBufferBytes = 0x20000000;

    // The trigger table's entries.
    static constexpr size_t kMaxTriggerSteps = orvane::kMaxTriggerSteps;

    // 1 when applied; 0 for text that is not XML, more trigger steps than the
    // table has (nothing sent), storage the analyser cannot have (sizes zero,
    // not a power of two, too large; a share above 100 %), or a failed
    // exchange with the analyser.
    static int32_t Apply(IDataSource& source, const std::string& setupXml);
};

}  // namespace orvane::pardix
