// The small dialog that names a bookmark: a name and a comment.
#pragma once

#include <QDialog>

class QLineEdit;

namespace orvane::app {

class CBookmarkDlg : public QDialog {
    Q_OBJECT
public:
    enum class Mode { Add, Edit };

    CBookmarkDlg(Mode mode, const QString& name, const QString& comment, QWidget* parent = nullptr);

    Mode DialogMode() const { return mode_; }
    QString Name() const;
    QString Comment() const;
    QLineEdit* NameEdit() const { return name_; }
    QLineEdit* CommentEdit() const { return comment_; }

private:
    Mode mode_;
    QLineEdit* name_;
    QLineEdit* comment_;
};

}  // namespace orvane::app
