// Records the demonstration projects: each emulated session captured and saved
// as a project ("mouse.usb" with its capture files) in the folder given.
#include <cstdio>
#include <filesystem>
#include <string>

#include "CDemoCapture.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::filesystem::path folder(argv[1]);
    std::error_code made;
    std::filesystem::create_directories(folder, made);
    for (const orvane::app::DemoSession& session : orvane::app::DemoSessions()) {
        orvane::app::CDemoCapture capture(session);
        const std::string path = (folder / (std::string(session.name) + ".usb")).string();
        std::string error;
        if (!capture.Capture()) {
            std::fprintf(stderr, "%s: the capture did not end\n", session.name);
            return 1;
        }
        if (!capture.Save(path, &error)) {
            std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
            return 1;
        }
    }
    return 0;
}
