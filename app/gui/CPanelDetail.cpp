#include "CPanelDetail.h"

#include <QHeaderView>
#include <QThread>
#include <QTreeWidget>

#include <charconv>

#include "Document.h"
#include "IDecode.h"

namespace orvane::app {

namespace {

constexpr int kRangeRole = Qt::UserRole + 1;

QString Attr(const xml::Node& node, const char* name) {
    return QString::fromStdString(node.attribute(name).value_or(std::string()));
}

// Decimal; empty or non-numeric text reads as 0.
int32_t DecimalAttr(const xml::Node& node, const char* name) {
    const std::string text = node.attribute(name).value_or(std::string());
    int32_t value = 0;
    if (std::from_chars(text.data(), text.data() + text.size(), value).ec != std::errc()) return 0;
    return value;
}

}  // namespace

CPanelDetail::CPanelDetail(QWidget* parent) : QDockWidget(QString::fromUtf8("解码"), parent) {
    setObjectName("pane4002");
    tree_ = new QTreeWidget(this);
    tree_->setColumnCount(2);
    tree_->setHeaderHidden(true);
    tree_->setRootIsDecorated(true);
    tree_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    setWidget(tree_);
    connect(tree_, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*) { OnCurrentChanged(current); });
}

int32_t CPanelDetail::SetPublisher(IEventPublisher* publisher) {
    publisher_ = publisher;
    return 1;
}

int32_t CPanelDetail::OnEvent(IEventHandler*, int32_t type, intptr_t param1, intptr_t param2) {
    if (type == EventItemSelected) {
        auto* item = reinterpret_cast<UsbItem*>(param1);
        auto* decoder = reinterpret_cast<IDecode*>(param2);
        std::string text;
        if (decoder && item) decoder->GetDetail(item, text);
        ShowDecodeDetail(text);
    } else if (type == EventCaptureCleared) {
        QMetaObject::invokeMethod(this, [this] {
            tree_->clear();
            ranges_.clear();
        });
    }
    return 1;
}

bool CPanelDetail::ShowDecodeDetail(const std::string& text) {
    tree_->setUpdatesEnabled(false);
    tree_->clear();
    ranges_.clear();
    xml::Document doc;
    const bool loaded = !text.empty() && doc.loadXML(text);
    // A faulty decoder's document without "groups" shows nothing, as a non-XML text does.
    xml::Node groups = loaded ? doc.selectSingleNode("/groups") : xml::Node();
    if (groups) {
        for (const xml::Node& group : groups.childNodes()) {
            if (group.type() != xml::NodeType::Element) continue;
            auto* row = new QTreeWidgetItem(tree_, {Attr(group, "name")});
            row->setFirstColumnSpanned(true);
            QFont bold = row->font(0);
            bold.setBold(true);
            row->setFont(0, bold);
            for (const xml::Node& item : group.childNodes())
                if (item.type() == xml::NodeType::Element) AddFieldRow(row, item);
            row->setExpanded(true);
        }
    }
    tree_->setUpdatesEnabled(true);
    return loaded;
}

void CPanelDetail::AddFieldRow(QTreeWidgetItem* parent, const xml::Node& item) {
    auto* row = new QTreeWidgetItem(parent, {Attr(item, "name"), Attr(item, "value")});
    const QString tip = Attr(item, "tip");
    row->setToolTip(0, tip);
    row->setToolTip(1, tip);
    row->setData(0, kRangeRole, int(ranges_.size()));
    ranges_.emplace_back(DecimalAttr(item, "offset"), DecimalAttr(item, "bits"));
    for (const xml::Node& child : item.childNodes())
        if (child.type() == xml::NodeType::Element) AddFieldRow(row, child);
    row->setExpanded(true);
}

void CPanelDetail::OnCurrentChanged(QTreeWidgetItem* current) {
    if (!current || !publisher_) return;
    const QVariant index = current->data(0, kRangeRole);
    if (!index.isValid() || index.toInt() >= int(ranges_.size())) return;
    const auto& [offset, bits] = ranges_[size_t(index.toInt())];
    publisher_->Publish(this, EventByteRangeSelected, offset, bits);
}

}  // namespace orvane::app
