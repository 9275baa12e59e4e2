// The platform layer's own pieces: limited digit-only edits, the exchange helpers, the
// property sheet's page rules and the Qt message box.
#include "platform/DataExchange.h"
#include "platform/Platform.h"
#include "platform/PropertyPage.h"
#include "platform/PropertySheet.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

struct TypingCase {
    const char* typed;
    int limit;
    const char* shown;
};

class DigitEditTyping : public ::testing::TestWithParam<TypingCase> {};

TEST_P(DigitEditTyping, KeepsDigitsUpToTheLimit) {
    const auto& c = GetParam();
    QLineEdit edit;
    MakeDigitsOnly(&edit, c.limit);
    edit.show();
    for (const QChar ch : QString::fromUtf8(c.typed)) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(&edit, &press);
    }
    EXPECT_EQ(edit.text().toStdString(), c.shown);
}

INSTANTIATE_TEST_SUITE_P(Cases, DigitEditTyping,
                         ::testing::Values(TypingCase{"123", 2, "12"}, TypingCase{"9", 1, "9"},
                                           TypingCase{"98", 1, "9"}, TypingCase{"a1b2", 4, "12"},
                                           TypingCase{"абв", 4, ""},
                                           TypingCase{"1234567890123456", 15, "123456789012345"},
                                           TypingCase{"1 2-3+", 15, "123"}));

TEST(DigitEdit, RefusesPastedLettersAndOverlongText) {
    QLineEdit edit;
    MakeDigitsOnly(&edit, 2);
    edit.show();
    QApplication::clipboard()->setText(QStringLiteral("4a"));
    edit.paste();
    EXPECT_EQ(edit.text(), QString());
    QApplication::clipboard()->setText(QStringLiteral("123"));
    edit.paste();
    EXPECT_EQ(edit.text(), QString());
    QApplication::clipboard()->setText(QStringLiteral("12"));
    edit.paste();
    EXPECT_EQ(edit.text(), QStringLiteral("12"));
    QApplication::clipboard()->setText(QStringLiteral("3"));
    edit.paste();
    EXPECT_EQ(edit.text(), QStringLiteral("12"));
}

TEST(DigitEdit, KeepsALongerStoredTextAndLetsItShrink) {
    QLineEdit edit;
    MakeDigitsOnly(&edit, 15);
    edit.show();
    QString value = QStringLiteral("1234567890123456"); // 16 digits, as a device may give
    exchange::Text(false, &edit, value, 15);
    EXPECT_EQ(edit.text(), value);
    edit.setFocus();
    edit.end(false);
    QTest::keyClick(&edit, Qt::Key_7);
    EXPECT_EQ(edit.text(), value) << "no growth past the limit";
    QTest::keyClick(&edit, Qt::Key_Backspace);
    EXPECT_EQ(edit.text(), QStringLiteral("123456789012345"));
    QTest::keyClick(&edit, Qt::Key_Backspace);
    QTest::keyClick(&edit, Qt::Key_8);
    EXPECT_EQ(edit.text(), QStringLiteral("123456789012348"));
    EXPECT_EQ(EditLimit(&edit), 15);
}

// A stored text that breaks the field's rules (an account "12ab" from a device, a pause
// "-5", letters from a foreign file) is shown as it came; what the operator then does to it
// is still guarded. Keys: '<' Backspace, '^' Home, '*' select all, '~' undo, others typed.
struct ForeignCase {
    const char* stored;
    int limit;
    const char* keys;
    const char* shown;
};

void PrintTo(const ForeignCase& c, std::ostream* os) {
    *os << '"' << c.stored << "\" + \"" << c.keys << '"';
}

class ForeignTextTyping : public ::testing::TestWithParam<ForeignCase> {};

