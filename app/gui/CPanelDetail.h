// The decode-detail pane: the selected row's decode result as groups of
// name/value rows; picking a field publishes its byte range.
#pragma once

#include <QDockWidget>

#include <string>
#include <utility>
#include <vector>

#include "IEventBus.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace orvane::xml { class Node; }

namespace orvane::app {

class CPanelDetail : public QDockWidget, public IEventHandler {
    Q_OBJECT
public:
    explicit CPanelDetail(QWidget* parent = nullptr);

    // False (and an empty pane) when the text is not XML.
    bool ShowDecodeDetail(const std::string& text);
    QTreeWidget* Tree() const { return tree_; }
    // (bit offset, bit count) of every field row, in the order the rows were made.
    const std::vector<std::pair<int32_t, int32_t>>& FieldRanges() const { return ranges_; }

    int32_t SetPublisher(IEventPublisher* publisher) override;
    int32_t OnEvent(IEventHandler* sender, int32_t type, intptr_t param1, intptr_t param2) override;

private:
    void AddFieldRow(QTreeWidgetItem* parent, const xml::Node& item);
    void OnCurrentChanged(QTreeWidgetItem* current);

    QTreeWidget* tree_;
    IEventPublisher* publisher_ = nullptr;
    std::vector<std::pair<int32_t, int32_t>> ranges_;
};

}  // namespace orvane::app
