// The device-tree pane: the capture's devices with the interfaces and
// endpoints of their first configuration. Read-only.
#pragma once

#include <QDockWidget>

#include <string>

#include "IEventBus.h"

class QTreeWidget;

namespace orvane::app {

class CPanelDevice : public QDockWidget, public IEventHandler {
    Q_OBJECT
public:
    explicit CPanelDevice(QWidget* parent = nullptr);

    // Rebuilds the tree from a device-tree text; an unloadable text empties it.
    void BuildDeviceTree(const std::string& deviceTreeXml);
    QTreeWidget* Tree() const { return tree_; }
    const std::string& LastText() const { return lastText_; }

    static QString EndpointText(int address, int attributes);

    int32_t SetPublisher(IEventPublisher* publisher) override;
    int32_t OnEvent(IEventHandler* sender, int32_t type, intptr_t param1, intptr_t param2) override;

private:
    QTreeWidget* tree_;
    IEventPublisher* publisher_ = nullptr;
    std::string lastText_;
};

}  // namespace orvane::app
