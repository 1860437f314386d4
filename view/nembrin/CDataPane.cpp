#include "CDataPane.h"

#include <QActionGroup>
#include <QClipboard>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QShortcut>
#include <QStyle>

#include "CMyFindDialog.h"
#include "ItemSummary.h"
#include "NembrinSettings.h"
#include "NembrinText.h"

namespace orvane::nembrin {

namespace {

const QColor kFieldColour(48, 224, 48);
const QColor kHitColour(255, 255, 0);
const QColor kBandColour(0xDD, 0xDD, 0xDD);
const QColor kGreyLine(0xC8, 0xC8, 0xC8);

struct SubMenu {
    SettingIndex setting;
    const char* title;
    std::vector<std::pair<int32_t, const char*>> items;  // id 0: a separator
};

const SubMenu kSubMenus[] = {
    {SetAddressType, "编址方式", {{32806, "十进制"}, {32807, "十六进制"}}},
    {SetWidth, "每行宽度", {{32808, "自动调节"}, {0, nullptr}, {32809, "4 字节"}, {32810, "8 字节"},
                            {32811, "16 字节"}, {32812, "32 字节"}}},
    {SetGroupType, "分组方式", {{32813, "8 位"}, {32814, "16 位"}, {32815, "32 位"}, {32816, "64 位"}}},
    {SetLeftArea, "左侧数据显示", {{32817, "字符"}, {32819, "二进制"}, {32820, "十六进制"}}},
    {SetRightArea, "右侧数据显示", {{32821, "字符"}, {32822, "二进制"}, {32823, "十六进制"}}},
};

}  // namespace

QFont CDataPane::DataFont()
{
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPixelSize(13);
    return font;
}

QSize CDataPane::CellSize()
{
    static const QSize size = [] {
        QFontMetrics metrics(DataFont());
        return QSize(std::max(metrics.horizontalAdvance(QLatin1Char('E')), 1), std::max(metrics.height(), 1));
    }();
    return size;
}

CDataPane::CDataPane(CShowDataCtrl& ctrl, QWidget* parent) : QAbstractScrollArea(parent), ctrl_(ctrl), menu_(this)
{
    setObjectName(QStringLiteral("NembrinDataPane"));
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setAutoFillBackground(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    const QSize cell = CellSize();
    ctrl_.SetCellSize(cell.width(), cell.height());
    BuildMenu();
    BuildShortcuts();
    drag_.setInterval(200);
    connect(&drag_, &QTimer::timeout, this, &CDataPane::OnDragTick);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (!syncing_ && value != ctrl_.FirstRow()) ctrl_.ScrollVert(ScrollThumbPosition, value);
    });
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (!syncing_ && value != ctrl_.FirstColumn()) ctrl_.ScrollHorz(ScrollThumbPosition, value);
    });
}

CDataPane::~CDataPane() { delete find_.data(); }

void CDataPane::BuildMenu()
{
    menu_.setTitle(QString::fromUtf8(text::kMainMenu));
    for (const SubMenu& sub : kSubMenus) {
        QMenu* menu = menu_.addMenu(QString::fromUtf8(sub.title));
        subMenus_[sub.setting] = menu;
        auto* group = new QActionGroup(menu);
        // A stored value no item offers leaves the sub-menu unchecked.
        group->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
        for (const auto& [id, title] : sub.items) {
            if (!id) {
                menu->addSeparator();
                continue;
            }
            QAction* action = menu->addAction(QString::fromUtf8(title));
            action->setCheckable(true);
            action->setData(id);
            group->addAction(action);
            actions_[id] = action;
            connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
        }
        CheckSetting(sub.setting, ctrl_.Settings().Get(sub.setting));
    }
    menu_.addSeparator();
    QAction* copy = menu_.addAction(QString::fromUtf8(text::kCopy));
    actions_[kCopyCommand] = copy;
    connect(copy, &QAction::triggered, this, [this] { OnCommand(kCopyCommand); });
    QAction* find = menu_.addAction(QString::fromUtf8(text::kFind));
    actions_[kFindCommand] = find;
    connect(find, &QAction::triggered, this, [this] { OnCommand(kFindCommand); });
}

void CDataPane::BuildShortcuts()
{
    // Only while the pane has the focus.
    auto bind = [this](QKeyCombination keys, void (CDataPane::*fn)()) {
        auto* shortcut = new QShortcut(QKeySequence(keys), this);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, fn);
    };
    bind(Qt::CTRL | Qt::Key_C, &CDataPane::Copy);
    bind(QKeyCombination(Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_3), &CDataPane::Copy);
    bind(Qt::CTRL | Qt::Key_F, &CDataPane::OpenFind);
    bind(QKeyCombination(Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_6), &CDataPane::OpenFind);
    bind(Qt::CTRL | Qt::Key_F5, &CDataPane::ResetAll);
}

