// The modeless find dialog of the data pane: the pattern, its radix and the
// scope; "查找所有" searches, then "下一个" and "上一个" step through the hits.
// Its place beside the pane and its choices are kept between runs.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

#include <vector>

#include "FindPattern.h"

namespace orvane::nembrin {

class CDataPane;

class CMyFindDialog : public QDialog {
    Q_OBJECT
public:
    explicit CMyFindDialog(CDataPane* owner);

    // Opening: back to the find-all state, shown.
    void ShowForFind();
    // The control's answers.
    void OnNotFound();
    void OnAtEnd();

    QLineEdit* PatternEdit() const { return pattern_; }
    QComboBox* RadixBox() const { return radix_; }
    QComboBox* ScopeBox() const { return scope_; }
    QPushButton* PrevButton() const { return prev_; }
    QPushButton* FindButton() const { return find_; }
    const std::vector<uint8_t>& PatternBytes() const { return bytes_; }
    PatternKind Kind() const { return kind_; }

    void OnFind();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void SavePlacement();

    CDataPane* owner_;
    QLineEdit* pattern_;
    QComboBox* radix_;
    QComboBox* scope_;
    QPushButton* prev_;
    QPushButton* find_;
    bool found_ = true;
    PatternKind kind_ = PatternNone;
    std::vector<uint8_t> bytes_;
    uint8_t minimumUnit_ = 0;
};

}  // namespace orvane::nembrin
