// A chart's settings panel: drops down below the chart's settings button,
// holds the chart's group, its one option and (bus usage, transfer rate) the
// series list, and applies and stores them when it closes. No OK or Cancel.
#pragma once

#include <QTimer>
#include <QWidget>

#include "ConfigRules.h"

class QCheckBox;
class QComboBox;
class QTreeWidget;

namespace orvane::velmora {

class CVelmoraBase;

class CDlgConfigBase : public QWidget {
    Q_OBJECT
public:
    CDlgConfigBase(CVelmoraBase& chart, const PanelLayout& layout);

    // The panel of a chart's class.
    static CDlgConfigBase* Make(CVelmoraBase& chart);

    void ShowBelow();
    bool LoadSettings();
    bool SaveSettings();
    void Refresh();
    // Rebuilds the series list from the chart.
    void FillSeriesList();
    void UpdateSelectButtons();
    void PlaceBelow();

    QComboBox* GroupBox() const { return combo_; }
    QCheckBox* OptionBox() const { return option_; }
    QTreeWidget* SeriesList() const { return list_; }
    QCheckBox* SelectAll() const { return all_; }
    QCheckBox* SelectNone() const { return none_; }
    std::vector<bool> RowStates() const;
    // The chart is going: hiding now applies nothing.
    void Disarm() { applyPending_ = false; }

protected:
    void hideEvent(QHideEvent* event) override;

private:
    // Saves, then hands group, option and series to the chart.
    void Apply();
    void OnSelectAll();
    void OnSelectNone();
    void SetAllRows(bool ticked);

    CVelmoraBase& chart_;
    const PanelLayout& layout_;
    QComboBox* combo_ = nullptr;
    QCheckBox* option_ = nullptr;
    QTreeWidget* list_ = nullptr;
    QCheckBox* all_ = nullptr;
    QCheckBox* none_ = nullptr;
    QTimer buttonTimer_;
    bool applyPending_ = false;
};

// The five panels by their classes' names.
class CCfgPacketType : public CDlgConfigBase {
public:
    explicit CCfgPacketType(CVelmoraBase& c) : CDlgConfigBase(c, kPanelLayouts[ChartTraffic]) {}
};
class CCfgPacketLength : public CDlgConfigBase {
public:
    explicit CCfgPacketLength(CVelmoraBase& c) : CDlgConfigBase(c, kPanelLayouts[ChartPacketLength]) {}
};
class CCfgDataLength : public CDlgConfigBase {
public:
    explicit CCfgDataLength(CVelmoraBase& c) : CDlgConfigBase(c, kPanelLayouts[ChartDataLength]) {}
};
class CCfgBusUsage : public CDlgConfigBase {
public:
    explicit CCfgBusUsage(CVelmoraBase& c) : CDlgConfigBase(c, kPanelLayouts[ChartBusUsage]) {}
};
class CCfgSpeed : public CDlgConfigBase {
public:
    explicit CCfgSpeed(CVelmoraBase& c) : CDlgConfigBase(c, kPanelLayouts[ChartSpeed]) {}
};

}  // namespace orvane::velmora
