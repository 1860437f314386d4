// The checks every class decoder plug-in passes, run by each plug-in's tests
// with a few lines of its own:
//
//   #include "ClassDecoderSuite.h"
//   orvane::ClassSuiteConfig HidSuite() {
//       auto config = orvane::ClassSuiteConfig::FromPluginFolder(ORVANE_CLASSES_DIR, 3, -1, -1);
//       config.session = [](orvane::CFakeHost& host) { ... return items; };  // a typical session
//       return config;
//   }
//   ORVANE_CLASS_DECODER_SUITE(Hid, HidSuite());
//
// and link `orvane_classsuite` into the test. With the session it checks: the
// class code; nothing fed is lost or handed out twice (or, for a decoder that
// may drop, at most once); every item it hands out, and every class-level item
// below, described through all slots (Summarize, GetData bounded by its
// capacity and equal to the OnNotify code-1 size, GetDetail a well-formed
// document, GetImageList); decoding twice gives the same items and texts; the
// same after every payload is truncated (one item at a time), emptied, or
// grown to the maximum length; unknown transactions, requests and item types
// neither crash nor vanish; null arguments are refused.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "CFakeHost.h"
#include "IDecode.h"

namespace orvane {

struct ClassSuiteConfig {
    std::string name;
    // A new decoder and its release (a factory's, or Release() when not set).
    std::function<IDecodeClass*()> create;
    std::function<void(IDecodeClass*)> release;
    int32_t cls = 0;
    int32_t subclass = -1;
    int32_t protocol = -1;
    // A typical session of the class, in capture order, made on `host`.
    std::function<std::vector<UsbItem*>(CFakeHost& host)> session;
    // Told to each decoder before feeding (OnNotify code 0) when not empty.
    std::vector<uint8_t> configuration;
    // Every item fed comes back exactly once; false: at most once.
    bool keepsEverything = true;
    // The payload size of the maximum-length run.
    uint32_t maxPayload = 1024;

    // Decoders from the plug-in of that class in `folder`, through the
    // engine's factory, as the program gets them.
    static ClassSuiteConfig FromPluginFolder(const std::string& folder, int32_t cls, int32_t subclass,
                                             int32_t protocol);
};

void PrintTo(const ClassSuiteConfig& config, std::ostream* os);

class ClassDecoderSuite : public ::testing::TestWithParam<ClassSuiteConfig> {};

}  // namespace orvane

#define ORVANE_CLASS_DECODER_SUITE(Prefix, config)                                         \
    namespace orvane {                                                                      \
    INSTANTIATE_TEST_SUITE_P(Prefix, ClassDecoderSuite, ::testing::Values(config),          \
                             [](const auto&) { return std::string(#Prefix); });             \
    }                                                                                       \
    static_assert(true, "")
