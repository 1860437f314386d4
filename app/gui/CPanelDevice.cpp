#include "CPanelDevice.h"

#include <QStyle>
#include <QTreeWidget>

#include <charconv>

#include "CUsbIdDatabase.h"
#include "Document.h"

namespace orvane::app {

namespace {

constexpr int kAddressRole = Qt::UserRole + 1;

int IntAttr(const xml::Node& node, const char* name) {
    const std::string text = node.attribute(name).value_or(std::string());
    int value = 0;
    if (std::from_chars(text.data(), text.data() + text.size(), value).ec != std::errc()) return 0;
    return value;
}

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

CPanelDevice::CPanelDevice(QWidget* parent) : QDockWidget(QString::fromUtf8("设备"), parent) {
    setObjectName("pane4000");
    tree_ = new QTreeWidget(this);
    tree_->setHeaderHidden(true);
    tree_->setColumnCount(1);
    setWidget(tree_);
}

int32_t CPanelDevice::SetPublisher(IEventPublisher* publisher) {
    publisher_ = publisher;
    return 1;
}

int32_t CPanelDevice::OnEvent(IEventHandler*, int32_t type, intptr_t param1, intptr_t) {
    if (type == EventDeviceTreeChanged && param1) {
        // The worker publishes after a parse; the text lives only for the publication.
        const std::string text = *reinterpret_cast<const std::string*>(param1);
        QMetaObject::invokeMethod(this, [this, text] {
            lastText_ = text;
            BuildDeviceTree(text);
        });
    } else if (type == EventCaptureCleared) {
        QMetaObject::invokeMethod(this, [this] { BuildDeviceTree("<devices/>"); });
    }
    return 1;
}

QString CPanelDevice::EndpointText(int address, int attributes) {
    static const char* const kTypes[] = {"Control", "Isochronous", "Bulk", "Interrupt"};
    static const char* const kSync[] = {"No Synchronization", "Asynchronous", "Adaptive", "Synchronous"};
    static const char* const kUsage[] = {"Data endpoint", "Feedback endpoint", "Implicit feedback Data endpoint",
                                         "Reserved"};
    return QString("Endpoint %1 (%2/%3/%4/%5)")
        .arg(address & 0x0F)
        .arg(address >= 0x80 ? "IN" : "OUT")
        .arg(kTypes[attributes & 3], kSync[(attributes >> 2) & 3], kUsage[(attributes >> 4) & 3]);
}

void CPanelDevice::BuildDeviceTree(const std::string& deviceTreeXml) {
    QTreeWidgetItem* selected = tree_->currentItem();
    const int keep = selected ? selected->data(0, kAddressRole).toInt() : -1;
    tree_->clear();
    xml::Document doc;
    if (!doc.loadXML(deviceTreeXml)) return;
    const CUsbIdDatabase& ids = CUsbIdDatabase::Instance();
    QStyle* s = style();
    const QIcon deviceIcon = s->standardIcon(QStyle::SP_DriveHDIcon);
    const QIcon interfaceIcon = s->standardIcon(QStyle::SP_DirIcon);
    const QIcon endpointIcon = s->standardIcon(QStyle::SP_FileIcon);
    for (const xml::Node& device : doc.selectNodes("//device")) {
        const int address = IntAttr(device, "address");
        const int vendor = IntAttr(device, "idVendor"), product = IntAttr(device, "idPorduct");
        auto* top = new QTreeWidgetItem(tree_, {QString("Address %1 (%2/%3)")
                                                    .arg(address)
                                                    .arg(Q(ids.GetProductName(vendor, product)),
                                                         Q(ids.GetVendorName(vendor)))});
        top->setIcon(0, deviceIcon);
        top->setData(0, kAddressRole, address);
        if (address == keep) tree_->setCurrentItem(top);
        xml::Node configuration = device.firstChild();
        if (configuration) {
            for (const xml::Node& interface : configuration.childNodes()) {
                if (interface.type() != xml::NodeType::Element) continue;
                const int cls = IntAttr(interface, "bInterfaceClass");
                auto* row = new QTreeWidgetItem(top, {QString("Interface %1 (%2/%3),bAlternateSetting %4")
                                                          .arg(IntAttr(interface, "bInterfaceNumber"))
                                                          .arg(Q(ids.GetClassName(cls)),
                                                               Q(ids.GetSubClassName(
                                                                   cls, IntAttr(interface, "bInterfaceSubClass"))))
                                                          .arg(IntAttr(interface, "bAlternateSetting"))});
                row->setIcon(0, interfaceIcon);
                row->setData(0, kAddressRole, address);
                for (const xml::Node& endpoint : interface.childNodes()) {
                    if (endpoint.type() != xml::NodeType::Element) continue;
                    auto* leaf = new QTreeWidgetItem(row, {EndpointText(IntAttr(endpoint, "bEndpointAddress"),
                                                                        IntAttr(endpoint, "bmAttributes"))});
                    leaf->setIcon(0, endpointIcon);
                    leaf->setData(0, kAddressRole, address);
                }
                row->setExpanded(true);
            }
        }
        top->setExpanded(true);
    }
}

}  // namespace orvane::app
