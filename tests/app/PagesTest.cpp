// The General and Phones pages as the operator sees them.
#include "AppFixture.h"

#include "app/PageCopies.h"
#include "pages/Devices.h"
#include "pages/PhoneNums.h"
#include "support/Records.h"
#include "ui_Devices.h"
#include "ui_PhoneNums.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QRadioButton>
#include <QStyle>

namespace {

// Builds a page from `record` as the sheet would and shows it.
struct ShownGeneral {
    explicit ShownGeneral(const SettingsRecord& r) {
        CopyIntoGeneral(r, page);
        page.EnsureCreated();
        page.show();
    }
    Devices page;
    Ui::Devices* ui() { return page.Form(); }
};

struct ShownPhones {
    explicit ShownPhones(const SettingsRecord& r) {
        CopyIntoPhones(r, page);
        page.EnsureCreated();
        page.show();
    }
    PhoneNums page;
    Ui::PhoneNums* ui() { return page.Form(); }
};

TEST(GeneralPage, ProtocolButtons) {
    for (int protocol : {1, 2, 0, 3, -1}) {
        auto r = Defaults();
        r.protocol = static_cast<std::int8_t>(protocol);
        ShownGeneral g(r);
        EXPECT_EQ(g.ui()->protocolDtmf->isChecked(), protocol == 1) << protocol;
        EXPECT_EQ(g.ui()->protocolFm->isChecked(), protocol != 1) << protocol;
    }
}

TEST(GeneralPage, LineCheckList) {
    const std::vector<std::pair<int, QString>> cases{
        {3, "1 час"}, {6, "не проверять"}, {1, "10 мин"}, {0, ""}, {7, ""}, {-1, ""}};
    for (const auto& [code, text] : cases) {
        auto r = Defaults();
        r.lineCheckPeriod = static_cast<std::int8_t>(code);
        ShownGeneral g(r);
        EXPECT_EQ(g.ui()->lineCheck->currentText(), text) << code;
        if (text.isEmpty()) {
            EXPECT_EQ(g.ui()->lineCheck->currentIndex(), -1) << code;
        }
    }
}

TEST(GeneralPage, ControlsTextsAndItems) {
    ShownGeneral g(Defaults());
    auto* ui = g.ui();
    EXPECT_EQ(ui->protocolDtmf->text(), QStringLiteral("DTMF (Contact ID)"));
    EXPECT_EQ(ui->protocolFm->text(), QStringLiteral("ЧМ (Сальвет - Ф)"));
    EXPECT_EQ(ui->showLineFault->text(),
              QStringLiteral("Отображать неисправность тел. линии в СЛ \"ЛЕМАРА\""));
    EXPECT_EQ(ui->accountLabel->text(), QStringLiteral("Адрес ПЕНКО - РС"));
    EXPECT_EQ(ui->testIntervalLabel->text(),
              QStringLiteral("Интервал передачи тестового извещения (01..59, 00-выкл.)"));
    EXPECT_EQ(ui->hoursLabel->text(), QStringLiteral("ч"));
    EXPECT_EQ(ui->generalBox->title(), QStringLiteral("Общие настройки"));
    EXPECT_EQ(ui->protocolBox->title(), QStringLiteral("Протокол (формат)"));
    EXPECT_EQ(ui->lineCheckBox->title(), QStringLiteral("Интервал проверки тел. линии"));
    QStringList items;
    for (int i = 0; i < ui->lineCheck->count(); ++i)
        items << ui->lineCheck->itemText(i);
    EXPECT_EQ(items,
              (QStringList{"10 мин", "30 мин", "1 час", "2 часа", "5 часов", "не проверять"}));
    EXPECT_TRUE(ui->showLineFault->isChecked()) << "default on";
}

TEST(GeneralPage, LimitsAndDigitsOnly) {
    ShownGeneral g(Defaults());
    AppTest::Type(g.ui()->account, QStringLiteral("12a345"));
    EXPECT_EQ(g.ui()->account->text(), QStringLiteral("1234"));
    AppTest::Type(g.ui()->testInterval, QStringLiteral("x789"));
    EXPECT_EQ(g.ui()->testInterval->text(), QStringLiteral("78"));
}

TEST(GeneralPage, Tooltips) {
    ShownGeneral g(Defaults());
    auto* ui = g.ui();
    EXPECT_EQ(ui->lineCheck->toolTip(), QStringLiteral("Период контроля телефонной линии"));
    EXPECT_EQ(ui->account->toolTip(), QStringLiteral("Условный адрес ПЕНКО-РС, 0001..9999"));
    EXPECT_EQ(ui->testInterval->toolTip(),
              QStringLiteral("Период передачи тестового извещения 01..59 ч, 00 - выкл."));
    EXPECT_EQ(ui->protocolDtmf->toolTip(), QStringLiteral("Протокол передачи извещений ПЕНКО-РС"));
    EXPECT_EQ(ui->protocolFm->toolTip(), QStringLiteral("Протокол передачи извещений ПЕНКО-РС"));
    EXPECT_TRUE(ui->showLineFault->toolTip().isEmpty());
    for (auto* label : g.page.findChildren<QLabel*>())
        EXPECT_TRUE(label->toolTip().isEmpty()) << label->objectName().toStdString();
}

TEST(GeneralPage, ListChangeStaysOnThePageUntilLeft) {
    auto r = Defaults();
    ShownGeneral g(r);
    g.ui()->lineCheck->setCurrentIndex(4);
    EXPECT_EQ(g.page.m_lineCheckIndex, 1);
    EXPECT_TRUE(g.page.OnKillActive());
    EXPECT_EQ(g.page.m_lineCheckIndex, 4);
}

TEST(PhonesPage, PrefixFieldFollowsItsBoxAndKeepsItsNumber) {
    auto r = Defaults();
    std::memcpy(r.prefixNumber, "810", 4);
    r.prefixEnabled = 0;
    ShownPhones p(r);
    EXPECT_FALSE(p.ui()->prefix->isEnabled());
    EXPECT_EQ(p.ui()->prefix->text(), QStringLiteral("810"));
    p.ui()->prefixOn->click();
    EXPECT_TRUE(p.ui()->prefix->isEnabled());
    p.ui()->prefixOn->click();
    EXPECT_FALSE(p.ui()->prefix->isEnabled());
    EXPECT_TRUE(p.page.OnKillActive());
    EXPECT_EQ(p.page.m_prefix, QStringLiteral("810")) << "a disabled field still travels";
    r.prefixEnabled = 1;
    ShownPhones on(r);
    EXPECT_TRUE(on.ui()->prefix->isEnabled());
}

TEST(PhonesPage, PauseFieldFollowsTheDialToneBox) {
    auto r = Defaults();
    r.blindDialing = 0;
    ShownPhones waits(r);
    EXPECT_TRUE(waits.ui()->detectDialTone->isChecked());
    EXPECT_FALSE(waits.ui()->pause->isEnabled());
    EXPECT_EQ(waits.ui()->pause->text(), QStringLiteral("05"));
    waits.ui()->detectDialTone->click();
    EXPECT_TRUE(waits.ui()->pause->isEnabled());
    r.blindDialing = 1;
    ShownPhones blind(r);
    EXPECT_FALSE(blind.ui()->detectDialTone->isChecked());
    EXPECT_TRUE(blind.ui()->pause->isEnabled());
    blind.ui()->detectDialTone->click();
    EXPECT_FALSE(blind.ui()->pause->isEnabled());
    EXPECT_EQ(blind.ui()->pause->text(), QStringLiteral("05"));
}

TEST(PhonesPage, ListsAndRadios) {
    struct Case {
        int dialCycles;
        QString shown;
    };
    for (const auto& c : std::vector<Case>{{8, "8"}, {4, "4"}, {6, "6"}, {3, ""}, {9, ""}}) {
        auto r = Defaults();
        r.dialCycles = static_cast<std::int8_t>(c.dialCycles);
        ShownPhones p(r);
        EXPECT_EQ(p.ui()->dialCycles->currentText(), c.shown) << c.dialCycles;
    }
    auto r = Defaults();
    r.pulseDialing = 1;
    r.pulseRatio = 1;
    ShownPhones pulse(r);
    EXPECT_TRUE(pulse.ui()->pulse->isChecked());
    EXPECT_FALSE(pulse.ui()->tone->isChecked());
    EXPECT_EQ(pulse.ui()->pulseRatio->currentText(), QStringLiteral("2"));
    r.pulseDialing = 0;
    r.pulseRatio = 0;
    ShownPhones tone(r);
    EXPECT_TRUE(tone.ui()->tone->isChecked());
    EXPECT_FALSE(tone.ui()->pulse->isChecked());
    EXPECT_EQ(tone.ui()->pulseRatio->currentText(), QStringLiteral("1,5"));
}

TEST(PhonesPage, LimitsAndDigitsOnly) {
    ShownPhones p(Defaults());
    for (int n = 1; n <= 9; ++n) {
        AppTest::Type(p.page.PhoneEdit(n), QStringLiteral("1234567890abc1234567"));
        EXPECT_EQ(p.page.PhoneEdit(n)->text(), QStringLiteral("123456789012345")) << n;
    }
    p.ui()->prefixOn->click();
    AppTest::Type(p.ui()->prefix, QStringLiteral("12345678901234567"));
    EXPECT_EQ(p.ui()->prefix->text(), QStringLiteral("123456789012345"));
    p.ui()->detectDialTone->click();
    AppTest::Type(p.ui()->pause, QStringLiteral("z123"));
    EXPECT_EQ(p.ui()->pause->text(), QStringLiteral("12"));
}

TEST(PhonesPage, TextsAndTooltips) {
    ShownPhones p(Defaults());
    auto* ui = p.ui();
    const QStringList tips{
        "Первый телефонный номер",    "Второй телефонный номер",  "Третий телефонный номер",
        "Четвёртый телефонный номер", "Пятый телефонный номер",   "Шестой телефонный номер",
        "Седьмой телефонный номер",   "Восьмой телефонный номер", "Девятый телефонный номер"};
    for (int n = 1; n <= 9; ++n)
        EXPECT_EQ(p.page.PhoneEdit(n)->toolTip(), tips[n - 1]);
    EXPECT_EQ(p.page.PhoneEdit(4)->toolTip(), QStringLiteral("Четвёртый телефонный номер"));
    EXPECT_EQ(ui->prefix->toolTip(), QStringLiteral("Номер префикса"));
    EXPECT_EQ(ui->prefixOn->toolTip(), QStringLiteral("Включить префикс"));
    for (QWidget* w :
         std::initializer_list<QWidget*>{ui->pulse, ui->tone, ui->dialCycles, ui->pulseRatio,
                                         ui->detectBusy, ui->detectDialTone, ui->pause})
        EXPECT_TRUE(w->toolTip().isEmpty()) << w->objectName().toStdString();
    EXPECT_EQ(ui->prefixOn->text(), QStringLiteral("Префикс"));
    EXPECT_EQ(ui->pulse->text(), QStringLiteral("Импульсный"));
    EXPECT_EQ(ui->tone->text(), QStringLiteral("Тональный"));
    EXPECT_EQ(ui->detectBusy->text(), QStringLiteral("Определять сигнал \"ЗАНЯТО\""));
    EXPECT_EQ(ui->detectDialTone->text(), QStringLiteral("Определять сигнал \"ОТВЕТ СТАНЦИИ\" "));
    EXPECT_EQ(ui->pauseLabel->text(), QStringLiteral("Пауза преред набором номера, сек"));
    EXPECT_EQ(ui->pulseRatioLabel->text(), QStringLiteral("Импульсный коэффициент"));
    EXPECT_EQ(ui->phonesBox->title(), QStringLiteral("Номера телефонов"));
    EXPECT_EQ(ui->dialBox->title(), QStringLiteral("Набор номера"));
    EXPECT_EQ(ui->cyclesBox->title(), QStringLiteral("Кол-во циклов дозвона"));
    EXPECT_EQ(ui->prefixOn->layoutDirection(), Qt::RightToLeft) << "text left of the box";
}

TEST(PhonesPage, EachNumberLabelStandsAgainstItsOwnField) {
    ShownPhones p(Defaults());
    p.page.resize(p.page.sizeHint());
    QApplication::processEvents();
    for (int n = 1; n <= 9; ++n) {
        auto* label = p.page.findChild<QLabel*>(QStringLiteral("phoneLabel%1").arg(n));
        ASSERT_NE(label, nullptr) << n;
        const QRect field = p.page.PhoneEdit(n)->geometry();
        // Where the text is drawn, not the cell the label fills.
        const int textRight =
            label->geometry().left() + QStyle::alignedRect(Qt::LeftToRight, label->alignment(),
                                                           label->sizeHint(), label->contentsRect())
                                           .right();
        EXPECT_GE(field.left(), textRight) << n;
        EXPECT_LE(field.left() - textRight, 12) << n;
        EXPECT_EQ(label->geometry().center().y(), field.center().y()) << n;
    }
}

TEST(PhonesPage, RadioButtonsFormOneGroup) {
    ShownPhones p(Defaults());
    p.ui()->tone->click();
    EXPECT_FALSE(p.ui()->pulse->isChecked());
    p.ui()->pulse->click();
    EXPECT_FALSE(p.ui()->tone->isChecked());
}

} // namespace
