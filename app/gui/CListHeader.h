// The packet list's header: column titles over a filter bar with one edit per
// column, and the column menu on a right click.
#pragma once

#include <QHeaderView>
#include <QTimer>

#include <string>
#include <vector>

class QLineEdit;
class QMenu;

namespace orvane::app {

class CPacketListColumns;

class CListHeader : public QHeaderView {
    Q_OBJECT
public:
    // A pause in typing longer than this applies the filter; Enter applies it at once.
    static constexpr int kFilterDelayMs = 500;

    CListHeader(CPacketListColumns& columns, QWidget* parent = nullptr);

    // The texts of the filter edits by column index.
    std::vector<std::string> FilterTexts() const;
    // Empties the edits without announcing a filter change.
    void ClearFilterTexts();
    QLineEdit* FilterEdit(int column) const { return edits_.at(size_t(column)); }
    // One checkable entry per column in index order, "Item" greyed; the
    // action's data is the column index.
    QMenu* CreateColumnMenu(QWidget* parent);

    QSize sizeHint() const override;

signals:
    void FilterChanged();
    void ColumnToggled(int column);

public slots:
    void PlaceEdits();

protected:
    void updateGeometries() override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    int EditHeight() const;

    CPacketListColumns& columns_;
    std::vector<QLineEdit*> edits_;
    QTimer delay_;
};

}  // namespace orvane::app
