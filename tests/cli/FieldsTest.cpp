// The table of fields decides what is out of range, for show's marks and for the question
// before a write alike: each setting pushed just outside its range is named once, by its label.
#include "fields/RecordFields.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace {

SettingsRecord Defaults() {
    SettingsRecord r{};
    FillDefaults(r);
    return r;
}

TEST(Fields, EachValueOutOfItsRangeIsNamedOnce) {
    struct Case {
        std::function<void(SettingsRecord&)> change;
        const char* label; // nullptr: still within range
    };
    const Case cases[] = {
        {[](SettingsRecord&) {}, nullptr},
        {[](SettingsRecord& r) { r.dialCycles = 3; }, "Кол-во циклов дозвона"},
        {[](SettingsRecord& r) { r.dialCycles = 4; }, nullptr},
        {[](SettingsRecord& r) { r.dialCycles = 9; }, "Кол-во циклов дозвона"},
        {[](SettingsRecord& r) { r.lineCheckPeriod = 0; }, "Интервал проверки тел. линии"},
        {[](SettingsRecord& r) { r.lineCheckPeriod = 6; }, nullptr},
        {[](SettingsRecord& r) { r.protocol = 3; }, "Протокол"},
        {[](SettingsRecord& r) { r.pulseRatio = 2; }, "Импульсный коэффициент"},
        {[](SettingsRecord& r) { r.dialPause = 0; }, "Пауза перед набором номера"},
        {[](SettingsRecord& r) { r.dialPause = 59; }, nullptr},
        {[](SettingsRecord& r) { r.dialPause = 60; }, "Пауза перед набором номера"},
        {[](SettingsRecord& r) { r.pulseDialing = 2; }, "Набор номера"},
        {[](SettingsRecord& r) { r.loopTypes[511] = 17; }, "Расширитель 63, шлейф 8, тип"},
        {[](SettingsRecord& r) { r.loopTypes[0] = -41; }, "Расширитель 0, шлейф 1, тип"},
        {[](SettingsRecord& r) { r.relayTypes[3] = 0; }, "Реле ПЦН 4, тип"},
        {[](SettingsRecord& r) { r.eventCodes[15][1] = 10; }, "Тип 16, код события"},
        {[](SettingsRecord& r) { std::memcpy(r.phoneNumbers[8], "12a", 4); }, "Телефон 9"},
        {[](SettingsRecord& r) { std::memcpy(r.phoneNumbers[0], "1234567890123456", 17); },
         "Телефон 1"},
        {[](SettingsRecord& r) { std::memcpy(r.prefixNumber, "1234567890123456", 17); }, nullptr},
        {[](SettingsRecord& r) { std::memcpy(r.accountNumber, "12345", 5); }, "Адрес ПЕНКО-РС"},
        {[](SettingsRecord& r) { std::memcpy(r.testInterval, "60", 3); },
         "Интервал передачи тестового извещения"},
        {[](SettingsRecord& r) { r.loopGroups[15][63] = 0xFF; }, nullptr},
        {[](SettingsRecord& r) { r.reserved1783 = 0xFF; }, nullptr},
    };
    for (const auto& c : cases) {
        SettingsRecord r = Defaults();
        c.change(r);
        const std::vector<NamedValue> out = OutOfRange(r);
        if (!c.label) {
            EXPECT_TRUE(out.empty()) << out.front().label;
            EXPECT_EQ(OutOfRangeList(r), "");
            continue;
        }
        ASSERT_EQ(out.size(), 1u) << c.label;
        EXPECT_EQ(out[0].label, c.label);
        EXPECT_FALSE(out[0].shown.valid);
        EXPECT_NE(out[0].shown.text.find("недопустимое значение"), std::string::npos);
        EXPECT_EQ(OutOfRangeList(r), out[0].label + ": " + out[0].shown.text);
    }
}

} // namespace
