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
    // Off: the user can neither drag logical section 0 nor drop another
    // before it while it leads; the program still moves it.
    void SetFirstSectionMovable(bool movable) { firstMovable_ = movable; }

signals:
    void FilterChanged();
    void ColumnToggled(int column);

public slots:
    void PlaceEdits();

protected:
    void updateGeometries() override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int EditHeight() const;
    // Whether x is on the grip between two sections, where a press resizes.
    bool OnHandle(int x) const;

    CPacketListColumns& columns_;
    std::vector<QLineEdit*> edits_;
    QTimer delay_;
    bool firstMovable_ = true;
    bool dragging_ = false;
};

}  // namespace orvane::app
