// Rows of one fixed height, whatever their contents ask for.
#pragma once

#include <QStyledItemDelegate>

namespace orvane::app {

class CFixedRowDelegate : public QStyledItemDelegate {
public:
    CFixedRowDelegate(int height, QObject* parent) : QStyledItemDelegate(parent), height_(height) {}

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(height_);
        return size;
    }

private:
    int height_;
};

}  // namespace orvane::app
