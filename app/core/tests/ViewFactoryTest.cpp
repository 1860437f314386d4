// The view factory over the fixture view plug-ins, and the host's side of the
// view contract: info, window, subscription and events both ways.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "AppDirectory.h"
#include "CBookmarkMgr.h"
#include "CEventPublisher.h"
#include "CViewFactory.h"
#include "FixtureViewLog.h"
#include "TestFiles.h"

using orvane::IUsbView;
using orvane::ViewInfo;
using orvane::app::CEventPublisher;
using orvane::app::CViewFactory;
using orvane::fixture::FixtureViewLog;
namespace fs = std::filesystem;

namespace {

// The fixture plug-ins are built into "view" beside this program.
const std::string kFixtures = orvane::GetAppDirectory() + "/view";
enum Fixture { Chart, Summary, NoView, kListed };

std::string FileName(const CViewFactory& factory, int index) { return fs::path(factory.GetPath(index)).filename(); }

// The test hooks of the fixture library a view came from; it is loaded already.
struct Hooks {
    void* module;
    orvane::fixture::FixtureViewLogFn log;
    orvane::fixture::FixtureViewDoubleClickFn doubleClick;
    orvane::fixture::FixtureViewAliveFn alive;

    explicit Hooks(const std::string& path) : module(::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD))
    {
        log = reinterpret_cast<decltype(log)>(module ? ::dlsym(module, orvane::fixture::kFixtureViewLogExport) : nullptr);
        doubleClick = reinterpret_cast<decltype(doubleClick)>(
            module ? ::dlsym(module, orvane::fixture::kFixtureViewDoubleClickExport) : nullptr);
        alive = reinterpret_cast<decltype(alive)>(
            module ? ::dlsym(module, orvane::fixture::kFixtureViewAliveExport) : nullptr);
    }
    ~Hooks()
    {
        if (module) ::dlclose(module);
    }
    bool Ready() const { return log && doubleClick && alive; }
};

using ScratchFolder = orvane::testing::TempDir;

TEST(ViewFactory, ListsLibrariesWithTheExportInNameOrder)
{
    CViewFactory factory;  // the default folder is the fixture folder
    ASSERT_EQ(factory.GetCount(), kListed);
    EXPECT_EQ(FileName(factory, Chart), "a_chart.so");
    EXPECT_EQ(FileName(factory, Summary), "b_summary.so");
    EXPECT_EQ(FileName(factory, NoView), "c_noview.so");
    for (int i = 0; i < kListed; ++i) EXPECT_FALSE(factory.IsLoaded(i)) << "the scan unloads every library";

    // readme.txt and the folder folder.so are not looked at; the rest say why they were skipped.
    const std::vector<std::pair<std::string, std::string>> report = {
        {"a_chart.so", ""},          {"b_summary.so", ""},
        {"broken.so", "broken.so"},  {"c_noview.so", ""},
        {"noexport.so", "CreateUsbView"}, {"unresolved.so", "MissingFromEveryViewLibrary"}};
    ASSERT_EQ(factory.GetScanReport().size(), report.size());
    for (size_t i = 0; i < report.size(); ++i) {
        const auto& record = factory.GetScanReport()[i];
        EXPECT_EQ(fs::path(record.path).filename(), report[i].first);
        if (report[i].second.empty())
            EXPECT_EQ(record.error, "");
        else
            EXPECT_NE(record.error.find(report[i].second), std::string::npos) << record.error;
    }

    for (int index : {-1, int(kListed), 1000}) {
        EXPECT_EQ(factory.CreateView(index), nullptr);
        EXPECT_EQ(factory.GetPath(index), "");
    }
    EXPECT_EQ(factory.CreateView(NoView), nullptr) << "a plug-in that makes no view";
    EXPECT_TRUE(factory.IsLoaded(NoView));
}

