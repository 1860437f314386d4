#include "CSummaryPane.h"

#include <QCollator>
#include <QHeaderView>
#include <QPainter>
#include <QSet>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>
#include <array>

#include "CSummaryCtrl.h"

namespace orvane::ombrel {

namespace {

constexpr int kIdRole = Qt::UserRole + 1;
constexpr int kValueRole = Qt::UserRole + 2;
// More changed bookmark rows than this are made anew as a whole group.
constexpr size_t kEditRows = 256;

int NaturalCompare(const QString& a, const QString& b)
{
    static const QCollator natural = [] {
        QCollator c;
        c.setNumericMode(true);
        return c;
    }();
    return natural.compare(a, b);
}

// Counts and sizes sort by their figures ("--" first), captions in natural order ("Address 9" before 10).
class SummaryItem : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override
    {
        const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        if (column > 0) return data(column, kValueRole).toLongLong() < other.data(column, kValueRole).toLongLong();
        return NaturalCompare(text(0), other.text(0)) < 0;
    }
};

// Made once and shared by every row: an image per row costs kilobytes per bookmark.
const QIcon& RowIcon(int32_t index)
{
    // Never freed: the pixmaps must not outlive the application at exit.
    static const auto* icons = [] {
        auto* made = new std::array<QIcon, 6>;
        for (int32_t i = 0; i < 6; ++i) (*made)[size_t(i)] = QIcon(QPixmap::fromImage(SummaryIcon(i)));
        return made;
    }();
    return (*icons)[size_t(std::clamp(index, 0, 5))];
}

// A row's place in the tree as its ids from the top, for keeping what was open.
QString PathOf(QTreeWidgetItem* item)
{
    QString path;
    for (; item; item = item->parent()) path.prepend(QString::number(item->data(0, kIdRole).toInt()) + "/");
    return path;
}

void SetRow(QTreeWidgetItem* item, const SummaryRow& row)
{
    item->setText(0, QString::fromStdString(row.caption));
    item->setText(1, QString::fromStdString(row.count));
    item->setText(2, QString::fromStdString(row.size));
    item->setData(1, kValueRole, qlonglong(row.countValue));
    item->setData(2, kValueRole, qlonglong(row.sizeValue));
    item->setData(0, kIdRole, row.id);
    if (row.icon >= 0) item->setIcon(0, RowIcon(row.icon));
}

// Made outside the tree and put in with its rows at once: the tree hears of one row, not of each.
QTreeWidgetItem* MakeItem(const SummaryRow& row)
{
    auto* item = new SummaryItem;
    SetRow(item, row);
    QList<QTreeWidgetItem*> children;
    children.reserve(qsizetype(row.children.size()));
    for (const SummaryRow& child : row.children) children.append(MakeItem(child));
    item->addChildren(children);
    return item;
}

// The bookmarks' rows, made outside the tree.
QList<QTreeWidgetItem*> MarkItems(const std::vector<Mark>& marks)
{
    QList<QTreeWidgetItem*> items;
    items.reserve(qsizetype(marks.size()));
    for (const Mark& mark : marks) items.append(MakeItem(MarkRow(mark)));
    return items;
}

QTreeWidgetItem* MakeMarksGroup(const std::vector<Mark>& marks)
{
    QTreeWidgetItem* group = MakeItem(MarkGroupHead(marks.size()));
    group->addChildren(MarkItems(marks));
    return group;
}

// Only rows with rows below can be open: the bookmarks and the figures' last level are leaves, never asked.
void CollectOpen(QTreeWidgetItem* item, QSet<QString>& open)
{
    if (item->childCount() == 0) return;
    if (item->isExpanded()) open.insert(PathOf(item));
    for (int i = 0; i < item->childCount(); ++i) CollectOpen(item->child(i), open);
}

void RestoreOpen(QTreeWidgetItem* item, const QSet<QString>& open)
{
    if (item->childCount() == 0) return;
    if (open.contains(PathOf(item))) item->setExpanded(true);
    for (int i = 0; i < item->childCount(); ++i) RestoreOpen(item->child(i), open);
}

// The first of the group's rows, sorted by their text, that comes after
// `text`, or, with `equal` true, that does not come before it.
int SortedBound(QTreeWidgetItem* group, const QString& text, Qt::SortOrder order, bool equal)
{
    int low = 0, high = group->childCount();
    while (low < high) {
        const int mid = (low + high) / 2;
        const int c = NaturalCompare(group->child(mid)->text(0), text) * (order == Qt::AscendingOrder ? 1 : -1);
        if (c < 0 || (c == 0 && !equal))
            low = mid + 1;
        else
            high = mid;
    }
    return low;
}

// Where a bookmark row of `text` goes: after those equal to it.
int SortedPlace(QTreeWidgetItem* group, const QString& text, Qt::SortOrder order)
{
    return SortedBound(group, text, order, false);
}

// The row showing `text` in a group sorted by text; -1 when none does.
int SortedIndexOf(QTreeWidgetItem* group, const QString& text, Qt::SortOrder order)
{
    for (int i = SortedBound(group, text, order, true);
         i < group->childCount() && NaturalCompare(group->child(i)->text(0), text) == 0; ++i)
        if (group->child(i)->text(0) == text) return i;
    return -1;
}

}  // namespace

