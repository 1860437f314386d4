// Opening, saving and renewing projects through the capture worker and the
// real device library on the emulated analyser: a refused open changes
// nothing, a new project holds no capture, a cut record file opens what it
// holds, and a save cut short leaves the old project or the new one.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>
#include <tuple>
#include <utility>

#include "CCaptureWorker.h"
#include "CDevice.h"
#include "EmulatedAnalyser.h"
#include "ProjectFiles.h"
#include "SessionBuilder.h"
#include "SetupXml.h"
#include "TestFiles.h"

using namespace orvane;
using namespace orvane::app;
namespace fs = std::filesystem;
using orvane::testing::ReadText;
using orvane::testing::WriteText;

namespace {

bool WaitUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 60000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return done();
}

// Every record and its payload as the source serves them, as one string.
std::string Served(IDataSource& source) {
    std::string out;
    PacketRecord r;
    for (uint32_t i = 0; source.GetRecord(i, &r) == RecordOk; ++i) {
        out.append(reinterpret_cast<const char*>(&r), 16);
        if (!r.IsData()) continue;
        std::string payload(r.PayloadLength() + 2, '\0');
        uint16_t crc = 0;
        const int32_t n = source.GetPayload(&r, reinterpret_cast<uint8_t*>(payload.data()), uint32_t(payload.size()), &crc);
        payload.resize(size_t(std::max(n, 0)));
        out += payload + char(crc) + char(crc >> 8);
    }
    return out;
}

class Project : public ::testing::Test {
protected:
    void SetUp() override {
        emu::SessionBuilder::Options session;
        session.operations = 12;
        emu.SetTraffic(emu::SessionBuilder(session).Build());
        doc.SetSetup(SetupXml().Text());
        device = new pardix::CDevice(&emu, "orvane-project-test-" + std::to_string(::getpid()));
        CCaptureWorker::Options options;
        options.pollInterval = options.idleInterval = std::chrono::milliseconds(2);
        options.warning = [this](const std::string& text) {
            std::lock_guard lock(mutex);
            warnings.push_back(text);
        };
        worker = std::make_unique<CCaptureWorker>(doc, device, nullptr, options);
    }
    void Capture() {
        ASSERT_EQ(worker->StartRecord(), CCaptureWorker::StartResult::Started);
        ASSERT_TRUE(Parsed());
    }
    bool Parsed() { return WaitUntil([&] { return worker->IsIdle() && worker->DataAvailable(); }); }
    IDataSource& Source() { return *device->GetDataSource(); }
    size_t Rows() { return doc.TransactionRoot().children.size(); }
    std::string Open(const std::string& path) {
        std::string error;
        if (worker->OpenProject(path, &error) && !Parsed()) return "no parse";
        return error;
    }
    std::vector<std::string> Folder() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.path)) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    orvane::testing::TempDir dir;
    emu::EmulatedAnalyser emu;
    pardix::CDevice* device = nullptr;  // released by the worker
    COrvaneDoc doc;
    std::unique_ptr<CCaptureWorker> worker;
    std::mutex mutex;
    std::vector<std::string> warnings;
};

}  // namespace

