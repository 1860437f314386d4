#include <gtest/gtest.h>

#include <malloc.h>
#include <sys/stat.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "CDeviceProxy.h"
#include "CaptureFiles.h"
#include "COrvaneDoc.h"
#include "BusTrafficBuilder.h"
#include "CaptureSource.h"
#include "EmulatedAnalyser.h"
#include "ItemTree.h"
#include "SessionBuilder.h"
#include "TestFiles.h"

using namespace orvane;
using namespace orvane::app;
namespace fs = std::filesystem;

namespace {

using orvane::testing::ReadText;
using orvane::testing::TempDir;
using orvane::testing::WriteText;

emu::BusCapture Session() {
    emu::SessionBuilder::Options o;
    o.operations = 3;
    return emu::SessionBuilder(o).Build();
}

// A data source holding `capture` offline, as after opening saved files.
void LoadOffline(pardix::CDeviceProxy& proxy, const emu::BusCapture& capture, const TempDir& dir) {
    std::ofstream(dir / "src.ph", std::ios::binary)
        .write(reinterpret_cast<const char*>(capture.records.data()), std::streamsize(capture.records.size() * 16));
    auto payload = capture.payload;
    payload.resize(payload.size() + 1024);
    std::ofstream(dir / "src.data", std::ios::binary)
        .write(reinterpret_cast<const char*>(payload.data()), std::streamsize(payload.size()));
    ASSERT_EQ(proxy.OpenOrSave((dir / "src.ph").c_str(), (dir / "src.data").c_str(), 0), 1);
}

// Writes its capture files, and the user cancels as it ends.
class CancelledWhileWriting : public emu::CaptureSource {
public:
    CancelledWhileWriting() : CaptureSource(emu::BusCapture{}) {}
    void SetSaveProgress(SaveProgress* progress) override { progress_ = progress; }
    int32_t OpenOrSave(const char* packetPath, const char* dataPath, int32_t) override {
        WriteText(packetPath, "records");
        WriteText(dataPath, "payload");
        if (progress_) progress_->cancel = true;
        return 1;
    }
    SaveProgress* progress_ = nullptr;
};

class Doc : public ::testing::Test {
protected:
    TempDir dir;
    emu::EmulatedAnalyser analyser;
    pardix::CDeviceProxy proxy{&analyser};
    COrvaneDoc doc;
};

}  // namespace

TEST_F(Doc, CaptureFilesTravelWithTheProject) {
    auto capture = Session();
    LoadOffline(proxy, capture, dir);
    doc.SetSetup("<setup><storage packet=\"4096\"/></setup>");
    doc.SetConfiguration("<devices><device address=\"5\"/></devices>");
    doc.SetTriggerRecord(42);
    doc.Bookmarks().Add(Mark{7, "first", "a <comment> & more"});
    ASSERT_TRUE(doc.OnSaveDocument(dir / "cap.usb", &proxy, nullptr));
    EXPECT_FALSE(doc.IsModified());
    ASSERT_TRUE(fs::exists(dir / "cap.ph"));
    ASSERT_TRUE(fs::exists(dir / "cap.data"));

    TempDir moved;
    for (const char* name : {"cap.usb", "cap.ph", "cap.data"}) fs::rename(dir / name, moved / name);
    emu::EmulatedAnalyser analyser2;
    pardix::CDeviceProxy proxy2(&analyser2);
    COrvaneDoc reopened;
    ASSERT_TRUE(reopened.OnOpenDocument(moved / "cap.usb", &proxy2, nullptr));
    EXPECT_EQ(reopened.TriggerRecord(), 42);
    EXPECT_EQ(reopened.GetSetup(), "<setup><storage packet=\"4096\"/></setup>");
    EXPECT_EQ(reopened.GetConfiguration(), "<devices><device address=\"5\"/></devices>");
    ASSERT_EQ(reopened.Bookmarks().GetCount(), 1);
    Mark m;
    reopened.Bookmarks().GetAt(0, &m);
    EXPECT_EQ(m.comment, "a <comment> & more");
    EXPECT_EQ(proxy2.GetCount(), capture.records.size());
}

