// EditSettings: the sheet's frame, and what goes into the pages and back into the record.
#include "AppFixture.h"

#include "app/PageCopies.h"
#include "pages/Devices.h"
#include "pages/PhoneNums.h"
#include "ui_Devices.h"
#include "ui_PhoneNums.h"

#include "pages/Loops.h"

#include <QComboBox>
#include <QTabBar>
#include <QTreeWidget>

#include <cstring>

namespace {

using Sheet = AppTest;

void FillValid(SettingsRecord& r) {
    FillDefaults(r);
}

Devices* General(CPropertySheet& s) {
    return dynamic_cast<Devices*>(s.Page(0));
}
PhoneNums* Phones(CPropertySheet& s) {
    return dynamic_cast<PhoneNums*>(s.Page(1));
}

TEST_F(Sheet, FrameTabsAndButtons) {
    FillValid(record);
    QStringList tabs;
    QString caption;
    QWidget* owner = nullptr;
    bool applyEnabled = true;
    int active = -1;
    bool phonesCreated = true;
    DriveSheets([&](CPropertySheet& s) {
        caption = s.windowTitle();
        owner = s.parentWidget();
        for (int i = 0; i < s.TabBar()->count(); ++i)
            tabs << s.TabBar()->tabText(i);
        applyEnabled = s.ApplyButton()->isEnabled();
        active = s.ActiveIndex();
        phonesCreated = s.Page(1)->IsCreated();
    });
    EXPECT_FALSE(Window().EditSettings(record));
    EXPECT_EQ(sheetsShown, 1);
    EXPECT_EQ(caption, QStringLiteral("Настройки ТОРВИК-7"));
    EXPECT_EQ(owner, &Window());
    EXPECT_EQ(tabs, (QStringList{"Общие", "Телефоны", "Шлейфы", "Группы шлейфов", "Коды событий"}));
    EXPECT_FALSE(applyEnabled);
    EXPECT_EQ(active, 0);
    EXPECT_FALSE(phonesCreated) << "a page is built when first shown";
}

TEST_F(Sheet, OneSizeForEveryTabThatOfTheLargestPage) {
    FillValid(record);
    std::vector<QSize> sizes;
    QSize largest;
    DriveSheets([&](CPropertySheet& s) {
        for (int i = 0; i < s.PageCount(); ++i) {
            s.SetActivePage(i);
            QApplication::processEvents();
            sizes.push_back(s.size());
            largest = largest.expandedTo(s.Page(i)->minimumSizeHint());
        }
        for (int i = 0; i < s.PageCount(); ++i)
            EXPECT_TRUE(s.Page(i)->width() >= largest.width() &&
                        s.Page(i)->height() >= largest.height())
                << "page " << i << " has the room of the largest";
    });
    Window().EditSettings(record);
    ASSERT_EQ(sizes.size(), 5u);
    for (std::size_t i = 1; i < sizes.size(); ++i)
        EXPECT_EQ(sizes[i], sizes[0]) << "tab " << i + 1;
}

TEST_F(Sheet, SettingsShownAlsoOnCancel) {
    FillValid(record);
    DriveSheets(PressCancel);
    EXPECT_EQ(SettingsShown, 0);
    EXPECT_FALSE(Window().EditSettings(record));
    EXPECT_EQ(SettingsShown, 1);
}

TEST_F(Sheet, AlwaysOpensOnGeneral) {
    FillValid(record);
    std::vector<int> startTabs;
    DriveSheets([&](CPropertySheet& s) {
        startTabs.push_back(s.TabBar()->currentIndex());
        s.SetActivePage(1);
        PressOk(s);
    });
    EXPECT_TRUE(Window().EditSettings(record));
    EXPECT_TRUE(Window().EditSettings(record));
    EXPECT_EQ(startTabs, (std::vector<int>{0, 0}));
}

// A record field, what it holds before, and what OK without visiting any page leaves.
struct NormaliseCase {
    const char* name;
    std::function<void(SettingsRecord&)> set;
    std::function<int(const SettingsRecord&)> get;
    int expected;
};

class OkWithoutVisiting : public AppTest, public ::testing::WithParamInterface<NormaliseCase> {};

TEST_P(OkWithoutVisiting, Normalises) {
    const auto& c = GetParam();
    FillValid(record);
    c.set(record);
    DriveSheets(PressOk);
    EXPECT_TRUE(Window().EditSettings(record));
    EXPECT_EQ(c.get(record), c.expected) << c.name;
}

#define FIELD(f, v, e)                                                                             \
    NormaliseCase {                                                                                \
#f " " #v,                                                                                 \
            [](SettingsRecord &                                                                    \
               r) { r.f = v; }, [](const SettingsRecord& r) { return static_cast<int>(r.f); }, e   \
    }

INSTANTIATE_TEST_SUITE_P(
    Table, OkWithoutVisiting,
    ::testing::Values(FIELD(dialPause, 0, 1), FIELD(dialPause, 75, 59), FIELD(dialPause, 59, 59),
                      FIELD(dialPause, 1, 1), FIELD(dialPause, -5, 1), FIELD(dialPause, 100, 10),
                      FIELD(protocol, 0, 2), FIELD(protocol, 3, 2), FIELD(protocol, 1, 1),
                      FIELD(protocol, 2, 2), FIELD(prefixEnabled, 5, 1), FIELD(prefixEnabled, 0, 0),
                      FIELD(detectBusy, 7, 1), FIELD(detectBusy, 0, 0), FIELD(blindDialing, 9, 1),
                      FIELD(blindDialing, 0, 0), FIELD(pulseDialing, 3, 1),
                      FIELD(pulseDialing, 0, 0), FIELD(showLineFault, 5, 5),
                      FIELD(showLineFault, 1, 1), FIELD(showLineFault, -1, -1),
                      FIELD(showLineFault, 0, 0), FIELD(lineCheckPeriod, 9, 9),
                      FIELD(lineCheckPeriod, 0, 0), FIELD(lineCheckPeriod, 3, 3),
                      FIELD(dialCycles, 3, 3), FIELD(dialCycles, 12, 12), FIELD(dialCycles, 4, 4),
                      FIELD(dialCycles, 8, 8), FIELD(pulseRatio, 1, 1), FIELD(pulseRatio, 5, 5)),
    [](const auto& info) {
        std::string n = info.param.name;
        for (auto& ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return n;
    });

TEST_F(Sheet, OkWithoutVisitingKeepsTheTextsAndCutsThemToTheirFields) {
    FillValid(record);
    std::memcpy(record.accountNumber, "1234", 5);
    std::memcpy(record.testInterval, "07", 3);
    std::memcpy(record.phoneNumbers[3], "123456789012345", 16);
    std::memcpy(record.prefixNumber,
                "1234567890123456\0"
                "99",
                19); // 16 digits from a device
    record.prefixNumber[17] = '7';
    DriveSheets(PressOk);
    EXPECT_TRUE(Window().EditSettings(record));
    EXPECT_STREQ(record.accountNumber, "1234");
    EXPECT_STREQ(record.testInterval, "07");
    EXPECT_STREQ(record.phoneNumbers[3], "123456789012345");
    EXPECT_STREQ(record.prefixNumber, "1234567890123456");
    EXPECT_EQ(record.prefixNumber[17], '7') << "bytes behind the terminator stay";
}

TEST_F(Sheet, UnterminatedFieldsFromAForeignFileStayInsideTheirFields) {
    FillValid(record);
    std::memset(record.accountNumber, '9', 5); // no terminator
    std::memset(record.testInterval, '8', 3);
    std::memset(record.phoneNumbers[0], '7', 17);
    DriveSheets(PressOk);
    EXPECT_TRUE(Window().EditSettings(record));
    EXPECT_EQ(std::string(record.accountNumber), "9999");
    EXPECT_EQ(std::string(record.testInterval), "88");
    EXPECT_EQ(std::string(record.phoneNumbers[0]), "7777777777777777");
    EXPECT_EQ(record.phoneNumbers[1][0], '\0');
}

TEST_F(Sheet, AForeignAccountTakesNoLettersAndNoFifthCharacter) {
    FillValid(record);
    std::memcpy(record.accountNumber, "12ab", 5); // account nibbles 10 and 11 from a device
    DriveSheets([&](CPropertySheet& s) {
        QLineEdit* account = General(s)->Form()->account;
        account->setFocus();
        account->end(false);
        TypeChars(account, QStringLiteral("x7123"));
        EXPECT_EQ(account->text(), QStringLiteral("12ab"));
        PressOk(s);
    });
    EXPECT_TRUE(Window().EditSettings(record));
    EXPECT_STREQ(record.accountNumber, "12ab");
}

TEST_F(Sheet, PauseFieldEmptyGives5AndDoubleZeroGives1) {
    for (const auto& [text, expected] :
         std::vector<std::pair<QString, int>>{{"", 5}, {"00", 1}, {"7", 7}, {"60", 59}}) {
        FillValid(record);
        record.blindDialing = 1; // pause field enabled
        DriveSheets([&, text = text](CPropertySheet& s) {
            s.SetActivePage(1);
            Type(Phones(s)->Form()->pause, text);
            PressOk(s);
        });
        EXPECT_TRUE(Window().EditSettings(record));
        EXPECT_EQ(record.dialPause, expected) << text.toStdString();
    }
}

TEST_F(Sheet, CancelLeavesGeneralAndPhonesFieldsAsTheyWere) {
    FillValid(record);
    std::memcpy(record.phoneNumbers[0], "111", 4);
    const SettingsRecord before = record;
    DriveSheets([&](CPropertySheet& s) {
        Type(General(s)->Form()->account, QStringLiteral("4321"));
        General(s)->Form()->protocolFm->click();
        s.SetActivePage(1);
        Type(Phones(s)->PhoneEdit(1), QStringLiteral("2222"));
        Phones(s)->Form()->prefixOn->click();
        s.SetActivePage(0);
        PressCancel(s);
    });
    EXPECT_FALSE(Window().EditSettings(record));
    EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0);
}

TEST_F(Sheet, EditsOnBothPagesReachTheRecordOnOk) {
    FillValid(record);
    DriveSheets([&](CPropertySheet& s) {
        auto* g = General(s)->Form();
        Type(g->account, QStringLiteral("0042"));
        g->protocolFm->click();
        Type(g->testInterval, QStringLiteral("7"));
        g->lineCheck->setCurrentIndex(5);
        g->showLineFault->click();
        s.SetActivePage(1);
        auto* p = Phones(s)->Form();
        Type(Phones(s)->PhoneEdit(9), QStringLiteral("89001234567"));
        p->prefixOn->click();
        Type(p->prefix, QStringLiteral("8"));
        p->tone->click();
        p->dialCycles->setCurrentIndex(1);
        p->detectBusy->click();
        p->detectDialTone->click(); // clear: blind dialing, the pause field opens
        Type(p->pause, QStringLiteral("12"));
        p->pulseRatio->setCurrentIndex(1);
        PressOk(s);
    });
    EXPECT_TRUE(Window().EditSettings(record));
    EXPECT_STREQ(record.accountNumber, "0042");
    EXPECT_EQ(record.protocol, 2);
    EXPECT_STREQ(record.testInterval, "7");
    EXPECT_EQ(record.lineCheckPeriod, 6);
    EXPECT_EQ(record.showLineFault, 0);
    EXPECT_STREQ(record.phoneNumbers[8], "89001234567");
    EXPECT_EQ(record.prefixEnabled, 1);
    EXPECT_STREQ(record.prefixNumber, "8");
    EXPECT_EQ(record.pulseDialing, 0);
    EXPECT_EQ(record.dialCycles, 5);
    EXPECT_EQ(record.detectBusy, 1);
    EXPECT_EQ(record.blindDialing, 1);
    EXPECT_EQ(record.dialPause, 12);
    EXPECT_EQ(record.pulseRatio, 1);
}

TEST_F(Sheet, TestIntervalTypedAsOneOrTwoDigits) {
    for (const char* typed : {"7", "00", ""}) {
        FillValid(record);
        DriveSheets([&](CPropertySheet& s) {
            Type(General(s)->Form()->testInterval, QString::fromLatin1(typed));
            PressOk(s);
        });
        EXPECT_TRUE(Window().EditSettings(record));
        EXPECT_STREQ(record.testInterval, typed);
    }
}

TEST_F(Sheet, ListsLeftWithNothingSelectedGoBackAsTheTablesSay) {
    FillValid(record);
    record.lineCheckPeriod = 7; // no entry: nothing selected
    record.dialCycles = 9;
    DriveSheets([&](CPropertySheet& s) {
        s.SetActivePage(1);
        PressOk(s);
    });
    EXPECT_TRUE(Window().EditSettings(record));
    EXPECT_EQ(record.lineCheckPeriod, 7) << "shown with nothing selected, and nothing chosen";
    EXPECT_EQ(record.dialCycles, 9) << "no index leaves the field as it was";
}

TEST_F(Sheet, CancelKeepsWhatTheLoopsPageAlreadyStored) {
    FillValid(record);
    std::memcpy(record.phoneNumbers[0], "111", 4);
    bool assigned = false;
    DriveSheets([&](CPropertySheet& s) {
        s.SetActivePage(1);
        Type(Phones(s)->PhoneEdit(1), QStringLiteral("2222"));
        s.SetActivePage(2);
        auto* loops = dynamic_cast<Loops*>(s.Page(2));
        ASSERT_NE(loops, nullptr);
        EXPECT_EQ(loops->m_record, &record);
        QTreeWidgetItem* relays = loops->Tree()->topLevelItem(1);
        ASSERT_NE(relays, nullptr);
        loops->Tree()->setCurrentItem(relays->child(0));
        relays->child(0)->setSelected(true);
        assigned = loops->OnCommand(5);
        PressCancel(s);
    });
    EXPECT_FALSE(Window().EditSettings(record));
    EXPECT_TRUE(assigned);
    EXPECT_STREQ(record.phoneNumbers[0], "111");
    EXPECT_EQ(record.relayTypes[0], 5);
}

TEST(PauseRule, Table) {
    const std::vector<std::pair<QString, int>> cases{{"", 5},   {"0", 1},    {"00", 1},  {"05", 5},
                                                     {"5", 5},  {"59", 59},  {"60", 59}, {"99", 59},
                                                     {"-5", 1}, {"127", 12}, {"1a", 1},  {"a1", 5}};
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(PauseFromText(text), expected) << text.toStdString();
}

} // namespace