TEST_P(ForeignTextTyping, AddsNoNonDigitAndNothingPastTheLimit) {
    const auto& c = GetParam();
    QLineEdit edit;
    MakeDigitsOnly(&edit, c.limit);
    edit.show();
    QString value = QString::fromUtf8(c.stored);
    exchange::Text(false, &edit, value, c.limit);
    ASSERT_EQ(edit.text(), value) << "shown as stored";
    edit.setFocus();
    edit.end(false);
    for (const QChar ch : QString::fromUtf8(c.keys)) {
        if (ch == u'<')
            QTest::keyClick(&edit, Qt::Key_Backspace);
        else if (ch == u'^')
            QTest::keyClick(&edit, Qt::Key_Home);
        else if (ch == u'*')
            edit.selectAll();
        else if (ch == u'~')
            QTest::keySequence(&edit, QKeySequence::Undo);
        else
            QTest::sendKeyEvent(QTest::Click, &edit, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }
    EXPECT_EQ(edit.text().toStdString(), c.shown) << c.stored << " + " << c.keys;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ForeignTextTyping,
    ::testing::Values(ForeignCase{"12ab", 4, "x7123", "12ab"}, ForeignCase{"12ab", 4, "<", "12a"},
                      ForeignCase{"12ab", 4, "<<7x", "127"}, ForeignCase{"12ab", 4, "<~x", "12ab"},
                      ForeignCase{"12ab", 4, "<~<9", "12a9"}, ForeignCase{"ab", 4, "a", "ab"},
                      ForeignCase{"ab", 4, "^b", "ab"}, ForeignCase{"-5", 2, "^x", "-5"},
                      ForeignCase{"-5", 2, "<7", "-7"}, ForeignCase{"-5", 2, "*7x", "7"},
                      ForeignCase{"1x2y3z", 4, "<<<4", "1x24"}, ForeignCase{"12ab", 4, "<<a", "12"},
                      ForeignCase{"12ab", 4, "<<~x7", "12ab"},
                      ForeignCase{"12ab", 4, "<<~<x", "12a"}));

TEST(DigitEdit, AForeignTextSetStraightIntoTheEditIsGuardedToo) {
    QLineEdit edit;
    MakeDigitsOnly(&edit, 4);
    edit.show();
    edit.setText(QStringLiteral("12ab"));
    edit.setFocus();
    edit.end(false);
    QTest::keyClicks(&edit, QStringLiteral("x7"));
    EXPECT_EQ(edit.text(), QStringLiteral("12ab"));
    QTest::keyClick(&edit, Qt::Key_Backspace);
    QTest::keyClicks(&edit, QStringLiteral("c9"));
    EXPECT_EQ(edit.text(), QStringLiteral("12a9"));
}

TEST(Ddx, TextLimitAppliesWhenPushed) {
    QLineEdit edit;
    QString value = QStringLiteral("ab");
    exchange::Text(false, &edit, value, 3);
    EXPECT_EQ(EditLimit(&edit), 3);
    edit.show();
    edit.setFocus();
    edit.end(false);
    QTest::keyClicks(&edit, QStringLiteral("cde"));
    EXPECT_EQ(edit.text(), QStringLiteral("abc")) << "a plain text field takes letters";
    exchange::Text(true, &edit, value);
    EXPECT_EQ(value, QStringLiteral("abc"));
}

TEST(Ddx, CheckClearsACheckedRadioButtonOnItsOwn) {
    QWidget box;
    auto* a = new QRadioButton(&box);
    auto* b = new QRadioButton(&box);
    int one = 1, zero = 0;
    exchange::Check(false, a, one);
    EXPECT_TRUE(a->isChecked());
    exchange::Check(false, a, zero);
    EXPECT_FALSE(a->isChecked());
    EXPECT_FALSE(b->isChecked());
    EXPECT_TRUE(a->autoExclusive());
    exchange::Check(false, b, one);
    b->click();
    a->click();
    EXPECT_FALSE(b->isChecked()) << "still one group";
    int state = 0;
    exchange::Check(true, a, state);
    EXPECT_EQ(state, 1);
    exchange::Check(true, b, state);
    EXPECT_EQ(state, 0);
    state = 5; // shown checked, left checked: stays
    exchange::Check(false, a, state);
    exchange::Check(true, a, state);
    EXPECT_EQ(state, 5);
    a->setAutoExclusive(false);
    a->setChecked(false);
    exchange::Check(true, a, state);
    EXPECT_EQ(state, 0);
}

TEST(Ddx, RadioGivesTheCheckedIndex) {
    QWidget box;
    auto* a = new QRadioButton(&box);
    auto* b = new QRadioButton(&box);
    int index = 1;
    exchange::Radio(false, {a, b}, index);
    EXPECT_TRUE(b->isChecked());
    index = -1;
    exchange::Radio(false, {a, b}, index);
    EXPECT_FALSE(a->isChecked());
    EXPECT_FALSE(b->isChecked());
    exchange::Radio(true, {a, b}, index);
    EXPECT_EQ(index, -1);
    a->setChecked(true);
    exchange::Radio(true, {a, b}, index);
    EXPECT_EQ(index, 0);
}

TEST(Ddx, ListIndexOutsideTheListSelectsNothing) {
    QComboBox list;
    list.addItems({QStringLiteral("a"), QStringLiteral("b")});
    for (int value : {2, 7, -2, -1}) {
        int v = value;
        exchange::ListIndex(false, &list, v);
        EXPECT_EQ(list.currentIndex(), -1) << value;
        exchange::ListIndex(true, &list, v);
        EXPECT_EQ(v, value) << "nothing chosen: the stored value stays";
    }
    int v = 7;
    exchange::ListIndex(false, &list, v);
    list.setCurrentIndex(0);
    exchange::ListIndex(true, &list, v);
    EXPECT_EQ(v, 0);
    v = 1;
    exchange::ListIndex(false, &list, v);
    EXPECT_EQ(list.currentText(), QStringLiteral("b"));
    list.setCurrentIndex(-1);
    exchange::ListIndex(true, &list, v);
    EXPECT_EQ(v, -1);
}

// A page that counts its exchanges and refuses to be left while `refuse` is set.
class TestPage : public CPropertyPage {
public:
    explicit TestPage(const QString& caption) : CPropertyPage(caption) {}
    bool refuse = false;
    int created = 0, killed = 0, activated = 0;
    QLabel* label = nullptr;
    const CPropertySheet* sheet = nullptr;
    int tabWhenAsked = -1; // the tab the sheet showed when this page was asked to go
    bool OnKillActive() override {
        ++killed;
        if (sheet) tabWhenAsked = sheet->TabBar()->currentIndex();
        return !refuse && CPropertyPage::OnKillActive();
    }
    void OnSetActive() override { ++activated; }

protected:
    void CreateControls() override {
        ++created;
        label = new QLabel(Caption(), this);
    }
};

TEST(PropertySheet, OpensOnTheStartPageAndBuildsPagesWhenFirstShown) {
    QWidget owner;
    CPropertySheet sheet(QStringLiteral("Лист"), &owner, 0);
    TestPage p1(QStringLiteral("Один")), p2(QStringLiteral("Два"));
    sheet.AddPage(&p1);
    sheet.AddPage(&p2);
    EXPECT_EQ(sheet.windowTitle(), QStringLiteral("Лист"));
    EXPECT_EQ(sheet.parentWidget(), &owner);
    EXPECT_EQ(sheet.TabBar()->tabText(1), QStringLiteral("Два"));
    EXPECT_EQ(sheet.OkButton()->text(), QStringLiteral("OK"));
    EXPECT_EQ(sheet.CancelButton()->text(), QStringLiteral("Отмена"));
    EXPECT_EQ(sheet.ApplyButton()->text(), QStringLiteral("Применить"));
    EXPECT_EQ(sheet.HelpButton()->text(), QStringLiteral("Справка"));
    EXPECT_FALSE(sheet.ApplyButton()->isEnabled());
    EXPECT_EQ(p1.created + p2.created, 0) << "nothing built before the run";

    QTimer::singleShot(0, &sheet, [&] {
        EXPECT_EQ(sheet.ActiveIndex(), 0);
        EXPECT_EQ(p1.created, 1);
        EXPECT_EQ(p2.created, 0);
        EXPECT_TRUE(p1.label->isVisible());
        sheet.TabBar()->setCurrentIndex(1);
        EXPECT_EQ(p2.created, 1);
        EXPECT_EQ(p1.killed, 1);
        EXPECT_TRUE(p2.label->isVisible());
        sheet.TabBar()->setCurrentIndex(0);
        sheet.TabBar()->setCurrentIndex(1);
        EXPECT_EQ(p2.created, 1) << "built once";
        sheet.PressOk();
    });
    EXPECT_EQ(sheet.DoModal(), QDialog::Accepted);
    EXPECT_EQ(p2.killed, 2) << "left once for a tab, once for OK";
}

TEST(PropertySheet, ARefusingPageKeepsTheSheetOnItForATabSwitchAndForOk) {
    CPropertySheet sheet(QStringLiteral("Лист"), nullptr, 0);
    TestPage p1(QStringLiteral("Один")), p2(QStringLiteral("Два"));
    sheet.AddPage(&p1);
    sheet.AddPage(&p2);
    bool stillOpenAfterOk = false;
    QTimer::singleShot(0, &sheet, [&] {
        p1.refuse = true;
        sheet.TabBar()->setCurrentIndex(1);
        EXPECT_EQ(sheet.ActiveIndex(), 0);
        EXPECT_EQ(sheet.TabBar()->currentIndex(), 0);
        EXPECT_EQ(p2.created, 0);
        sheet.OkButton()->click();
        stillOpenAfterOk = sheet.isVisible();
        p1.refuse = false;
        sheet.CancelButton()->click();
    });
    EXPECT_EQ(sheet.DoModal(), QDialog::Rejected);
    EXPECT_TRUE(stillOpenAfterOk);
}

TEST(PropertySheet, KeysSwitchTabsAndARefusingPageKeepsItsTabHighlighted) {
    CPropertySheet sheet(QStringLiteral("Лист"), nullptr, 0);
    TestPage p1(QStringLiteral("Один")), p2(QStringLiteral("Два")), p3(QStringLiteral("Три"));
    for (TestPage* p : {&p1, &p2, &p3}) {
        p->sheet = &sheet;
        sheet.AddPage(p);
    }
    const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
    const Qt::KeyboardModifiers ctrlShift = Qt::ControlModifier | Qt::ShiftModifier;
    struct Press {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int tab; // the tab shown after it
    };
    const Press presses[] = {{Qt::Key_Tab, ctrl, 1},    {Qt::Key_PageDown, ctrl, 2},
                             {Qt::Key_Tab, ctrl, 0},    {Qt::Key_Backtab, ctrlShift, 2},
                             {Qt::Key_PageUp, ctrl, 1}, {Qt::Key_Tab, ctrlShift, 0},
                             {Qt::Key_PageUp, ctrl, 2}};
    QTimer::singleShot(0, &sheet, [&] {
        ASSERT_TRUE(QTest::qWaitForWindowActive(&sheet));
        auto target = [&]() -> QWidget* {
            QWidget* focus = QApplication::focusWidget();
            return focus ? focus : &sheet;
        };
        for (const Press& p : presses) {
            QTest::keyClick(target(), p.key, p.modifiers);
            EXPECT_EQ(sheet.ActiveIndex(), p.tab)
                << QKeySequence(p.key | p.modifiers).toString().toStdString();
            EXPECT_EQ(sheet.TabBar()->currentIndex(), p.tab);
        }
        // The page on tab 3 refuses to go: by key and by a click on a tab its tab stays the
        // highlighted one, also while the page is asked (when it shows its message).
        p3.refuse = true;
        QTest::keyClick(target(), Qt::Key_Tab, ctrl);
        EXPECT_EQ(p3.tabWhenAsked, 2);
        p3.tabWhenAsked = -1;
        sheet.TabBar()->setCurrentIndex(0);
        EXPECT_EQ(p3.tabWhenAsked, 2);
        EXPECT_EQ(sheet.ActiveIndex(), 2);
        EXPECT_EQ(sheet.TabBar()->currentIndex(), 2);
        p3.refuse = false;
        sheet.reject();
    });
    sheet.DoModal();
}

TEST(PropertySheet, CancelDoesNotAskThePage) {
    CPropertySheet sheet(QStringLiteral("Лист"), nullptr, 0);
    TestPage p1(QStringLiteral("Один"));
    sheet.AddPage(&p1);
    QTimer::singleShot(0, &sheet, [&] { sheet.CancelButton()->click(); });
    EXPECT_EQ(sheet.DoModal(), QDialog::Rejected);
    EXPECT_EQ(p1.killed, 0);
}

TEST(PropertySheet, RunsAgainOnItsStartPage) {
    CPropertySheet sheet(QStringLiteral("Лист"), nullptr, 0);
    TestPage p1(QStringLiteral("Один")), p2(QStringLiteral("Два"));
    sheet.AddPage(&p1);
    sheet.AddPage(&p2);
    QTimer::singleShot(0, &sheet, [&] {
        sheet.SetActivePage(1);
        sheet.PressOk();
    });
    sheet.DoModal();
    int activeAtStart = -1;
    QTimer::singleShot(0, &sheet, [&] {
        activeAtStart = sheet.TabBar()->currentIndex();
        sheet.reject();
    });
    sheet.DoModal();
    EXPECT_EQ(activeAtStart, 0);
}

// The Qt message box, as the operator sees it.
struct BoxSeen {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
};

TEST(QtMessageBox, ShowsCaptionIconAndRussianButtons) {
    SetPlatform(nullptr);
    BoxSeen seen;
    QTimer::singleShot(0, [&seen] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.icon = box->icon();
        for (auto* b : box->buttons())
            seen.buttons << b->text();
        for (auto* b : box->buttons())
            if (b->text() == QStringLiteral("Нет")) b->click();
    });
    Message question{MessageOwner::None, "", "Удалить?", MessageIcon::Question,
                     MessageButtons::YesNo};
    EXPECT_EQ(ThePlatform().ShowMessage(nullptr, question), MessageAnswer::No);
    EXPECT_EQ(seen.title, QStringLiteral("torvik7-setup"));
    EXPECT_EQ(seen.text, QStringLiteral("Удалить?"));
    EXPECT_EQ(seen.icon, QMessageBox::Question);
    EXPECT_EQ(seen.buttons, (QStringList{QStringLiteral("Да"), QStringLiteral("Нет")}));

    seen = {};
    QTimer::singleShot(0, [&seen] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        seen.title = box->windowTitle();
        seen.icon = box->icon();
        for (auto* b : box->buttons())
            seen.buttons << b->text();
        box->buttons().front()->click();
    });
    Message error{MessageOwner::Window, kCaptionOshibka, "Плохо", MessageIcon::Error,
                  MessageButtons::Ok};
    EXPECT_EQ(ThePlatform().ShowMessage(nullptr, error), MessageAnswer::Ok);
    EXPECT_EQ(seen.title, QStringLiteral("Ошибка"));
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
    EXPECT_EQ(seen.buttons, QStringList{QStringLiteral("OK")});
}

