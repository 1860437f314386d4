#include "CPanelDevice.h"

#include <QAction>
#include <QComboBox>
#include <QResizeEvent>
#include <QSignalBlocker>
#include <QStyle>
#include <QThread>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <vector>

#include "CUsbIdDatabase.h"

namespace orvane::app {

namespace {

// The line's device key (CDeviceTreeEditor::DeviceKey): its address unless an earlier device held it.
constexpr int kAddressRole = Qt::UserRole + 1;

QString U(const char* text) { return QString::fromUtf8(text); }

}  // namespace

CPanelDevice::CPanelDevice(QWidget* parent) : QDockWidget(U("设备"), parent) {
    setObjectName("pane4000");
    auto* content = new QWidget(this);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    toolbar_ = new QToolBar(content);
    toolbar_->setIconSize(QSize(16, 16));
    combo_ = new QComboBox(toolbar_);
    combo_->setToolTip(U("配置"));
    combo_->setMinimumContentsLength(8);

    toolbar_->addWidget(combo_);
    toolbar_->addSeparator();
    QStyle* s = style();
    save_ = toolbar_->addAction(s->standardIcon(QStyle::SP_DialogApplyButton), U("保存配置"), this,
                                &CPanelDevice::OnSaveConfiguration);
    export_ = toolbar_->addAction(s->standardIcon(QStyle::SP_DialogSaveButton), U("导出到收藏夹"), this,
                                  &CPanelDevice::OnExportToFavorites);
    layout->addWidget(toolbar_);

    tree_ = new QTreeWidget(content);
    tree_->setHeaderHidden(true);
    tree_->setColumnCount(1);
    layout->addWidget(tree_);
    setWidget(content);

    // Only a pick by the user: refilling and matching the combo do not apply anything.
    connect(combo_, &QComboBox::activated, this, &CPanelDevice::OnConfigurationSelected);
    connect(tree_, &QTreeWidget::currentItemChanged, this, [this] { OnTreeSelChanged(); });
    UpdateCommands();
}

void CPanelDevice::resizeEvent(QResizeEvent* event) {
    QDockWidget::resizeEvent(event);
    // The buttons keep the room they need; the combo takes the rest.
    int buttons = kToolbarMargins;
    for (QAction* action : {save_, export_})
        if (QWidget* button = toolbar_->widgetForAction(action)) buttons += button->sizeHint().width();
    buttons = std::max(kButtonsWidth, buttons);
    combo_->setFixedWidth(std::max(combo_->minimumSizeHint().width(), widget()->width() - buttons));
}

void CPanelDevice::SetSettings(SettingStore* settings) {
    editor_.SetStore(settings);
    FillConfigurationCombo();
    OnTreeSelChanged();
}

int32_t CPanelDevice::SetPublisher(IEventPublisher* publisher) {
    publisher_ = publisher;
    return 1;
}

int32_t CPanelDevice::OnEvent(IEventHandler* sender, int32_t type, intptr_t param1, intptr_t) {
    const bool here = QThread::currentThread() == thread();
    if (type == EventDeviceTreeChanged) {
        // Our own apply: the copy already is that tree.
        if (sender == this || !param1) return 1;
        // The text lives only while it is published, and after a parse that is
        // on the worker thread: copy it and build on the UI thread.
        std::string text = *reinterpret_cast<const std::string*>(param1);
        if (here) {
            ++generation_;
            Receive(text);
            return 1;
        }
        const uint64_t generation = ++generation_;
        QMetaObject::invokeMethod(this, [this, text = std::move(text), generation] {
            // A later tree or a clear has come since: this one is gone.
            if (generation_.load() == generation) Receive(text);
        }, Qt::QueuedConnection);
    } else if (type == EventCaptureCleared) {
        ++generation_;
        if (here) Reset();
        else QMetaObject::invokeMethod(this, [this] { Reset(); }, Qt::QueuedConnection);
    }
    return 1;
}

void CPanelDevice::Receive(const std::string& text) {
    editor_.Receive(text);
    BuildDeviceTree();
}

void CPanelDevice::Reset() {
    editor_.Clear();
    BuildDeviceTree();
}

int CPanelDevice::SelectedAddress() const {
    const QTreeWidgetItem* item = tree_->currentItem();
    return item ? item->data(0, kAddressRole).toInt() : -1;
}

bool CPanelDevice::SelectDevice(int address) {
    for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = tree_->topLevelItem(i);
        if (item->data(0, kAddressRole).toInt() == address) {
            tree_->setCurrentItem(item);
            return true;
        }
    }
    return false;
}

