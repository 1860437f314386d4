// The command bars as data: placing, moving and taking off commands and menus,
// new menus, reset, rarely used commands, and the stored form (with the older
// one and with commands new since it was stored).
#include <gtest/gtest.h>

#include "CCommandBars.h"

using namespace orvane::app;

namespace {

constexpr int kRecent = -2;

std::vector<CommandBar> FirstState() {
    return {
        {CCommandBars::kMenuBar, "", BarKind::MenuBar, false, {{0, "Menu0"}, {0, "Menu1"}}},
        {"Standard", "", BarKind::ToolBar, false, {{1, {}}, {2, {}}, {}, {3, {}}}},
        {"Menu0", "文件(&F)", BarKind::Menu, false, {{1, {}}, {2, {}}, {}, {kRecent, {}}, {}, {9, {}}}},
        {"Menu1", "视图(&V)", BarKind::Menu, false, {{4, {}}, {0, "Menu2"}}},
        {"Menu2", "级别(&L)", BarKind::Menu, false, {{5, {}}, {6, {}}}},
    };
}

std::vector<int> Ids(const CCommandBars& bars, const std::string& key) {
    std::vector<int> ids;
    for (const BarEntry& e : bars.Find(key)->entries) ids.push_back(e.IsPopup() ? 1000 + int(e.popup.back() - '0') : e.id);
    return ids;
}

}  // namespace

TEST(CommandBars, PlacesMovesAndTakesOff) {
    CCommandBars bars(FirstState());
    // Onto the toolbar at a place; again on the same bar it moves.
    EXPECT_TRUE(bars.Insert("Standard", 1, {7, {}}));
    EXPECT_EQ(Ids(bars, "Standard"), (std::vector<int>{1, 7, 2, 0, 3}));
    EXPECT_TRUE(bars.Insert("Standard", -1, {1, {}}));
    EXPECT_EQ(Ids(bars, "Standard"), (std::vector<int>{7, 2, 0, 3, 1}));
    EXPECT_TRUE(bars.Insert("Standard", 99, {7, {}}));
    EXPECT_EQ(Ids(bars, "Standard"), (std::vector<int>{2, 0, 3, 1, 7}));
    // Into a menu; the same command may stand on several bars.
    EXPECT_TRUE(bars.Insert("Menu2", 0, {7, {}}));
    EXPECT_EQ(Ids(bars, "Menu2"), (std::vector<int>{7, 5, 6}));
    EXPECT_TRUE(bars.Remove("Standard", 4));
    EXPECT_EQ(Ids(bars, "Standard"), (std::vector<int>{2, 0, 3, 1}));
    EXPECT_FALSE(bars.Remove("Standard", 4));
    EXPECT_FALSE(bars.Remove("nothing", 0));

    // Moves: counted in the target bar as it was; on the same bar too.
    EXPECT_TRUE(bars.Move("Standard", 0, "Standard", 4));
    EXPECT_EQ(Ids(bars, "Standard"), (std::vector<int>{0, 3, 1, 2}));
    EXPECT_TRUE(bars.Move("Menu2", 0, "Standard", 1));
    EXPECT_EQ(Ids(bars, "Standard"), (std::vector<int>{0, 7, 3, 1, 2}));
    EXPECT_EQ(Ids(bars, "Menu2"), (std::vector<int>{5, 6}));
    ASSERT_TRUE(bars.Insert("Menu2", -1, {7, {}}));
    EXPECT_TRUE(bars.Move("Standard", 1, "Menu2", 0));
    EXPECT_EQ(Ids(bars, "Menu2"), (std::vector<int>{7, 5, 6})) << "the one already there gives way";
    EXPECT_EQ(Ids(bars, "Standard"), (std::vector<int>{0, 3, 1, 2}));

    // Refused: markers placed by hand or moved to another bar, unknown menus, a menu inside itself.
    EXPECT_FALSE(bars.Insert("Standard", 0, {kRecent, {}}));
    EXPECT_FALSE(bars.Move("Menu0", 3, "Standard", 0));
    EXPECT_FALSE(bars.Insert("Standard", 0, {0, "nothing"}));
    EXPECT_FALSE(bars.Insert("Menu2", 0, {0, "Menu1"})) << "Menu2 opens from Menu1";
    EXPECT_FALSE(bars.Insert("Menu1", 0, {0, "Menu1"}));
    EXPECT_EQ(Ids(bars, "Menu1"), (std::vector<int>{4, 1002}));
    // A built-in menu on the toolbar opens from there as well.
    EXPECT_TRUE(bars.Insert("Standard", 0, {0, "Menu2"}));
    EXPECT_EQ(Ids(bars, "Standard")[0], 1002);

    // Reset: the first state again, the options kept.
    BarOptions options;
    options.largeIcons = true;
    bars.SetOptions(options);
    bars.Reset();
    EXPECT_EQ(Ids(bars, "Standard"), (std::vector<int>{1, 2, 0, 3}));
    EXPECT_EQ(Ids(bars, "Menu2"), (std::vector<int>{5, 6}));
    EXPECT_TRUE(bars.Options().largeIcons);
}

