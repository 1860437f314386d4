// The modeless find sheet "查找": the transaction page (addresses, payload
// bytes, size, PID combination) and the row page (a row's summary values),
// the place-mark box and the previous and next buttons. The list owns it and
// the condition it reads into.
#pragma once

#include <QDialog>
#include <QLineEdit>

#include <array>

#include "FindCondition.h"

class QCheckBox;
class QComboBox;
class QPushButton;
class QTabWidget;

namespace orvane::app {

// An edit that shows "<任意条件>" while it is empty and has no focus.
class CEditEmpty : public QLineEdit {
    Q_OBJECT
public:
    explicit CEditEmpty(QWidget* parent = nullptr);

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
};

class CFindSheet : public QDialog {
    Q_OBJECT
public:
    enum Page { TransactionPage = 0, RowPage = 1 };
    static constexpr int kPids = 12;

    CFindSheet(FindCondition& condition, QWidget* parent);

    // The controls into the condition: the active page, the place-mark box and both pages.
    void ReadCondition();
    // The transaction page into the condition.
    void ReadTransactionPage();
    // The row conditions into the row page, after the transaction page was read.
    void WriteRowConditions();
    void SetActivePage(int page);
    int ActivePage() const;

    // ---- controls, for the list and the tests ----
    QTabWidget* Pages() const { return pages_; }
    QCheckBox* PlaceMarkBox() const { return placeMark_; }
    QPushButton* PreviousButton() const { return previous_; }
    QPushButton* NextButton() const { return next_; }
    // Address, endpoint, data, size.
    CEditEmpty* TransactionEdit(int i) const { return transactionEdits_[size_t(i)]; }
    QCheckBox* UsePidBox() const { return usePid_; }
    // Bit i of the PID mask: SETUP, IN, OUT, PING, DATA0, DATA1, DATA2, MDATA, ACK, NAK, STALL, NYET.
    QCheckBox* PidBox(int i) const { return pidBoxes_[size_t(i)]; }
    // "全选" of the token, data and handshake groups.
    QCheckBox* SelectAllBox(int group) const { return selectAll_[size_t(group)]; }
    // What the PID combination box shows and hides.
    QWidget* PidBlock() const { return pidBlock_; }
    // Item, Address, Endpoint, Interface, Data, Size.
    CEditEmpty* RowEdit(int i) const { return rowEdits_[size_t(i)]; }
    QComboBox* SpeedCombo() const { return speed_; }
    QComboBox* StatusCombo() const { return status_; }

signals:
    void FindRequested(bool forward);

private:
    QWidget* BuildTransactionPage();
    QWidget* BuildRowPage();
    void SelectAllClicked(int group);
    void PidClicked();

    FindCondition& condition_;
    QTabWidget* pages_;
    QCheckBox* placeMark_;
    QPushButton* previous_;
    QPushButton* next_;
    std::array<CEditEmpty*, 4> transactionEdits_{};
    QCheckBox* usePid_ = nullptr;
    std::array<QCheckBox*, kPids> pidBoxes_{};
    std::array<QCheckBox*, 3> selectAll_{};
    QWidget* pidBlock_ = nullptr;
    std::array<CEditEmpty*, 6> rowEdits_{};
    QComboBox* speed_ = nullptr;
    QComboBox* status_ = nullptr;
};

}  // namespace orvane::app