TEST_F(Project, ARefusedOpenKeepsTheCaptureItsRowsAndItsSave) {
    Capture();
    const std::string before = Served(Source());
    const size_t rows = Rows();
    ASSERT_GT(rows, 0u);

    // Record files that open; next to them whatever a payload file must not be.
    WriteText(dir / "other.ph", before.substr(0, 16 * 8));
    WriteText(dir / "wrong.data", "");
    fs::create_directory(dir / "folder.data");
    const std::string project = "<Orvane><Packet PathName=\"other.ph\"/><Data PathName=\"%s\"/></Orvane>";
    auto withData = [&](const std::string& data) {
        std::string text = project;
        return text.replace(text.find("%s"), 2, data);
    };
    WriteText(dir / "missing.usb", withData("none.data"));
    WriteText(dir / "folder.usb", withData("folder.data"));
    WriteText(dir / "root.usb", "<Project><Packet PathName=\"other.ph\"/><Data PathName=\"wrong.data\"/></Project>");
    for (const char* name : {"missing.usb", "folder.usb", "root.usb"}) {
        EXPECT_EQ(Open(dir / name), COrvaneDoc::kOpenError) << name;
        EXPECT_EQ(Served(Source()), before) << name << ": records and payload as they were";
        EXPECT_EQ(Rows(), rows) << name;
    }

    // What is saved then is that capture, whole.
    std::string error;
    ASSERT_TRUE(worker->SaveProject(dir / "kept.usb", &error)) << error;
    pardix::CDeviceProxy saved;
    ASSERT_EQ(saved.OpenOrSave((dir / "kept.ph").c_str(), (dir / "kept.data").c_str(), 0), 1);
    EXPECT_EQ(Served(saved), before);
    std::string records;
    PacketRecord r;
    for (uint32_t i = 0; Source().GetRecord(i, &r) == RecordOk; ++i) records.append(reinterpret_cast<char*>(&r), 16);
    EXPECT_EQ(ReadText(dir / "kept.ph"), records);
}