TEST(QtMessageBox, YesUnlessNoWasChosen) {
    SetPlatform(nullptr);
    QTimer::singleShot(0, [] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        for (auto* b : box->buttons())
            if (b->text() == QStringLiteral("Да")) b->click();
    });
    Message question{MessageOwner::None, "", "?", MessageIcon::Question, MessageButtons::YesNo};
    EXPECT_EQ(ThePlatform().ShowMessage(nullptr, question), MessageAnswer::Yes);
}

// The file dialogs as the operator gets them.
struct DialogSeen {
    bool found = false;
    QStringList filters;
    QString selectedFilter, suffix;
    QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
    QFileDialog::FileMode fileMode = QFileDialog::ExistingFile;
    bool confirmOverwrite = false;
};

TEST(QtFileDialogs, SaveOffersStgFilesAsksBeforeOverwritingAndAddsTheSuffix) {
    SetPlatform(nullptr);
    QTemporaryDir dir;
    DialogSeen seen;
    QTimer::singleShot(0, [&seen, &dir] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        seen.found = true;
        if (auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo")))
            for (int i = 0; i < types->count(); ++i)
                seen.filters << types->itemText(i);
        seen.selectedFilter = dialog->selectedNameFilter();
        seen.suffix = dialog->defaultSuffix();
        seen.mode = dialog->acceptMode();
        seen.confirmOverwrite = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
        dialog->selectFile(dir.filePath(QStringLiteral("объект")));
        static_cast<QDialog*>(dialog)->accept(); // as the Open or Save button does
    });
    const auto choice = ThePlatform().SaveFileDialog(nullptr);
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.filters, (QStringList{"Settings Files (*.stg)", "All Files (*.*)"}))
        << "as the file-type list shows them";
    EXPECT_EQ(seen.selectedFilter, QStringLiteral("Settings Files (*.stg)"));
    EXPECT_EQ(seen.suffix, QStringLiteral("stg"));
    EXPECT_EQ(seen.mode, QFileDialog::AcceptSave);
    EXPECT_TRUE(seen.confirmOverwrite);
    ASSERT_TRUE(choice.has_value());
    EXPECT_EQ(choice->name, QStringLiteral("объект.stg"));
    EXPECT_EQ(choice->path, dir.filePath(QStringLiteral("объект.stg")));
}