QAction* CDataPane::CommandAction(int32_t id) const
{
    auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

void CDataPane::CheckSetting(SettingIndex index, int32_t value)
{
    auto it = subMenus_.find(index);
    if (it == subMenus_.end()) return;
    QAction* chosen = nullptr;
    for (QAction* action : it->second->actions())
        if (action->isCheckable() && action->data().toInt() != 0 && FindDisplayCommand(action->data().toInt()) &&
            FindDisplayCommand(action->data().toInt())->value == value)
            chosen = action;
    if (!chosen) {
        for (QAction* action : it->second->actions()) action->setChecked(false);
        return;
    }
    chosen->setChecked(true);
}

void CDataPane::OnCommand(int32_t id)
{
    if (id == kCopyCommand) return Copy();
    if (id == kFindCommand) return OpenFind();
    const DisplayCommand* command = FindDisplayCommand(id);
    if (!command) return;
    DisplaySettings& settings = ctrl_.Settings();
    for (const auto& [index, value] : CommandChanges(settings, id)) {
        settings.Set(index, value);
        WriteDisplaySetting(index, value);
        CheckSetting(index, value);
    }
    ctrl_.InvalidateLayout();
    if (command->setting == SetWidth || command->setting == SetLeftArea || command->setting == SetRightArea)
        ctrl_.FitWidth();
    ctrl_.UpdateScrollRanges();
    viewport()->update();
}

void CDataPane::Copy()
{
    const std::string selected = ctrl_.GetSelectionText();
    if (selected.empty()) return;
    if (QClipboard* clipboard = QGuiApplication::clipboard()) clipboard->setText(QString::fromLatin1(selected));
}

void CDataPane::OpenFind()
{
    ctrl_.ResetView(ResetHits);
    viewport()->repaint();
    if (!find_) find_ = new CMyFindDialog(this);
    find_->ShowForFind();
}

void CDataPane::ResetAll()
{
    ctrl_.ResetView(nembrin::ResetAll);
    ctrl_.UpdateScrollRanges();
    viewport()->update();
}

void CDataPane::FindClear()
{
    ctrl_.ClearHits();
    viewport()->update();
}

void CDataPane::FindNotFound()
{
    if (find_) find_->OnNotFound();
}

void CDataPane::FindAtEnd()
{
    if (find_) find_->OnAtEnd();
}

void CDataPane::SetScrollRange(bool vertical, int64_t maximum, int64_t page)
{
    QScrollBar* bar = vertical ? verticalScrollBar() : horizontalScrollBar();
    syncing_ = true;
    const int64_t top = page >= maximum ? 0 : maximum - page + 1;
    bar->setRange(0, int(std::clamp<int64_t>(top, 0, INT32_MAX)));
    bar->setPageStep(int(std::clamp<int64_t>(page, 0, INT32_MAX)));
    syncing_ = false;
}

void CDataPane::SetScrollValue(bool vertical, int64_t position)
{
    QScrollBar* bar = vertical ? verticalScrollBar() : horizontalScrollBar();
    syncing_ = true;
    bar->setValue(int(std::clamp<int64_t>(position, 0, INT32_MAX)));
    syncing_ = false;
}

void CDataPane::SetCaret(bool shown, int32_t x, int32_t y)
{
    if (caretShown_ == shown && (!shown || caret_ == QPoint(x, y))) return;
    caretShown_ = shown;
    if (shown) caret_ = QPoint(x, y);
    viewport()->update();
}

QSize CDataPane::sizeHint() const
{
    // The address column and both areas whole at eight bytes a row (four when
    // an area shows bits, a byte there being four times as wide) or at the
    // width chosen, beside the vertical bar.
    const DisplaySettings& s = ctrl_.Settings();
    const int32_t w = CellSize().width();
    const bool bits = s.leftArea == AreaBinary || s.rightArea == AreaBinary;
    const int32_t bytes = s.width != kAutoWidth ? s.bytesPerRow : bits ? 4 : 8;
    int32_t areas = (AreaCells(s.leftArea, bytes, s.groupType) + AreaCells(s.rightArea, bytes, s.groupType)) * w;
    if (s.width == kAutoWidth) areas = std::max(areas, FittedWidth(bytes, s.leftArea, s.rightArea));
    const int32_t width = AddressCells(s.addressType, ctrl_.Length()) * w + areas + 2 * frameWidth() +
                          style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    return {width, QAbstractScrollArea::sizeHint().height()};
}

void CDataPane::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    ctrl_.FitWidth();
    ctrl_.InvalidateLayout();
    ctrl_.UpdateScrollRanges();
}

