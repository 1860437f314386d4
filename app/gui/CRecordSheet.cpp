#include "CRecordSheet.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QVBoxLayout>

#include "COrvaneDoc.h"
#include "CTriggerOptionDlg.h"
#include "IPrompt.h"

namespace orvane::app {

namespace {

QString U(const char* text) { return QString::fromUtf8(text); }
QString Q(const std::string& text) { return QString::fromStdString(text); }

int g_rememberedPage = 0;

QString SizeText(int position, int unitsFromK) {
    const int k = position + unitsFromK;
    return k < 10 ? QStringLiteral("%1 K").arg(1 << k) : QStringLiteral("%1 M").arg(1 << (k - 10));
}

}  // namespace

// ---------------------------------------------------------------- picker

CEndpointDlg::CEndpointDlg(QWidget* parent) : QFrame(parent, Qt::Popup), all_(new QCheckBox(U("全选"), this)) {
    setFrameShape(QFrame::Box);
    auto* grid = new QGridLayout(this);
    for (int n = 0; n < 16; ++n) {
        boxes_[size_t(n)] = new QCheckBox(QString::number(n), this);
        grid->addWidget(boxes_[size_t(n)], n / 4, n % 4);
        connect(boxes_[size_t(n)], &QCheckBox::clicked, this, [this] { Clicked(false); });
    }
    grid->addWidget(all_, 4, 0, 1, 4);
    connect(all_, &QCheckBox::clicked, this, [this] { Clicked(true); });
}

void CEndpointDlg::Open(QPushButton* button) {
    button_ = button;
    const uint16_t mask = SetupXml::MaskOfText(button->text().toStdString());
    for (int n = 0; n < 16; ++n) boxes_[size_t(n)]->setChecked((mask >> n) & 1);
    all_->setChecked(mask == 0xFFFF);
    adjustSize();
    move(button->mapToGlobal(QPoint(0, button->height())));
    show();
    raise();
}

void CEndpointDlg::Clicked(bool all) {
    if (all)
        for (QCheckBox* box : boxes_) box->setChecked(all_->isChecked());
    uint16_t mask = 0;
    for (int n = 0; n < 16; ++n)
        if (boxes_[size_t(n)]->isChecked()) mask = uint16_t(mask | (1u << n));
    all_->setChecked(mask == 0xFFFF);
    if (button_) button_->setText(Q(SetupXml::MaskText(mask)));
}

// ---------------------------------------------------------------- record page

CRecordOptionDlg::CRecordOptionDlg(SetupXml& setup, QWidget* parent)
    : QWidget(parent), setup_(setup), packet_(new QComboBox(this)), payload_(new QComboBox(this)),
      filterAll_(new QCheckBox(U("全部过滤"), this)), keep_(new QRadioButton(U("保留"), this)),
      drop_(new QRadioButton(U("丢弃"), this)), slider_(new QSlider(Qt::Horizontal, this)),
      percent_(new QLabel(this)) {
    setWindowTitle(U("存储设置"));
    for (int k = 0; k < SetupXml::kPacketPositions; ++k) packet_->addItem(SizeText(k, 0));
    for (int k = 0; k < SetupXml::kPayloadPositions; ++k) payload_->addItem(SizeText(k, 10));
    slider_->setRange(0, 100);
    connect(slider_, &QSlider::valueChanged, this, [this](int position) {
        percent_->setText(Q(RecordOptions::PercentText(RecordOptions::ClampPercent(position))));
    });

    auto* storage = new QGroupBox(U("存储"), this);
    auto* storageGrid = new QGridLayout(storage);
    storageGrid->addWidget(new QLabel(U("包缓存："), storage), 0, 0);
    storageGrid->addWidget(packet_, 0, 1);
    storageGrid->addWidget(new QLabel(U("负载缓存："), storage), 1, 0);
    storageGrid->addWidget(payload_, 1, 1);
    storageGrid->addWidget(percent_, 2, 0);
    storageGrid->addWidget(slider_, 2, 1);

    auto* basic = new QGroupBox(U("基本过滤"), this);
    auto* basicRow = new QHBoxLayout(basic);
    const char* names[5] = {"总线状态", "无握手", "SOF", "NAK", "Error"};
    for (size_t i = 0; i < filters_.size(); ++i) {
        filters_[i] = new QCheckBox(U(names[i]), basic);
        basicRow->addWidget(filters_[i]);
        connect(filters_[i], &QCheckBox::clicked, this, [this] {
            bool all = true;
            for (QCheckBox* box : filters_) all = all && box->isChecked();
            filterAll_->setChecked(all);
        });
    }
    basicRow->addWidget(filterAll_);
    connect(filterAll_, &QCheckBox::clicked, this, [this](bool on) {
        for (QCheckBox* box : filters_) box->setChecked(on);
    });

    auto* advance = new QGroupBox(U("高级过滤"), this);
    auto* grid = new QGridLayout(advance);
    for (int i = 0; i < SetupXml::kConditions; ++i) {
        conditions_[size_t(i)] = new QCheckBox(U("条件%1").arg(i + 1), advance);
        addresses_[size_t(i)] = new QLineEdit(advance);
        upstream_[size_t(i)] = new QPushButton(advance);
        downstream_[size_t(i)] = new QPushButton(advance);
        for (QPushButton* b : {upstream_[size_t(i)], downstream_[size_t(i)]}) {
            b->setAutoDefault(false);
            connect(b, &QPushButton::clicked, this, [this, b] { OpenPicker(b); });
        }
        connect(conditions_[size_t(i)], &QCheckBox::toggled, this, &CRecordOptionDlg::EnableConditions);
        grid->addWidget(conditions_[size_t(i)], i, 0);
        grid->addWidget(new QLabel(U("地址："), advance), i, 1);
        grid->addWidget(addresses_[size_t(i)], i, 2);
        grid->addWidget(new QLabel(U("上行端点："), advance), i, 3);
        grid->addWidget(upstream_[size_t(i)], i, 4);
        grid->addWidget(new QLabel(U("下行端点："), advance), i, 5);
        grid->addWidget(downstream_[size_t(i)], i, 6);
    }
    auto* mode = new QButtonGroup(this);
    mode->addButton(keep_, 0);
    mode->addButton(drop_, 1);
    auto* modeRow = new QHBoxLayout;
    modeRow->addWidget(keep_);
    modeRow->addWidget(drop_);
    modeRow->addStretch(1);
    grid->addLayout(modeRow, SetupXml::kConditions, 0, 1, 7);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(storage);
    layout->addWidget(basic);
    layout->addWidget(advance);
    layout->addStretch(1);
    ExchangeSetup(true);
}

void CRecordOptionDlg::Show(const RecordOptions& o) {
    packet_->setCurrentIndex(o.packetPosition);
    payload_->setCurrentIndex(o.payloadPosition);
    for (size_t i = 0; i < filters_.size(); ++i) filters_[i]->setChecked((o.filters & kFilterBits[i]) != 0);
    filterAll_->setChecked(o.AllFiltered());
    for (size_t i = 0; i < conditions_.size(); ++i) {
        conditions_[i]->setChecked(o.conditions[i].enable);
        addresses_[i]->setText(Q(o.conditions[i].address));
        upstream_[i]->setText(Q(o.conditions[i].upstream));
        downstream_[i]->setText(Q(o.conditions[i].downstream));
    }
    (o.drop ? drop_ : keep_)->setChecked(true);
    slider_->setValue(o.percent);
    percent_->setText(Q(RecordOptions::PercentText(o.percent)));
    EnableConditions();
}

RecordOptions CRecordOptionDlg::Options() const {
    RecordOptions o;
    o.packetPosition = std::max(0, packet_->currentIndex());
    o.payloadPosition = std::max(0, payload_->currentIndex());
    o.filters = 0;
    for (size_t i = 0; i < filters_.size(); ++i)
        if (filters_[i]->isChecked()) o.filters |= kFilterBits[i];
    for (size_t i = 0; i < conditions_.size(); ++i) {
        o.conditions[i].enable = conditions_[i]->isChecked();
        o.conditions[i].address = addresses_[i]->text().toStdString();
        o.conditions[i].upstream = upstream_[i]->text().toStdString();
        o.conditions[i].downstream = downstream_[i]->text().toStdString();
    }
    o.drop = drop_->isChecked();
    o.percent = RecordOptions::ClampPercent(slider_->value());
    return o;
}

bool CRecordOptionDlg::ExchangeSetup(bool load) {
    if (load) {
        Show(RecordOptions::FromSetup(setup_));
        return true;
    }
    std::string error;
    if (Options().ToSetup(setup_, &error)) return true;
    Prompt().Message(this, QMessageBox::Warning, Q(error));
    return false;
}

void CRecordOptionDlg::EnableConditions() {
    for (size_t i = 0; i < conditions_.size(); ++i) {
        const bool on = conditions_[i]->isChecked();
        addresses_[i]->setEnabled(on);
        upstream_[i]->setEnabled(on);
        downstream_[i]->setEnabled(on);
    }
}

void CRecordOptionDlg::OpenPicker(QPushButton* button) {
    if (!picker_) picker_ = new CEndpointDlg(this);
    picker_->Open(button);
}

// ---------------------------------------------------------------- sheet

CRecordSheet::CRecordSheet(QWidget* parent)
    : QDialog(parent), pages_(new QTabWidget(this)), record_(new CRecordOptionDlg(setup_, this)),
      trigger_(new CTriggerOptionDlg(setup_, this)), import_(new QPushButton(U("导入(&I)"), this)),
      export_(new QPushButton(U("导出(&E)"), this)), restore_(new QPushButton(U("恢复(&R)"), this)) {
    setWindowTitle(U("记录设置"));
    pages_->addTab(record_, U("存储设置"));
    pages_->addTab(trigger_, U("触发设置"));
    pages_->setCurrentIndex(g_rememberedPage);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    ok_ = buttons->button(QDialogButtonBox::Ok);
    ok_->setText(U("确定"));
    buttons->button(QDialogButtonBox::Cancel)->setText(U("取消"));
    connect(buttons, &QDialogButtonBox::accepted, this, &CRecordSheet::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(pages_, &QTabWidget::currentChanged, this, [this] { MarkShown(); });
    for (QPushButton* b : {import_, export_, restore_}) b->setAutoDefault(false);
    connect(import_, &QPushButton::clicked, this, &CRecordSheet::ImportSetup);
    connect(export_, &QPushButton::clicked, this, &CRecordSheet::ExportSetup);
    connect(restore_, &QPushButton::clicked, this, &CRecordSheet::RestoreSetup);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(import_);
    bottom->addWidget(export_);
    bottom->addWidget(restore_);
    bottom->addStretch(1);
    bottom->addWidget(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pages_);
    layout->addLayout(bottom);
    resize(1000, 620);
}

CRecordSheet::~CRecordSheet() = default;

int CRecordSheet::RememberedPage() { return g_rememberedPage; }

void CRecordSheet::SetRememberedPage(int page) { g_rememberedPage = page == TriggerPage ? TriggerPage : RecordPage; }

bool CRecordSheet::SetSetupXml(const std::string& text) {
    const bool loaded = setup_.Load(text);
    if (!loaded) setup_.LoadOrDefault(SetupXml::kDefaultText);
    RestoreSetup();
    return loaded;
}

void CRecordSheet::RestoreSetup() {
    record_->ExchangeSetup(true);
    trigger_->LoadTriggerSteps();
}

void CRecordSheet::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    MarkShown();
}

void CRecordSheet::MarkShown() {
    const int page = pages_->currentIndex();
    if (isVisible() && page >= 0 && size_t(page) < shown_.size()) shown_[size_t(page)] = true;
}

bool CRecordSheet::StorePages() {
    return (!shown_[RecordPage] || record_->ExchangeSetup(false)) &&
           (!shown_[TriggerPage] || trigger_->StoreTriggerSteps());
}

void CRecordSheet::ImportSetup() {
    const QString path = Prompt().OpenFileName(this, QStringLiteral("setup.xml"), U(kFileFilter), U(kImportTitle),
                                               QStringLiteral("xml"));
    if (path.isEmpty()) return;
    std::string error;
    // A file that is no setup leaves the settings and the pages as they are.
    if (!setup_.Import(path.toStdString(), &error)) {
        Prompt().Message(this, QMessageBox::Warning, U(SetupXml::kImportFailedText) + Q(error));
        return;
    }
    RestoreSetup();
}

void CRecordSheet::ExportSetup() {
    const QString path = Prompt().SaveFileName(this, QStringLiteral("setup.xml"), U(kFileFilter), U(kExportTitle),
                                               QStringLiteral("xml"));
    if (path.isEmpty() || !StorePages()) return;
    std::string error;
    if (!setup_.Export(path.toStdString(), &error))
        Prompt().Message(this, QMessageBox::Warning, U(SetupXml::kExportFailedText) + Q(error));
}

void CRecordSheet::accept() {
    if (!StorePages()) return;
    g_rememberedPage = pages_->currentIndex();
    QDialog::accept();
}

bool CRecordSheet::EditDocumentSetup(QWidget* parent, COrvaneDoc& doc, std::mutex* lock, int page) {
    // The storage settings open on the first page from then on; the trigger
    // settings open on theirs and leave the remembered page to the next OK.
    if (page == RecordPage) SetRememberedPage(RecordPage);
    CRecordSheet sheet(parent);
    if (page >= 0) sheet.Pages()->setCurrentIndex(page);
    std::string text;
    {
        std::unique_lock<std::mutex> guard;
        if (lock) guard = std::unique_lock<std::mutex>(*lock);
        text = doc.GetSetup();
    }
    sheet.SetSetupXml(text);
    if (Prompt().Exec(sheet) != QDialog::Accepted || sheet.result() != QDialog::Accepted) return false;
    std::unique_lock<std::mutex> guard;
    if (lock) guard = std::unique_lock<std::mutex>(*lock);
    doc.SetSetup(sheet.SetupText());
    doc.SetModified(true);
    return true;
}

}  // namespace orvane::app
