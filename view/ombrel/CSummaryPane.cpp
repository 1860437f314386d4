#include "CSummaryPane.h"

#include <QCollator>
#include <QHeaderView>
#include <QPainter>
#include <QSet>
#include <QStyle>
#include <QVBoxLayout>

#include "CSummaryCtrl.h"

namespace orvane::ombrel {

namespace {

constexpr int kIdRole = Qt::UserRole + 1;
constexpr int kValueRole = Qt::UserRole + 2;

// Counts and sizes sort by their figures ("--" first), captions in natural order ("Address 9" before 10).
class SummaryItem : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override
    {
        const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        if (column > 0) return data(column, kValueRole).toLongLong() < other.data(column, kValueRole).toLongLong();
        static const QCollator natural = [] {
            QCollator c;
            c.setNumericMode(true);
            return c;
        }();
        return natural.compare(text(0), other.text(0)) < 0;
    }
};

// A row's place in the tree as its ids from the top, for keeping what was open.
QString PathOf(QTreeWidgetItem* item)
{
    QString path;
    for (; item; item = item->parent()) path.prepend(QString::number(item->data(0, kIdRole).toInt()) + "/");
    return path;
}

void AddRows(QTreeWidgetItem* parent, QTreeWidget* tree, const SummaryRow& row, const QSet<QString>& open)
{
    auto* item = parent ? new SummaryItem(parent) : new SummaryItem(tree);
    item->setText(0, QString::fromStdString(row.caption));
    item->setText(1, QString::fromStdString(row.count));
    item->setText(2, QString::fromStdString(row.size));
    item->setData(1, kValueRole, qlonglong(row.countValue));
    item->setData(2, kValueRole, qlonglong(row.sizeValue));
    item->setData(0, kIdRole, row.id);
    if (row.icon >= 0) item->setIcon(0, QIcon(QPixmap::fromImage(SummaryIcon(row.icon))));
    for (const SummaryRow& child : row.children) AddRows(item, tree, child, open);
    if (open.contains(PathOf(item))) item->setExpanded(true);
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
    toolbar_->addAction(QIcon(QPixmap::fromImage(SummaryIcon(1))), QStringLiteral("全部展开"), report_,
                        &QTreeWidget::expandAll);
    toolbar_->addAction(QIcon(QPixmap::fromImage(SummaryIcon(0))), QStringLiteral("全部折叠"), report_,
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

void CSummaryPane::Show(const std::vector<SummaryRow>& rows, const SummaryRow& marks)
{
    QSet<QString> open;
    bool first = report_->topLevelItemCount() == 0;
    for (QTreeWidgetItemIterator it(report_); *it; ++it)
        if ((*it)->isExpanded()) open.insert(PathOf(*it));
    report_->clear();
    for (const SummaryRow& row : rows) AddRows(nullptr, report_, row, open);
    if (marks.id) AddRows(nullptr, report_, marks, open);
    if (int column = report_->header()->sortIndicatorSection(); column >= 0)
        report_->sortItems(column, report_->header()->sortIndicatorOrder());
    if (first)
        for (int i = 0; i < report_->topLevelItemCount(); ++i) report_->topLevelItem(i)->setExpanded(true);
}

void CSummaryPane::OnDoubleClick(QTreeWidgetItem* item)
{
    if (!item || !item->parent() || item->parent()->parent()) return;
    if (item->parent()->data(0, kIdRole).toInt() != kMarksId) return;
    view_.GoToMark(item->text(0).toStdString());
}

}  // namespace orvane::ombrel
