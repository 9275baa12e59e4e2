// Bad input pasted into the fields that take digits only: the clipboard goes through the
// same limits as typing. Letters, foreign digits and over-long text are refused whole,
// never cut to fit, and leave the field and the record as they were.
#include "pages/Codes.h"

// g++ 12 sees an uninitialised optional in the scripted platform's file-dialog queue where
// there is none (a known false positive of its optimiser); this test uses no dialogs.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include "pageui/PageTestSupport.h"
#pragma GCC diagnostic pop

#include <QClipboard>
#include <QLineEdit>

namespace {

struct Paste {
    const char* name;
    const char* before; // what the field holds, cursor at its end
    const char* pasted;
    const char* after;
};

void PrintTo(const Paste& p, std::ostream* os) {
    *os << p.name;
}

class CodePaste : public ::testing::TestWithParam<Paste> {
protected:
    ScriptedPlatform platform;
    std::unique_ptr<SettingsRecord> record = DefaultRecord();
    CCodes page;
    void SetUp() override { ShowPage(page, *record); }
};

TEST_P(CodePaste, GoesThroughTheTypingLimits) {
    const Paste& p = GetParam();
    for (int type : {1, 16}) {
        QLineEdit* edit = page.CodeEdit(type);
        for (const bool keys : {true, false}) {
            edit->setText(QString::fromUtf8(p.before));
            edit->setFocus();
            edit->end(false);
            QApplication::clipboard()->setText(QString::fromUtf8(p.pasted));
            if (keys)
                QTest::keySequence(edit, QKeySequence::Paste);
            else
                edit->paste();
            EXPECT_EQ(edit->text().toStdString(), p.after)
                << type << (keys ? " Ctrl+V" : " paste()");
        }
    }
    // A complete code pasted goes into the record when the page is left, digit for digit.
    const std::string after = p.after;
    if (after.size() != 3) return;
    ASSERT_TRUE(page.OnKillActive());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(record->eventCodes[0][i], after[i] - '0');
        EXPECT_EQ(record->eventCodes[15][i], after[i] - '0');
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pasted, CodePaste,
    ::testing::Values(Paste{"Digits", "", "381", "381"}, Paste{"DigitsAtTheEnd", "13", "0", "130"},
                      Paste{"Letters", "13", "ab", "13"}, Paste{"LetterAmongDigits", "", "1a3", ""},
                      Paste{"OverLong", "", "1304", ""},
                      Paste{"OverLongAtTheEnd", "13", "01", "13"}, Paste{"Blank", "13", " ", "13"},
                      Paste{"Minus", "", "-13", ""}, Paste{"ForeignDigits", "", "١٣٠", ""},
                      Paste{"LineBreak", "", "1\n3", ""},
                      Paste{"FullWidthDigits", "1", "３０", "1"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
