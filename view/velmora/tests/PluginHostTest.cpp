// The built plug-in as the window uses it: found and loaded through the view
// factory, attached to the event bus, its window created on first show, a
// capture from the bus-traffic builder arriving from a worker thread, and a
// double-click reaching the bus.
#include <gtest/gtest.h>

#include "QtTestApp.h"

#include <QApplication>
#include <QImage>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <thread>
#include <vector>

#include "BusLog.h"
#include "CEventPublisher.h"
#include "CViewFactory.h"
#include "CaptureSource.h"
#include "SessionBuilder.h"

using namespace orvane;

namespace {

[[maybe_unused]] ::testing::Environment* const kQt =
    ::testing::AddGlobalTestEnvironment(new orvane::velmora::test::QtTestApp);

using view::test::GoToLog;

QWidget* ChildOfClass(QWidget* root, const char* className)
{
    for (QWidget* w : root->findChildren<QWidget*>())
        if (QByteArray(w->metaObject()->className()) == className) return w;
    return nullptr;
}

bool HasColour(const QImage& image, int y)
{
    for (int x = 0; x < image.width(); ++x) {
        QColor c = image.pixelColor(x, y);
        if (c != Qt::white && c.red() != 255) return true;  // neither background nor centre line
    }
    return false;
}

}  // namespace

TEST(VelmoraPlugin, LoadsThroughTheViewFactoryAndDrawsACapture)
{
    {
        QSettings settings("Kavrin", "Orvane");
        settings.setValue("Velmora/ChildViewType", 1);
    }
    app::CViewFactory factory(ORVANE_VIEW_DIR);
    int32_t index = -1;
    for (int32_t i = 0; i < factory.GetCount(); ++i)
        if (factory.GetPath(i).ends_with("/velmora.so")) index = i;
    ASSERT_GE(index, 0) << "the plug-in is built into bin/view";

    IUsbView* view = factory.CreateView(index);
    ASSERT_NE(view, nullptr);
    IUsbView* second = factory.CreateView(index);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(view, second) << "two independent views";
    second->Release();

    ViewInfo info;
    ASSERT_EQ(view->GetInfo(&info), 1);
    EXPECT_EQ(info.id, 4004u);
    EXPECT_EQ(info.title, "包视图");
    QImage icon = QImage::fromData(info.icon.png, int(info.icon.pngSize), "PNG");
    EXPECT_EQ(icon.size(), QSize(16, 16));

    app::CEventPublisher bus;
    GoToLog log;
    bus.Subscribe(&log);
    view->Attach(&bus);
    EXPECT_EQ(view->GetHwnd(), nullptr);
    QWidget dock;
    dock.resize(900, 320);
    auto* window = static_cast<QWidget*>(view->Create(&dock));
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(view->GetHwnd(), window);
    EXPECT_EQ(view->Create(&dock), window) << "made once";
    window->setGeometry(0, 0, 900, 320);
    dock.show();

    emu::SessionBuilder::Options options;
    options.operations = 6;
    emu::CaptureSource source(emu::SessionBuilder(options).Build());
    bus.Publish(nullptr, EventCaptureCleared, 0, 0);
    std::thread worker([&] { bus.Publish(nullptr, EventDataReady, intptr_t(&source), 0); });
    worker.join();

    QWidget* chart = ChildOfClass(window, "orvane::velmora::CTrafficCtrl");
    ASSERT_NE(chart, nullptr);
    QRect plot(41, 25, chart->width() - 68, chart->height() - 75);
    int bandY = plot.top() + plot.height() / 2;
    ASSERT_TRUE(QTest::qWaitFor([&] { return HasColour(chart->grab().toImage().copy(plot), bandY - plot.top()); },
                                20000))
        << "the packets are drawn once the capture is swapped in";

    QTest::mouseDClick(chart, Qt::LeftButton, {}, plot.center());
    ASSERT_EQ(log.packets.size(), 1u);
    EXPECT_GE(log.packets[0], 0);
    EXPECT_LT(size_t(log.packets[0]), source.Capture().records.size());

    view->Release();
    EXPECT_TRUE(dock.findChildren<QWidget*>().isEmpty()) << "the window went with the view";
    bus.Publish(nullptr, EventCaptureCleared, 0, 0);  // reaches no released view
    EXPECT_EQ(log.packets.size(), 1u);
}
