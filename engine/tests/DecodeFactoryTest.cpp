#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "AppDirectory.h"
#include "CDecodeFactory.h"

using orvane::CDecodeFactory;
using orvane::IDecodeClass;
using State = CDecodeFactory::PluginState;
namespace fs = std::filesystem;

namespace {

// The fixture plug-ins are built into "classes" beside this program.
const std::string kFixtures = orvane::GetAppDirectory() + "/classes";
enum Fixture { Audio, Hid, Still, Storage, HidTwin, Flaky, kRegistered };

std::string FileName(CDecodeFactory& factory, int index)
{
    std::string path;
    return fs::path(*factory.GetPath(&path, index)).filename().string();
}

// A folder of its own for tests that arrange the files themselves.
struct ScratchFolder {
    fs::path path = fs::temp_directory_path() / ("orvane-classes-" + std::to_string(::getpid()));
    ScratchFolder() { fs::create_directories(path); }
    ~ScratchFolder() { fs::remove_all(path); }
    void Copy(const std::string& fixture, const std::string& as) const
    {
        fs::copy_file(kFixtures + "/" + fixture, path / as);
    }
};

TEST(DecodeFactory, ScanRegistersProbedPluginsInNameOrderAndReportsTheRest)
{
    CDecodeFactory factory;  // the default folder is the fixture folder
    ASSERT_EQ(factory.GetCount(), kRegistered);
    const std::vector<std::tuple<std::string, int, int, int>> expected = {
        {"a_audio.so", 1, -1, 0}, {"b_hid.so", 3, -1, -1},       {"c_still.so", 6, 1, 1},
        {"d_storage.so", 8, 6, 0x50}, {"e_hid_twin.so", 3, -1, -1}, {"f_flaky.so", 255, -1, -1}};
    for (int i = 0; i < kRegistered; ++i) {
        int cls = 0, sub = 0, proto = 0;
        ASSERT_EQ(factory.GetInfo(i, &cls, &sub, &proto), 1);
        EXPECT_EQ(std::make_tuple(FileName(factory, i), cls, sub, proto), expected[size_t(i)]);
        EXPECT_FALSE(factory.IsLoaded(i)) << "every library is unloaded after the scan";
    }

    // readme.txt is not looked at; each other file reports how far it got.
    const std::vector<std::pair<std::string, State>> report = {
        {"a_audio.so", State::Probed},         {"b_hid.so", State::Probed},
        {"broken.so", State::Found},           {"c_still.so", State::Probed},
        {"d_storage.so", State::Probed},       {"e_hid_twin.so", State::Probed},
        {"f_flaky.so", State::Probed},         {"noexport.so", State::Opened},
        {"nulldecoder.so", State::FactoryResolved}, {"unresolved.so", State::Found}};
    ASSERT_EQ(factory.GetScanReport().size(), report.size());
    for (size_t i = 0; i < report.size(); ++i) {
        const auto& record = factory.GetScanReport()[i];
        EXPECT_EQ(fs::path(record.path).filename(), report[i].first);
        EXPECT_EQ(record.state, report[i].second) << record.path;
        EXPECT_EQ(record.error.empty(), record.state == State::Probed) << record.path << ": " << record.error;
    }
    EXPECT_NE(factory.GetScanReport()[7].error.find("CreateDecoder"), std::string::npos);
    EXPECT_NE(factory.GetScanReport()[9].error.find("MissingFromEveryLibrary"), std::string::npos);
}

TEST(DecodeFactory, EmptyOrMissingFolderAndOutOfRangeIndexes)
{
    ScratchFolder empty;
    for (const std::string& folder : {empty.path.string(), empty.path.string() + "/missing"}) {
        CDecodeFactory factory(folder);
        EXPECT_EQ(factory.GetCount(), 0);
        EXPECT_EQ(factory.Find(3, -1, -1), -1);
        EXPECT_EQ(factory.Find(0, 0, 0), -1);
    }

    CDecodeFactory factory;
    for (int index : {-1, int(kRegistered), 1000}) {
        int cls = 77, sub = 77, proto = 77;
        EXPECT_EQ(factory.GetInfo(index, &cls, &sub, &proto), 0);
        EXPECT_EQ(std::tie(cls, sub, proto), std::make_tuple(77, 77, 77)) << "nothing written";
        std::string path = "stale";
        EXPECT_EQ(factory.GetPath(&path, index), &path);
        EXPECT_EQ(path, "");
        EXPECT_EQ(factory.Create(index), nullptr);
    }
    EXPECT_EQ(factory.GetPath(nullptr, 0), nullptr);
    factory.ReleaseDecoder(nullptr);
}

TEST(DecodeFactory, FindMatchesClassThenSubclassWildcardThenProtocol)
{
    CDecodeFactory factory;
    const std::vector<std::tuple<int, int, int, int>> cases = {
        {3, 0, 0, Hid},         {3, 1, 2, Hid},  // the first of two equal plug-ins wins
        {1, 1, 0, Audio},       {1, 2, 0, Audio}, {1, 1, 1, Audio},
        {6, 1, 1, Still},       {6, 1, 2, -1},    {6, 2, 1, -1},
        {8, 6, 0x50, Storage},  {8, 6, 0x62, -1}, {8, 5, 0x50, -1},
        {-1, -1, -1, -1},       {0, 0, 0, -1}};
    for (const auto& [cls, sub, proto, index] : cases)
        EXPECT_EQ(factory.Find(cls, sub, proto), index) << cls << "/" << sub << "/" << proto;
}

TEST(DecodeFactory, LoadsWhileDecodersLiveAndReloadsForTheNext)
{
    CDecodeFactory factory;
    IDecodeClass* first = factory.Create(Hid);
    IDecodeClass* second = factory.Create(Hid);
    ASSERT_TRUE(first && second);
    EXPECT_NE(first, second);
    EXPECT_TRUE(factory.IsLoaded(Hid));
    EXPECT_EQ(factory.GetUserCount(Hid), 2);

    factory.ReleaseDecoder(first);
    EXPECT_TRUE(factory.IsLoaded(Hid));
    EXPECT_EQ(factory.GetUserCount(Hid), 1);
    factory.ReleaseDecoder(second);
    EXPECT_FALSE(factory.IsLoaded(Hid));
    EXPECT_EQ(factory.GetUserCount(Hid), 0);

    IDecodeClass* again = factory.Create(Hid);
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(factory.IsLoaded(Hid));
    factory.ReleaseDecoder(again);
    EXPECT_FALSE(factory.IsLoaded(Hid));
}

// Stands for the built-in decoder: it reports no class and is not the factory's.
class Foreign : public IDecodeClass {
public:
    int released = 0;
    void Release() override { ++released; }
    int32_t Summarize(orvane::UsbItem*, orvane::ItemSummary*) override { return 0; }
    int32_t GetData(orvane::UsbItem*, uint8_t*, uint32_t) override { return -1; }
    int32_t GetDetail(orvane::UsbItem*, std::string&) override { return 0; }
    const orvane::ImageList* GetImageList(orvane::UsbItem*) override { return nullptr; }
    int32_t OnNotify(int32_t, void*, intptr_t) override { return 0; }
    int32_t GetClassCode(int32_t* cls, int32_t* sub, int32_t* proto) override
    {
        *cls = 3, *sub = -1, *proto = -1;  // claims a registered class all the same
        return 1;
    }
    void SetHost(IDecode*) override {}
    orvane::UsbItem* OnTransaction(orvane::UsbItem* item) override { return item; }
    void Reset() override {}
};

TEST(DecodeFactory, ReleaseCountsDownTheLibraryThatMadeTheDecoder)
{
    CDecodeFactory factory;
    IDecodeClass* hid = factory.Create(Hid);
    IDecodeClass* twin = factory.Create(HidTwin);
    ASSERT_TRUE(hid && twin);

    // Same class codes as the first HID plug-in, yet its own library goes.
    factory.ReleaseDecoder(twin);
    EXPECT_FALSE(factory.IsLoaded(HidTwin));
    EXPECT_EQ(factory.GetUserCount(HidTwin), 0);
    EXPECT_EQ(factory.GetUserCount(Hid), 1);

    Foreign foreign;
    factory.ReleaseDecoder(&foreign);
    EXPECT_EQ(foreign.released, 1);
    EXPECT_EQ(factory.GetUserCount(Hid), 1);
    EXPECT_TRUE(factory.IsLoaded(Hid));
    factory.ReleaseDecoder(hid);
    EXPECT_FALSE(factory.IsLoaded(Hid));
}

TEST(DecodeFactory, FailedCreateLeavesNoUserBehind)
{
    CDecodeFactory factory;
    ::setenv("ORVANE_FIXTURE_FAIL_CREATE", "1", 1);
    EXPECT_EQ(factory.Create(Flaky), nullptr);
    EXPECT_EQ(factory.Create(Flaky), nullptr);
    ::unsetenv("ORVANE_FIXTURE_FAIL_CREATE");
    EXPECT_EQ(factory.GetUserCount(Flaky), 0);
    EXPECT_FALSE(factory.IsLoaded(Flaky));

    IDecodeClass* decoder = factory.Create(Flaky);
    ASSERT_NE(decoder, nullptr);
    EXPECT_EQ(factory.GetUserCount(Flaky), 1);
    factory.ReleaseDecoder(decoder);
    EXPECT_FALSE(factory.IsLoaded(Flaky));
}

TEST(DecodeFactory, OrderFollowsFileNamesNotCreation)
{
    ScratchFolder folder;
    // Made in the reverse of name order; both serve class 3.
    folder.Copy("e_hid_twin.so", "z_second.so");
    folder.Copy("b_hid.so", "m_first.so");
    folder.Copy("noexport.so", "a_skipped.so");
    CDecodeFactory factory(folder.path.string());
    ASSERT_EQ(factory.GetCount(), 2);
    EXPECT_EQ(FileName(factory, factory.Find(3, 0, 0)), "m_first.so");
    EXPECT_EQ(FileName(factory, 1), "z_second.so");
}

}  // namespace
