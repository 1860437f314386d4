#include "CDetailGroup.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QSignalBlocker>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "CFixedRowDelegate.h"

namespace orvane::app {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

QFont CDetailGroup::GridFont() {
    constexpr int kCellHeight = 16;
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    int size = kCellHeight;
    font.setPixelSize(size);
    while (size > 6 && QFontMetrics(font).height() > kCellHeight) font.setPixelSize(--size);
    return font;
}

CDetailGroup::CDetailGroup(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 4);
    layout->setSpacing(0);

    caption_ = new QToolButton(this);
    caption_->setCheckable(true);
    caption_->setChecked(true);
    caption_->setArrowType(Qt::DownArrow);
    caption_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    caption_->setAutoRaise(true);
    caption_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    QFont bold = caption_->font();
    bold.setBold(true);
    caption_->setFont(bold);
    connect(caption_, &QToolButton::toggled, this, [this](bool open) {
        caption_->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
        body_->setVisible(open);
    });
    layout->addWidget(caption_);

    body_ = new QWidget(this);
    auto* inner = new QVBoxLayout(body_);
    inner->setContentsMargins(0, 0, 0, 0);
    inner->setSpacing(0);
    grid_ = new QTreeWidget(body_);
    grid_->setColumnCount(2);
    grid_->setHeaderHidden(true);
    grid_->setUniformRowHeights(true);
    grid_->setIndentation(12);
    grid_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Rows of the grid's fixed height, so the grid fits the group's height.
    grid_->setItemDelegate(new CFixedRowDelegate(CDetailRows::kGridRowHeight, grid_));
    grid_->setFont(GridFont());
    grid_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    grid_->header()->setStretchLastSection(true);
    // The grid's colours: a pale view, green-grey row lines and a grey help area.
    grid_->setStyleSheet("QTreeWidget { background: #F7F3E9; color: black; }"
                         "QTreeWidget::item { border-bottom: 1px solid #B6D2BD; }");
    inner->addWidget(grid_);
    tip_ = new QLabel(body_);
    tip_->setWordWrap(true);
    tip_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    tip_->setTextFormat(Qt::RichText);
    tip_->setFixedHeight(CDetailRows::kGridBaseHeight - 6);
    tip_->setFont(GridFont());
    tip_->setStyleSheet("QLabel { background: #C8C8C8; color: black; padding: 3px; }");
    inner->addWidget(tip_);
    layout->addWidget(body_);

    connect(grid_, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*) { OnCurrentChanged(current); });
}

void CDetailGroup::Empty() {
    const QSignalBlocker block(grid_);
    grid_->clear();
    tip_->clear();
}

void CDetailGroup::Fill(const CDetailRows::Group& group) {
    const QSignalBlocker block(grid_);
    grid_->setUpdatesEnabled(false);
    grid_->clear();
    tip_->clear();
    caption_->setText(Q(group.name));
    std::vector<QTreeWidgetItem*> made;
    made.reserve(group.fields.size());
    for (const CDetailRows::Field& field : group.fields) {
        QTreeWidgetItem* row = field.parent < 0 ? new QTreeWidgetItem(grid_)
                                                : new QTreeWidgetItem(made[size_t(field.parent)]);
        row->setText(0, Q(field.name));
        row->setText(1, Q(field.value));
        row->setData(0, kRangeRole, qulonglong(field.range));
        row->setData(1, Qt::UserRole, Q(field.tip));
        made.push_back(row);
    }
    grid_->expandAll();
    body_->setFixedHeight(CDetailRows::GridHeight(group.fields.size()));
    grid_->setUpdatesEnabled(true);
}

QString CDetailGroup::Caption() const { return caption_->text(); }
bool CDetailGroup::IsExpanded() const { return caption_->isChecked(); }
void CDetailGroup::SetExpanded(bool expanded) { caption_->setChecked(expanded); }
QString CDetailGroup::TipLine() const { return tip_->text(); }

void CDetailGroup::OnCurrentChanged(QTreeWidgetItem* current) {
    if (!current) return;
    tip_->setText("<b>" + current->text(0).toHtmlEscaped() + "</b><br>" +
                  current->data(1, Qt::UserRole).toString().toHtmlEscaped());
    emit FieldSelected(current->data(0, kRangeRole).toULongLong());
}

}  // namespace orvane::app
