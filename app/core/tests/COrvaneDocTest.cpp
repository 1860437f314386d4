#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "CDeviceProxy.h"
#include "COrvaneDoc.h"
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

TEST_F(Doc, TriggerNumberWhenPresent) {
    auto capture = Session();
    LoadOffline(proxy, capture, dir);
    ASSERT_TRUE(doc.OnSaveDocument(dir / "t.usb", &proxy, nullptr));
    std::string text = ReadText(dir / "t.usb");
    doc.SetTriggerRecord(17);
    // Without TriggerNum the current number stays; "-1" sets -1.
    std::string without = text;
    without.replace(without.find(" TriggerNum=\"-1\""), 16, "");
    WriteText(dir / "t.usb", without);
    ASSERT_TRUE(doc.OnOpenDocument(dir / "t.usb", &proxy, nullptr));
    EXPECT_EQ(doc.TriggerRecord(), 17);
    WriteText(dir / "t.usb", text);
    ASSERT_TRUE(doc.OnOpenDocument(dir / "t.usb", &proxy, nullptr));
    EXPECT_EQ(doc.TriggerRecord(), -1);
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
    // The temporary file cannot be made: the old project stays whole.
    fs::create_directory(dir / "keep.usb.saving");
    EXPECT_FALSE(doc.OnSaveDocument(dir / "keep.usb", nullptr, nullptr));
    EXPECT_EQ(ReadText(dir / "keep.usb"), good);
    fs::remove(dir / "keep.usb.saving");
    // The capture files cannot be written: a failure, not a success.
    emu::CaptureSource cannotSave(emu::BusCapture{});
    EXPECT_FALSE(doc.OnSaveDocument(dir / "keep.usb", &cannotSave, nullptr));
    EXPECT_TRUE(doc.IsModified());
    EXPECT_FALSE(doc.OnSaveDocument(dir / "no/such/folder/keep.usb", nullptr, nullptr));
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
