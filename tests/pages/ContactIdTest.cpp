#include "settings/ContactIdTable.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <set>

namespace {

using namespace std::string_literals;

void SetCode(SettingsRecord& r, int type, int h, int t, int u) {
    r.eventCodes[type - 1][0] = static_cast<std::int8_t>(h);
    r.eventCodes[type - 1][1] = static_cast<std::int8_t>(t);
    r.eventCodes[type - 1][2] = static_cast<std::int8_t>(u);
}

std::optional<std::string> En(int code) {
    const auto t = FindEventText(EventLanguage::English, code);
    return t ? std::optional<std::string>(std::string(*t)) : std::nullopt;
}
std::optional<std::string> Ru(int code) {
    const auto t = FindEventText(EventLanguage::Russian, code);
    return t ? std::optional<std::string>(std::string(*t)) : std::nullopt;
}

TEST(ContactIdTable, CodeZeroHasABlankEnglishText) {
    EXPECT_EQ(En(0), " "s);
    EXPECT_EQ(Ru(0), "Извещение не доставлять"s);
}

TEST(ContactIdTable, UnknownCodesAreAbsentInBothLanguages) {
    for (int code : {1, 12, 99, 109, 119, 160, 162, 199, 207, 311, 500, 606, 608, 999}) {
        EXPECT_FALSE(En(code)) << code;
        EXPECT_FALSE(Ru(code)) << code;
    }
}

TEST(ContactIdTable, CodesOutsideTheRangeAreAbsent) {
    for (int code : {-1, -1000, -899, 1000, 1101, 2000, 100000, INT32_MIN, INT32_MAX}) {
        EXPECT_FALSE(En(code)) << code;
        EXPECT_FALSE(Ru(code)) << code;
    }
}

TEST(ContactIdTable, ExactTexts) {
    struct Row {
        int code;
        const char* english;
        const char* russian;
    };
    const Row rows[] = {
        {110, "Fire Alarm", "Пожарная тревога"},
        {130, "Burglary", "Охранная тревога"},
        {135, "Day/Night burglary", "Неисправность днём/ тревога ночью"},
        {138, "Near alarm", "Внимание"},
        {201, "Low H2O pressure", "Снижение давления воды"},
        {333, "Expansion module failure", "Неисправность модуля расширения"},
        {143, "Expansion module failure", "Отказ модуля расширения"},
        {335, "Local printer: paperout", "Закончилась бумага в локальном принтере"},
        {351, "Telco fault 1", "Неисправность телефонной линии N 1"},
        {353, "Long range radio transmitter fault", "Неисправность радиопередатчика"},
        {381, "Loss of supervising: RF", "Потеря радиодатчика"},
        {407, "Remote arm/disarm", "Удалённое взятие/снятие"},
        {601, "Manual trigger test", "Ручной запуск теста"},
        {605, "Status to follow", " "},
        {607, "Walk test mode", "Режим обходной проверки"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(En(row.code), std::string(row.english)) << row.code;
        EXPECT_EQ(Ru(row.code), std::string(row.russian)) << row.code;
    }
}

TEST(ContactIdTable, SharedTextsStayOnEachCode) {
    for (int code : {118, 138})
        EXPECT_EQ(En(code), "Near alarm"s);
    for (int code : {308, 414})
        EXPECT_EQ(En(code), "System shutdown"s);
    EXPECT_EQ(Ru(114), "Высокая температура"s);
    EXPECT_EQ(Ru(158), "Высокая температура"s);
    EXPECT_EQ(Ru(308), "Отключение системы"s);
    EXPECT_EQ(Ru(414), "Система отключена"s);
}

TEST(ContactIdTable, FullTableShape) {
    ASSERT_EQ(EventTableSize(), 123u);
    // The codes the device knows, ranges written out so a lost or extra row shows here.
    std::set<int> expected = {0};
    auto add = [&](int from, int to) {
        for (int c = from; c <= to; ++c)
            expected.insert(c);
    };
    add(110, 118), add(120, 123), add(130, 138), add(140, 145), add(150, 159), add(161, 161);
    add(200, 206), add(300, 310), add(320, 325), add(330, 336), add(350, 356), add(370, 373);
    add(380, 384), add(400, 409), add(411, 415), add(421, 422), add(520, 525), add(551, 552);
    add(570, 574), add(601, 605), add(607, 607);
    ASSERT_EQ(expected.size(), 123u);

    std::set<int> seen;
    int previous = -1;
    for (std::size_t i = 0; i < EventTableSize(); ++i) {
        const EventEntry& e = EventTableEntry(i);
        EXPECT_GT(e.code, previous) << "entry " << i << " out of order";
        previous = e.code;
        seen.insert(e.code);
        EXPECT_FALSE(e.english.empty()) << e.code;
        EXPECT_FALSE(e.russian.empty()) << e.code;
        EXPECT_EQ(FindEventText(EventLanguage::English, e.code), e.english);
        EXPECT_EQ(FindEventText(EventLanguage::Russian, e.code), e.russian);
    }
    EXPECT_EQ(seen, expected);

    // Both halves hold the same codes, and nothing else in 0..999.
    for (int code = 0; code <= 999; ++code) {
        const bool known = expected.count(code) != 0;
        EXPECT_EQ(En(code).has_value(), known) << code;
        EXPECT_EQ(Ru(code).has_value(), known) << code;
    }
}

// Every code of 0..999 in both languages against the data file: a listed code has exactly
// its two texts, any other code none.
TEST(ContactIdTable, EveryCodeAsTheDataFileHasIt) {
    std::ifstream file(CONTACTID_TABLE_FILE);
    ASSERT_TRUE(file) << CONTACTID_TABLE_FILE;
    std::map<int, std::pair<std::string, std::string>> listed;
    auto text = [](const std::string& field) { return field == "(blank)" ? " "s : field; };
    for (std::string line; std::getline(file, line);) {
        if (line.empty() || line[0] == '#') continue;
        const auto tab1 = line.find('\t');
        const auto tab2 = line.find('\t', tab1 + 1);
        ASSERT_NE(tab2, std::string::npos) << line;
        ASSERT_EQ(line.find('\t', tab2 + 1), std::string::npos) << line;
        const int code = std::stoi(line.substr(0, tab1));
        ASSERT_TRUE(listed
                        .emplace(code, std::pair{text(line.substr(tab1 + 1, tab2 - tab1 - 1)),
                                                 text(line.substr(tab2 + 1))})
                        .second)
            << "code " << code << " listed twice";
    }
    ASSERT_EQ(listed.size(), 123u);
    std::vector<int> absent = {119, 608, 999};
    for (int code = 1; code <= 109; ++code)
        absent.push_back(code);
    for (int code : absent) {
        ASSERT_EQ(listed.count(code), 0u) << code;
        EXPECT_FALSE(En(code) || Ru(code)) << code;
    }
    for (int code = 0; code <= 999; ++code) {
        const auto it = listed.find(code);
        if (it == listed.end()) {
            EXPECT_FALSE(En(code)) << code;
            EXPECT_FALSE(Ru(code)) << code;
            continue;
        }
        EXPECT_EQ(En(code), it->second.first) << code;
        EXPECT_EQ(Ru(code), it->second.second) << code;
    }
}

TEST(ContactIdTable, OnlyTheTwoBlankTexts) {
    int blanks = 0;
    for (std::size_t i = 0; i < EventTableSize(); ++i) {
        const EventEntry& e = EventTableEntry(i);
        blanks += (e.english == " ") + (e.russian == " ");
        // No stray blanks around real texts.
        if (e.english != " ") {
            EXPECT_TRUE(e.english.front() != ' ' && e.english.back() != ' ') << e.code;
        }
        if (e.russian != " ") {
            EXPECT_TRUE(e.russian.front() != ' ' && e.russian.back() != ' ') << e.code;
        }
    }
    EXPECT_EQ(blanks, 2);
    EXPECT_EQ(EventTableEntry(0).english, " ");
    EXPECT_EQ(EventTableEntry(EventTableSize() - 2).russian, " ");
}

TEST(ContactIdTable, IndexPastTheEndGivesTheLastEntry) {
    EXPECT_EQ(EventTableEntry(EventTableSize()).code, 607);
    EXPECT_EQ(EventTableEntry(static_cast<std::size_t>(-1)).code, 607);
}

struct DescriptionCase {
    int h, t, u;
    int code;
    const char* description;
};

TEST(TypeDescription, ByStoredDigits) {
    const DescriptionCase cases[] = {
        {1, 3, 0, 130, "Охранная тревога"},
        {6, 0, 5, 605, " "},
        {9, 9, 9, 999, "Код события : 999"},
        {0, 0, 0, 0, "Извещение не доставлять"},
        {0, 1, 2, 12, "Код события : 012"},
        {1, 1, 9, 119, "Код события : 119"},
        {3, 8, 4, 384, "Разряд батареи в радиодатчике"},
    };
    SettingsRecord r{};
    for (const auto& c : cases) {
        SetCode(r, 7, c.h, c.t, c.u);
        EXPECT_EQ(TypeEventCode(r, 7), c.code);
        EXPECT_EQ(TypeDescription(r, 7), c.description) << c.code;
    }
}

TEST(TypeDescription, DefaultsNameEveryType) {
    SettingsRecord r{};
    FillDefaults(r);
    const char* names[] = {"Охранная тревога",
                           "Тревога по периметру",
                           "Тревога внутри охраняемого объекта",
                           "Тревога круглосуточного шлейфа",
                           "Охранная тревога на входе/выходе",
                           "Неисправность днём/ тревога ночью",
                           "Тревога вне охраняемого объекта",
                           "Вскрытие",
                           "Внимание",
                           "Кнопка тревожной сигнализации",
                           "Общая тревога",
                           "Круглосуточная не охранная тревога",
                           "Системная неисправность",
                           "Потеря радиодатчика",
                           "Разряд батареи в радиодатчике",
                           "Извещение не доставлять"};
    for (int t = 1; t <= 16; ++t) {
        EXPECT_EQ(TypeEventCode(r, t), DefaultEventCode(t));
        EXPECT_EQ(TypeDescription(r, t), names[t - 1]) << "type " << t;
    }
}

TEST(TypeDescription, EachTypeReadsItsOwnDigits) {
    SettingsRecord r{};
    for (int t = 1; t <= 16; ++t)
        SetCode(r, t, 9, 9, 9);
    SetCode(r, 1, 1, 1, 0);
    SetCode(r, 16, 6, 0, 7);
    EXPECT_EQ(TypeDescription(r, 1), "Пожарная тревога");
    EXPECT_EQ(TypeDescription(r, 16), "Режим обходной проверки");
    EXPECT_EQ(TypeDescription(r, 2), "Код события : 999");
    EXPECT_EQ(TypeDescription(r, 15), "Код события : 999");
}

TEST(TypeDescription, TypeOutsideTheRangeIsNamedAsSuch) {
    SettingsRecord r{};
    FillDefaults(r);
    for (int t : {0, 17, -1, 255, INT32_MIN}) {
        EXPECT_EQ(TypeDescription(r, t), "Тип " + std::to_string(t) + " (недопустимый)");
        EXPECT_EQ(TypeEventCode(r, t), -1);
        EXPECT_EQ(TypeCodeDigits(r, t), "");
    }
}

TEST(TypeDescription, WithoutARecordNamesTheProcessRecord) {
    SettingsRecord& r = TheSettings();
    const SettingsRecord saved = r;
    SetCode(r, 2, 6, 0, 2);
    EXPECT_EQ(TypeDescription(2), "Периодический тест");
    SetCode(r, 2, 1, 2, 4);
    EXPECT_EQ(TypeDescription(2), "Код события : 124");
    EXPECT_EQ(TypeDescription(0), "Тип 0 (недопустимый)");
    r = saved;
}

// Digits that a foreign file or device may bring: never folded into a neighbouring code,
// always shown with their value.
TEST(TypeDescription, DigitsOutsideZeroToNineAreShownNotAliased) {
    struct Case {
        int h, t, u;
        const char* digits;
    };
    const Case cases[] = {
        {0, 11, 0, "0[11]0"}, // would fold into 110, "Fire Alarm"
        {1, 2, 10, "12[10]"}, // would fold into 130
        {-1, 0, 0, "[-1]00"}, // would fold into -100
        {127, -128, 15, "[127][-128][15]"},
    };
    SettingsRecord r{};
    FillDefaults(r);
    for (const auto& c : cases) {
        SetCode(r, 3, c.h, c.t, c.u);
        EXPECT_EQ(TypeEventCode(r, 3), -1) << c.digits;
        EXPECT_EQ(TypeCodeDigits(r, 3), c.digits);
        EXPECT_EQ(TypeDescription(r, 3), "Код события : "s + c.digits);
    }
    EXPECT_EQ(TypeDescription(r, 2), "Тревога по периметру"); // neighbours untouched
}

// Random records: every type of every record gets a description that is either a table
// text or the fallback, and the lookup stays within the table (checked by the sanitizers).
TEST(TypeDescription, RandomRecordsStayInsideTheTable) {
    std::mt19937 rng(20261207);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 2000; ++round) {
        SettingsRecord r;
        for (auto& b : RecordBytes(r))
            b = static_cast<std::uint8_t>(byte(rng));
        for (int t = 0; t <= 17; ++t) {
            const std::string d = TypeDescription(r, t);
            ASSERT_FALSE(d.empty());
            const int code = TypeEventCode(r, t);
            ASSERT_GE(code, -1);
            ASSERT_LE(code, 999);
            if (t >= 1 && t <= 16 && code >= 0 && Ru(code)) {
                ASSERT_EQ(d, *Ru(code));
            }
        }
    }
}

} // namespace
