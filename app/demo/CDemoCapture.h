// One session of the emulated analyser captured as a user's first capture is:
// through the device library and the capture worker into a project document.
// The build records the demonstration projects with it, and the tests check
// what each session shows.
#pragma once

#include <memory>
#include <span>
#include <string>

#include "CCaptureWorker.h"
#include "COrvaneDoc.h"
#include "Port.h"

namespace orvane::app {

struct DemoSession {
    const char* name;   // as ORVANE_EMULATED_DEVICE names it, and the project's file name
    bool largeStorage;  // kept whole only with 64 K records and 16 MiB of payload
};

// Every emulated session, in the order the emulated analyser's settings list them.
std::span<const DemoSession> DemoSessions();

class CDemoCapture {
public:
    // `factory` decodes the transfer level (null: the transaction level only).
    explicit CDemoCapture(const DemoSession& session, IDecodeFactory* factory = nullptr);
    ~CDemoCapture();
    CDemoCapture(const CDemoCapture&) = delete;
    CDemoCapture& operator=(const CDemoCapture&) = delete;

    // Captures and parses the session; false when it did not end within a minute.
    bool Capture();
    bool DecodeTransfers();
    bool Save(const std::string& path, std::string* error);
    COrvaneDoc& Doc() { return doc_; }

    // The capture settings the session is recorded with.
    static std::string Setup(const DemoSession& session);

private:
    std::shared_ptr<port::PortBackend> analyser_;
    COrvaneDoc doc_;
    std::unique_ptr<CCaptureWorker> worker_;
};

}  // namespace orvane::app
