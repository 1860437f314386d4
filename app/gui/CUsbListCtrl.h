// The packet list's widget: a flat view of CPacketListModel whose "Item"
// column draws the tree's indent and expand boxes itself.
#pragma once

#include <QTreeView>

#include "CPacketListModel.h"

namespace orvane::app {

class CUsbListCtrl : public QTreeView {
    Q_OBJECT
public:
    explicit CUsbListCtrl(CPacketListModel* model, QWidget* parent = nullptr);

    CPacketListModel* ListModel() const { return model_; }
    // Where the expand box of the row's "Item" cell sits, in viewport coordinates.
    QRect ExpandBox(const QModelIndex& index) const;
    // Applies the columns' widths, order and visibility to the header.
    void ApplyColumns();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    void SelectRow(int row);

    CPacketListModel* model_;
};

}  // namespace orvane::app
