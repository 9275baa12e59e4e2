#include "pages/Devices.h"

#include "platform/DataExchange.h"

#include "ui_Devices.h"

Devices::Devices(QWidget* parent) : CPropertyPage(QStringLiteral("Общие"), parent) {}

Devices::~Devices() = default;

QSize Devices::TemplateSize() const {
    return FormSize<Ui::Devices>();
}

void Devices::CreateControls() {
    m_ui = std::make_unique<Ui::Devices>();
    m_ui->setupUi(this);
    MakeDigitsOnly(m_ui->account, kAccountLimit);
    MakeDigitsOnly(m_ui->testInterval, kTestIntervalLimit);
    connect(m_ui->lineCheck, &QComboBox::currentIndexChanged, this, [this] {
        if (!IsExchanging()) OnLineCheckChanged();
    });
}

bool Devices::OnInitDialog() {
    CPropertyPage::OnInitDialog();
    m_ui->lineCheck->setToolTip(QStringLiteral("Период контроля телефонной линии"));
    m_ui->account->setToolTip(QStringLiteral("Условный адрес ПЕНКО-РС, 0001..9999"));
    m_ui->testInterval->setToolTip(
        QStringLiteral("Период передачи тестового извещения 01..59 ч, 00 - выкл."));
    m_ui->protocolDtmf->setToolTip(QStringLiteral("Протокол передачи извещений ПЕНКО-РС"));
    m_ui->protocolFm->setToolTip(QStringLiteral("Протокол передачи извещений ПЕНКО-РС"));
    return true;
}

bool Devices::DoDataExchange(bool save) {
    exchange::Text(save, m_ui->account, m_account, kAccountLimit);
    exchange::Check(save, m_ui->protocolDtmf, m_protocolDtmf);
    exchange::Check(save, m_ui->protocolFm, m_protocolFm);
    exchange::Text(save, m_ui->testInterval, m_testInterval, kTestIntervalLimit);
    exchange::ListIndex(save, m_ui->lineCheck, m_lineCheckIndex);
    exchange::Check(save, m_ui->showLineFault, m_showLineFault);
    return true;
}