void CPanelDevice::BuildDeviceTree() {
    const int keep = SelectedAddress();
    {
        const QSignalBlocker block(tree_);
        tree_->clear();
        QStyle* s = style();
        const QIcon icons[] = {s->standardIcon(QStyle::SP_DriveHDIcon), s->standardIcon(QStyle::SP_DirIcon),
                               s->standardIcon(QStyle::SP_FileIcon)};
        std::vector<QTreeWidgetItem*> made;
        for (const CDeviceTreeEditor::Row& row : editor_.Rows(CUsbIdDatabase::Instance())) {
            QTreeWidgetItem* item = row.parent < 0 ? new QTreeWidgetItem(tree_)
                                                   : new QTreeWidgetItem(made[size_t(row.parent)]);
            item->setText(0, QString::fromStdString(row.text));
            item->setIcon(0, icons[row.level]);
            item->setData(0, kAddressRole, row.device);
            made.push_back(item);
            // A selected interface or endpoint gives way to its device's line.
            if (row.level == CDeviceTreeEditor::LevelDevice && row.device == keep) tree_->setCurrentItem(item);
        }
        tree_->expandAll();
    }
    OnTreeSelChanged();
}

void CPanelDevice::FillConfigurationCombo() {
    const QSignalBlocker block(combo_);
    combo_->clear();
    // Entry i is stored configuration i: the combo's index is the store's.
    for (const std::string& name : editor_.StoredNames()) combo_->addItem(QString::fromStdString(name));
    combo_->setCurrentIndex(-1);
}

void CPanelDevice::OnTreeSelChanged() {
    const int address = SelectedAddress();
    if (address >= 0 && editor_.HasDevice(address)) {
        const int index = editor_.StoredIndexOf(address);
        if (combo_->currentIndex() != index) {
            const QSignalBlocker block(combo_);
            combo_->setCurrentIndex(index);
        }
    }
    UpdateCommands();
}

void CPanelDevice::OnConfigurationSelected(int index) {
    const int address = SelectedAddress();
    // The device may have gone with a tree that came after it was selected.
    if (address < 0 || index < 0 || !editor_.PickConfiguration(address, index)) {
        UpdateCommands();
        return;
    }
    BuildDeviceTree();
}

void CPanelDevice::OnSaveConfiguration() {
    if (!editor_.Modified()) return;
    const std::string text = editor_.Apply();
    if (publisher_) publisher_->Publish(this, EventDeviceTreeChanged, reinterpret_cast<intptr_t>(&text), 0);
    UpdateCommands();
}

void CPanelDevice::OnExportToFavorites() {
    const int address = SelectedAddress();
    if (address < 0) return;
    const int selected = combo_->currentIndex();
    if (editor_.ExportToFavorites(address, CUsbIdDatabase::Instance()) < 0) return;
    emit SettingsChanged();
    FillConfigurationCombo();
    const QSignalBlocker block(combo_);
    combo_->setCurrentIndex(selected);
}

void CPanelDevice::UpdateCommands() {
    combo_->setEnabled(tree_->currentItem() != nullptr);
    save_->setEnabled(editor_.Modified());
    export_->setEnabled(true);
}

}  // namespace orvane::app
