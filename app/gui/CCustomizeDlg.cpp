#include "CCustomizeDlg.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QKeySequenceEdit>
#include <QListWidget>
#include <QRegularExpression>
#include <QSettings>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include "CCommandRegistry.h"

namespace orvane::app {

namespace {

const char* const kGroup = "CommandBars";
const char* const kHiddenKey = "HiddenButtons";
constexpr int kIdRole = Qt::UserRole + 1;

QString ShortcutKey(int id) { return QStringLiteral("Shortcuts/%1").arg(id); }

// Menu texts without their mnemonic.
QString PlainText(const QAction* action) {
    QString text = action->text();
    text.remove(QRegularExpression(QStringLiteral("\\(&.\\)")));
    return text.remove('&');
}

}  // namespace

CCustomizeDlg::CCustomizeDlg(CCommandRegistry& commands, const std::vector<int>& toolbar, QWidget* parent)
    : QDialog(parent), commands_(commands), keys_(new QTableWidget(this)), buttons_(new QListWidget(this)) {
    setWindowTitle(QString::fromUtf8("自定义"));
    keys_->setColumnCount(2);
    keys_->setHorizontalHeaderLabels({QString::fromUtf8("命令"), QString::fromUtf8("快捷键")});
    keys_->horizontalHeader()->setStretchLastSection(true);
    keys_->verticalHeader()->hide();
    for (int id : commands.Ids()) {
        QAction* action = commands.Action(id);
        if (action->text().isEmpty()) continue;  // unused recent-file entries
        const int row = keys_->rowCount();
        keys_->insertRow(row);
        auto* name = new QTableWidgetItem(PlainText(action));
        name->setData(kIdRole, id);
        name->setFlags(Qt::ItemIsEnabled);
        keys_->setItem(row, 0, name);
        auto* edit = new QKeySequenceEdit(action->shortcut(), keys_);
        keys_->setCellWidget(row, 1, edit);
    }
    keys_->resizeColumnToContents(0);

    QSettings settings("Kavrin", "Orvane");
    const QList<int> hidden = HiddenButtons(settings);
    for (int id : toolbar) {
        QAction* action = id ? commands.Action(id) : nullptr;
        if (!action) continue;
        auto* item = new QListWidgetItem(action->icon(), PlainText(action), buttons_);
        item->setData(kIdRole, id);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(hidden.contains(id) ? Qt::Unchecked : Qt::Checked);
    }

    auto* tabs = new QTabWidget(this);
    tabs->addTab(keys_, QString::fromUtf8("键盘"));
    tabs->addTab(buttons_, QString::fromUtf8("工具栏"));
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addWidget(box);
    resize(520, 480);
}

void CCustomizeDlg::Apply(QSettings& settings) const {
    settings.beginGroup(kGroup);
    for (int row = 0; row < keys_->rowCount(); ++row) {
        const int id = keys_->item(row, 0)->data(kIdRole).toInt();
        auto* edit = static_cast<QKeySequenceEdit*>(keys_->cellWidget(row, 1));
        QAction* action = commands_.Action(id);
        const QKeySequence key = edit->keySequence();
        if (key == action->shortcut()) continue;
        // The first shortcut is the one edited; the others (Ctrl+Insert beside Ctrl+C) go with it.
        QList<QKeySequence> keys;
        if (!key.isEmpty()) keys.append(key);
        action->setShortcuts(keys);
        settings.setValue(ShortcutKey(id), key.toString(QKeySequence::PortableText));
    }
    QVariantList hidden;
    for (int i = 0; i < buttons_->count(); ++i)
        if (buttons_->item(i)->checkState() != Qt::Checked) hidden.append(buttons_->item(i)->data(kIdRole));
    settings.setValue(kHiddenKey, hidden);
    settings.endGroup();
}

void CCustomizeDlg::LoadShortcuts(QSettings& settings, CCommandRegistry& commands) {
    settings.beginGroup(kGroup);
    settings.beginGroup("Shortcuts");
    for (const QString& key : settings.childKeys()) {
        bool ok = false;
        QAction* action = commands.Action(key.toInt(&ok));
        if (!ok || !action) continue;
        const QKeySequence sequence(settings.value(key).toString(), QKeySequence::PortableText);
        action->setShortcuts(sequence.isEmpty() ? QList<QKeySequence>() : QList<QKeySequence>{sequence});
    }
    settings.endGroup();
    settings.endGroup();
}

QList<int> CCustomizeDlg::HiddenButtons(QSettings& settings) {
    QList<int> ids;
    for (const QVariant& id : settings.value(QStringLiteral("%1/%2").arg(kGroup, kHiddenKey)).toList())
        ids.append(id.toInt());
    return ids;
}

}  // namespace orvane::app
