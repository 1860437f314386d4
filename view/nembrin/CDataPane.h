// The data pane window: paints the hex control's rows, header and address
// column, forwards mouse, keys and scrolling to it, and holds the context
// menu with the five display choices, copy and find, their shortcuts and the
// drag timer.
#pragma once

#include <QAbstractScrollArea>
#include <QMenu>
#include <QPointer>
#include <QTimer>

#include <map>

#include "CMyFindDialog.h"
#include "CShowDataCtrl.h"

namespace orvane::nembrin {

class CDataPane : public QAbstractScrollArea {
    Q_OBJECT
public:
    // Command ids of the context menu.
    static constexpr int32_t kCopyCommand = 32830, kFindCommand = 32787;

    CDataPane(CShowDataCtrl& ctrl, QWidget* parent);
    ~CDataPane() override;

    CShowDataCtrl& Control() { return ctrl_; }
    QMenu* ContextMenu() { return &menu_; }
    // The action of a command id, null when the menu has none.
    QAction* CommandAction(int32_t id) const;
    CMyFindDialog* FindDialog() const { return find_; }

    // Runs a command of the context menu.
    void OnCommand(int32_t id);
    void Copy();
    void OpenFind();
    void ResetAll();
    void CheckSetting(SettingIndex index, int32_t value);

    // The find protocol, reached by the dialog.
    void FindInData(const std::vector<uint8_t>& pattern) { ctrl_.FindPattern(pattern, false); }
    void FindInView(const std::vector<uint8_t>& pattern) { ctrl_.FindPattern(pattern, true); }
    void FindPrev() { ctrl_.GoToHit(-1); }
    void FindNext() { ctrl_.GoToHit(+1); }
    void FindClear();
    void FindNotFound();
    void FindAtEnd();

    // The control's requests.
    void SetScrollRange(bool vertical, int64_t maximum, int64_t page);
    void SetScrollValue(bool vertical, int64_t position);
    void StopDragTimer() { drag_.stop(); }
    bool DragTimerRunning() const { return drag_.isActive(); }
    void SetCaret(bool shown, int32_t x, int32_t y);
    bool CaretShown() const { return caretShown_; }
    QPoint CaretPos() const { return caret_; }

    // Wide enough for the address column and both areas.
    QSize sizeHint() const override;

    // The cell size every pane of the process uses, measured once.
    static QSize CellSize();
    static QFont DataFont();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void scrollContentsBy(int dx, int dy) override {}

private:
    void BuildMenu();
    void BuildShortcuts();
    void OnDragTick();
    void DrawArea(QPainter& p, const CShowDataCtrl::Geometry& g, int32_t area, int64_t x0, int64_t x1);
    void DrawHeader(QPainter& p, const CShowDataCtrl::Geometry& g);
    void DrawAddresses(QPainter& p, const CShowDataCtrl::Geometry& g);

    CShowDataCtrl& ctrl_;
    QMenu menu_;
    std::map<int32_t, QAction*> actions_;
    std::map<SettingIndex, QMenu*> subMenus_;
    QPointer<CMyFindDialog> find_;
    QTimer drag_;
    QPoint dragPoint_;
    bool leftHeld_ = false;
    bool syncing_ = false;  // the control sets the bars; their signals are not a scroll
    bool caretShown_ = false;
    QPoint caret_;
};

}  // namespace orvane::nembrin