QImage SummaryIcon(int32_t index)
{
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    static const QColor colours[] = {QColor(90, 90, 90), QColor(30, 110, 200), QColor(40, 160, 70),
                                     QColor(210, 50, 40), QColor(230, 160, 20), QColor(230, 160, 20)};
    const QColor c = colours[std::clamp(index, 0, 5)];
    switch (index) {
    case 0: p.fillRect(5, 5, 6, 6, c); break;                           // a leaf
    case 1: for (int i = 0; i < 3; ++i) p.fillRect(2 + i * 5, 4, 3, 8, c); break;  // packets
    case 2: p.setPen(QPen(c, 2)); p.drawLine(2, 8, 13, 8); p.drawLine(10, 5, 13, 8); p.drawLine(10, 11, 13, 8); break;
    case 3: p.setPen(QPen(c, 2)); p.drawLine(3, 3, 12, 12); p.drawLine(12, 3, 3, 12); break;
    default: p.fillRect(4, 2, 8, 12, c); p.fillRect(6, 10, 4, 4, Qt::white); break;  // bookmarks
    }
    return image;
}

CSummaryPane::CSummaryPane(CSummaryCtrl& view, QWidget* parent) : QWidget(parent), view_(view)
{
    setObjectName(QStringLiteral("OmbrelSummary"));
    toolbar_ = new QToolBar(this);
    toolbar_->setIconSize(QSize(16, 16));
    report_ = new QTreeWidget(this);
    report_->setColumnCount(3);
    report_->setHeaderLabels({QStringLiteral("项目"), QStringLiteral("次数"), QStringLiteral("大小")});
    report_->header()->resizeSection(0, 280);
    report_->header()->resizeSection(1, 180);
    report_->header()->resizeSection(2, 150);
    report_->setExpandsOnDoubleClick(true);
    // Every column sorts: ascending, descending, then back to the report's own order.
    QHeaderView* header = report_->header();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setSortIndicatorClearable(true);
    header->setSortIndicator(-1, Qt::AscendingOrder);
    connect(header, &QHeaderView::sortIndicatorChanged, this, [this] { Show(view_.Rows(), view_.Marks()); });
    toolbar_->addAction(RowIcon(1), QStringLiteral("全部展开"), report_, &QTreeWidget::expandAll);
    toolbar_->addAction(RowIcon(0), QStringLiteral("全部折叠"), report_,
                        &QTreeWidget::collapseAll);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(toolbar_);
    layout->addWidget(report_);
    connect(report_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) { OnDoubleClick(item); });
}

QSize CSummaryPane::sizeHint() const
{
    // Every column whole beside the vertical bar.
    const int width = report_->header()->length() + 2 * report_->frameWidth() +
                      report_->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    return {width, QWidget::sizeHint().height()};
}

void CSummaryPane::Show(const std::vector<SummaryRow>& rows, const std::vector<Mark>& marks)
{
    QSet<QString> open;
    const bool first = report_->topLevelItemCount() == 0;
    for (int i = 0; i < report_->topLevelItemCount(); ++i) CollectOpen(report_->topLevelItem(i), open);
    report_->clear();
    QList<QTreeWidgetItem*> top;
    for (const SummaryRow& row : rows) top.append(MakeItem(row));
    if (!marks.empty()) top.append(MakeMarksGroup(marks));
    report_->addTopLevelItems(top);
    if (int column = report_->header()->sortIndicatorSection(); column >= 0)
        report_->sortItems(column, report_->header()->sortIndicatorOrder());
    for (QTreeWidgetItem* item : top) RestoreOpen(item, open);
    if (first)
        for (QTreeWidgetItem* item : top) item->setExpanded(true);
}