void CDataPane::paintEvent(QPaintEvent*)
{
    QPainter p(viewport());
    const QRect client = viewport()->rect();
    p.fillRect(client, Qt::white);
    p.setFont(DataFont());
    ctrl_.UpdateScrollRanges();
    const CShowDataCtrl::Geometry g = ctrl_.Layout();
    if (ctrl_.Length()) {
        DrawArea(p, g, ctrl_.Settings().leftArea, g.leftX + g.w, g.rightX - 1);
        DrawArea(p, g, ctrl_.Settings().rightArea, g.rightX + g.w, client.width());
    }
    if (ctrl_.PayloadLost()) {
        // The row below the data, from the left area across the pane.
        const int64_t y = int64_t(g.h) * (g.rows - ctrl_.FirstRow() + 1) + 1;
        if (y >= g.h && y + g.h <= client.height()) {
            p.setPen(Qt::darkRed);
            p.drawText(QRect(int(std::max<int64_t>(g.leftX + g.w, g.addressWidth)), int(y), client.width(), g.h),
                       Qt::AlignLeft | Qt::AlignVCenter, QString::fromUtf8(ctrl_.LostText()));
        }
    }
    DrawHeader(p, g);
    DrawAddresses(p, g);
    if (caretShown_) p.fillRect(caret_.x(), caret_.y(), CShowDataCtrl::kCaretWidth, CShowDataCtrl::kCaretHeight, Qt::black);
}

void CDataPane::DrawArea(QPainter& p, const CShowDataCtrl::Geometry& g, int32_t area, int64_t x0, int64_t x1)
{
    if (x1 <= 0 || x1 <= x0 - g.w) return;
    const int32_t height = viewport()->height();
    const uint8_t* data = ctrl_.Data();
    const uint64_t length = ctrl_.Length();
    const Highlights lit = ctrl_.Lit();
    const QColor text = palette().color(QPalette::WindowText);
    p.save();
    p.setClipRect(QRect(QPoint(int(std::max<int64_t>(x0, 0)), 0), QPoint(int(std::min<int64_t>(x1, INT32_MAX)), height)));
    for (int64_t k = 0;; ++k) {
        const int64_t row = ctrl_.FirstRow() + k;
        const uint64_t start = uint64_t(row) * uint64_t(g.bytesPerRow);
        const int64_t y = int64_t(g.h) * (k + 1) + 1;
        if (start >= length || y + g.h > height) break;
        const int64_t count = int64_t(std::min<uint64_t>(uint64_t(g.bytesPerRow), length - start));
        const QRect line(int(x0), int(y), int(std::min<int64_t>(x1 - x0, INT32_MAX)), g.h);
        if (!lit.AnyIn(int64_t(8 * start), int64_t(8 * (start + uint64_t(count))))) {
            p.setPen(text);
            p.drawText(line, Qt::AlignLeft | Qt::AlignVCenter,
                       QString::fromLatin1(RowText(area, data + start, count, g.group)));
            continue;
        }
        const std::vector<RowCell> cells =
            RowCells(area, data + start, count, g.group, int64_t(start), lit, ctrl_.RecencyOf());
        int64_t x = x0;
        for (const RowCell& cell : cells) {
            if (x >= viewport()->width()) break;
            const QRect box(int(x), int(y), g.w, g.h);
            QColor fore = text;
            if (cell.kind == KindField) p.fillRect(box, kFieldColour);
            if (cell.kind == KindHit) p.fillRect(box, kHitColour);
            if (cell.kind == KindSelection) {
                p.fillRect(box, palette().color(QPalette::Highlight));
                fore = palette().color(QPalette::HighlightedText);
            }
            p.setPen(fore);
            p.drawText(box, Qt::AlignCenter, QString(QLatin1Char(cell.ch)));
            x += g.w;
        }
    }
    p.restore();
}

void CDataPane::DrawHeader(QPainter& p, const CShowDataCtrl::Geometry& g)
{
    const int32_t width = viewport()->width(), height = viewport()->height();
    p.fillRect(0, 0, width, g.h, kBandColour);
    p.setPen(Qt::black);
    p.drawLine(0, g.h, width, g.h);
    static const char kDigits[] = "0123456789ABCDEF";
    const std::pair<int32_t, int64_t> areas[] = {{ctrl_.Settings().leftArea, g.leftX},
                                                 {ctrl_.Settings().rightArea, g.rightX}};
    for (auto [area, x] : areas) {
        const int64_t w = int64_t(ColumnCells(area)) * g.w;
        for (int32_t j = 0; j < g.bytesPerRow; ++j) {
            if (j == 0 || (area != AreaChars && j % g.group == 0)) x += g.w;
            if (x + w > g.addressWidth && x < width)
                p.drawText(QRect(int(x), 0, int(w), g.h), Qt::AlignCenter, QString(QLatin1Char(kDigits[j % 16])));
            x += w;
        }
    }
    p.drawLine(g.addressWidth - 1, 0, g.addressWidth - 1, height);
    if (g.rightX > 0 && g.rightX < width) {
        p.setPen(kGreyLine);
        p.drawLine(int(g.rightX), 0, int(g.rightX), height);
    }
    p.fillRect(QRect(QPoint(0, 0), QPoint(g.addressWidth - 2, g.h - 1)), kBandColour);
}

