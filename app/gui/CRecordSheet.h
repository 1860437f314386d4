// The record settings sheet "记录设置": the storage and filter page, the
// trigger page, and import, export and restore of the settings. Callers hand
// in the project's setup text and take the edited text back after OK.
#pragma once

#include <QDialog>
#include <QFrame>

#include <array>
#include <mutex>

#include "RecordOptions.h"
#include "SetupXml.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QTabWidget;

namespace orvane::app {

class COrvaneDoc;
class CTriggerOptionDlg;

// The endpoint picker: sixteen endpoint boxes and "全选" under a mask button,
// whose caption it edits; it hides when it loses activation.
class CEndpointDlg : public QFrame {
    Q_OBJECT
public:
    explicit CEndpointDlg(QWidget* parent);
    void Open(QPushButton* button);
    QPushButton* Button() const { return button_; }
    QCheckBox* EndpointBox(int n) const { return boxes_[size_t(n)]; }
    QCheckBox* AllBox() const { return all_; }

private:
    void Clicked(bool all);

    QPushButton* button_ = nullptr;
    std::array<QCheckBox*, 16> boxes_{};
    QCheckBox* all_;
};

class CRecordOptionDlg : public QWidget {
    Q_OBJECT
public:
    explicit CRecordOptionDlg(SetupXml& setup, QWidget* parent = nullptr);

    // true: the document into the controls. false: the controls into the
    // document; refused (told, nothing written) for a condition address
    // outside 0-127.
    bool ExchangeSetup(bool load);
    RecordOptions Options() const;

    // ---- controls, for the tests ----
    QComboBox* PacketCombo() const { return packet_; }
    QComboBox* PayloadCombo() const { return payload_; }
    // Bus state, no handshake, SOF, NAK, Error.
    QCheckBox* FilterBox(int i) const { return filters_[size_t(i)]; }
    QCheckBox* FilterAllBox() const { return filterAll_; }
    QCheckBox* ConditionBox(int i) const { return conditions_[size_t(i)]; }
    QLineEdit* AddressEdit(int i) const { return addresses_[size_t(i)]; }
    QPushButton* UpstreamButton(int i) const { return upstream_[size_t(i)]; }
    QPushButton* DownstreamButton(int i) const { return downstream_[size_t(i)]; }
    QRadioButton* KeepRadio() const { return keep_; }
    QRadioButton* DropRadio() const { return drop_; }
    QSlider* PercentSlider() const { return slider_; }
    QLabel* PercentLabel() const { return percent_; }
    CEndpointDlg* Picker() const { return picker_; }

    static constexpr uint32_t kFilterBits[5] = {SetupXml::FilterBusState, SetupXml::FilterNoHandshake,
                                                SetupXml::FilterSof, SetupXml::FilterNak, SetupXml::FilterError};

private:
    void Show(const RecordOptions& options);
    void EnableConditions();
    void OpenPicker(QPushButton* button);

    SetupXml& setup_;
    QComboBox* packet_;
    QComboBox* payload_;
    std::array<QCheckBox*, 5> filters_{};
    QCheckBox* filterAll_;
    std::array<QCheckBox*, 4> conditions_{};
    std::array<QLineEdit*, 4> addresses_{};
    std::array<QPushButton*, 4> upstream_{};
    std::array<QPushButton*, 4> downstream_{};
    QRadioButton* keep_;
    QRadioButton* drop_;
    QSlider* slider_;
    QLabel* percent_;
    CEndpointDlg* picker_ = nullptr;
};

class CRecordSheet : public QDialog {
    Q_OBJECT
public:
    enum Page { RecordPage = 0, TriggerPage = 1 };
    static constexpr const char* kFileFilter = "XML files(*.xml);;All Files(*)";
    static constexpr const char* kImportTitle = "导入设置";
    static constexpr const char* kExportTitle = "导出设置";

    explicit CRecordSheet(QWidget* parent = nullptr);
    ~CRecordSheet() override;

    // Loads the caller's text, or the default settings when it does not load
    // (then false); the pages show it.
    bool SetSetupXml(const std::string& text);
    std::string SetupText() const { return setup_.Text(); }

    // The page a new sheet opens on: the one active at the last OK.
    static int RememberedPage();
    static void SetRememberedPage(int page);

    void ImportSetup();
    void ExportSetup();
    void RestoreSetup();
    void accept() override;
    // Whether `page` was shown in this sheet; a page never shown leaves the
    // settings as they are, so OK stores nothing of it.
    bool PageShown(int page) const { return shown_[size_t(page)]; }

    QTabWidget* Pages() const { return pages_; }
    CRecordOptionDlg* RecordOptionPage() const { return record_; }
    CTriggerOptionDlg* TriggerOptionPage() const { return trigger_; }
    QPushButton* ImportButton() const { return import_; }
    QPushButton* ExportButton() const { return export_; }
    QPushButton* RestoreButton() const { return restore_; }
    QPushButton* OkButton() const { return ok_; }

    // Opens a sheet on `page` (-1: the remembered one; the record page is
    // remembered from then on) with the document's
    // setup; OK stores the edited text and marks the document modified.
    // `lock` guards the document against the capture worker (may be null).
    static bool EditDocumentSetup(QWidget* parent, COrvaneDoc& doc, std::mutex* lock, int page);

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The pages shown into the document; false when one refused.
    bool StorePages();
    void MarkShown();

    SetupXml setup_;
    QTabWidget* pages_;
    CRecordOptionDlg* record_;
    CTriggerOptionDlg* trigger_;
    QPushButton* import_;
    QPushButton* export_;
    QPushButton* restore_;
    QPushButton* ok_;
    std::array<bool, 2> shown_{};
};

}  // namespace orvane::app
