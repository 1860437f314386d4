// The device-tree pane: the capture's devices with the interfaces and
// endpoints of their first configuration, and a toolbar to give a device a
// named configuration from the user's settings ("配置"), apply the edited tree
// ("保存配置") and store a device's configuration ("导出到收藏夹").
#pragma once

#include <QDockWidget>

#include <atomic>
#include <cstdint>
#include <string>

#include "CDeviceTreeEditor.h"
#include "IEventBus.h"

class QAction;
class QComboBox;
class QToolBar;
class QTreeWidget;

namespace orvane::app {

class SettingStore;

class CPanelDevice : public QDockWidget, public IEventHandler {
    Q_OBJECT
public:
    // The combo leaves this much of the pane's width to the buttons.
    static constexpr int kButtonsWidth = 60;
    // The toolbar's handle, separator and spacing around the buttons.
    static constexpr int kToolbarMargins = 28;

    explicit CPanelDevice(QWidget* parent = nullptr);

    // The named configurations (not owned); null: none.
    void SetSettings(SettingStore* settings);

    // Fills the tree from the pane's copy, keeping the selected device.
    void BuildDeviceTree();

    // ---- commands ----
    // A stored configuration picked in the combo (by its stored index).
    void OnConfigurationSelected(int index);
    void OnSaveConfiguration();
    void OnExportToFavorites();

    QTreeWidget* Tree() const { return tree_; }
    QComboBox* ConfigurationCombo() const { return combo_; }
    QAction* SaveAction() const { return save_; }
    QAction* ExportAction() const { return export_; }
    const CDeviceTreeEditor& Editor() const { return editor_; }
    const std::string& LastText() const { return editor_.LastText(); }
    // The device of the selected line (CDeviceTreeEditor::DeviceKey: the
    // address unless an earlier device held it), -1 without one.
    int SelectedAddress() const;
    // Selects the line of that device; false when there is none.
    bool SelectDevice(int address);

    int32_t SetPublisher(IEventPublisher* publisher) override;
    int32_t OnEvent(IEventHandler* sender, int32_t type, intptr_t param1, intptr_t param2) override;

signals:
    // A named configuration was added to the settings.
    void SettingsChanged();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void Receive(const std::string& text);
    void Reset();
    void FillConfigurationCombo();
    void OnTreeSelChanged();
    void UpdateCommands();

    CDeviceTreeEditor editor_;
    QToolBar* toolbar_;
    QComboBox* combo_;
    QAction* save_;
    QAction* export_;
    QTreeWidget* tree_;
    IEventPublisher* publisher_ = nullptr;
    // Counts the trees and clears published, so a tree the worker queued is
    // dropped when a newer tree or a clear came after it.
    std::atomic<uint64_t> generation_{0};
};

}  // namespace orvane::app
