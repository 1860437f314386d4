// Opens a project holding many bookmarks, stored in descending packet order
// (the order that costs most when each mark is inserted on its own), through
// the document as the window does, with a tiny capture beside it.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "BenchFolder.h"
#include "CDeviceProxy.h"
#include "COrvaneDoc.h"
#include "EmulatedAnalyser.h"

using namespace orvane;

namespace {

namespace fs = std::filesystem;

// "p.usb" with `marks` bookmarks, and its "p.ph" (one record) and "p.data".
void WriteProject(const fs::path& folder, int marks) {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Orvane Version=\"2.0\">"
                       "<Packet PathName=\"p.ph\" TriggerNum=\"-1\"/><Data PathName=\"p.data\"/>"
                       "<Configuration/><Setup/><marks>";
    for (int i = marks; i-- > 0;) {
        text += "<mark packet=\"" + std::to_string(i * 3) + "\" name=\"IN 0x81 #" + std::to_string(i) +
                "\" comment=\"注释 " + std::to_string(i) + "\"/>";
    }
    text += "</marks></Orvane>\n";
    std::ofstream(folder / "p.usb", std::ios::binary) << text;
    std::ofstream(folder / "p.ph", std::ios::binary) << std::string(16, '\0');
    std::ofstream(folder / "p.data", std::ios::binary) << std::string(1024, '\0');
}

void BM_OpenProjectWithMarks(benchmark::State& state) {
    const int marks = int(state.range(0));
    bench::BenchFolder folder;
    WriteProject(folder.path, marks);
    const std::string project = (folder.path / "p.usb").string();
    emu::EmulatedAnalyser analyser;
    pardix::CDeviceProxy source(&analyser);
    app::COrvaneDoc doc;
    for (auto _ : state) {
        std::string error;
        if (!doc.OnOpenDocument(project, &source, &error) || doc.Bookmarks().GetCount() != marks) {
            state.SkipWithError("the project did not open with all its marks");
            break;
        }
    }
    state.counters["project_MB"] = double(fs::file_size(project)) / 1e6;
}

}  // namespace

BENCHMARK(BM_OpenProjectWithMarks)->Arg(10000)->Arg(200000)->Unit(benchmark::kMillisecond);
