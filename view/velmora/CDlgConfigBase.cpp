#include "CDlgConfigBase.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>

#include "CTrafficPane.h"
#include "CVelmoraBase.h"
#include "ChartText.h"

namespace orvane::velmora {

namespace {

// Dialog units of the panels' 8-point font in pixels.
QRect Pixels(const PanelRect& r) { return QRect(r.x * 3 / 2, r.y * 13 / 8, r.w * 3 / 2, r.h * 13 / 8); }

ChartRect ScreenRect(const QWidget& widget, const QRect& r)
{
    QPoint topLeft = widget.mapToGlobal(r.topLeft());
    return {topLeft.x(), topLeft.y(), topLeft.x() + r.width(), topLeft.y() + r.height()};
}

}  // namespace

CDlgConfigBase::CDlgConfigBase(CVelmoraBase& chart, const PanelLayout& layout)
    : QWidget(&chart, Qt::Popup | Qt::FramelessWindowHint), chart_(chart), layout_(layout)
{
    setObjectName(QStringLiteral("ChartSettings%1").arg(layout.templateId));
    resize(Pixels({0, 0, layout.w, layout.h}).size());
    auto* frame = new QGroupBox(this);
    frame->setGeometry(Pixels(layout.group));
    auto* label = new QLabel(QStringLiteral("组别"), this);
    label->setGeometry(Pixels(layout.label));
    combo_ = new QComboBox(this);
    for (int group = 0; group <= 4; ++group) combo_->addItem(QString::number(group));
    QRect combo = Pixels(layout.combo);
    combo_->setGeometry(combo.x(), combo.y(), combo.width(), combo_->sizeHint().height());
    option_ = new QCheckBox(QString::fromUtf8(layout.option), this);
    option_->setGeometry(Pixels(layout.check));
    if (layout.HasList()) {
        list_ = new QTreeWidget(this);
        list_->setGeometry(Pixels(layout.list));
        list_->setRootIsDecorated(false);
        list_->setHeaderLabels({QStringLiteral("序号"), QStringLiteral("显示曲线")});
        list_->header()->resizeSection(0, 40);
        list_->header()->resizeSection(1, 130);
        list_->setSelectionBehavior(QAbstractItemView::SelectRows);
        all_ = new QCheckBox(QStringLiteral("全选"), this);
        all_->setGeometry(Pixels(layout.all));
        none_ = new QCheckBox(QStringLiteral("全不选"), this);
        none_->setGeometry(Pixels(layout.none));
        // The buttons follow a row's tick a moment after the click.
        buttonTimer_.setSingleShot(true);
        buttonTimer_.setInterval(100);
        connect(&buttonTimer_, &QTimer::timeout, this, &CDlgConfigBase::UpdateSelectButtons);
        connect(list_, &QTreeWidget::itemChanged, this, [this] { buttonTimer_.start(); });
        connect(all_, &QCheckBox::clicked, this, &CDlgConfigBase::OnSelectAll);
        connect(none_, &QCheckBox::clicked, this, &CDlgConfigBase::OnSelectNone);
    }
    PlaceBelow();
    if (list_) Refresh();
}

CDlgConfigBase* CDlgConfigBase::Make(CVelmoraBase& chart)
{
    switch (chart.Class()) {
    case ChartTraffic: return new CCfgPacketType(chart);
    case ChartPacketLength: return new CCfgPacketLength(chart);
    case ChartDataLength: return new CCfgDataLength(chart);
    case ChartBusUsage: return new CCfgBusUsage(chart);
    default: return new CCfgSpeed(chart);
    }
}

void CDlgConfigBase::ShowBelow()
{
    PlaceBelow();
    Refresh();
    applyPending_ = true;
    show();
    raise();
    activateWindow();
}

void CDlgConfigBase::PlaceBelow()
{
    ChartRect button = ScreenRect(chart_, chart_.SettingsButtonRect());
    CTrafficPane& pane = chart_.Pane();
    auto point = velmora::PlaceBelow(button, width(), height(), ScreenRect(pane, pane.rect()));
    if (point) setGeometry(point->x, point->y, width(), height());
}

bool CDlgConfigBase::LoadSettings()
{
    CData& store = chart_.Model().store;
    const char* cls = kChartClassNames[size_t(chart_.Class())];
    int32_t group = 0;
    store.ReadChartSetting(cls, text::kGroup, &group);
    if (!IsShowableGroup(group)) return false;
    combo_->setCurrentIndex(group);
    int32_t showFly = 0;
    store.ReadChartSetting(cls, text::kShowFly, &showFly);
    option_->setChecked(showFly != 0);
    return true;
}

bool CDlgConfigBase::SaveSettings()
{
    CData& store = chart_.Model().store;
    const char* cls = kChartClassNames[size_t(chart_.Class())];
    // No selection stores nothing: a -1 would hide the panel's group for good.
    if (combo_->currentIndex() >= 0) store.WriteChartSetting(cls, text::kGroup, combo_->currentIndex());
    store.WriteChartSetting(cls, text::kShowFly, option_->isChecked() ? 1 : 0);
    return true;
}

void CDlgConfigBase::Refresh()
{
    LoadSettings();
    if (!list_) return;
    FillSeriesList();
}

void CDlgConfigBase::FillSeriesList()
{
    if (!list_) return;
    QSignalBlocker block(list_);
    list_->clear();
    std::vector<SeriesEntry> entries;
    chart_.GetSeriesList(&entries);
    for (size_t i = 0; i < entries.size(); ++i) {
        auto* item = new QTreeWidgetItem(list_, {QString::number(i + 1), QString::fromStdString(entries[i].name)});
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, entries[i].shown ? Qt::Checked : Qt::Unchecked);
    }
    UpdateSelectButtons();
}

std::vector<bool> CDlgConfigBase::RowStates() const
{
    std::vector<bool> rows;
    if (!list_) return rows;
    for (int i = 0; i < list_->topLevelItemCount(); ++i)
        rows.push_back(list_->topLevelItem(i)->checkState(0) == Qt::Checked);
    return rows;
}

void CDlgConfigBase::UpdateSelectButtons()
{
    if (!list_) return;
    SelectButtons buttons = SelectButtonsFor(CountCheckedRows(RowStates()));
    all_->setEnabled(buttons.enabled);
    none_->setEnabled(buttons.enabled);
    if (buttons.all) all_->setChecked(*buttons.all);
    if (buttons.none) none_->setChecked(*buttons.none);
}

void CDlgConfigBase::SetAllRows(bool ticked)
{
    for (int i = 0; i < list_->topLevelItemCount(); ++i)
        list_->topLevelItem(i)->setCheckState(0, ticked ? Qt::Checked : Qt::Unchecked);
}

void CDlgConfigBase::OnSelectAll()
{
    if (!all_->isChecked()) return;
    none_->setChecked(false);
    SetAllRows(true);
}

void CDlgConfigBase::OnSelectNone()
{
    if (!none_->isChecked()) return;
    all_->setChecked(false);
    SetAllRows(false);
}

void CDlgConfigBase::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (!applyPending_) return;
    applyPending_ = false;
    Apply();
}

void CDlgConfigBase::Apply()
{
    SaveSettings();
    // The chart that owns the panel, whichever chart is current now.
    if (combo_->currentIndex() >= 0) chart_.Pane().SetChartGroup(&chart_, combo_->currentIndex());
    chart_.SetLinearScale(option_->isChecked());
    if (list_) chart_.SetSeriesVisibility(RowStates());
    chart_.ApplySettings();
}

}  // namespace orvane::velmora
