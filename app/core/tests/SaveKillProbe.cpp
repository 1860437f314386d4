// The program side of scripts/kill-save-loop.sh: saves one project over and
// over through the document and the device library until it is killed, and
// judges what the project folder holds afterwards.
//
//   save_kill_probe prepare DIR RECORDS  two captures A and B of RECORDS records, same sizes
//   save_kill_probe loop DIR FIRST       saves number FIRST, FIRST+1, ... (odd: A, even: B)
//   save_kill_probe check DIR            opens DIR/project/p.usb; prints one verdict line
//
// Save k holds the capture of its parity, trigger record k and one bookmark
// "save k"; "start k" and "done k" are printed around it.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "CDeviceProxy.h"
#include "COrvaneDoc.h"
#include "EmulatedAnalyser.h"

using namespace orvane;
namespace fs = std::filesystem;

namespace {

std::string Source(const std::string& dir, int k, const char* extension) {
    return dir + "/source/" + (k % 2 ? "a" : "b") + extension;
}

std::string ProjectPath(const std::string& dir) { return dir + "/project/p.usb"; }

void WriteCapture(const std::string& dir, char name, uint32_t records) {
    // Records and payload that differ between A and B everywhere, at equal sizes.
    std::vector<uint32_t> words(size_t(records) * 4);
    uint32_t x = name == 'a' ? 0x1234567u : 0x7654321u;
    for (auto& w : words) w = (x = x * 1664525u + 1013904223u);
    std::ofstream(dir + "/source/" + name + ".ph", std::ios::binary)
        .write(reinterpret_cast<const char*>(words.data()), std::streamsize(words.size() * 4));
    std::ofstream(dir + "/source/" + name + ".data", std::ios::binary)
        .write(reinterpret_cast<const char*>(words.data()), std::streamsize(words.size()));
}

bool SameFile(const std::string& a, const std::string& b) {
    std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
    std::vector<char> p(1 << 20), q(1 << 20);
    for (;;) {
        x.read(p.data(), std::streamsize(p.size()));
        y.read(q.data(), std::streamsize(q.size()));
        if (x.gcount() != y.gcount() || std::memcmp(p.data(), q.data(), size_t(x.gcount())) != 0) return false;
        if (x.gcount() == 0) return true;
    }
}

int Loop(const std::string& dir, int first) {
    emu::EmulatedAnalyser analyser;
    pardix::CDeviceProxy proxy(&analyser);
    app::COrvaneDoc doc;
    for (int k = first;; ++k) {
        if (proxy.OpenOrSave(Source(dir, k, ".ph").c_str(), Source(dir, k, ".data").c_str(), 0) != 1) return 1;
        doc.Bookmarks().RemoveAll();
        doc.Bookmarks().Add(Mark{k, "save " + std::to_string(k), ""});
        doc.SetTriggerRecord(k);
        std::printf("start %d\n", k);
        std::fflush(stdout);
        std::string error;
        if (!doc.OnSaveDocument(ProjectPath(dir), &proxy, &error)) {
            std::printf("failed %d: %s\n", k, error.c_str());
            return 1;
        }
        std::printf("done %d\n", k);
        std::fflush(stdout);
    }
}

int Check(const std::string& dir) {
    emu::EmulatedAnalyser analyser;
    pardix::CDeviceProxy proxy(&analyser);
    app::COrvaneDoc doc;
    std::string error;
    if (!doc.OnOpenDocument(ProjectPath(dir), &proxy, &error)) {
        const bool damaged = error.rfind("项目已损坏", 0) == 0;
        std::printf("%s %s\n", damaged ? "damaged" : "refused", error.c_str());
        return damaged ? 0 : 1;
    }
    const int k = doc.TriggerRecord();
    Mark mark;
    const bool marked = doc.Bookmarks().GetCount() == 1 && doc.Bookmarks().GetAt(0, &mark) &&
                        mark.packet == k && mark.name == "save " + std::to_string(k);
    const std::string folder = dir + "/project/";
    const bool capture = SameFile(folder + "p.ph", Source(dir, k, ".ph")) &&
                         SameFile(folder + "p.data", Source(dir, k, ".data"));
    int files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) ++files;
    std::printf("%s %d files=%d\n", marked && capture ? "complete" : "MIXED", k, files);
    return marked && capture && files == 3 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string verb = argc > 2 ? argv[1] : "";
    const std::string dir = argc > 2 ? argv[2] : "";
    if (verb == "prepare" && argc > 3) {
        fs::create_directories(dir + "/source");
        fs::create_directories(dir + "/project");
        for (char name : {'a', 'b'}) WriteCapture(dir, name, uint32_t(std::stoul(argv[3])));
        return 0;
    }
    if (verb == "loop" && argc > 3) return Loop(dir, std::stoi(argv[3]));
    if (verb == "check") return Check(dir);
    std::fprintf(stderr, "usage: save_kill_probe prepare DIR RECORDS | loop DIR FIRST | check DIR\n");
    return 2;
}
