// The summary's window: a tool bar over a three-column tree of the rows the
// view hands it. A double-click on a bookmark row goes to its packet.
#pragma once

#include <QImage>
#include <QToolBar>
#include <QTreeWidget>
#include <QWidget>

#include "IEventBus.h"
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
    void Show(const std::vector<SummaryRow>& rows, const std::vector<Mark>& marks);
    // Redoes only the bookmark rows `change` names, the group's count and its
    // place: the other rows, what is open and the selection stay.
    void EditMarks(const MarkChange& change, const std::vector<Mark>& before, const std::vector<Mark>& after);
    QTreeWidget* Report() const { return report_; }
    QToolBar* ToolBar() const { return toolbar_; }
    // Wide enough for every column.
    QSize sizeHint() const override;

private:
    void OnDoubleClick(QTreeWidgetItem* item);
    QTreeWidgetItem* MarksGroup() const;
    // The top rows stand as a sort from the report's own order would put them.
    bool TopRowsInOrder() const;

    CSummaryCtrl& view_;
    QToolBar* toolbar_;
    QTreeWidget* report_;
};

}  // namespace orvane::ombrel
