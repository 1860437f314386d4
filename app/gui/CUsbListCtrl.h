// The packet list's widget: a flat view of CPacketListModel that draws each
// row itself (mark area, tree indent, expand boxes, grid lines, rounded
// highlights), carries the row and column menus, the filter bar in its header
// and the list's commands. The commands are public so the frame can route its
// menu and toolbar ids to them.
//
// Every row is kRowHeight high, so where a row sits is worked out from its
// number: the view keeps nothing per row, and a push of new rows, an expand or
// a scroll costs the rows on screen whatever the length of the capture.
#pragma once

#include <QAbstractItemView>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <mutex>

#include "CPacketListCommands.h"
#include "CPacketListFind.h"
#include "CPacketListModel.h"
#include "CTooltipWindow.h"

class QAction;
class QHeaderView;
class QMenu;

namespace orvane::app {

class CFindSheet;
class CListHeader;
class COrvaneDoc;
class SettingStore;

class CUsbListCtrl : public QAbstractItemView {
    Q_OBJECT
public:
    explicit CUsbListCtrl(CPacketListModel* model, QWidget* parent = nullptr);
    ~CUsbListCtrl() override;

    CPacketListModel* ListModel() const { return model_; }
    CListHeader* Header() const { return header_; }
    QHeaderView* header() const;
    CPacketListCommands& Commands() { return commands_; }
    // The document whose setup, trigger record and modified flag the trigger
    // commands change; `lock` is the capture worker's document lock.
    void SetDocument(COrvaneDoc* doc, std::mutex* lock) { commands_.SetDocument(doc, lock); }
    // Loads the column layout from the settings and saves it there after
    // every change of the columns; null keeps the layout in memory only.
    void SetSettings(SettingStore* settings);

    // Where the expand box of the row's "Item" cell sits, in viewport coordinates.
    QRect ExpandBox(const QModelIndex& index) const;
    // Applies the columns' widths, order and visibility to the header.
    void ApplyColumns();
    // The first selected row, -1 without one.
    int SelectedRow() const;
    void SelectRow(int row);

    // ---- commands by id (CPacketListCommands::Id, and 0-11 for the columns) ----
    bool HandlesCommand(int id) const;
    bool IsCommandEnabled(int id);
    void OnCommand(int id);
    // The row menu with its greyed entries; the action's data is the command id.
    QMenu* CreateRowMenu(QWidget* parent);
    // The window's own action of a command id, or null. With a route the row
    // menu runs its entries through those actions (one update pass after each,
    // their shortcuts shown) and greys what they cannot run.
    using ActionRoute = std::function<QAction*(int id)>;
    void SetRowMenuRoute(ActionRoute route) { route_ = std::move(route); }

    void OnCopy();
    void OnToggleSubtree();
    void OnSetTriggerCondition() { SetTriggerCondition(false); }
    void OnAddTriggerCondition() { SetTriggerCondition(true); }
    void OnGoToTrigger();
    void OnAddMark();
    void OnEditMark();
    void OnDeleteMark();
    void OnDeleteAllMarks();
    void OnPrevMark();
    void OnNextMark();
    // Find: the sheet (made on first use, then shown and hidden), a row as the
    // condition, and the search from the selected row.
    void OnFindSettings();
    void OnSetFindCondition();
    void OnFind(bool forward);
    // The record settings sheet on its trigger page.
    void OnTriggerSettings();
    CPacketListFind& Find() { return find_; }
    // Null until the first find command.
    CFindSheet* FindSheet() const { return findSheet_; }
    // A search shows its progress (and can be cancelled) once it has run this long.
    static constexpr int kFindProgressDelayMs = 400;
    void SetFindProgressDelay(int ms) { findProgressDelayMs_ = ms; }
    // "清除过滤": empties the filter bar and shows every row again.
    void OnClearFilter();
    void ApplyHeaderFilter();
    void ToggleColumn(int column);
    // Reads the header's order and widths into the columns and stores them.
    void SaveColumnLayout();

    // The rich tips: a bookmarked row's name and comment, and the balloon
    // shown for a packet that a filter hides.
    CTooltipWindow& Tooltip() { return tooltip_; }
    static constexpr uint32_t kToolId = 0xE900;
    static constexpr int kTipTransparency = 30;
    static constexpr int kNoHover = -1;
    int HoverRow() const { return hoverRow_; }

    // ---- QAbstractItemView ----
    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;
    // The list has its own find: typing in it searches nothing.
    void keyboardSearch(const QString&) override {}
    void setModel(QAbstractItemModel* model) override;
    void setSelectionModel(QItemSelectionModel* selectionModel) override;

signals:
    // Before the row menu reads any state: the owner brings its actions up to date.
    void RowMenuAboutToShow();
    // The column layout in the settings changed.
    void SettingsChanged();

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex& index) const override;
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    void rowsInserted(const QModelIndex& parent, int start, int end) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;

private:
    // The row at a viewport height, or -1 past the rows; the first row on screen.
    int RowAt(int y) const;
    int FirstRow() const;
    // The rows that fit on screen whole, at least one.
    int PageRows() const;
    void UpdateScrollBars();
    void RowsChanged();
    // A reset takes the selection with the rows: whoever shows the row let go of it.
    void SelectionDropped();
    // Tells the panes the selected row's item, or none, when it changed.
    void PublishSelection();
    // A row's area across the whole viewport.
    QRect RowRect(int row) const;
    void DrawRow(QPainter* painter, int top, int row) const;
    void ResizeColumnToContents(int column);

    void SetTriggerCondition(bool append);
    CFindSheet* EnsureFindSheet();
    void MarksChanged();
    void ShowHiddenPacketTip();
    void AnswerTipNotify(ToolTipDisplayNotify& notify);
    void ScheduleLayoutSave();

    CPacketListModel* model_;
    CListHeader* header_;
    CPacketListCommands commands_;
    CPacketListFind find_;
    CFindSheet* findSheet_ = nullptr;
    int findProgressDelayMs_ = kFindProgressDelayMs;
    SettingStore* settings_ = nullptr;
    ActionRoute route_;
    CTooltipWindow tooltip_;
    QTimer tipTimer_;
    int hoverRow_ = kNoHover;
    bool applyingColumns_ = false;
    bool savePending_ = false;
    bool placingHeader_ = false;
    UsbItem* publishedItem_ = nullptr;  // the item the panes were last told, none since a reset
};

}  // namespace orvane::app
