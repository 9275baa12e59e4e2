#include "pages/PhoneNums.h"

#include "platform/DataExchange.h"

#include "ui_PhoneNums.h"

PhoneNums::PhoneNums(QWidget* parent) : CPropertyPage(QStringLiteral("Телефоны"), parent) {}

PhoneNums::~PhoneNums() = default;

QSize PhoneNums::TemplateSize() const {
    return FormSize<Ui::PhoneNums>();
}

QLineEdit* PhoneNums::PhoneEdit(int n) const {
    QLineEdit* const edits[9] = {m_ui->phone1, m_ui->phone2, m_ui->phone3,
                                 m_ui->phone4, m_ui->phone5, m_ui->phone6,
                                 m_ui->phone7, m_ui->phone8, m_ui->phone9};
    return n >= 1 && n <= 9 ? edits[n - 1] : nullptr;
}

void PhoneNums::CreateControls() {
    m_ui = std::make_unique<Ui::PhoneNums>();
    m_ui->setupUi(this);
    for (int n = 1; n <= 9; ++n)
        MakeDigitsOnly(PhoneEdit(n), kNumberLimit);
    MakeDigitsOnly(m_ui->prefix, kNumberLimit);
    MakeDigitsOnly(m_ui->pause, kPauseLimit);
    connect(m_ui->prefixOn, &QAbstractButton::clicked, this, [this] {
        if (!IsExchanging()) OnPrefixClicked();
    });
    connect(m_ui->detectDialTone, &QAbstractButton::clicked, this, [this] {
        if (!IsExchanging()) OnDialToneClicked();
    });
}

bool PhoneNums::OnInitDialog() {
    CPropertyPage::OnInitDialog();
    UpdateData(true);
    m_prefixEdit->setEnabled(m_prefixOn != 0);
    m_pauseEdit->setEnabled(m_detectDialTone == 0);
    UpdateData(false);

    static const char* const kNumberTips[9] = {
        "Первый телефонный номер",    "Второй телефонный номер",  "Третий телефонный номер",
        "Четвёртый телефонный номер", "Пятый телефонный номер",   "Шестой телефонный номер",
        "Седьмой телефонный номер",   "Восьмой телефонный номер", "Девятый телефонный номер"};
    for (int n = 1; n <= 9; ++n)
        PhoneEdit(n)->setToolTip(QString::fromUtf8(kNumberTips[n - 1]));
    m_ui->prefix->setToolTip(QStringLiteral("Номер префикса"));
    m_ui->prefixOn->setToolTip(QStringLiteral("Включить префикс"));
    return true;
}

bool PhoneNums::DoDataExchange(bool save) {
    m_prefixEdit = m_ui->prefix;
    for (int n = 1; n <= 9; ++n)
        exchange::Text(save, PhoneEdit(n), m_phones[static_cast<std::size_t>(n - 1)], kNumberLimit);
    exchange::Text(save, m_ui->prefix, m_prefix, kNumberLimit);
    exchange::Check(save, m_ui->prefixOn, m_prefixOn);
    exchange::ListIndex(save, m_ui->dialCycles, m_dialCyclesIndex);
    exchange::Check(save, m_ui->pulse, m_pulse);
    exchange::Check(save, m_ui->tone, m_tone);
    exchange::Check(save, m_ui->detectBusy, m_detectBusy);
    exchange::Text(save, m_ui->pause, m_pause, kPauseLimit);
    m_pauseEdit = m_ui->pause;
    exchange::Check(save, m_ui->detectDialTone, m_detectDialTone);
    exchange::ListIndex(save, m_ui->pulseRatio, m_pulseRatioIndex);
    return true;
}

void PhoneNums::OnPrefixClicked() {
    UpdateData(true);
    m_prefixEdit->setEnabled(m_prefixOn != 0);
    UpdateData(false);
}

void PhoneNums::OnDialToneClicked() {
    UpdateData(true);
    m_pauseEdit->setEnabled(m_detectDialTone == 0);
    UpdateData(false);
}
