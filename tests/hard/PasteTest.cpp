// Bad input pasted into every field of the window that takes digits: the line and unit
// addresses of the main window, the account and test interval of "Общие", the numbers, the
// prefix and the pause of "Телефоны", the event codes of "Коды событий". The clipboard goes
// through the same limits as typing: letters, foreign digits and over-long text are refused
// whole, never cut to fit, and leave the field as it was; digits that fit are taken.
#include "app/SetupDlg.h"
#include "pages/Codes.h"
#include "pages/Devices.h"
#include "pages/PhoneNums.h"
#include "platform/DataExchange.h"

// g++ 12 sees an uninitialised optional in the scripted platform's file-dialog queue where
// there is none (a false positive of its optimiser); these tests use no dialogs.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include "pageui/PageTestSupport.h"
#pragma GCC diagnostic pop

#include <QCheckBox>
#include <QClipboard>
#include <QLineEdit>

#include <functional>

namespace {

// Every digit field of the window, found the way the operator meets it.
struct Field {
    const char* name;
    int limit;
};

const Field kFields[] = {
    {"lineAddress", 2}, {"unitAddress", 1}, {"account", 4}, {"testInterval", 2}, {"phone1", 15},
    {"phone9", 15},     {"prefix", 15},     {"pause", 2},   {"code1", 3},        {"code16", 3},
};

void PrintTo(const Field& f, std::ostream* os) {
    *os << f.name;
}

class WindowPaste : public ::testing::TestWithParam<Field> {
protected:
    void SetUp() override {
        std::memset(&record, 0, sizeof record);
        FillDefaults(record);
        window = std::make_unique<CSetupDlg>(nullptr, &record);
        window->show();
        codes.m_record = &record;
        for (CPropertyPage* page :
             std::initializer_list<CPropertyPage*>{&general, &phones, &codes}) {
            page->resize(460, 380);
            page->EnsureCreated();
            page->show();
        }
        QApplication::processEvents();
        const QString name = QString::fromUtf8(GetParam().name);
        for (QWidget* owner :
             std::initializer_list<QWidget*>{window.get(), &general, &phones, &codes})
            if (!edit) edit = owner->findChild<QLineEdit*>(name);
        if (!edit && name.startsWith(QStringLiteral("code")))
            edit = codes.CodeEdit(name.mid(4).toInt());
        ASSERT_NE(edit, nullptr) << GetParam().name;
        // The prefix takes input only while "dial the prefix" is ticked.
        if (!edit->isEnabled()) {
            auto* prefixOn = phones.findChild<QCheckBox*>(QStringLiteral("prefixOn"));
            ASSERT_NE(prefixOn, nullptr);
            QTest::mouseClick(prefixOn, Qt::LeftButton, {}, QPoint(4, prefixOn->height() / 2));
            ASSERT_TRUE(edit->isEnabled()) << GetParam().name;
        }
    }
    void TearDown() override { window.reset(); }

    // Pastes `text` at the end of `before`, by the key sequence or by paste(), and returns
    // what the field then holds.
    QString PasteAfter(const QString& before, const QString& text, bool keys) {
        edit->setText(before);
        edit->setFocus();
        edit->end(false);
        QApplication::clipboard()->setText(text);
        if (keys)
            QTest::keySequence(edit, QKeySequence::Paste);
        else
            edit->paste();
        return edit->text();
    }
    // What typing the same text does, for comparison.
    QString TypeAfter(const QString& before, const QString& text) {
        edit->setText(before);
        edit->setFocus();
        edit->end(false);
        // One key a character, whatever the character (keyClicks knows only ASCII).
        for (const QChar c : text)
            QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
        return edit->text();
    }

