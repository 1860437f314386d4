// The built data plug-in as the window uses it: found and loaded through the
// view factory, attached to the bus, its window made on first show; a 4 MiB
// mass-storage READ decoded by the class plug-in shows whole, and a field
// picked in the detail pane scrolls the pane to its bytes.
#include <gtest/gtest.h>

#include "QtTestApp.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include "CEventPublisher.h"
#include "CViewFactory.h"
#include "DecodedCapture.h"

using namespace orvane;

namespace {

[[maybe_unused]] ::testing::Environment* const kQt =
    ::testing::AddGlobalTestEnvironment(new orvane::velmora::test::QtTestApp);

constexpr uint32_t kReadBytes = 4 * 1024 * 1024;

IUsbView* CreateNembrin(app::CViewFactory& factory)
{
    for (int32_t i = 0; i < factory.GetCount(); ++i)
        if (factory.GetPath(i).ends_with("/nembrin.so")) return factory.CreateView(i);
    return nullptr;
}

QString Hex(const uint8_t* bytes, size_t n)
{
    QString text = "0x";
    for (size_t i = 0; i < n; ++i) text += QString::asprintf("%02X", bytes[i]);
    return text;
}

}  // namespace

TEST(NembrinPlugin, LoadsThroughTheViewFactory)
{
    app::CViewFactory factory(ORVANE_VIEW_DIR);
    IUsbView* view = CreateNembrin(factory);
    ASSERT_NE(view, nullptr) << "the plug-in is built into bin/view";
    IUsbView* second = CreateNembrin(factory);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(view, second) << "two independent views";
    second->Release();
    ViewInfo info;
    ASSERT_EQ(view->GetInfo(&info), 1);
    EXPECT_EQ(info.id, 4006u);
    EXPECT_EQ(info.title, "数据");
    EXPECT_EQ(QImage::fromData(info.icon.png, int(info.icon.pngSize), "PNG").size(), QSize(16, 16));
    view->Attach(nullptr);
    app::CEventPublisher bus;
    view->Attach(&bus);
    EXPECT_EQ(view->GetHwnd(), nullptr);
    bus.Publish(nullptr, EventCaptureCleared, 0, 0);  // before the window
    QWidget dock;
    auto* window = static_cast<QWidget*>(view->Create(&dock));
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(view->GetHwnd(), window);
    EXPECT_EQ(view->Create(&dock), window) << "made once";
    view->Release();
    EXPECT_TRUE(dock.findChildren<QAbstractScrollArea*>().isEmpty()) << "the window went with the view";
    bus.Publish(nullptr, EventCaptureCleared, 0, 0);  // reaches no released view
}

TEST(NembrinPlugin, AFourMegabyteReadShowsWhole)
{
    QSettings("Kavrin", "Orvane").setValue("Nembrin/Width", 16);
    emu::SessionBuilder::Options options;
    options.kind = emu::SessionBuilder::Kind::Disk;
    options.speed = SpeedHigh;
    options.operations = 4;
    options.largeReadBytes = kReadBytes;
    orvane::testing::DecodedCapture decoded(emu::SessionBuilder(options).Build(), ORVANE_CLASSES_DIR);
    UsbItem* read = nullptr;
    for (UsbItem* item : decoded.transfers.root.children)
        if (decoded.Manager().GetData(item, nullptr, 0) == int32_t(kReadBytes)) read = item;
    ASSERT_NE(read, nullptr) << "the READ(10) is one command at the transfer level";
    const std::vector<uint8_t> bytes = decoded.Data(read);

    app::CViewFactory factory(ORVANE_VIEW_DIR);
    IUsbView* view = CreateNembrin(factory);
    ASSERT_NE(view, nullptr);
    app::CEventPublisher bus;
    view->Attach(&bus);
    QWidget dock;
    dock.resize(900, 400);
    auto* pane = static_cast<QAbstractScrollArea*>(view->Create(&dock));
    ASSERT_NE(pane, nullptr);
    pane->setGeometry(0, 0, 900, 400);
    dock.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dock));

    // As the packet list publishes a selection at the transfer level.
    bus.Publish(nullptr, EventItemSelected, intptr_t(read), intptr_t(&decoded.Manager()));
    QScrollBar* rows = pane->verticalScrollBar();
    EXPECT_EQ(rows->maximum() + rows->pageStep(), int(kReadBytes / 16)) << "every row of the 4 MiB";

    // A field at the very end, as the detail pane publishes it, scrolls there.
    bus.Publish(nullptr, EventByteRangeSelected, intptr_t(8ull * (kReadBytes - 16)), 128);
    EXPECT_EQ(rows->value(), rows->maximum());

    // The last 16 bytes are found where they are: the data arrived whole.
    QMenu* menu = pane->findChild<QMenu*>();
    ASSERT_NE(menu, nullptr);
    QAction* find = nullptr;
    for (QAction* a : menu->actions())
        if (a->text().startsWith("查找")) find = a;
    ASSERT_NE(find, nullptr);
    find->trigger();
    auto* dialog = pane->findChild<QDialog*>();
    ASSERT_NE(dialog, nullptr);
    dialog->findChild<QLineEdit*>()->setText(Hex(bytes.data() + kReadBytes - 16, 16));
    QPushButton* button = nullptr;
    for (QPushButton* b : dialog->findChildren<QPushButton*>())
        if (b->text() == "查找所有") button = b;
    ASSERT_NE(button, nullptr);
    // A message box would mean nothing was found; close it rather than wait.
    QTimer guard;
    guard.setInterval(200);
    QObject::connect(&guard, &QTimer::timeout, [] {
        if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    });
    guard.start();
    button->click();
    EXPECT_EQ(button->text(), "下一个") << "a hit at the end of the data";
    EXPECT_EQ(rows->value(), rows->maximum());
    view->Release();
}