// The trigger is the opened project's own: none when its TriggerNum is
// missing or holds no record number, never the one of the project shown before.
TEST_F(Doc, TriggerFromTheProjectOrNone) {
    auto capture = Session();
    LoadOffline(proxy, capture, dir);
    ASSERT_TRUE(doc.OnSaveDocument(dir / "t.usb", &proxy, nullptr));
    xml::Document saved;
    ASSERT_TRUE(saved.load(dir / "t.usb"));
    xml::Node packet = saved.selectSingleNode("//Packet");
    const struct {
        std::optional<std::string> text;  // nullopt: no attribute
        int32_t trigger;
    } cases[] = {
        {std::nullopt, -1}, {"-1", -1},         {"42", 42},          {"2147483647", INT32_MAX},
        {"2147483648", -1}, {"4294967338", -1}, {"99999999999999999999", -1},
        {"-7", -1},         {"none", -1},       {"", -1},
    };
    for (const auto& c : cases) {
        const std::string what = c.text.value_or("(none)");
        if (c.text) packet.setAttribute("TriggerNum", *c.text);
        else packet.removeAttribute("TriggerNum");
        WriteText(dir / "t.usb", saved.fileText());
        doc.SetTriggerRecord(17);
        ASSERT_TRUE(doc.OnOpenDocument(dir / "t.usb", &proxy, nullptr)) << what;
        EXPECT_EQ(doc.TriggerRecord(), c.trigger) << what;
    }
    // Opened without one, the project saves its trigger as every project does.
    packet.removeAttribute("TriggerNum");
    WriteText(dir / "t.usb", saved.fileText());
    ASSERT_TRUE(doc.OnOpenDocument(dir / "t.usb", &proxy, nullptr));
    doc.SetTriggerRecord(9);
    ASSERT_TRUE(doc.OnSaveDocument(dir / "t.usb", &proxy, nullptr));
    xml::Document resaved;
    ASSERT_TRUE(resaved.load(dir / "t.usb"));
    EXPECT_EQ(resaved.selectSingleNode("//Packet").attribute("TriggerNum"), "9");
    COrvaneDoc reopened;
    ASSERT_TRUE(reopened.OnOpenDocument(dir / "t.usb", &proxy, nullptr));
    EXPECT_EQ(reopened.TriggerRecord(), 9);
}

// A project saved without one of the parts a new project has, or edited by
// hand, opens with that part empty: what is set there is kept, saved and read back.
TEST_F(Doc, APartMissingFromTheFileIsMadeSoWhatIsSetThereIsSaved) {
    auto capture = Session();
    LoadOffline(proxy, capture, dir);
    ASSERT_TRUE(doc.OnSaveDocument(dir / "full.usb", &proxy, nullptr));
    const std::string tree = "<devices><device address=\"3\"/></devices>";
    const std::string setup = "<setup><storage packet=\"512\"/></setup>";
    for (const char* part : {"Configuration", "Setup", "marks"}) {
        xml::Document project;
        ASSERT_TRUE(project.load(dir / "full.usb"));
        xml::Node node = project.selectSingleNode(std::string("//") + part);
        ASSERT_FALSE(node.parent().removeChild(node).isNull()) << part;
        WriteText(dir / "old.usb", project.fileText());

        COrvaneDoc opened;
        ASSERT_TRUE(opened.OnOpenDocument(dir / "old.usb", &proxy, nullptr)) << part;
        EXPECT_FALSE(opened.IsModified()) << part;
        opened.SetConfiguration(tree);
        opened.SetSetup(setup);
        opened.Bookmarks().Add(Mark{2, "kept", ""});
        EXPECT_EQ(opened.GetConfiguration(), tree) << part;
        EXPECT_EQ(opened.GetSetup(), setup) << part;
        ASSERT_TRUE(opened.OnSaveDocument(dir / "old.usb", &proxy, nullptr)) << part;

        COrvaneDoc reopened;
        ASSERT_TRUE(reopened.OnOpenDocument(dir / "old.usb", &proxy, nullptr)) << part;
        EXPECT_EQ(reopened.GetConfiguration(), tree) << part;
        EXPECT_EQ(reopened.GetSetup(), setup) << part;
        EXPECT_EQ(reopened.Bookmarks().GetCount(), 1) << part;
    }
}

