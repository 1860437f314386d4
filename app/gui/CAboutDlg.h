// "关于 Orvane": the program's version, the analyser's identity and the
// class-decoder plug-ins.
#pragma once

#include <QDialog>

#include "AboutInfo.h"

class QLabel;
class QTreeWidget;

namespace orvane::app {

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(const AboutInfo& info, QWidget* parent = nullptr);

    // What the dialog shows, from the device (null: none) and the decoder factory.
    static AboutInfo Collect(IDevice* device, IDecodeFactory* factory);

    enum Field { Program, Firmware, Algorithm, Model, Serial, FieldCount };
    QLabel* Value(Field field) const { return values_[field]; }
    QTreeWidget* Plugins() const { return plugins_; }

private:
    QLabel* values_[FieldCount] = {};
    QTreeWidget* plugins_;
};

}  // namespace orvane::app
