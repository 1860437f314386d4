// Per-user settings: first run, list layout, configurations, and damaged or
// unwritable files that must never cost the user the file they had.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <string>
#include <vector>

#include "Document.h"
#include "SettingStore.h"
#include "TestFiles.h"

using orvane::app::SettingStore;
namespace fs = std::filesystem;

namespace {

using orvane::testing::ReadText;
using orvane::testing::WriteText;

struct ScratchFolder : orvane::testing::TempDir {
    std::string File(const std::string& name) const { return *this / name; }
};

// Restores an environment variable when the test ends.
struct EnvVar {
    std::string name;
    std::optional<std::string> old;
    EnvVar(std::string n, const char* value) : name(std::move(n))
    {
        if (const char* v = std::getenv(name.c_str())) old = v;
        value ? ::setenv(name.c_str(), value, 1) : ::unsetenv(name.c_str());
    }
    ~EnvVar() { old ? ::setenv(name.c_str(), old->c_str(), 1) : ::unsetenv(name.c_str()); }
};

using Ints = std::vector<int>;

Ints Iota(int from = 0)
{
    Ints v(12);
    std::iota(v.begin(), v.end(), from);
    return v;
}

TEST(SettingStore, FirstRunCreatesFoldersAndWritesTheLayoutAtExit)
{
    ScratchFolder home;
    EnvVar xdg("XDG_CONFIG_HOME", home.File("config").c_str());
    const std::string path = home.File("config/Kavrin/Orvane/setting.xml");
    ASSERT_EQ(SettingStore::DefaultPath(), path);
    {
        SettingStore store;
        EXPECT_EQ(store.GetLoadError(), "");
        EXPECT_TRUE(fs::is_directory(home.File("config/Kavrin/Orvane")));
        EXPECT_FALSE(fs::exists(path)) << "nothing reaches the disk before the end";
        Ints order = {1, 0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, width(12, 80), visible(12, 1);
        visible[3] = 0;
        ASSERT_EQ(store.ExchangeListLayout(order.data(), width.data(), visible.data(), 12, false), 1);
    }
    orvane::xml::Document saved;
    ASSERT_TRUE(saved.load(path)) << saved.lastError();
    orvane::xml::Node layout = saved.selectSingleNode("/setting/ui/usblistctrl");
    EXPECT_EQ(layout.attribute("order"), "1;0;2;3;4;5;6;7;8;9;10;11;");
    EXPECT_EQ(layout.attribute("visible"), "1;1;1;0;1;1;1;1;1;1;1;1;");
    EXPECT_EQ(saved.selectSingleNode("/setting").attribute("version"), "1.0");
    EXPECT_TRUE(saved.selectSingleNode("/setting/configurations"));
    EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(path).parent_path()), fs::directory_iterator()), 1);

    SettingStore reopened;
    Ints width(12, -1);
    reopened.ExchangeListLayout(nullptr, width.data(), nullptr, 12, true);
    EXPECT_EQ(width, Ints(12, 80));

    // A relative XDG_CONFIG_HOME does not count.
    EnvVar relative("XDG_CONFIG_HOME", "relative/config");
    EnvVar homeVar("HOME", home.File("h").c_str());
    EXPECT_EQ(SettingStore::DefaultPath(), home.File("h/.config/Kavrin/Orvane/setting.xml"));
}

TEST(SettingStore, ListLayoutReadsPiecesAfterCommasAndSemicolons)
{
    ScratchFolder folder;
    struct Case { std::string order; Ints expected; };
    const Case cases[] = {
        {"2;0;1", {2, 0, 1, 3, 4, 5, 6, 7, 8, 9, 10, 11}},   // only the first positions move
        {"1,0;1", {1, 0, 1, 3, 4, 5, 6, 7, 8, 9, 10, 11}},   // both separators
        {"", Iota()},                                        // nothing stored
        {"7;x;-3;99999999999;", {7, 0, -3, 2147483647, 4, 5, 6, 7, 8, 9, 10, 11}},
        {"11;10;9;8;7;6;5;4;3;2;1;0;12;13;", {11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0}},  // at most count
    };
    for (const Case& c : cases) {
        WriteText(folder.File("setting.xml"),
                  "<setting><ui><usblistctrl order=\"" + c.order + "\"/></ui><configurations/></setting>");
        SettingStore store(folder.File("setting.xml"));
        ASSERT_EQ(store.GetLoadError(), "");
        Ints order = Iota(), width = Iota(100);
        ASSERT_EQ(store.ExchangeListLayout(order.data(), width.data(), nullptr, 12, true), 1);
        EXPECT_EQ(order, c.expected) << c.order;
        EXPECT_EQ(width, Iota(100)) << "a missing attribute changes nothing";
    }

    WriteText(folder.File("setting.xml"), "<setting><configurations/></setting>");
    SettingStore store(folder.File("setting.xml"));
    Ints order = Iota();
    EXPECT_EQ(store.ExchangeListLayout(order.data(), order.data(), order.data(), 12, true), 0);
    EXPECT_EQ(store.ExchangeListLayout(order.data(), order.data(), order.data(), 12, false), 0);
    EXPECT_EQ(order, Iota());
}