TEST_F(Doc, AFailedOpenKeepsTheProjectAndBookmarksItHad) {
    doc.Bookmarks().Add(Mark{3, "kept", ""});
    doc.SetSetup("<setup/>");
    const std::string before = doc.Project().xml();
    struct Case {
        const char* name;
        const char* text;
    } cases[] = {
        {"not xml", "<Orvane><Packet"},
        {"no data element", "<Orvane><Packet PathName=\"a.ph\" TriggerNum=\"9\"/><marks><mark packet=\"1\" "
                            "name=\"x\" comment=\"\"/></marks></Orvane>"},
        {"capture files missing", "<Orvane><Packet PathName=\"none.ph\"/><Data PathName=\"none.data\"/></Orvane>"},
    };
    for (auto& c : cases) {
        WriteText(dir / "bad.usb", c.text);
        std::string error;
        EXPECT_FALSE(doc.OnOpenDocument(dir / "bad.usb", &proxy, &error)) << c.name;
        EXPECT_EQ(error, COrvaneDoc::kOpenError) << c.name;
        EXPECT_EQ(doc.Project().xml(), before) << c.name;
        ASSERT_EQ(doc.Bookmarks().GetCount(), 1) << c.name;
        EXPECT_EQ(doc.TriggerRecord(), -1) << c.name;
    }
    std::string error;
    EXPECT_FALSE(doc.OnOpenDocument(dir / "missing.usb", &proxy, &error));
    EXPECT_FALSE(doc.OnOpenDocument(dir / "bad.usb", nullptr, &error));  // no device
}

TEST_F(Doc, ANewProjectSavesEmptyPartsAndAFailedSaveLeavesTheOldFile) {
    ASSERT_TRUE(doc.OnSaveDocument(dir / "keep.usb", nullptr, nullptr));
    xml::Document saved;
    ASSERT_TRUE(saved.load(dir / "keep.usb"));
    EXPECT_EQ(saved.selectSingleNode("//Setup").text(), "");
    EXPECT_TRUE(saved.selectSingleNode("//marks").childNodes().empty());
    EXPECT_EQ(*saved.selectSingleNode("//Packet").attribute("PathName"), "keep.ph");
    const std::string good = ReadText(dir / "keep.usb");
    doc.SetSetup("<setup>changed</setup>");
    // The temporary file cannot be made: the old project stays whole, and the user is told so.
    fs::create_directory(dir / "keep.usb.saving");
    std::string error;
    EXPECT_FALSE(doc.OnSaveDocument(dir / "keep.usb", nullptr, &error));
    EXPECT_EQ(ReadText(dir / "keep.usb"), good);
    EXPECT_NE(error.find("原有的项目文件未被改动。"), std::string::npos) << error;
    fs::remove(dir / "keep.usb.saving");
    // Saved where no project was (an untitled capture's first save): no old file to speak of.
    fs::create_directory(dir / "fresh.usb.saving");
    EXPECT_FALSE(doc.OnSaveDocument(dir / "fresh.usb", nullptr, &error));
    EXPECT_NE(error.find("无法保存项目文件"), std::string::npos) << error;
    EXPECT_EQ(error.find("原有"), std::string::npos) << error;
    fs::remove(dir / "fresh.usb.saving");
    // The capture files cannot be written: a failure, not a success.
    emu::CaptureSource cannotSave(emu::BusCapture{});
    EXPECT_FALSE(doc.OnSaveDocument(dir / "keep.usb", &cannotSave, nullptr));
    EXPECT_TRUE(doc.IsModified());
    EXPECT_FALSE(doc.OnSaveDocument(dir / "no/such/folder/keep.usb", nullptr, nullptr));
}

// A project saved again and again, its parts set again and again, holds one
// copy of each: the earlier ones are freed, not kept aside in the document.
TEST_F(Doc, SavingAndSettingAgainKeepsOneCopyOfEachPart) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's allocator keeps no such count";
#endif
    for (int32_t i = 0; i < 20000; ++i) doc.Bookmarks().Add(Mark{i, "mark", "a comment"});
    const std::string tree = "<devices>" + std::string(100000, ' ') + "</devices>";
    auto saveAndSet = [&] {
        doc.SetConfiguration(tree);
        doc.SetSetup("<setup/>");
        ASSERT_TRUE(doc.OnSaveDocument(dir / "again.usb", nullptr, nullptr));
    };
    saveAndSet();
    const size_t before = mallinfo2().uordblks;
    for (int i = 0; i < 8; ++i) saveAndSet();
    // Each copy kept would be about 2 MB of marks and 100 kB of tree.
    EXPECT_LT(mallinfo2().uordblks, before + (1u << 20));
}

