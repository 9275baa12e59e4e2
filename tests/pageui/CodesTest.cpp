#include "pages/Codes.h"

#include "PageTestSupport.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

class CodesTest : public ::testing::Test {
protected:
    ScriptedPlatform platform;
    std::unique_ptr<SettingsRecord> record = DefaultRecord();
    CCodes page;

    void SetUp() override { ShowPage(page, *record); }
    QLineEdit* edit(int t) { return page.CodeEdit(t); }
    QLabel* label(int t) { return page.TypeLabel(t); }
    QPoint labelCorner(int t) { return label(t)->mapTo(&page, QPoint(0, 0)); }
    void Type(int t, const QString& text) {
        edit(t)->clear();
        QTest::keyClicks(edit(t), text);
        ASSERT_EQ(edit(t)->text(), text);
    }
    std::vector<int> Code(int t) {
        return {record->eventCodes[t - 1][0], record->eventCodes[t - 1][1],
                record->eventCodes[t - 1][2]};
    }
    // A real double-click at a point of the page, delivered to whatever lies there.
    void DoubleClick(QPoint p) {
        QWidget* target = page.childAt(p);
        if (!target) target = &page;
        QTest::mouseDClick(target, Qt::LeftButton, {}, target->mapFrom(&page, p));
        QApplication::processEvents();
    }
    std::string LastText() {
        return platform.messages.empty() ? std::string() : platform.messages.back().message.text;
    }
};

TEST_F(CodesTest, GridOfLabelsAndEditsByColumns) {
    EXPECT_EQ(page.Caption(), "Коды событий");
    for (int t = 1; t <= 16; ++t) {
        EXPECT_EQ(label(t)->text(), QStringLiteral("%1 тип ").arg(t));
        const int column = (t - 1) / 4, row = (t - 1) % 4;
        EXPECT_EQ(labelCorner(t).x(), labelCorner(4 * column + 1).x()) << t;
        EXPECT_EQ(labelCorner(t).y(), labelCorner(row + 1).y()) << t;
        if (column > 0) {
            EXPECT_GT(labelCorner(t).x(), edit(t - 4)->mapTo(&page, QPoint(0, 0)).x());
        }
        if (row > 0) {
            EXPECT_GT(labelCorner(t).y(), labelCorner(t - 1).y());
        }
        EXPECT_GT(edit(t)->mapTo(&page, QPoint(0, 0)).x(), labelCorner(t).x());
    }
    EXPECT_EQ(page.findChild<QGroupBox*>("frame")->title(),
              "Коды событий у заданных типов шлейфов");
    EXPECT_EQ(page.findChild<QLabel*>("hint")->text(),
              "Дважды кликните по номеру типа для расшифровки события");
    EXPECT_EQ(page.findChild<QPushButton*>("restoreButton")->text(), "Коды по умолчанию");
}

TEST_F(CodesTest, EditsShowTheStoredCodes) {
    const char* expected[] = {"130", "131", "132", "133", "134", "135", "136", "137",
                              "138", "120", "140", "150", "300", "381", "384", "000"};
    for (int t = 1; t <= 16; ++t)
        EXPECT_EQ(edit(t)->text(), expected[t - 1]) << t;
}

TEST_F(CodesTest, EditsTakeThreeDigitsOnly) {
    QTest::keyClicks(edit(1), "x");
    EXPECT_EQ(edit(1)->text(), "130");
    edit(2)->clear();
    QTest::keyClicks(edit(2), "9a8-b7 6");
    EXPECT_EQ(edit(2)->text(), "987");
    edit(3)->clear();
    edit(3)->insert("1a2"); // a paste holding a letter is refused whole
    EXPECT_EQ(edit(3)->text(), "");
    edit(3)->insert("1234");
    EXPECT_EQ(edit(3)->text(), "");
    edit(3)->insert("042");
    EXPECT_EQ(edit(3)->text(), "042");
}

struct Stored {
    const char* text;
    std::vector<int> digits;
};