TEST(QtFileDialogs, OpenTakesANameThatDoesNotExistAndCancelGivesNothing) {
    SetPlatform(nullptr);
    QTemporaryDir dir;
    QFileDialog::FileMode fileMode = QFileDialog::ExistingFile;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptOpen);
        fileMode = dialog->fileMode();
        dialog->selectFile(dir.filePath(QStringLiteral("нет.stg")));
        static_cast<QDialog*>(dialog)->accept(); // as the Open or Save button does
    });
    const auto choice = ThePlatform().OpenFileDialog(nullptr);
    EXPECT_EQ(fileMode, QFileDialog::AnyFile);
    ASSERT_TRUE(choice.has_value());
    EXPECT_EQ(choice->name, QStringLiteral("нет.stg"));

    QTimer::singleShot(0, [] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget()))
            dialog->reject();
    });
    EXPECT_FALSE(ThePlatform().OpenFileDialog(nullptr).has_value());
}

// Each filter of the open dialog lists what its label promises; "All Files (*.*)" lists
// names without an extension too.
TEST(QtFileDialogs, EachFilterListsTheFilesItNames) {
    SetPlatform(nullptr);
    QTemporaryDir dir;
    for (const char* name : {"a.stg", "b.txt", "noext"})
        QFile(dir.filePath(QString::fromUtf8(name))).open(QIODevice::WriteOnly);
    const std::vector<std::string> expected = {"a.stg", "a.stg b.txt noext"};
    std::vector<std::string> listed;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->setDirectory(dir.path());
        auto* view = dialog->findChild<QListView*>(QStringLiteral("listView"));
        ASSERT_NE(view, nullptr);
        const auto names = [view] {
            QStringList shown;
            const QModelIndex root = view->rootIndex();
            for (int row = 0; row < view->model()->rowCount(root); ++row)
                shown << view->model()->index(row, 0, root).data().toString();
            shown.sort();
            return shown.join(' ').toStdString();
        };
        for (std::size_t i = 0; i < expected.size(); ++i) {
            dialog->selectNameFilter(dialog->nameFilters().at(static_cast<int>(i)));
            (void)QTest::qWaitFor([&] { return names() == expected[i]; }, 3000);
            listed.push_back(names());
        }
        dialog->reject();
    });
    EXPECT_FALSE(ThePlatform().OpenFileDialog(nullptr).has_value());
    EXPECT_EQ(listed, expected);
}