void CDataPane::DrawAddresses(QPainter& p, const CShowDataCtrl::Geometry& g)
{
    const int32_t height = viewport()->height();
    p.fillRect(QRect(QPoint(0, g.h + 1), QPoint(g.addressWidth - 2, height)), kBandColour);
    p.setPen(Qt::black);
    const int32_t type = ctrl_.Settings().addressType;
    const Qt::Alignment align = (type == AddressDecimal ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
    const QRect first(g.w, g.h + 1, g.addressWidth - 1 - 2 * g.w, g.h);
    if (!ctrl_.Length()) {
        p.drawText(first, align, QString::fromLatin1(AddressText(type, 0)));
        return;
    }
    for (int64_t k = 0;; ++k) {
        const uint64_t offset = uint64_t(ctrl_.FirstRow() + k) * uint64_t(g.bytesPerRow);
        const int64_t y = int64_t(g.h) * (k + 1) + 1;
        if (offset >= ctrl_.Length() || y + g.h > height) break;
        p.drawText(first.translated(0, int(y - first.top())), align, QString::fromLatin1(AddressText(type, offset)));
    }
}

void CDataPane::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(event);
    setFocus(Qt::MouseFocusReason);
    leftHeld_ = true;
    dragPoint_ = event->position().toPoint();
    ctrl_.OnButtonDown(dragPoint_.x(), dragPoint_.y());
}

void CDataPane::mouseMoveEvent(QMouseEvent* event)
{
    if (!leftHeld_ || !(event->buttons() & Qt::LeftButton)) return;
    const QPoint point = event->position().toPoint();
    if (point == dragPoint_) return;
    dragPoint_ = point;
    if (!viewport()->rect().contains(point)) {
        if (!drag_.isActive()) drag_.start();
        return;
    }
    drag_.stop();
    ctrl_.OnDrag(point.x(), point.y());
}

void CDataPane::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mouseReleaseEvent(event);
    leftHeld_ = false;
    drag_.stop();
    const QPoint point = event->position().toPoint();
    ctrl_.OnButtonUp(point.x(), point.y());
}

void CDataPane::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return;
    leftHeld_ = true;
    const QPoint point = event->position().toPoint();
    ctrl_.OnDoubleClick(point.x(), point.y());
}

void CDataPane::wheelEvent(QWheelEvent* event)
{
    const int delta = event->angleDelta().y();
    if (!delta) return QAbstractScrollArea::wheelEvent(event);
    ctrl_.ScrollVert(delta > 0 ? ScrollPageUp : ScrollPageDown);
}

void CDataPane::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Shift: ctrl_.SetShift(true); break;
    case Qt::Key_Left: ctrl_.OnArrowKey(KeyLeft); break;
    case Qt::Key_Right: ctrl_.OnArrowKey(KeyRight); break;
    case Qt::Key_Up: ctrl_.OnArrowKey(KeyUp); break;
    case Qt::Key_Down: ctrl_.OnArrowKey(KeyDown); break;
    default: return QAbstractScrollArea::keyPressEvent(event);
    }
    viewport()->update();
}

void CDataPane::keyReleaseEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Shift) ctrl_.SetShift(false);
    viewport()->update();
}

void CDataPane::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    SetCaret(false, 0, 0);
}

void CDataPane::contextMenuEvent(QContextMenuEvent* event) { menu_.popup(event->globalPos()); }

void CDataPane::OnDragTick()
{
    const QRect client = viewport()->rect();
    const QPoint at = dragPoint_;
    if (at.x() >= client.right()) {
        ctrl_.ScrollHorz(ScrollDragOn);
    } else if (at.x() <= client.left()) {
        ctrl_.ScrollHorz(ScrollDragBack);
    } else if (at.y() < client.top()) {
        ctrl_.ScrollVert(ScrollDragBack);
    } else if (at.y() > client.bottom()) {
        ctrl_.ScrollVert(ScrollDragOn);
    } else {
        return;
    }
    ctrl_.DragTo(at.x(), at.y());
}

}  // namespace orvane::nembrin
