// What the parse and class-decoding benchmarks share: the parsing thread's
// CPU time, a root that collects a level's items, and one timed build of the
// transfer level.
#pragma once

#include <time.h>

#include <functional>
#include <memory>
#include <string>

#include "CDecoderManager.h"
#include "CUsbParser.h"
#include "ItemTree.h"

namespace orvane::bench {

// This thread's CPU seconds: other work on a shared machine does not count.
inline double ThreadSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// A pool root (items link to it) and the sink that appends to it.
struct TreeSink {
    std::unique_ptr<UsbItem> rootItem_ = std::make_unique<UsbItem>();
    UsbItem& root = *rootItem_;
    AppendingSink sink{root};
};

// Builds the transfer level over `root` with the factory's plug-ins (none
// when null), lets `look` see it, frees it; answers the CPU seconds of the build.
inline double DecodeTransferLevel(CUsbParser& parser, UsbItem& root, IDecodeFactory* factory,
                                  const std::function<void(const UsbItem& transfers)>& look = {})
{
    std::string tree;
    parser.GetDeviceTree(tree);
    CDecoderManager manager(factory);
    manager.LoadDeviceTree(tree);
    manager.SetHost(&parser);
    manager.SetRoot(&root);
    TreeSink transfers;
    const double start = ThreadSeconds();
    manager.DecodeAll(&transfers.sink);
    const double seconds = ThreadSeconds() - start;
    if (look) look(transfers.root);
    FreeTransferLevel(&transfers.root);
    manager.ReleaseDecoders();
    return seconds;
}

}  // namespace orvane::bench