TEST(SettingStore, NamedConfigurations)
{
    ScratchFolder folder;
    SettingStore store(folder.File("setting.xml"));
    orvane::xml::Document tree;
    ASSERT_TRUE(tree.loadXML("<devices><device address=\"3\"><configuration bConfigurationValue=\"1\" "
                             "strConfiguration=\"09 02 \" name=\"old\"><interface bInterfaceNumber=\"0\">"
                             "<endpoint bEndpointAddress=\"129\"/></interface></configuration></device></devices>"));
    orvane::xml::Node config = tree.selectSingleNode("//configuration");

    EXPECT_EQ(store.GetConfigurationCount(), 0);
    ASSERT_EQ(store.AddConfiguration(config, "鼠标", "{6B29FC40-CA47-1067-B31D-00DD010662DA}"), 1);
    ASSERT_EQ(store.AddConfiguration(config, "second", "{00000000-0000-0000-0000-0000000000AB}"), 1);
    EXPECT_EQ(store.AddConfiguration(orvane::xml::Node(), "x", "y"), 0);
    EXPECT_EQ(config.attribute("name"), "old") << "the source is not touched";
    ASSERT_EQ(store.GetConfigurationCount(), 2);

    orvane::xml::Node first = store.ConfigurationAt(0);
    std::string value;
    ASSERT_TRUE(SettingStore::GetAttribute(first, "name", value));
    EXPECT_EQ(value, "鼠标");
    ASSERT_TRUE(SettingStore::GetAttribute(first, "strConfiguration", value));
    EXPECT_EQ(value, "09 02 ");
    EXPECT_TRUE(first.selectSingleNode("interface/endpoint")) << "a deep copy";
    EXPECT_FALSE(SettingStore::GetAttribute(first, "missing", value));
    EXPECT_FALSE(store.ConfigurationAt(2)) << "ConfigurationAt(count)";
    EXPECT_EQ(store.FindConfiguration("{00000000-0000-0000-0000-0000000000AB}"), 1);
    EXPECT_EQ(store.FindConfiguration("{00000000-0000-0000-0000-0000000000ab}"), -1) << "case matters";
    EXPECT_EQ(store.FindConfiguration(""), -1);

    // A stored one saved again under a new name is copied, not moved.
    ASSERT_EQ(store.AddConfiguration(store.ConfigurationAt(0), "copy", "{C}"), 1);
    EXPECT_EQ(store.GetConfigurationCount(), 3);
    ASSERT_TRUE(SettingStore::GetAttribute(store.ConfigurationAt(0), "name", value));
    EXPECT_EQ(value, "鼠标");
    EXPECT_EQ(store.FindConfiguration("{C}"), 2);

    // A file without the list still takes configurations.
    WriteText(folder.File("bare.xml"), "<setting/>");
    SettingStore bare(folder.File("bare.xml"));
    ASSERT_EQ(bare.AddConfiguration(config, "n", "{G}"), 1);
    EXPECT_EQ(bare.FindConfiguration("{G}"), 0);
}

TEST(SettingStore, DamagedFileIsPutAsideNeverOverwritten)
{
    ScratchFolder folder;
    const std::string path = folder.File("setting.xml");
    const std::vector<std::string> damaged = {"<setting><ui>", "<other/>", ""};
    std::vector<std::string> asides;
    for (const std::string& text : damaged) {
        WriteText(path, text);
        {
            SettingStore store(path);
            EXPECT_NE(store.GetLoadError().find(path), std::string::npos) << store.GetLoadError();
            asides.push_back(store.GetDamagedCopy());
            EXPECT_EQ(ReadText(store.GetDamagedCopy()), text);
            EXPECT_EQ(store.GetConfigurationCount(), 0);
            Ints order = Iota();
            EXPECT_EQ(store.ExchangeListLayout(order.data(), nullptr, nullptr, 12, true), 1) << "defaults in use";
            std::string error;
            EXPECT_TRUE(store.Save(&error)) << error;
        }
        orvane::xml::Document saved;
        EXPECT_TRUE(saved.load(path));
    }
    EXPECT_EQ(asides, (std::vector<std::string>{path + ".damaged", path + ".damaged-2", path + ".damaged-3"}));
}

TEST(SettingStore, FailedSaveKeepsTheOldFile)
{
    ScratchFolder folder;
    // A file name so long that no name for the new copy fits beside it.
    const std::string path = folder.File(std::string(248, 's') + ".xml");
    const std::string old = "<setting><ui><usblistctrl order=\"3;\"/></ui><configurations/></setting>";
    WriteText(path, old);
    {
        SettingStore store(path);
        Ints order = Iota();
        store.ExchangeListLayout(order.data(), nullptr, nullptr, 12, false);
        std::string error;
        EXPECT_FALSE(store.Save(&error));
        EXPECT_NE(error.find(path), std::string::npos) << error;
    }
    EXPECT_EQ(ReadText(path), old) << "nor at the end";
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path), fs::directory_iterator()), 1) << "no leftovers";

    SettingStore memoryOnly("");
    EXPECT_NE(memoryOnly.GetLoadError(), "");
    EXPECT_FALSE(memoryOnly.Save());
    EXPECT_EQ(memoryOnly.GetConfigurationCount(), 0);
    Ints order = Iota();
    EXPECT_EQ(memoryOnly.ExchangeListLayout(order.data(), nullptr, nullptr, 12, true), 1);

    // Something there that cannot be read as a file is left alone.
    const std::string folderPath = folder.File("setting.xml");
    fs::create_directories(folderPath + "/inside");
    {
        SettingStore unreadable(folderPath);
        EXPECT_NE(unreadable.GetLoadError(), "");
        EXPECT_FALSE(unreadable.Save());
    }
    EXPECT_TRUE(fs::is_directory(folderPath + "/inside"));
}

}  // namespace