TEST(CommandBars, NewMenusAreNamedAndGoWhenTakenOff) {
    CCommandBars bars(FirstState());
    const std::string key = bars.AddMenu("新菜单");
    EXPECT_EQ(key, "Custom1");
    ASSERT_TRUE(bars.Insert(CCommandBars::kMenuBar, 1, {0, key}));
    ASSERT_TRUE(bars.Insert(key, 0, {3, {}}));
    EXPECT_TRUE(bars.Rename(key, "我的菜单"));
    EXPECT_FALSE(bars.Rename(key, ""));
    EXPECT_FALSE(bars.Rename("Standard", "x")) << "the toolbar has no title";
    EXPECT_EQ(bars.Find(key)->title, "我的菜单");
    // A second one inside the first; moving the first keeps both.
    const std::string inner = bars.AddMenu("新菜单");
    EXPECT_EQ(inner, "Custom2");
    ASSERT_TRUE(bars.Insert(key, -1, {0, inner}));
    EXPECT_FALSE(bars.Insert(inner, 0, {0, key}));
    ASSERT_TRUE(bars.Move(CCommandBars::kMenuBar, 1, CCommandBars::kMenuBar, 0));
    ASSERT_NE(bars.Find(key), nullptr);
    // Taken off the menu bar, both go.
    ASSERT_TRUE(bars.Remove(CCommandBars::kMenuBar, 0));
    EXPECT_EQ(bars.Find(key), nullptr);
    EXPECT_EQ(bars.Find(inner), nullptr);
    // A built-in menu taken off stays, to be put back.
    ASSERT_TRUE(bars.Remove(CCommandBars::kMenuBar, 1));
    ASSERT_NE(bars.Find("Menu1"), nullptr);
    EXPECT_TRUE(bars.Insert(CCommandBars::kMenuBar, -1, {0, "Menu1"}));
}