TEST_F(Project, ANewProjectHoldsNoCaptureAndReopensEmpty) {
    Capture();
    ASSERT_TRUE(worker->NewProject());
    EXPECT_EQ(Source().GetCount(), 0u);
    std::string error;
    ASSERT_TRUE(worker->SaveProject(dir / "new.usb", &error)) << error;
    EXPECT_EQ(fs::file_size(dir / "new.ph"), 0u);
    EXPECT_EQ(fs::file_size(dir / "new.data"), 0u);
    EXPECT_EQ(Open(dir / "new.usb"), "");
    EXPECT_EQ(Rows(), 0u);
    EXPECT_EQ(Source().GetCount(), 0u);
    // Saved over, a private project stays private.
    fs::permissions(dir / "new.usb", fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(worker->SaveProject(dir / "new.usb", &error)) << error;
    EXPECT_EQ(fs::status(dir / "new.usb").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(Project, ASaveCutShortLeavesTheOldProjectOrTheNewAndAMixIsRefused) {
    Capture();
    doc.Bookmarks().Add(Mark{1, "old", ""});
    std::string error;
    ASSERT_TRUE(worker->SaveProject(dir / "p.usb", &error)) << error;
    const std::string oldProject = ReadText(dir / "p.usb"), oldData = ReadText(dir / "p.data");
    EXPECT_EQ(Folder(), (std::vector<std::string>{"p.data", "p.ph", "p.usb"}));

    // A second capture, saved elsewhere, stands in for the save that was cut.
    emu::SessionBuilder::Options session;
    session.operations = 30;
    emu.SetTraffic(emu::SessionBuilder(session).Build());
    Capture();
    const std::string fresh = Served(Source());
    doc.Bookmarks().Add(Mark{2, "new", ""});
    const orvane::testing::TempDir elsewhere;
    ASSERT_TRUE(worker->SaveProject(elsewhere / "p.usb", &error)) << error;
    const ProjectFileNames names(dir / "p.usb");

    // Killed before the save was made: its leftovers go, the old project opens.
    fs::copy_file(elsewhere / "p.ph", names.packetTemp);
    WriteText(names.dataTemp + ".Ab12Cd", "half");
    WriteText(names.projectTemp, "<Orv");
    EXPECT_EQ(Open(dir / "p.usb"), "");
    EXPECT_EQ(Folder(), (std::vector<std::string>{"p.data", "p.ph", "p.usb"}));
    ASSERT_EQ(doc.Bookmarks().GetCount(), 1);
    EXPECT_EQ(ReadText(dir / "p.data"), oldData);

    // Killed after it was made, between its renames: the open ends it.
    fs::copy_file(elsewhere / "p.data", names.data, fs::copy_options::overwrite_existing);
    fs::copy_file(elsewhere / "p.ph", names.packetTemp);
    fs::copy_file(elsewhere / "p.usb", names.commit);
    EXPECT_EQ(Open(dir / "p.usb"), "");
    EXPECT_EQ(Folder(), (std::vector<std::string>{"p.data", "p.ph", "p.usb"}));
    EXPECT_EQ(doc.Bookmarks().GetCount(), 2);
    EXPECT_EQ(Served(Source()), fresh);

    // A mix no save of ours leaves (files copied by hand, a cut file) is
    // refused as damaged; the open project stays.
    const size_t rows = Rows();
    WriteText(dir / "p.usb", oldProject);
    EXPECT_EQ(Open(dir / "p.usb").rfind("项目已损坏：捕获文件“p.ph”", 0), 0u);
    fs::copy_file(elsewhere / "p.usb", dir / "p.usb", fs::copy_options::overwrite_existing);
    fs::resize_file(dir / "p.ph", fs::file_size(dir / "p.ph") - 7);
    EXPECT_EQ(Open(dir / "p.usb"), "项目已损坏：捕获文件“p.ph”被截断，比保存时短 7 字节。");
    EXPECT_EQ(Served(Source()), fresh);
    EXPECT_EQ(Rows(), rows);
}

TEST_F(Project, ARecordFileCutInsideARecordOpensItsWholeRecordsWithAWarning) {
    Capture();
    std::string error;
    ASSERT_TRUE(worker->SaveProject(dir / "cut.usb", &error)) << error;
    const uint32_t count = Source().GetCount();
    fs::resize_file(dir / "cut.ph", fs::file_size(dir / "cut.ph") - 5);
    // As a project saved before the files' record was kept: it opens unchecked.
    xml::Document project;
    ASSERT_TRUE(project.load(dir / "cut.usb"));
    for (const char* element : {"//Packet", "//Data"}) {
        project.selectSingleNode(element).removeAttribute("Size");
        project.selectSingleNode(element).removeAttribute("Digest");
    }
    ASSERT_TRUE(project.save(dir / "cut.usb"));

    EXPECT_EQ(Open(dir / "cut.usb"), "");
    EXPECT_EQ(Source().GetCount(), count - 1);
    std::lock_guard lock(mutex);
    EXPECT_EQ(warnings, std::vector<std::string>{CCaptureWorker::ShortReadWarning(count - 1, count)});
}

TEST_F(Project, DamagedCaptureFilesOpenAsFarAsTheyReadOnlyWhenTheUserInsists) {
    Capture();
    std::string error;
    ASSERT_TRUE(worker->SaveProject(dir / "p.usb", &error)) << error;
    const std::string saved = Served(Source());
    const uint32_t count = Source().GetCount();
    const uint64_t phSize = fs::file_size(dir / "p.ph"), dataSize = fs::file_size(dir / "p.data");
    const orvane::testing::TempDir intact;
    for (const char* name : {"p.ph", "p.data"}) fs::copy_file(dir / name, intact / name);
    auto restore = [&] {
        for (const char* name : {"p.ph", "p.data"})
            fs::copy_file(intact / name, dir / name, fs::copy_options::overwrite_existing);
    };
    // Another session's capture is what stays open while an open is refused.
    emu::SessionBuilder::Options session;
    session.operations = 30;
    emu.SetTraffic(emu::SessionBuilder(session).Build());
    Capture();
    const orvane::testing::TempDir elsewhere;
    ASSERT_TRUE(worker->SaveProject(elsewhere / "q.usb", &error)) << error;
    const std::string other = Served(Source());
    const size_t otherRows = Rows();
    const uint64_t otherPhSize = fs::file_size(elsewhere / "q.ph"), otherDataSize = fs::file_size(elsewhere / "q.data");
    auto openChecked = [&](CaptureCheck& check) {
        std::string text;
        if (worker->OpenProject(dir / "p.usb", &text, &check) && !Parsed()) return std::string("no parse");
        return text;
    };
    auto takeWarnings = [&] {
        std::lock_guard lock(mutex);
        return std::exchange(warnings, {});
    };
    auto keptOther = [&](const char* name) {
        EXPECT_TRUE(Served(Source()) == other) << name;
        EXPECT_EQ(Rows(), otherRows) << name;
    };

    // What is done to the files → what does not match (name, saved size, size
    // now, cut), and the records a yes opens.
    const struct {
        const char* name;
        std::function<void()> damage;
        std::vector<std::tuple<std::string, uint64_t, uint64_t, bool>> mismatches;
        uint32_t records;
    } cases[] = {
        {"record file cut inside a record", [&] { fs::resize_file(dir / "p.ph", phSize - 8); },
         {{"p.ph", phSize, phSize - 8, true}}, count - 1},
        {"record file cut between records", [&] { fs::resize_file(dir / "p.ph", phSize - 3 * 16); },
         {{"p.ph", phSize, phSize - 3 * 16, true}}, count - 3},
        {"payload file cut", [&] { fs::resize_file(dir / "p.data", dataSize / 2); },
         {{"p.data", dataSize, dataSize / 2, true}}, count},
        {"the pair of another save",
         [&] {
             fs::copy_file(elsewhere / "q.ph", dir / "p.ph", fs::copy_options::overwrite_existing);
             fs::copy_file(elsewhere / "q.data", dir / "p.data", fs::copy_options::overwrite_existing);
         },
         {{"p.ph", phSize, otherPhSize, false}, {"p.data", dataSize, otherDataSize, false}},
         uint32_t(otherPhSize / 16)},
    };
    for (const auto& c : cases) {
        restore();
        c.damage();
        // Refused, and what is open stays, until the user insists.
        EXPECT_EQ(Open(dir / "p.usb").rfind("项目已损坏：", 0), 0u) << c.name;
        keptOther(c.name);
        CaptureCheck check;
        const std::string refused = openChecked(check);
        EXPECT_EQ(refused, COrvaneDoc::DamagedError(check.mismatches)) << c.name;
        keptOther(c.name);
        ASSERT_EQ(check.mismatches.size(), c.mismatches.size()) << c.name;
        for (size_t i = 0; i < c.mismatches.size(); ++i) {
            const CaptureMismatch& got = check.mismatches[i];
            EXPECT_EQ(std::tuple(got.name, got.savedSize, got.found.size, got.cut), c.mismatches[i]) << c.name;
        }
        takeWarnings();

        check.insist = true;
        EXPECT_EQ(openChecked(check), "") << c.name;
        EXPECT_EQ(Source().GetCount(), c.records) << c.name;
        EXPECT_GT(Rows(), 0u) << c.name;
        const auto [first, savedSize, size, cut] = c.mismatches[0];
        const bool cutRecords = cut && first == "p.ph";
        EXPECT_EQ(takeWarnings(), cutRecords ? std::vector{CCaptureWorker::ShortReadWarning(c.records, count)}
                                             : std::vector<std::string>{})
            << c.name;
        // What the files still hold is served as it was saved.
        const std::string served = Served(Source());
        if (cut) EXPECT_TRUE(saved.compare(0, served.size() / 2, served, 0, served.size() / 2) == 0) << c.name;
        else EXPECT_TRUE(served == other) << c.name;

        ASSERT_TRUE(worker->OpenProject(elsewhere / "q.usb", &error)) << error;
        ASSERT_TRUE(Parsed());
    }

    // Insisting on what was found before the file changed again asks afresh.
    restore();
    fs::resize_file(dir / "p.ph", phSize - 16);
    CaptureCheck check;
    openChecked(check);
    fs::resize_file(dir / "p.ph", phSize - 32);
    check.insist = true;
    EXPECT_EQ(openChecked(check), "项目已损坏：捕获文件“p.ph”被截断，比保存时短 32 字节。");
    EXPECT_FALSE(check.insist);
    keptOther("changed again");
}
