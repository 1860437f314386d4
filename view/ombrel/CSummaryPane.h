// The summary's window: a tool bar over a three-column tree of the rows the
// view hands it. A double-click on a bookmark row goes to its packet.
#pragma once

#include <QImage>
#include <QToolBar>
#include <QTreeWidget>
#include <QWidget>

#include "SummaryStats.h"

namespace orvane::ombrel {

class CSummaryCtrl;

// The six row icons (0 to 5) and the view's own (0).
QImage SummaryIcon(int32_t index);

class CSummaryPane : public QWidget {
    Q_OBJECT
public:
    CSummaryPane(CSummaryCtrl& view, QWidget* parent);

    // Replaces the rows, keeping what the user had opened.
    void Show(const std::vector<SummaryRow>& rows, const SummaryRow& marks);
    QTreeWidget* Report() const { return report_; }
    QToolBar* ToolBar() const { return toolbar_; }
    // Wide enough for every column.
    QSize sizeHint() const override;

private:
    void OnDoubleClick(QTreeWidgetItem* item);

    CSummaryCtrl& view_;
    QToolBar* toolbar_;
    QTreeWidget* report_;
};

}  // namespace orvane::ombrel
