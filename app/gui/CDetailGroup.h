// One collapsible group of the detail pane: a caption that folds it, a
// name/value grid with nested rows, and the tip line of the current row.
#pragma once

#include <QFont>
#include <QWidget>

#include "CDetailRows.h"

class QLabel;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace orvane::app {

class CDetailGroup : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRangeRole = Qt::UserRole + 1;

    explicit CDetailGroup(QWidget* parent = nullptr);

    // The grid's font: the desktop's own, in a character cell 16 pixels high.
    static QFont GridFont();

    // Replaces caption and rows; no selection signal comes of it.
    void Fill(const CDetailRows::Group& group);
    void Empty();

    QString Caption() const;
    bool IsExpanded() const;
    void SetExpanded(bool expanded);
    QTreeWidget* Grid() const { return grid_; }
    QString TipLine() const;

signals:
    // The user made a field row current; `range` indexes the pane's field ranges.
    void FieldSelected(qulonglong range);

private:
    void OnCurrentChanged(QTreeWidgetItem* current);

    QToolButton* caption_;
    QWidget* body_;
    QTreeWidget* grid_;
    QLabel* tip_;
};

}  // namespace orvane::app
