#include "CAboutDlg.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "CUsbIdDatabase.h"
#include "DesktopServices.h"

namespace orvane::app {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

AboutInfo CAboutDlg::Collect(IDevice* device, IDecodeFactory* factory) {
    return CollectAboutInfo(device, factory, CUsbIdDatabase::Instance());
}

CAboutDlg::CAboutDlg(const AboutInfo& info, QWidget* parent) : QDialog(parent), plugins_(new QTreeWidget(this)) {
    setWindowTitle(QString::fromUtf8("关于 Orvane"));
    auto* product = new QLabel(QStringLiteral("<b>Orvane</b>"), this);
    auto* icon = new QLabel(this);
    icon->setPixmap(ProgramIcon().pixmap(48, 48));

    const char* labels[FieldCount] = {"软件版本：", "固件版本：", "算法版本：", "设备型号：", "序  列  号："};
    const std::string* texts[FieldCount] = {&info.programVersion, &info.firmware, &info.algorithm, &info.model,
                                            &info.serial};
    auto* basics = new QGroupBox(QString::fromUtf8("基本信息"), this);
    auto* form = new QFormLayout(basics);
    for (int i = 0; i < FieldCount; ++i) {
        values_[i] = new QLabel(Q(*texts[i]), basics);
        values_[i]->setTextInteractionFlags(Qt::TextSelectableByMouse);
        form->addRow(QString::fromUtf8(labels[i]), values_[i]);
    }

    plugins_->setRootIsDecorated(false);
    plugins_->setHeaderLabels({QString::fromUtf8("类"), QString::fromUtf8("子类"), QString::fromUtf8("协议"),
                               QString::fromUtf8("插件版本")});
    const int widths[] = {150, 100, 100, 100};
    for (int c = 0; c < 4; ++c) plugins_->setColumnWidth(c, widths[c]);
    for (const AboutInfo::Plugin& plugin : info.plugins)
        new QTreeWidgetItem(plugins_, {Q(plugin.className), Q(plugin.subclassName), Q(plugin.protocolName),
                                       Q(plugin.version)});

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addWidget(product, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(basics);
    layout->addWidget(plugins_);
    layout->addWidget(buttons);
    resize(500, 420);
}

}  // namespace orvane::app