    ScriptedPlatform platform;
    SettingsRecord record;
    std::unique_ptr<CSetupDlg> window;
    Devices general;
    PhoneNums phones;
    CCodes codes;
    QLineEdit* edit = nullptr;
};

TEST_P(WindowPaste, RefusesWhatTypingRefuses) {
    const int limit = GetParam().limit;
    EXPECT_EQ(EditLimit(edit), limit);
    const QString full(limit, u'7');
    const QString oneShort(limit - 1, u'3');
    // What a refused paste must leave: the field as it was.
    const std::vector<std::pair<QString, QString>> refused = {
        {oneShort, QStringLiteral("a")},
        {QString(), QStringLiteral("1x")},
        {QString(), QStringLiteral("x1")},
        {oneShort, QStringLiteral(" ")},
        {QString(), QStringLiteral("-1")},
        {QString(), QStringLiteral("1\n")},
        {QString(), QStringLiteral("١")},  // an Arabic-Indic digit one
        {QString(), QStringLiteral("３")}, // a full-width digit three
        {QString(), QStringLiteral("Ж")},
        {QString(), full + QStringLiteral("1")}, // one digit too many
        {oneShort, QStringLiteral("12")},        // fits only when cut
        {full, QStringLiteral("0")},
    };
    for (const bool keys : {true, false})
        for (const auto& [before, text] : refused) {
            EXPECT_EQ(PasteAfter(before, text, keys), before)
                << GetParam().name << (keys ? " Ctrl+V " : " paste() ") << text.toStdString();
            // Typing the same characters keeps within the same limits: never more than the
            // limit, never a non-digit.
            const QString typed = TypeAfter(before, text);
            EXPECT_LE(typed.size(), limit) << text.toStdString();
            for (const QChar c : typed)
                EXPECT_TRUE(c >= u'0' && c <= u'9') << text.toStdString();
        }
    // Digits that fit are taken, by either way of pasting.
    for (const bool keys : {true, false}) {
        EXPECT_EQ(PasteAfter(QString(), full, keys), full) << GetParam().name;
        EXPECT_EQ(PasteAfter(oneShort, QStringLiteral("5"), keys), oneShort + u'5');
    }
}

INSTANTIATE_TEST_SUITE_P(Fields, WindowPaste, ::testing::ValuesIn(kFields),
                         [](const auto& info) { return std::string(info.param.name); });

// The addresses act on the link's values as they change: a refused paste leaves them, an
// accepted one takes effect within the addresses' ranges.
TEST(AddressPaste, RefusedPastesLeaveTheLinkAddresses) {
    ScriptedPlatform platform;
    SettingsRecord record{};
    {
        CSetupDlg window(nullptr, &record);
        window.show();
        QApplication::processEvents();
        QLineEdit* line = window.LineAddressEdit();
        QLineEdit* unit = window.UnitAddressEdit();

        line->setText(QStringLiteral("1"));
        line->end(false);
        EXPECT_EQ(window.LineAddressValue(), 1);
        QApplication::clipboard()->setText(QStringLiteral("2z"));
        line->paste();
        EXPECT_EQ(line->text(), QStringLiteral("1"));
        EXPECT_EQ(window.LineAddressValue(), 1);
        QApplication::clipboard()->setText(QStringLiteral("9"));
        line->paste();
        EXPECT_EQ(line->text(), QStringLiteral("19"));
        EXPECT_EQ(window.LineAddressValue(), 19);
        line->setText(QString());
        QApplication::clipboard()->setText(QStringLiteral("99"));
        line->paste();
        EXPECT_EQ(window.LineAddressValue(), 63); // a line address never exceeds 63
        QApplication::clipboard()->setText(QStringLiteral("1"));
        line->paste(); // "991" is one digit too many
        EXPECT_EQ(line->text(), QStringLiteral("99"));
        EXPECT_EQ(window.LineAddressValue(), 63);

        unit->setText(QString());
        QApplication::clipboard()->setText(QStringLiteral("12"));
        unit->paste();
        EXPECT_EQ(unit->text(), QString());
        QApplication::clipboard()->setText(QStringLiteral("9"));
        unit->paste();
        EXPECT_EQ(window.UnitAddressValue(), 7); // a unit address never exceeds 7
    }
}

} // namespace
