// The built summary plug-in as the window uses it: found and loaded through
// the view factory, a parse published from a worker thread before and after
// its window exists, the bookmarks listed, and a double-click on one going
// to its packet.
#include <gtest/gtest.h>

#include "QtTestApp.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QTest>
#include <QTreeWidget>

#include <algorithm>
#include <thread>

#include "BusLog.h"
#include "CBookmarkMgr.h"
#include "CEventPublisher.h"
#include "CViewFactory.h"
#include "ParserHarness.h"
#include "SessionBuilder.h"

using namespace orvane;

namespace {

[[maybe_unused]] ::testing::Environment* const kQt =
    ::testing::AddGlobalTestEnvironment(new orvane::velmora::test::QtTestApp);

using view::test::GoToLog;

// A session parsed as the capture worker does it.
struct Parsed {
    explicit Parsed(emu::SessionBuilder::Options options) : source(emu::SessionBuilder(options).Build()) {
        parser.SetDataSource(&source);
        EXPECT_EQ(parser.Parse(&sink), 1);
    }
    // Packets of a PID category: bus events and PID 12 stand outside them.
    int64_t Packets(const UsbItem* item) const {
        int64_t n = 0;
        for (const UsbItem* child : item->children)
            n += (child->type >= 1 && child->type <= 15 && child->type != 12) + Packets(child);
        return n;
    }
    emu::CaptureSource source;
    CUsbParser parser;
    orvane::testing::CollectingSink sink;
};

std::string WithCommas(int64_t n)
{
    std::string digits = std::to_string(n), out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

QTreeWidgetItem* TopRow(QTreeWidget* tree, const QString& caption)
{
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        if (tree->topLevelItem(i)->text(0) == caption) return tree->topLevelItem(i);
    return nullptr;
}

void PublishParse(app::CEventPublisher& bus, Parsed& parsed, IBookmark* marks)
{
    // The capture worker's order after a parse.
    std::thread worker([&] {
        bus.Publish(nullptr, EventDataReady, intptr_t(&parsed.source), 0);
        bus.Publish(nullptr, EventParseFinished, intptr_t(&parsed.sink.root), intptr_t(&parsed.parser));
        bus.Publish(nullptr, EventMarksChanged, intptr_t(marks), 0);
    });
    worker.join();
}

}  // namespace

TEST(OmbrelPlugin, CountsAParseFromTheWorkerAndGoesToABookmark)
{
    app::CViewFactory factory(ORVANE_VIEW_DIR);
    int32_t index = -1;
    for (int32_t i = 0; i < factory.GetCount(); ++i)
        if (factory.GetPath(i).ends_with("/ombrel.so")) index = i;
    ASSERT_GE(index, 0) << "the plug-in is built into bin/view";
    IUsbView* view = factory.CreateView(index);
    ASSERT_NE(view, nullptr);
    ViewInfo info;
    ASSERT_EQ(view->GetInfo(&info), 1);
    EXPECT_EQ(info.id, 4005u);
    EXPECT_EQ(info.title, "统计");

    app::CEventPublisher bus;
    GoToLog log;
    bus.Subscribe(&log);
    view->Attach(&bus);

    emu::SessionBuilder::Options options;
    options.operations = 12;
    Parsed first(options);
    app::CBookmarkMgr marks;
    marks.Add({17, "", "x"});
    marks.Add({40, "start", "a (b)"});
    // Before the window exists: counted now, shown when it is made.
    PublishParse(bus, first, &marks);
    QCoreApplication::processEvents();

    QWidget dock;
    dock.resize(700, 500);
    auto* window = static_cast<QWidget*>(view->Create(&dock));
    ASSERT_NE(window, nullptr);
    window->setGeometry(0, 0, 700, 500);
    dock.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dock));
    auto* tree = window->findChild<QTreeWidget*>();
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(tree->headerItem()->text(0), "项目");
    window->resize(window->sizeHint().width(), 500);
    QCoreApplication::processEvents();
    EXPECT_EQ(tree->horizontalScrollBar()->maximum(), 0) << "it asks for every column whole";
    window->setGeometry(0, 0, 700, 500);
    QTreeWidgetItem* packets = TopRow(tree, "封包");
    ASSERT_NE(packets, nullptr);
    EXPECT_EQ(packets->text(1).toStdString(), WithCommas(first.Packets(&first.sink.root)));
    QTreeWidgetItem* transactions = TopRow(tree, "事物");
    ASSERT_NE(transactions, nullptr);
    ASSERT_GE(transactions->childCount(), 1);
    EXPECT_EQ(transactions->child(0)->text(0), "Address 0") << "enumeration on address 0 comes first";
    EXPECT_EQ(transactions->child(transactions->childCount() - 1)->text(0), "Address 5");
    QTreeWidgetItem* bookmarks = TopRow(tree, "标签");
    ASSERT_NE(bookmarks, nullptr);
    EXPECT_EQ(tree->indexOfTopLevelItem(bookmarks), tree->topLevelItemCount() - 1);
    ASSERT_EQ(bookmarks->childCount(), 2);
    EXPECT_EQ(bookmarks->child(0)->text(0), "Bookmark:x(17)");

    // A longer capture published after the window exists reaches it queued.
    options.operations = 40;
    Parsed second(options);
    app::CBookmarkMgr none;
    PublishParse(bus, second, &none);
    const std::string expected = WithCommas(second.Packets(&second.sink.root));
    ASSERT_TRUE(QTest::qWaitFor([&] {
        QTreeWidgetItem* row = TopRow(tree, "封包");
        return row && row->text(1).toStdString() == expected;
    }, 5000));
    EXPECT_EQ(TopRow(tree, "标签"), nullptr) << "no marks, no group";

    PublishParse(bus, second, &marks);
    ASSERT_TRUE(QTest::qWaitFor([&] { return TopRow(tree, "标签") != nullptr; }, 5000));
    TopRow(tree, "标签")->setExpanded(true);
    QTreeWidgetItem* mark = TopRow(tree, "标签")->child(1);
    tree->scrollToItem(mark);
    QCoreApplication::processEvents();
    ASSERT_FALSE(tree->visualItemRect(mark).isEmpty());
    const QPoint at = tree->visualItemRect(mark).center();
    QTest::mousePress(tree->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(tree->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, at);
    ASSERT_EQ(log.packets, std::vector<int32_t>{40}) << "the packet in the last parenthesis";
    QTreeWidgetItem* group = TopRow(tree, "标签");
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(group).center());
    EXPECT_EQ(log.packets.size(), 1u) << "the group row only opens or closes";

    // The worker's publication is handled after the user added a mark and the
    // list published it: the marks as they are now stay listed.
    PublishParse(bus, second, &marks);
    marks.Add({60, "late", ""});
    bus.Publish(nullptr, EventMarksChanged, intptr_t(static_cast<IBookmark*>(&marks)), 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(TopRow(tree, "标签")->childCount(), 3);

    // A header click sorts by the figures, not their text; the third click gives back the report's order.
    auto clickHeader = [&](int section) {
        QHeaderView* header = tree->header();
        const QPoint at(header->sectionViewportPosition(section) + 5, header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    };
    auto tokenCounts = [&] {
        std::vector<qlonglong> counts;
        QTreeWidgetItem* tokens = TopRow(tree, "封包")->child(0);
        for (int i = 0; i < tokens->childCount(); ++i) {
            const QString text = tokens->child(i)->text(1);
            counts.push_back(text == "--" ? -1 : QString(text).remove(',').toLongLong());
        }
        return counts;
    };
    for (int i = 0; i < 2; ++i) clickHeader(1);
    std::vector<qlonglong> descending = tokenCounts();
    EXPECT_TRUE(std::is_sorted(descending.rbegin(), descending.rend())) << "by count, high to low";
    clickHeader(1);
    EXPECT_EQ(TopRow(tree, "封包")->child(0)->child(0)->text(0), "IN") << "unsorted: IN, OUT, SOF ...";

    // A clear empties the figures, also of a window first made after it.
    IUsbView* later = factory.CreateView(index);
    later->Attach(&bus);
    PublishParse(bus, second, &none);
    bus.Publish(nullptr, EventCaptureCleared, 0, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(TopRow(tree, "封包")->text(1), "--");
    auto* laterWindow = static_cast<QWidget*>(later->Create(&dock));
    QTreeWidgetItem* laterPackets = TopRow(laterWindow->findChild<QTreeWidget*>(), "封包");
    ASSERT_NE(laterPackets, nullptr);
    EXPECT_EQ(laterPackets->text(1), "--");
    later->Release();

    view->Release();
    bus.Publish(nullptr, EventCaptureCleared, 0, 0);  // reaches no released view
}

namespace {

// The summary's window as the host makes it, with the rows changes it tells its view.
struct Summary {
    Summary() {
        for (int32_t i = 0; i < factory.GetCount(); ++i)
            if (factory.GetPath(i).ends_with("/ombrel.so")) index = i;
        view = factory.CreateView(index);
        view->Attach(&bus);
        window = static_cast<QWidget*>(view->Create(&dock));
        tree = window->findChild<QTreeWidget*>();
        QAbstractItemModel* model = tree->model();
        QObject::connect(model, &QAbstractItemModel::rowsInserted, [this](const QModelIndex&, int first, int last) {
            inserted += last - first + 1;
        });
        QObject::connect(model, &QAbstractItemModel::rowsRemoved, [this](const QModelIndex&, int first, int last) {
            removed += last - first + 1;
        });
        QObject::connect(model, &QAbstractItemModel::modelReset, [this] { ++resets; });
    }
    ~Summary() { view->Release(); }
    void Publish(IBookmark* marks) {
        inserted = removed = resets = 0;
        bus.Publish(nullptr, EventMarksChanged, intptr_t(marks), 0);
    }
    QTreeWidgetItem* Marks() const { return TopRow(tree, "标签"); }
    // Every row in the order shown, with its texts and whether it is open.
    std::vector<QString> Shown() const {
        std::vector<QString> out;
        for (QTreeWidgetItemIterator it(tree); *it; ++it)
            out.push_back((*it)->text(0) + "|" + (*it)->text(1) + "|" + (*it)->text(2) +
                          ((*it)->isExpanded() ? "+" : ""));
        return out;
    }
    app::CViewFactory factory{ORVANE_VIEW_DIR};
    int32_t index = -1;
    app::CEventPublisher bus;
    QWidget dock;
    IUsbView* view = nullptr;
    QWidget* window = nullptr;
    QTreeWidget* tree = nullptr;
    int inserted = 0, removed = 0, resets = 0;
};

}  // namespace

TEST(OmbrelPlugin, AMarkChangeAmongManyRedoesOneRow)
{
    // The same one row whether 1,000 or 100,000 marks are listed, the report sorted by count.
    for (int32_t count : {1000, 100000}) {
        Summary summary;
        summary.tree->header()->setSortIndicator(1, Qt::DescendingOrder);
        app::CBookmarkMgr marks;
        for (int32_t i = 0; i < count; ++i) marks.Add({2 * i, "", ""});
        summary.Publish(&marks);
        ASSERT_NE(summary.Marks(), nullptr);
        summary.Marks()->setExpanded(true);
        QTreeWidgetItem* packets = TopRow(summary.tree, "封包");
        QTreeWidgetItem* last = summary.Marks()->child(count - 1);

        marks.Add({count + 1, "", "new"});
        summary.Publish(&marks);
        EXPECT_EQ(summary.resets, 0) << count;
        EXPECT_EQ(summary.removed, 0) << count;
        EXPECT_EQ(summary.inserted, 1) << count;
        EXPECT_EQ(summary.Marks()->text(1).toInt(), count + 1);
        EXPECT_EQ(summary.Marks()->child(count / 2 + 1)->text(0), QString("Bookmark:new(%1)").arg(count + 1));
        EXPECT_EQ(summary.Marks()->child(count), last) << "the other rows stay as they were";
        EXPECT_EQ(TopRow(summary.tree, "封包"), packets);
        EXPECT_TRUE(summary.Marks()->isExpanded());

        marks.Modify(0, {0, "first", ""});
        summary.Publish(&marks);
        EXPECT_EQ(summary.inserted + summary.removed + summary.resets, 0) << "an edit rewrites its row in place";
        EXPECT_EQ(summary.Marks()->child(0)->text(0), "first:(0)");
    }
}

TEST(OmbrelPlugin, AMarkChangeShowsWhatTheReportMadeAnewWould)
{
    // Whatever the sort, the rows after adds, edits and removals are those a
    // fresh window shows, with what was open still open and an edited row still selected.
    const std::vector<std::pair<int, Qt::SortOrder>> sorts = {
        {-1, Qt::AscendingOrder}, {0, Qt::AscendingOrder}, {0, Qt::DescendingOrder}, {1, Qt::DescendingOrder},
        {2, Qt::AscendingOrder}};
    for (const auto& [column, order] : sorts) {
        emu::SessionBuilder::Options options;
        options.operations = 12;
        Parsed parsed(options);
        app::CBookmarkMgr marks;
        for (int32_t packet : {5, 40, 300, 7, 12}) marks.Add({packet, "", "m"});
        Summary summary;
        summary.tree->header()->setSortIndicator(column, order);
        PublishParse(summary.bus, parsed, &marks);
        QCoreApplication::processEvents();
        summary.Marks()->setExpanded(true);
        TopRow(summary.tree, "事物")->child(0)->setExpanded(true);
        TopRow(summary.tree, "错误")->setExpanded(false);

        // An add among them, one beside an equal mark, an edit of the selected one, a removal,
        // and enough marks to pass the errors' and transactions' counts, a few and then many.
        marks.Add({30, "", "x"});
        summary.Publish(&marks);
        marks.Add({40, "", "m"});
        summary.Publish(&marks);
        Mark edited;
        marks.GetAt(0, &edited);
        QTreeWidgetItem* selected = nullptr;
        for (int i = 0; i < summary.Marks()->childCount(); ++i)
            if (summary.Marks()->child(i)->text(0) == "Bookmark:m(5)") selected = summary.Marks()->child(i);
        ASSERT_NE(selected, nullptr);
        summary.tree->setCurrentItem(selected);
        marks.Modify(0, {5, "zz", "m"});
        summary.Publish(&marks);
        ASSERT_EQ(summary.tree->selectedItems().size(), 1) << column;
        EXPECT_EQ(summary.tree->selectedItems()[0]->text(0), "zz:m(5)") << column;
        marks.Remove(2);
        summary.Publish(&marks);
        for (int32_t i = 0; i < 40; ++i) marks.Add({1000 + i, "", ""});
        summary.Publish(&marks);
        // More than are redone one by one: the group's rows are made anew.
        for (int32_t i = 0; i < 300; ++i) marks.Add({2000 - i, "", std::to_string(i % 7)});
        summary.Publish(&marks);
        EXPECT_TRUE(summary.Marks()->isExpanded());
        const std::vector<QString> shown = summary.Shown();

        Summary fresh;
        fresh.tree->header()->setSortIndicator(column, order);
        PublishParse(fresh.bus, parsed, &marks);
        QCoreApplication::processEvents();
        fresh.Marks()->setExpanded(true);
        TopRow(fresh.tree, "事物")->child(0)->setExpanded(true);
        TopRow(fresh.tree, "错误")->setExpanded(false);
        EXPECT_EQ(shown, fresh.Shown()) << "sorted by column " << column;
    }
}