TEST_F(Doc, BothTreesAreFreedWithoutTouchingSharedItems) {
    auto capture = Session();
    emu::CaptureSource source(capture);
    for (int round = 0; round < 2; ++round) {  // a second capture into the same document
        doc.Parser().SetDataSource(&source);
        AppendingSink transactions(doc.TransactionRoot());
        ASSERT_EQ(doc.Parser().Parse(&transactions), 1);
        std::string tree;
        doc.Parser().GetDeviceTree(tree);
        doc.Manager().LoadDeviceTree(tree);
        doc.Manager().SetHost(&doc.Parser());
        doc.Manager().SetRoot(&doc.TransactionRoot());
        doc.Manager().ReleaseDecoders();
        AppendingSink transfers(doc.TransferRoot());
        ASSERT_EQ(doc.Manager().DecodeAll(&transfers), 1);
        EXPECT_GT(doc.TransferRoot().children.size(), 0u);
        doc.ClearTrees();  // ASan and LeakSanitizer check the rest
        EXPECT_TRUE(doc.TransactionRoot().children.empty());
        EXPECT_TRUE(doc.TransferRoot().children.empty());
    }
}

TEST_F(Doc, HostileProjectsAreRefusedAndTheOpenProjectStays) {
    // An open project with its capture, marks and trigger; its folder "proj" sits
    // beside an "x" capture pair that the hostile projects point at.
    auto capture = Session();
    LoadOffline(proxy, capture, dir);
    ASSERT_TRUE(proxy.OpenOrSave((dir / "src.ph").c_str(), (dir / "src.data").c_str(), 1) == 1);
    fs::create_directory(dir / "proj");
    doc.Bookmarks().Add(Mark{7, "kept", "note"});
    doc.SetTriggerRecord(5);
    doc.SetSetup("<setup/>");
    ASSERT_TRUE(doc.OnSaveDocument(dir / "proj/open.usb", &proxy, nullptr));
    ASSERT_TRUE(doc.OnOpenDocument(dir / "proj/open.usb", &proxy, nullptr));
    ASSERT_TRUE(doc.OnSaveDocument(dir / "x.usb", &proxy, nullptr));  // a good pair outside proj
    const std::string outside = ReadText(dir / "x.ph");
    const std::string project = doc.Project().xml();
    auto records = [&] {
        std::string all;
        PacketRecord r;
        for (uint32_t i = 0; proxy.GetRecord(i, &r) == RecordOk; ++i) all.append(reinterpret_cast<char*>(&r), 16);
        return all;
    };
    const std::string served = records();

    ASSERT_EQ(::mkfifo((dir / "proj/pipe.usb").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((dir / "proj/pipe.ph").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((dir / "proj/pipe.data").c_str(), 0600), 0);
    fs::create_directories(dir / "proj/folder.usb");
    fs::create_directories(dir / "proj/folder.ph");
    fs::create_symlink("/dev/zero", dir / "proj/zero.ph");
    fs::create_directories(dir / "proj/sub");
    fs::copy_file(dir / "x.ph", dir / "proj/sub/x.ph");
    fs::copy_file(dir / "x.data", dir / "proj/sub/x.data");
    // A good project but for its size: padded with trailing blanks beyond the bound.
    std::string big = ReadText(dir / "proj/open.usb");
    big.resize(COrvaneDoc::kMaxProjectBytes + 1, ' ');
    WriteText(dir / "proj/big.usb", big);
    const std::string absolute = dir / "x.ph";

    // Either a path to open, or the capture file names of a project written at proj/bad.usb.
    struct Case {
        std::string path, packet, data;
    } cases[] = {
        {dir / "proj/folder.usb", "", ""},
        {"/dev/zero", "", ""},
        {dir / "proj/pipe.usb", "", ""},
        {dir / "proj/big.usb", "", ""},
        {"", "../x.ph", "../x.data"},
        {"", "/tmp/x.ph", "/tmp/x.data"},
        {"", absolute, "x.data"},
        {"", "open.ph", "../x.data"},
        {"", "sub/x.ph", "sub/x.data"},
        {"", "", "open.data"},
        {"", ".", "open.data"},
        {"", "..", "open.data"},
        {"", "pipe.ph", "open.data"},
        {"", "open.ph", "pipe.data"},
        {"", "folder.ph", "open.data"},
        {"", "zero.ph", "open.data"},
    };
    for (const Case& c : cases) {
        std::string path = c.path;
        if (path.empty()) {
            path = dir / "proj/bad.usb";
            WriteText(path, "<Orvane Version=\"2.0\"><Packet PathName=\"" + c.packet +
                                "\" TriggerNum=\"99\"/><Data PathName=\"" + c.data +
                                "\"/><marks><mark packet=\"1\" name=\"hostile\"/></marks></Orvane>");
        }
        const std::string what = path + " " + c.packet + " " + c.data;
        std::string error;
        EXPECT_FALSE(doc.OnOpenDocument(path, &proxy, &error)) << what;
        EXPECT_EQ(error, COrvaneDoc::kOpenError) << what;
        EXPECT_EQ(doc.Project().xml(), project) << what;
        ASSERT_EQ(doc.Bookmarks().GetCount(), 1) << what;
        Mark kept;
        doc.Bookmarks().GetAt(0, &kept);
        EXPECT_EQ(kept.name, "kept") << what;
        EXPECT_EQ(doc.TriggerRecord(), 5) << what;
        EXPECT_EQ(records(), served) << what;
    }

    // A later save writes beside the project, never where a refused one pointed.
    ASSERT_TRUE(doc.OnSaveDocument(dir / "proj/again.usb", &proxy, nullptr));
    EXPECT_TRUE(fs::is_regular_file(dir / "proj/again.ph"));
    EXPECT_EQ(ReadText(dir / "x.ph"), outside);
    EXPECT_TRUE(doc.OnOpenDocument(dir / "proj/again.usb", &proxy, nullptr));
}

TEST(DamagedError, SaysWhichFileAndHowItDiffers) {
    // (size saved, size now, cut) → what the user is told of "c.ph".
    const struct {
        uint64_t saved, now;
        bool cut;
        const char* text;
    } rows[] = {
        {4096, 4088, true, "捕获文件“c.ph”被截断，比保存时短 8 字节"},
        {2'000'000, 16, false, "捕获文件“c.ph”比保存时短 1,999,984 字节，已被更改或来自另一次保存"},
        {16, 32, false, "捕获文件“c.ph”比保存时长 16 字节，已被更改或来自另一次保存"},
        {16, 16, false, "捕获文件“c.ph”的内容与保存时不同，已被更改或来自另一次保存"},
    };
    for (const auto& row : rows) {
        const CaptureMismatch mismatch{"c.ph", row.saved, {row.now, 0}, row.cut};
        EXPECT_EQ(COrvaneDoc::DamagedError({mismatch}), std::string("项目已损坏：") + row.text + "。");
    }
    const CaptureMismatch data{"c.data", 10, {20, 0}, false};
    EXPECT_EQ(COrvaneDoc::DamagedError({{"c.ph", 16, {16, 0}, false}, data}),
              "项目已损坏：捕获文件“c.ph”的内容与保存时不同，已被更改或来自另一次保存；"
              "捕获文件“c.data”比保存时长 10 字节，已被更改或来自另一次保存。");
}

// An upload cut short, then the analyser reset: the save is refused with the
// packets that lack payload, and the project on disk and "modified" stay.
TEST_F(Doc, ASaveOfACaptureWhosePayloadIsGoneFailsAndKeepsTheProject) {
    auto capture = Session();
    LoadOffline(proxy, capture, dir);
    ASSERT_TRUE(doc.OnSaveDocument(dir / "cap.usb", &proxy, nullptr));
    std::vector<std::string> before;
    for (const char* name : {"cap.usb", "cap.ph", "cap.data"}) before.push_back(ReadText(dir / name));

    emu::BusTrafficBuilder traffic(SpeedHigh);
    for (int i = 0; i < 300; ++i) traffic.In(2, 1, PidData0, std::vector<uint8_t>(998, uint8_t(i)));
    analyser.SetPace(0);
    analyser.SetCaptureStart(0, 0x1003);
    analyser.SetTraffic(traffic.Take());
    ASSERT_TRUE(proxy.ConfigureStorage(1u << 20, 1u << 20, 1u << 20, 1u << 20, 0));
    ASSERT_TRUE(proxy.StartCapture());
    DeviceStatus status;
    ASSERT_EQ(proxy.GetStatus(&status), 1);
    PacketRecord record;
    ASSERT_EQ(proxy.GetRecord(899, &record), RecordOk);
    analyser.FailTransfer(10);  // the second chunk's payload read
    ASSERT_EQ(proxy.BeginUpload(), 1);
    for (int i = 0; i < 60000 && proxy.UploadStateNow() != pardix::UploadIdle; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    proxy.Reset();
    ASSERT_EQ(proxy.GetStatus(&status), 1);
    doc.SetModified(true);

    std::string error;
    EXPECT_FALSE(doc.OnSaveDocument(dir / "cap.usb", &proxy, &error));
    EXPECT_NE(error.find("cap.data"), std::string::npos) << error;
    EXPECT_NE(error.find("捕获数据不完整"), std::string::npos) << error;
    EXPECT_NE(error.find("自包 394 起共 169 个数据包"), std::string::npos) << error;
    EXPECT_TRUE(doc.IsModified());
    std::vector<std::string> after;
    for (const char* name : {"cap.usb", "cap.ph", "cap.data"}) after.push_back(ReadText(dir / name));
    EXPECT_EQ(after, before);
    for (const auto& entry : fs::directory_iterator(dir.path)) EXPECT_EQ(entry.path().string().find(".saving"), std::string::npos) << entry.path();
}

// The analyser unplugged part way through the capture's record read: the save
// is refused with how many records were read of how many, the project stays;
// once it is back the save reads the rest and writes the whole capture.
TEST_F(Doc, ASaveOfACaptureWhoseRecordsCouldNotAllBeReadFailsUntilTheAnalyserIsBack) {
    LoadOffline(proxy, Session(), dir);
    ASSERT_TRUE(doc.OnSaveDocument(dir / "cap.usb", &proxy, nullptr));
    std::vector<std::string> before;
    for (const char* name : {"cap.usb", "cap.ph", "cap.data"}) before.push_back(ReadText(dir / name));

    emu::BusTrafficBuilder traffic(SpeedHigh);
    for (int i = 0; i < 1000; ++i) traffic.In(2, 1, PidData0, std::vector<uint8_t>(8, uint8_t(i)));
    analyser.SetPace(0);
    analyser.SetTraffic(traffic.Take());
    ASSERT_TRUE(proxy.ConfigureStorage(1u << 20, 1u << 20, 1u << 20, 1u << 20, 0));
    ASSERT_TRUE(proxy.StartCapture());
    DeviceStatus status;
    ASSERT_EQ(proxy.GetStatus(&status), 1);
    ASSERT_EQ(proxy.BeginUpload(), 1);
    for (int i = 0; i < 60000 && proxy.UploadStateNow() != pardix::UploadIdle; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    analyser.DisconnectAtCommand(4);  // the status read and the first block pass
    PacketRecord record;
    ASSERT_EQ(proxy.GetRecord(0, &record), RecordOk);
    doc.SetModified(true);

    std::string error;
    EXPECT_FALSE(doc.OnSaveDocument(dir / "cap.usb", &proxy, &error));
    EXPECT_NE(error.find("cap.ph"), std::string::npos) << error;
    EXPECT_NE(error.find("只读到 1,024 个包，分析仪共有 3,000 个"), std::string::npos) << error;
    EXPECT_TRUE(doc.IsModified());
    std::vector<std::string> after;
    for (const char* name : {"cap.usb", "cap.ph", "cap.data"}) after.push_back(ReadText(dir / name));
    EXPECT_EQ(after, before);

    analyser.Reconnect();
    ASSERT_TRUE(doc.OnSaveDocument(dir / "cap.usb", &proxy, &error)) << error;
    EXPECT_EQ(fs::file_size(dir / "cap.ph"), 3000u * 16);
}

// A cancel, before the save or while its capture files are written, leaves
// the project modified and its three files as they were; a save that goes on
// has written every byte it counted.
TEST_F(Doc, ACancelledSaveLeavesTheProjectAndItsFilesAsTheyWere) {
    LoadOffline(proxy, Session(), dir);
    SaveProgress counted;
    ASSERT_TRUE(doc.OnSaveDocument(dir / "cap.usb", &proxy, nullptr, &counted));
    EXPECT_EQ(counted.total.load(), fs::file_size(dir / "cap.ph") + fs::file_size(dir / "cap.data"));
    EXPECT_EQ(counted.Percent(), 100);
    std::vector<std::string> before;
    for (const char* name : {"cap.usb", "cap.ph", "cap.data"}) before.push_back(ReadText(dir / name));

    doc.SetSetup("<setup>changed</setup>");
    SaveProgress cancelled;
    cancelled.cancel = true;
    std::string error = "unset";
    EXPECT_FALSE(doc.OnSaveDocument(dir / "cap.usb", &proxy, &error, &cancelled));
    EXPECT_EQ(error, "") << "a cancel is no failure to report";
    SaveProgress late;
    CancelledWhileWriting source;
    error = "unset";
    EXPECT_FALSE(doc.OnSaveDocument(dir / "cap.usb", &source, &error, &late));
    EXPECT_EQ(error, "");
    EXPECT_EQ(source.progress_, nullptr) << "the source reports to nobody after the save";
    EXPECT_TRUE(doc.IsModified());
    std::vector<std::string> after;
    for (const char* name : {"cap.usb", "cap.ph", "cap.data"}) after.push_back(ReadText(dir / name));
    EXPECT_EQ(after, before);
    for (const auto& entry : fs::directory_iterator(dir.path)) EXPECT_EQ(entry.path().string().find(".saving"), std::string::npos) << entry.path();
}

namespace {

// A large capture saved before lost packets were marked, as the analyser
// writes it (IN, DATA0 of 8 bytes, ACK, SOF; each packet's bytes after the
// one before), whose payload ring holds only the newer half's bytes.
void WriteUnmarkedWrappedCapture(const fs::path& ph, const fs::path& data, uint32_t count) {
    std::vector<PacketRecord> records(count);
    const uint32_t heldFrom = count / 2 / 4 * 4 + 1;  // a data packet
    const uint64_t ring = uint64_t(count - heldFrom + 3) / 4 * 10;
    for (uint32_t i = 0; i < count; ++i) {
        PacketRecord& r = records[i];
        r.SetTimestamp(uint64_t(i) * 100);
        r.SetSpeed(SpeedHigh);
        const uint8_t pids[] = {PidIn, PidData0, PidAck, PidSof};
        r.SetPidByte(PacketRecord::MakePidByte(pids[i % 4]));
        if (!r.IsData()) {
            r.SetLow16(i % 4 == 0 ? uint16_t(2 | 1 << 7) : uint16_t(i & 0x7FF));
            continue;
        }
        r.SetLow16(10);
        const uint64_t at = uint64_t(i / 4) * 10, heldStart = uint64_t(heldFrom / 4) * 10;
        r.SetPayloadOffset(uint32_t((at + 8 * ring - heldStart) % ring));
    }
    std::string payload(ring, '\0');
    for (size_t k = 0; k < payload.size(); ++k) payload[k] = char(k * 7 + k / 251);
    std::ofstream(ph, std::ios::binary)
        .write(reinterpret_cast<const char*>(records.data()), std::streamsize(records.size() * sizeof(PacketRecord)));
    WriteText(data, payload);
}

// Every record `source` serves, each data packet's with the bytes and CRC it is served.
std::string Served(IDataSource& source) {
    std::string all;
    PacketRecord r;
    for (uint32_t i = 0; source.GetRecord(i, &r) == RecordOk; ++i) {
        all.append(reinterpret_cast<const char*>(&r), sizeof r);
        if (!r.IsData()) continue;
        uint8_t bytes[16];
        uint16_t crc = 0;
        const int32_t n = source.GetPayload(&r, bytes, sizeof bytes, &crc);
        all += std::to_string(n) + ':';
        if (n > 0) all.append(reinterpret_cast<const char*>(bytes), size_t(n)).append(reinterpret_cast<const char*>(&crc), 2);
    }
    return all;
}

}  // namespace

// A project saved here whose files are as the save left them shows its first
// records before the loader reads any more of the file, with the rows and
// payload of the walked open. Without the save's word, without a record of
// the files, or with files other than the record's opened anyway, the open
// walks first: an old-style wrapped capture serves no other packet's bytes.
TEST_F(Doc, AProjectSavedHereShowsItsFirstRecordsAtOnceAndAnyOtherIsWalkedFirst) {
    const uint32_t count = pardix::kFirstRecords + pardix::kLoadChunk + 999;
    WriteUnmarkedWrappedCapture(dir / "w.ph", dir / "w.data", count);
    ASSERT_EQ(proxy.OpenOrSave((dir / "w.ph").c_str(), (dir / "w.data").c_str(), 0), 1);
    const std::string walked = Served(proxy);
    ASSERT_TRUE(doc.OnSaveDocument(dir / "p.usb", &proxy, nullptr));
    const std::string saved = ReadText(dir / "p.usb");
    ASSERT_NE(saved.find("PayloadMarked=\"1\""), std::string::npos);

    // Opens the project with the loader held at its first read: the records
    // served by then, and all it serves (empty when the open failed).
    auto open = [&](const fs::path& project, CaptureCheck* check, int64_t* atOnce) {
        struct Gate {
            std::mutex mutex;
            std::condition_variable opened;
            bool open = false;
        };
        auto gate = std::make_shared<Gate>();
        auto reader = std::make_unique<pardix::CDeviceProxy>(&analyser);
        reader->SetLoadReadHook([gate](uint32_t) {
            std::unique_lock lock(gate->mutex);
            gate->opened.wait(lock, [&] { return gate->open; });
        });
        COrvaneDoc opened;
        const bool ok = opened.OnOpenDocument(project, reader.get(), nullptr, check);
        uint32_t served = 0;
        reader->PeekRecords(0, &served);
        {
            std::lock_guard lock(gate->mutex);
            gate->open = true;
        }
        gate->opened.notify_all();
        *atOnce = ok ? int64_t(served) : -1;
        return ok ? Served(*reader) : std::string();
    };
    auto withText = [&](const std::string& name, std::string text, const std::string& from, const std::string& to) {
        for (size_t at; (at = text.find(from)) != std::string::npos;) text.replace(at, from.size(), to);
        WriteText(dir / name, text);
    };
    int64_t atOnce = 0;
    EXPECT_TRUE(open(dir / "p.usb", nullptr, &atOnce) == walked);
    EXPECT_EQ(atOnce, int64_t(pardix::kFirstRecords));

    withText("unsaid.usb", saved, " PayloadMarked=\"1\"", "");
    EXPECT_TRUE(open(dir / "unsaid.usb", nullptr, &atOnce) == walked);
    EXPECT_EQ(atOnce, 0) << "no word of the save: walked";

    // The old-style files themselves, said marked but with no record of them.
    WriteText(dir / "old.usb", "<Orvane Version=\"2.0\"><Packet PathName=\"w.ph\" TriggerNum=\"-1\" PayloadMarked=\"1\"/>"
                               "<Data PathName=\"w.data\"/></Orvane>");
    EXPECT_TRUE(open(dir / "old.usb", nullptr, &atOnce) == walked);
    EXPECT_EQ(atOnce, 0) << "no record of the files: walked";

    // The saved project's record, its records file swapped for the old-style one and opened anyway.
    fs::copy_file(dir / "w.ph", dir / "m.ph");
    fs::copy_file(dir / "p.data", dir / "m.data");
    withText("m.usb", saved, "\"p.", "\"m.");
    CaptureCheck check;
    EXPECT_TRUE(open(dir / "m.usb", &check, &atOnce).empty());
    ASSERT_EQ(check.mismatches.size(), 1u);
    check.insist = true;
    EXPECT_TRUE(open(dir / "m.usb", &check, &atOnce) == walked);
    EXPECT_EQ(atOnce, 0) << "files not as the save left them: walked";
}