TEST(QtMenus, ShowsTheItemsAndGivesTheChosenId) {
    SetPlatform(nullptr);
    QWidget owner;
    QStringList texts;
    QTimer::singleShot(0, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        for (auto* a : menu->actions())
            texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
        menu->setActiveAction(menu->actions().back());
        QTest::keyClick(menu, Qt::Key_Return);
    });
    const int chosen = ThePlatform().TrackPopupMenu(
        &owner,
        {MenuItem{7, QStringLiteral("Тип 1:\t 'Пожар'")}, MenuItem{0, {}, true},
         MenuItem{16, QStringLiteral("О программе")}},
        QPoint(10, 10));
    EXPECT_EQ(chosen, 16);
    EXPECT_EQ(texts, (QStringList{"Тип 1:\t 'Пожар'", "-", "О программе"}));

    QTimer::singleShot(0, [] {
        if (auto* menu = QApplication::activePopupWidget()) menu->close();
    });
    EXPECT_EQ(
        ThePlatform().TrackPopupMenu(&owner, {MenuItem{3, QStringLiteral("x")}}, QPoint(10, 10)),
        0);
}

TEST(QtShell, AMissingFileIsError2) {
    SetPlatform(nullptr);
    EXPECT_EQ(ThePlatform().ShellOpen(QStringLiteral("/nonexistent/ContactIDEventCodes.html")), 2);
}

} // namespace