TEST_F(CodesTest, ZeroAndThreeDigitTextsAreStored) {
    const Stored cases[] = {{"", {0, 0, 0}},    {"0", {0, 0, 0}},   {"00", {0, 0, 0}},
                            {"000", {0, 0, 0}}, {"005", {0, 0, 5}}, {"012", {0, 1, 2}},
                            {"999", {9, 9, 9}}, {"601", {6, 0, 1}}};
    for (const auto& c : cases) {
        Type(7, c.text);
        EXPECT_TRUE(page.OnKillActive()) << c.text;
        EXPECT_EQ(Code(7), c.digits) << c.text;
        EXPECT_EQ(edit(7)->text(), c.text); // the edit keeps what was typed
    }
    EXPECT_TRUE(platform.messages.empty());
}

TEST_F(CodesTest, ShortNonZeroCodesAreRefusedNamingTheType) {
    for (const char* text : {"5", "12", "05", "1"}) {
        platform.messages.clear();
        Type(3, "777");
        Type(6, "555");
        Type(9, text);
        Type(10, "444");
        const auto before = Code(10);
        EXPECT_FALSE(page.OnKillActive()) << text;
        ASSERT_EQ(platform.messages.size(), 1u) << text;
        EXPECT_EQ(platform.messages[0].message,
                  (Message{MessageOwner::Window, "Ошибка",
                           "Код события у 9 типа шлейфа должен содержать 3 цифры!",
                           MessageIcon::Error, MessageButtons::Ok}));
        EXPECT_EQ(platform.messages[0].owner, &page);
        EXPECT_EQ(Code(3), (std::vector<int>{7, 7, 7})); // before it: stored
        EXPECT_EQ(Code(6), (std::vector<int>{5, 5, 5}));
        EXPECT_EQ(Code(9), (std::vector<int>{1, 3, 8})); // it and after: as they were
        EXPECT_EQ(Code(10), before);
    }
}

TEST_F(CodesTest, FirstShortCodeStopsTheWalk) {
    Type(2, "12");
    Type(16, "5");
    EXPECT_FALSE(page.OnKillActive());
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(LastText(), "Код события у 2 типа шлейфа должен содержать 3 цифры!");
    Type(2, "012");
    EXPECT_FALSE(page.OnKillActive());
    EXPECT_EQ(LastText(), "Код события у 16 типа шлейфа должен содержать 3 цифры!");
    EXPECT_EQ(Code(2), (std::vector<int>{0, 1, 2}));
    Type(16, "");
    EXPECT_TRUE(page.OnKillActive());
    EXPECT_EQ(page.m_codes[1], "012");
}

TEST_F(CodesTest, RestoreAsksThenWritesTheFactoryCodesAtOnce) {
    for (int t = 1; t <= 16; ++t)
        record->eventCodes[t - 1][0] = record->eventCodes[t - 1][1] = record->eventCodes[t - 1][2] =
            4;
    Type(5, "12");
    const auto before = Bytes(*record);
    platform.answers.push_back(MessageAnswer::No);
    page.findChild<QPushButton*>("restoreButton")->click();
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].message,
              (Message{MessageOwner::Window, "Запрос подтверждения",
                       "Вы уверены, что хотите восстановить \n коды событий для всех типов "
                       "шлейфов \n по умолчанию?",
                       MessageIcon::Question, MessageButtons::YesNo}));
    EXPECT_EQ(Bytes(*record), before);
    EXPECT_EQ(edit(5)->text(), "12");

    page.findChild<QPushButton*>("restoreButton")->click();
    auto defaults = DefaultRecord();
    EXPECT_EQ(0, std::memcmp(record->eventCodes, defaults->eventCodes, 48));
    EXPECT_EQ(edit(5)->text(), "134");
    EXPECT_EQ(edit(16)->text(), "000");
}

TEST_F(CodesTest, ZeroTextIsShownAsThreeZerosAfterARestore) {
    Type(4, "0");
    EXPECT_TRUE(page.OnKillActive());
    EXPECT_EQ(edit(4)->text(), "0");
    page.findChild<QPushButton*>("restoreButton")->click();
    EXPECT_EQ(edit(16)->text(), "000");
}