TEST(CommandBars, ShownEntriesAndCategories) {
    CCommandBars bars(FirstState());
    bars.SetRarelyUsed({9});
    const CommandBar& file = *bars.Find("Menu0");
    EXPECT_TRUE(bars.LeavesOut(file));
    EXPECT_EQ(bars.Shown(file, false), (std::vector<int>{0, 1, 2, 3})) << "no separator last";
    EXPECT_EQ(bars.Shown(file, true), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_FALSE(bars.LeavesOut(*bars.Find("Standard")));
    ASSERT_TRUE(bars.Insert("Standard", 0, {0, {}}));
    ASSERT_TRUE(bars.Insert("Standard", 3, {0, {}}));
    EXPECT_EQ(bars.Shown(*bars.Find("Standard"), false), (std::vector<int>{1, 2, 3, 5})) << "no bar first or doubled";

    const std::vector<CommandCategory> categories = bars.Categories();
    ASSERT_EQ(categories.size(), 2u);
    EXPECT_EQ(categories[0].title, "文件");
    EXPECT_EQ(categories[0].commands, (std::vector<int>{1, 2, 9}));
    EXPECT_EQ(categories[1].title, "视图");
    EXPECT_EQ(categories[1].commands, (std::vector<int>{4, 5, 6})) << "with its submenu's";
    EXPECT_EQ(CCommandBars::PlainText("打开(&O)..."), "打开...");
    EXPECT_EQ(CCommandBars::PlainText("隐藏 &SOFs"), "隐藏 SOFs");
    EXPECT_EQ(CCommandBars::PlainText("(&"), "(");
}

TEST(CommandBars, StoredFormRoundTripsAndRepairs) {
    CCommandBars bars(FirstState());
    ASSERT_TRUE(bars.Insert("Standard", 0, {7, {}}));
    ASSERT_TRUE(bars.Remove("Menu1", 0));
    const std::string menu = bars.AddMenu("A & B");
    ASSERT_TRUE(bars.Insert("Standard", -1, {0, menu}));
    ASSERT_TRUE(bars.Insert(menu, 0, {8, {}}));
    ASSERT_TRUE(bars.Rename("Menu0", "档案(&F)"));
    BarOptions options{true, false, false, true};
    bars.SetOptions(options);

    CCommandBars again(FirstState());
    std::string error;
    ASSERT_TRUE(again.Load(bars.Save(), &error)) << error;
    EXPECT_EQ(Ids(again, "Standard"), (std::vector<int>{7, 1, 2, 0, 3, 1001}));
    EXPECT_EQ(again.Find(menu)->title, "A & B");
    EXPECT_EQ(Ids(again, menu), (std::vector<int>{8}));
    EXPECT_EQ(Ids(again, "Menu1"), (std::vector<int>{1002}));
    EXPECT_EQ(again.Find("Menu0")->title, "档案(&F)");
    EXPECT_EQ(again.Options(), options);
    EXPECT_EQ(again.AddMenu("x"), "Custom2") << "new keys do not reuse stored ones";

    // Not a stored form: nothing changes.
    for (const char* bad : {"", "<CommandBars", "<Other/>"}) {
        EXPECT_FALSE(again.Load(bad, &error)) << bad;
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(Ids(again, "Standard"), (std::vector<int>{7, 1, 2, 0, 3, 1001}));
    }

    // Edited by hand: unknown bars and markers, menus that do not exist or open
    // themselves, duplicates and numbers that are none are dropped.
    ASSERT_TRUE(again.Load(
        "<CommandBars><bar key='Standard'><command id='5'/><command id='5'/><command id='x'/>"
        "<command id='-2'/><marker id='-7'/><popup menu='nothing'/><popup menu='Menu1'/></bar>"
        "<bar key='Menu1'><popup menu='Menu1'/><popup menu='Custom4'/></bar>"
        "<bar key='Custom4' custom='1' title='c'><popup menu='Custom4'/></bar>"
        "<bar key='Stranger'><command id='1'/></bar><bar key='Menu0'><marker id='-2'/></bar>"
        "<bar key='Menu2'><marker id='-2'/></bar></CommandBars>"));
    EXPECT_EQ(Ids(again, "Standard"), (std::vector<int>{5, 1001}));
    EXPECT_EQ(Ids(again, "Menu1"), (std::vector<int>{1004}));
    EXPECT_EQ(Ids(again, "Custom4"), (std::vector<int>{}));
    EXPECT_EQ(again.Find("Stranger"), nullptr);
    EXPECT_EQ(Ids(again, "Menu0"), (std::vector<int>{kRecent}));
    EXPECT_EQ(Ids(again, "Menu2"), (std::vector<int>{})) << "a marker stands once";
    EXPECT_TRUE(again.Options().toolTips) << "options not stored keep their first value";
}

TEST(CommandBars, CommandsNewSinceStoringAndTheOlderForm) {
    std::string stored;
    {
        CCommandBars bars(FirstState());
        ASSERT_TRUE(bars.Remove("Menu2", 0));  // the user took 5 off
        ASSERT_TRUE(bars.Insert("Menu2", -1, {3, {}}));
        stored = bars.Save();
    }
    // A later version has command 8 after 5 and 11 first, a new menu Menu3 on the menu bar.
    std::vector<CommandBar> later = FirstState();
    later[4].entries = {{11, {}}, {5, {}}, {8, {}}, {6, {}}};
    later[0].entries.push_back({0, "Menu3"});
    later.push_back({"Menu3", "新(&N)", BarKind::Menu, false, {{12, {}}}});
    CCommandBars bars(later);
    ASSERT_TRUE(bars.Load(stored));
    EXPECT_EQ(Ids(bars, "Menu2"), (std::vector<int>{11, 8, 6, 3})) << "5 stays off; 8 follows 11, its nearest neighbour still there";
    EXPECT_EQ(Ids(bars, CCommandBars::kMenuBar), (std::vector<int>{1000, 1001, 1003}));

    // The older form: the toolbar's buttons switched off.
    CCommandBars older(FirstState());
    older.HideButtons({2, 3, 4});
    EXPECT_EQ(Ids(older, "Standard"), (std::vector<int>{1, 0}));
    EXPECT_EQ(Ids(older, "Menu0")[1], 2) << "menus keep them";
}