TEST(ViewFactory, EmptyOrMissingFolderAndOrderByName)
{
    ScratchFolder folder;
    EXPECT_EQ(CViewFactory(folder.path.string()).GetCount(), 0);
    EXPECT_EQ(CViewFactory((folder.path / "missing").string()).GetCount(), 0);

    // Copied in the reverse of name order.
    fs::copy_file(kFixtures + "/b_summary.so", folder.path / "m.so");
    fs::copy_file(kFixtures + "/a_chart.so", folder.path / "z.so");
    fs::copy_file(kFixtures + "/noexport.so", folder.path / "a.so");
    CViewFactory factory(folder.path.string());
    ASSERT_EQ(factory.GetCount(), 2);
    IUsbView* view = factory.CreateView(0);
    ASSERT_NE(view, nullptr);
    ViewInfo info;
    EXPECT_EQ(view->GetInfo(&info), 1);
    EXPECT_EQ(info.id, 4005u);
    view->Release();
}

TEST(ViewFactory, OneLoadServesEveryViewAndOutlivesTheFactory)
{
    auto factory = std::make_unique<CViewFactory>();
    IUsbView* first = factory->CreateView(Chart);
    IUsbView* second = factory->CreateView(Chart);
    ASSERT_TRUE(first && second);
    EXPECT_NE(first, second);
    EXPECT_TRUE(factory->IsLoaded(Chart));
    EXPECT_FALSE(factory->IsLoaded(Summary));

    const std::string path = factory->GetPath(Chart);
    {
        Hooks hooks(path);
        ASSERT_TRUE(hooks.Ready());
        EXPECT_EQ(hooks.alive(), 2) << "both views come from the one loaded library";
    }

    // A view released after the factory is gone still has its code.
    factory.reset();
    ViewInfo info;
    EXPECT_EQ(second->GetInfo(&info), 1);
    EXPECT_EQ(info.title, "包视图");
    first->Release();
    second->Release();
    Hooks hooks(path);
    ASSERT_TRUE(hooks.Ready()) << "still loaded";
    EXPECT_EQ(hooks.alive(), 0);
}

TEST(ViewFactory, HostDrivesViewsAsTheFrameDoes)
{
    CViewFactory factory;
    CEventPublisher bus;
    IUsbView* chart = factory.CreateView(Chart);
    IUsbView* summary = factory.CreateView(Summary);
    ASSERT_TRUE(chart && summary);
    Hooks chartHooks(factory.GetPath(Chart)), summaryHooks(factory.GetPath(Summary));
    ASSERT_TRUE(chartHooks.Ready() && summaryHooks.Ready());

    // Window: none before Create, the same one after.
    int frame = 0;
    EXPECT_EQ(chart->GetHwnd(), nullptr);
    orvane::WindowHandle window = chart->Create(&frame);
    EXPECT_NE(window, nullptr);
    EXPECT_EQ(chart->GetHwnd(), window);

    // Attach with null subscribes nothing; a later one subscribes once.
    chart->Attach(nullptr);
    EXPECT_EQ(bus.GetCount(), 0);
    chart->Attach(&bus);
    summary->Attach(&bus);
    EXPECT_EQ(bus.GetCount(), 2);
    EXPECT_EQ(chart->Reserved(), 0);

    // Events arrive before Create too; a chart double-click reaches everyone, itself included.
    orvane::app::CBookmarkMgr marks;
    marks.Add({30, "b", "late"});
    marks.Add({10, "a", "early"});
    bus.Publish(nullptr, orvane::EventMarksChanged, reinterpret_cast<intptr_t>(static_cast<orvane::IBookmark*>(&marks)), 0);
    chartHooks.doubleClick(chart, 77);

    const FixtureViewLog* chartLog = chartHooks.log(chart);
    const FixtureViewLog* summaryLog = summaryHooks.log(summary);
    EXPECT_EQ(summaryLog->marks, (std::vector<std::string>{"10 a early", "30 b late"}));
    ASSERT_EQ(summaryLog->events.size(), 2u);
    const auto& go = summaryLog->events[1];
    EXPECT_EQ(go.sender, chartLog->handler);
    EXPECT_EQ(go.type, orvane::EventGoToPacket);
    EXPECT_EQ(go.param1, 77);
    EXPECT_EQ(go.param2, 0);
    ASSERT_EQ(chartLog->events.size(), 2u);
    EXPECT_EQ(chartLog->events[1].sender, chartLog->handler);

    // The frame releases its views before the factory goes.
    bus.Unsubscribe(chartLog->handler);
    bus.Unsubscribe(summaryLog->handler);
    chart->Release();
    summary->Release();
}

}  // namespace