TEST_F(CodesTest, TypedCodesReachTheRecordOnlyWhenThePageIsLeft) {
    auto other = std::make_unique<CCodes>();
    ShowPage(*other, *record);
    other->CodeEdit(1)->clear();
    QTest::keyClicks(other->CodeEdit(1), "602");
    EXPECT_EQ(Code(1), (std::vector<int>{1, 3, 0}));
    other.reset(); // cancelled while showing
    EXPECT_EQ(Code(1), (std::vector<int>{1, 3, 0}));
}

TEST_F(CodesTest, RestoredCodesStayWhenThePageGoesAway) {
    record->eventCodes[0][2] = 9;
    auto other = std::make_unique<CCodes>();
    ShowPage(*other, *record);
    other->findChild<QPushButton*>("restoreButton")->click();
    other.reset();
    EXPECT_EQ(Code(1), (std::vector<int>{1, 3, 0}));
}

// -- decoding

TEST_F(CodesTest, DecodesZeroShortAndUnregisteredCodes) {
    struct Case {
        const char* text;
        Message message;
    };
    const Case cases[] = {
        {"000",
         {MessageOwner::Window, "Расшифровка кода события",
          "Данный код события (000) выключает доставку извещения", MessageIcon::Information,
          MessageButtons::Ok}},
        {"",
         {MessageOwner::Window, "Расшифровка кода события",
          "Данный код события (000) выключает доставку извещения", MessageIcon::Information,
          MessageButtons::Ok}},
        {"12",
         {MessageOwner::Window, "Ошибка", "Код события должен содержать 3 цифры!",
          MessageIcon::Error, MessageButtons::Ok}},
        {"999",
         {MessageOwner::Window, "Предупреждение",
          "Данный код события не зарегистрирован в таблице кодов формата Contact ID.",
          MessageIcon::Information, MessageButtons::Ok}},
        {"012",
         {MessageOwner::Window, "Предупреждение",
          "Данный код события не зарегистрирован в таблице кодов формата Contact ID.",
          MessageIcon::Information, MessageButtons::Ok}},
    };
    for (const auto& c : cases) {
        platform.messages.clear();
        Type(6, c.text);
        const auto before = Bytes(*record);
        page.DecodeEventCode(labelCorner(6) + QPoint(2, 2));
        ASSERT_EQ(platform.messages.size(), 1u) << c.text;
        EXPECT_EQ(platform.messages[0].message, c.message) << c.text;
        EXPECT_EQ(platform.messages[0].owner, &page);
        EXPECT_EQ(Bytes(*record), before);
        EXPECT_EQ(edit(6)->text(), c.text);
    }
}

TEST_F(CodesTest, DecodesRegisteredCodesInBothLanguages) {
    page.DecodeEventCode(labelCorner(1) + QPoint(1, 1));
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].message,
              (Message{MessageOwner::Window, "Расшифровка кода события",
                       "Код события 130 представляет извещение:\n\n\"Burglary / Охранная тревога\"",
                       MessageIcon::Information, MessageButtons::Ok}));
    Type(1, "605");
    page.DecodeEventCode(labelCorner(1) + QPoint(1, 1));
    EXPECT_EQ(LastText(), "Код события 605 представляет извещение:\n\n\"Status to follow /  \"");
}