void CSummaryPane::EditMarks(const MarkChange& change, const std::vector<Mark>& before,
                             const std::vector<Mark>& after)
{
    QTreeWidgetItem* group = MarksGroup();
    // A group that comes or goes is a top row of its own: the report is made anew, as cheap as it is without marks.
    if (!group || after.empty()) {
        Show(view_.Rows(), after);
        return;
    }
    const int column = report_->header()->sortIndicatorSection();
    const Qt::SortOrder order = report_->header()->sortIndicatorOrder();
    if (change.removed + change.added > kEditRows) {
        // Many at once, as a project's marks: the group's rows made anew, the rest of the report as it is.
        const bool open = group->isExpanded();
        qDeleteAll(group->takeChildren());
        group->addChildren(MarkItems(after));
        if (column >= 0) group->sortChildren(column, order);
        group->setExpanded(open);
    } else if (column != 0) {
        // Unsorted, or by a figure every bookmark row lacks: the rows stand in the marks' order.
        const int at = int(change.at);
        const size_t kept = std::min(change.removed, change.added);
        for (size_t i = 0; i < kept; ++i) SetRow(group->child(at + int(i)), MarkRow(after[change.at + i]));
        for (size_t i = kept; i < change.removed; ++i) delete group->takeChild(at + int(kept));
        QList<QTreeWidgetItem*> added;
        for (size_t i = kept; i < change.added; ++i) added.append(MakeItem(MarkRow(after[change.at + i])));
        if (!added.isEmpty()) group->insertChildren(at + int(kept), added);
    } else {
        // Sorted by text: each row found and put by its text. An edited row keeps its selection.
        bool selected = false, current = false;
        for (size_t i = 0; i < change.removed; ++i) {
            const int index = SortedIndexOf(group, QString::fromStdString(MarkText(before[change.at + i])), order);
            if (index < 0) continue;
            QTreeWidgetItem* item = group->child(index);
            selected = selected || item->isSelected();
            current = current || report_->currentItem() == item;
            delete group->takeChild(index);
        }
        for (size_t i = 0; i < change.added; ++i) {
            QTreeWidgetItem* item = MakeItem(MarkRow(after[change.at + i]));
            group->insertChild(SortedPlace(group, item->text(0), order), item);
            // Taking the row out moved the selection to a neighbour: it comes back.
            if (change.removed == change.added && (selected || current))
                report_->setCurrentItem(item, 0, selected ? QItemSelectionModel::ClearAndSelect
                                                          : QItemSelectionModel::NoUpdate);
        }
    }
    const SummaryRow head = MarkGroupHead(after.size());
    group->setText(1, QString::fromStdString(head.count));
    group->setData(1, kValueRole, qlonglong(head.countValue));
    // A count that passes another group's may move the group among the top rows.
    if (column >= 0 && !TopRowsInOrder()) Show(view_.Rows(), after);
}

QTreeWidgetItem* CSummaryPane::MarksGroup() const
{
    for (int i = 0; i < report_->topLevelItemCount(); ++i)
        if (report_->topLevelItem(i)->data(0, kIdRole).toInt() == kMarksId) return report_->topLevelItem(i);
    return nullptr;
}

bool CSummaryPane::TopRowsInOrder() const
{
    const std::vector<SummaryRow>& rows = view_.Rows();
    auto own = [&](QTreeWidgetItem* item) {
        const int id = item->data(0, kIdRole).toInt();
        for (size_t i = 0; i < rows.size(); ++i)
            if (rows[i].id == id) return i;
        return rows.size();  // the bookmarks come last
    };
    std::vector<QTreeWidgetItem*> shown, sorted;
    for (int i = 0; i < report_->topLevelItemCount(); ++i) shown.push_back(report_->topLevelItem(i));
    sorted = shown;
    std::stable_sort(sorted.begin(), sorted.end(), [&](auto* a, auto* b) { return own(a) < own(b); });
    const bool ascending = report_->header()->sortIndicatorOrder() == Qt::AscendingOrder;
    std::stable_sort(sorted.begin(), sorted.end(), [&](auto* a, auto* b) { return ascending ? *a < *b : *b < *a; });
    return sorted == shown;
}

void CSummaryPane::OnDoubleClick(QTreeWidgetItem* item)
{
    if (!item || !item->parent() || item->parent()->parent()) return;
    if (item->parent()->data(0, kIdRole).toInt() != kMarksId) return;
    view_.GoToMark(item->text(0).toStdString());
}

}  // namespace orvane::ombrel
