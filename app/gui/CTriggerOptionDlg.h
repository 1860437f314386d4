// The trigger page of the record settings: the drawn step list (a 120-pixel
// row per step with endpoint and PID check boxes and in-place address and
// pattern edits) and its add, delete, clear and move buttons.
#pragma once

#include <QAbstractScrollArea>
#include <QTimer>
#include <QWidget>

#include "CTriggerSteps.h"

class QHeaderView;
class QLineEdit;
class QPushButton;
class QStandardItemModel;

namespace orvane::app {

class CTriggerListCtrl : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit CTriggerListCtrl(CTriggerSteps& steps, QWidget* parent = nullptr);

    int Selected() const { return selected_; }
    // Commits the edits into the row they belong to, then selects `row` (-1 none).
    void Select(int row);
    // The steps changed underneath (the edits were committed first): `row` is
    // selected and the edits take its texts.
    void Reload(int row);
    void ScrollTo(int row);
    // The open edits into their step.
    void CommitEdits();
    QLineEdit* AddressEdit() const { return address_; }
    QLineEdit* DataEdit() const { return data_; }
    QHeaderView* Header() const { return header_; }
    // Where a cell of a row lies in viewport coordinates.
    QRect CellRect(int row, int column) const;

signals:
    void SelectionChanged(int row);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void UpdateScroll();
    void PlaceEdits();

    CTriggerSteps& steps_;
    QStandardItemModel* columns_;
    QHeaderView* header_;
    QLineEdit* address_;
    QLineEdit* data_;
    int selected_ = -1;
    int editRow_ = -1;  // the row whose texts the edits hold
};

class CTriggerOptionDlg : public QWidget {
    Q_OBJECT
public:
    explicit CTriggerOptionDlg(SetupXml& setup, QWidget* parent = nullptr);

    // From the setup document, replacing the page's steps.
    void LoadTriggerSteps();
    // Into the setup document; false (told, nothing written) past 16 steps.
    bool StoreTriggerSteps();
    void UpdateButtons();

    CTriggerSteps& Steps() { return steps_; }
    CTriggerListCtrl* List() const { return list_; }
    QPushButton* Button(int i) const { return buttons_[i]; }  // 添加, 删除, 清空, 上移, 下移
    enum ButtonIndex { Add, Remove, Clear, Up, Down };

private:
    void OnAdd();
    void OnRemove();
    void OnClear();
    void OnMove(bool up);

    SetupXml& setup_;
    CTriggerSteps steps_;
    CTriggerListCtrl* list_;
    QPushButton* buttons_[5];
    QTimer timer_;
};

}  // namespace orvane::app