TEST_F(CodesTest, DoubleClickFindsTheTypeByLabelColumnsAndRows) {
    int decoded = 0;
    for (int t = 1; t <= 16; ++t)
        Type(t, "12"); // every decode shows one message
    auto typeDecodedAt = [&](QPoint p) {
        const size_t before = platform.messages.size();
        DoubleClick(p);
        return platform.messages.size() - before;
    };
    (void)decoded;
    const QPoint first = labelCorner(1);
    EXPECT_EQ(page.TypeAt(first), 1);
    EXPECT_EQ(page.TypeAt(first - QPoint(1, 0)), 0);
    EXPECT_EQ(page.TypeAt(first - QPoint(0, 1)), 0);
    EXPECT_EQ(page.TypeAt(QPoint(labelCorner(5).x(), first.y())), 5);
    EXPECT_EQ(page.TypeAt(QPoint(labelCorner(5).x() - 1, first.y())), 1);
    EXPECT_EQ(page.TypeAt(QPoint(first.x(), labelCorner(2).y())), 2);
    EXPECT_EQ(page.TypeAt(QPoint(first.x(), labelCorner(2).y() - 1)), 1);
    EXPECT_EQ(page.TypeAt(QPoint(page.width() - 1, labelCorner(2).y() + 1)), 14);
    EXPECT_EQ(page.TypeAt(QPoint(first.x() + 1, page.height() - 1)), 4);
    EXPECT_EQ(page.TypeAt(QPoint(labelCorner(13).x(), labelCorner(4).y())), 16);

    // Through real double-clicks on whatever lies under the point.
    EXPECT_EQ(typeDecodedAt(first - QPoint(1, 0)), 0u);
    EXPECT_EQ(typeDecodedAt(first - QPoint(0, 1)), 0u);
    Type(14, "605");
    Type(4, "000");
    Type(1, "999");
    DoubleClick(label(14)->mapTo(&page, label(14)->rect().center())); // on the label
    EXPECT_EQ(LastText(), "Код события 605 представляет извещение:\n\n\"Status to follow /  \"");
    DoubleClick(QPoint(page.width() - 2, labelCorner(2).y() + 2)); // far right, row of type 2
    EXPECT_EQ(LastText(), "Код события 605 представляет извещение:\n\n\"Status to follow /  \"");
    auto* hint = page.findChild<QLabel*>("hint");
    DoubleClick(hint->mapTo(&page, QPoint(first.x() + 2 - hint->mapTo(&page, QPoint()).x(), 2)));
    EXPECT_EQ(LastText(), "Данный код события (000) выключает доставку извещения");
    DoubleClick(first); // the label's own corner
    EXPECT_EQ(LastText(),
              "Данный код события не зарегистрирован в таблице кодов формата Contact ID.");
}

TEST_F(CodesTest, ForeignDigitsAreShownWholeAndKeptUntilEdited) {
    record->eventCodes[1][0] = 12, record->eventCodes[1][1] = 0, record->eventCodes[1][2] = 5;
    record->eventCodes[2][0] = -1, record->eventCodes[2][1] = 3, record->eventCodes[2][2] = 0;
    page.ShowCodes();
    EXPECT_EQ(edit(2)->text(), "1205");
    EXPECT_EQ(edit(3)->text(), "-130");
    EXPECT_TRUE(page.OnKillActive());
    EXPECT_EQ(Code(2), (std::vector<int>{12, 0, 5}));
    EXPECT_EQ(Code(3), (std::vector<int>{-1, 3, 0}));

    page.DecodeEventCode(labelCorner(2) + QPoint(1, 1));
    EXPECT_EQ(LastText(), "Код события должен содержать 3 цифры!");
    page.DecodeEventCode(labelCorner(3) + QPoint(1, 1));
    EXPECT_EQ(LastText(), "Код события должен содержать 3 цифры!");

    edit(2)->end(false);
    QTest::keyClick(edit(2), Qt::Key_Backspace);
    EXPECT_EQ(edit(2)->text(), "120");
    edit(3)->selectAll();
    QTest::keyClicks(edit(3), "131");
    EXPECT_TRUE(page.OnKillActive());
    EXPECT_EQ(Code(2), (std::vector<int>{1, 2, 0}));
    EXPECT_EQ(Code(3), (std::vector<int>{1, 3, 1}));
}

} // namespace

namespace {

TEST(NeverShownPagesTest, LeaveAndCommandsWithoutControlsDoNothing) {
    ScriptedPlatform platform; // would answer Yes
    auto record = DefaultRecord();
    for (auto& digits : record->eventCodes)
        digits[0] = digits[1] = digits[2] = 9; // not the factory codes: a restore would show
    const auto before = Bytes(*record);
    CCodes codes;
    codes.m_record = record.get();
    EXPECT_TRUE(codes.OnKillActive());
    codes.DecodeEventCode(QPoint(50, 50));
    codes.RestoreDefaultCodes();
    EXPECT_EQ(Bytes(*record), before);
    EXPECT_TRUE(platform.messages.empty()) << "nothing asked, nothing told";
}

} // namespace
