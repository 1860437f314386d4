#include "CNembrinView.h"

#include <QCoreApplication>
#include <QPainter>
#include <QThread>

#include "CDataPane.h"
#include "NembrinSettings.h"
#include "NembrinText.h"

namespace orvane::nembrin {

namespace {

QImage ViewIcon()
{
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setPen(QColor(40, 40, 40));
    p.drawRect(1, 1, 13, 13);
    p.fillRect(3, 4, 4, 2, QColor(48, 224, 48));
    for (int y : {4, 7, 10}) p.drawLine(8, y, 12, y);
    p.fillRect(3, 7, 4, 2, QColor(0, 0, 160));
    p.fillRect(3, 10, 4, 2, QColor(0, 0, 160));
    return image;
}

}  // namespace

CNembrinView::CNembrinView() : CUsbViewFrame(kViewId, text::kViewTitle, ViewIcon())
{
    ctrl_.Settings() = ReadDisplaySettings();
    ctrl_.SetHost(this);
}

CNembrinView::~CNembrinView()
{
    DestroyWindow();
    // The bus outlives its views: it must not call a released one.
    if (IEventPublisher* bus = ctrl_.Publisher()) bus->Unsubscribe(&ctrl_);
    ctrl_.SetHost(nullptr);
}

void CNembrinView::Attach(IEventPublisher* publisher)
{
    ctrl_.KeepPublisher(publisher);
    CUsbViewFrame::Attach(publisher);
}

CDataPane* CNembrinView::Pane() const { return static_cast<CDataPane*>(Window()); }

QWidget* CNembrinView::CreateWindow(QWidget* parent) { return new CDataPane(ctrl_, parent); }

int32_t CNembrinView::ClientWidth() const { return Pane() ? Pane()->viewport()->width() : 0; }
int32_t CNembrinView::ClientHeight() const { return Pane() ? Pane()->viewport()->height() : 0; }

void CNembrinView::SetScrollBar(bool vertical, int64_t maximum, int64_t page)
{
    if (CDataPane* pane = Pane()) pane->SetScrollRange(vertical, maximum, page);
}

void CNembrinView::SetScrollPos(bool vertical, int64_t position)
{
    if (CDataPane* pane = Pane()) pane->SetScrollValue(vertical, position);
}

void CNembrinView::Repaint()
{
    if (CDataPane* pane = Pane()) pane->viewport()->update();
}

void CNembrinView::StopDragTimer()
{
    if (CDataPane* pane = Pane()) pane->StopDragTimer();
}

void CNembrinView::ShowCaret(int32_t x, int32_t y)
{
    if (CDataPane* pane = Pane()) pane->SetCaret(true, x, y);
}

void CNembrinView::HideCaret()
{
    if (CDataPane* pane = Pane()) pane->SetCaret(false, 0, 0);
}

void CNembrinView::SettingChanged(SettingIndex index, int32_t value)
{
    WriteDisplaySetting(index, value);
    if (CDataPane* pane = Pane()) pane->CheckSetting(index, value);
}

void CNembrinView::FindNotFound()
{
    if (CDataPane* pane = Pane()) pane->FindNotFound();
}

void CNembrinView::FindAtEnd()
{
    if (CDataPane* pane = Pane()) pane->FindAtEnd();
}

bool CNembrinView::OnGuiThread() const
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

}  // namespace orvane::nembrin
