// The settings of a record in words, as torvik7ctl show, show --json and diff print them.
#include "ShowFormat.h"

#include "pages/ContactIdTable.h"

#include <bit>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace {

std::string Format(const char* format, ...) {
    char buffer[128];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

// ---------------------------------------------------------------- fields in words

const char kInvalid[] = "недопустимое значение";

Shown Invalid(const std::string& value, const std::string& range) {
    return {value + " — " + kInvalid + " (" + range + ")", false};
}

// Printable ASCII as it is, any other byte as \xNN, so a foreign byte is visible and the
// terminal is safe.
std::string VisibleBytes(std::string_view text) {
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += ch;
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return out;
}

// A string field within its own width.
template <std::size_t N> std::string Visible(const char (&field)[N]) {
    return VisibleBytes(std::string_view(field, FieldLength(field)));
}

// A file name for the terminal: UTF-8 names as they are, control characters escaped.
std::string VisiblePath(const std::string& path) {
    std::string out;
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F)
            out += VisibleBytes(std::string_view(&ch, 1));
        else
            out += ch;
    }
    return out;
}

template <std::size_t N> bool DigitsOnly(const char (&field)[N]) {
    const std::size_t length = FieldLength(field);
    for (std::size_t i = 0; i < length; ++i)
        if (field[i] < '0' || field[i] > '9') return false;
    return true;
}

// A digit string of at most `maxDigits`; `empty` names the empty string.
template <std::size_t N>
Shown DigitString(const char (&field)[N], std::size_t maxDigits, const char* empty) {
    const std::size_t length = FieldLength(field);
    if (length == 0) return {empty, true};
    if (!DigitsOnly(field)) return Invalid(Visible(field), "только цифры");
    if (length == N) return Invalid(Visible(field), "нет завершающего нуля");
    if (length > maxDigits)
        return Invalid(Visible(field), "не более " + std::to_string(maxDigits) + " цифр");
    return {Visible(field), true};
}

// A flag: 0 and 1 have their words; anything else acts as 1 and is shown as such.
Shown Flag(std::int32_t value, const char* off, const char* on) {
    if (value == 0) return {off, true};
    if (value == 1) return {on, true};
    return {std::string(on) + " (значение " + std::to_string(value) + " — " + kInvalid +
                ", 0 или 1)",
            false};
}

Shown Number(int value, int low, int high, const char* unit = "") {
    if (value < low || value > high)
        return Invalid(std::to_string(value), std::to_string(low) + ".." + std::to_string(high));
    return {std::to_string(value) + unit, true};
}

Shown PhoneShown(const SettingsRecord& r, int k) {
    return DigitString(r.phoneNumbers[k], 15, "нет");
}
Shown PrefixNumberShown(const SettingsRecord& r) {
    return DigitString(r.prefixNumber, 16, "нет");
}
Shown PrefixEnabledShown(const SettingsRecord& r) {
    return Flag(r.prefixEnabled, "не набирается", "набирается");
}
Shown DialingShown(const SettingsRecord& r) {
    return Flag(r.pulseDialing, "тональный", "импульсный");
}
Shown PulseRatioShown(const SettingsRecord& r) {
    if (r.pulseRatio == 0) return {"1,5", true};
    if (r.pulseRatio == 1) return {"2", true};
    return Invalid(std::to_string(r.pulseRatio), "0 — \"1,5\", 1 — \"2\"");
}
Shown DialCyclesShown(const SettingsRecord& r) {
    return Number(r.dialCycles, 4, 8);
}
Shown DialPauseShown(const SettingsRecord& r) {
    return Number(r.dialPause, 1, 59, " с");
}
Shown DialToneShown(const SettingsRecord& r) {
    return Flag(r.blindDialing, "определяется (набор после сигнала станции)",
                "не определяется (набор вслепую после паузы)");
}
Shown BusyShown(const SettingsRecord& r) {
    return Flag(r.detectBusy, "не определяется", "определяется");
}
Shown LineFaultShown(const SettingsRecord& r) {
    return Flag(r.showLineFault, "не отображается", "отображается");
}
Shown ProtocolShown(const SettingsRecord& r) {
    if (r.protocol == 1) return {"DTMF (Contact ID)", true};
    if (r.protocol == 2) return {"ЧМ (Сальвет - Ф)", true};
    return Invalid(std::to_string(r.protocol), "1 — DTMF, 2 — ЧМ");
}
Shown AccountShown(const SettingsRecord& r) {
    return DigitString(r.accountNumber, 4, "нет");
}
Shown TestIntervalShown(const SettingsRecord& r) {
    Shown s = DigitString(r.testInterval, 2, "нет (выкл.)");
    if (!s.valid || FieldLength(r.testInterval) == 0) return s;
    const int hours = std::atoi(std::string(r.testInterval, FieldLength(r.testInterval)).c_str());
    if (hours > 59) return Invalid(Visible(r.testInterval) + " ч", "00..59");
    if (hours == 0) return {Visible(r.testInterval) + " (выкл.)", true};
    return {Visible(r.testInterval) + " ч", true};
}

const char* const kLineCheckTexts[] = {"10 мин", "30 мин",  "1 час",
                                       "2 часа", "5 часов", "не проверять"};

Shown LineCheckShown(const SettingsRecord& r) {
    if (r.lineCheckPeriod < 1 || r.lineCheckPeriod > 6)
        return Invalid(std::to_string(r.lineCheckPeriod), "1..6");
    return {kLineCheckTexts[r.lineCheckPeriod - 1], true};
}

bool ValidType(int type) {
    return type >= 1 && type <= kTypeCount;
}

// The Contact ID code of type t with its texts.
Shown EventCodeShown(const SettingsRecord& r, int type) {
    const std::string digits = "код " + TypeCodeDigits(r, type);
    const int code = TypeEventCode(r, type);
    if (code < 0) return Invalid(digits, "цифры 0..9");
    const auto english = FindEventText(EventLanguage::English, code);
    if (!english) return {digits + " — не зарегистрирован в таблице кодов Contact ID", true};
    const auto russian = FindEventText(EventLanguage::Russian, code);
    // A text of one blank is present but says nothing; leave it out of the line.
    std::string text;
    for (const auto part : {english, russian}) {
        if (!part || *part == " ") continue;
        if (!text.empty()) text += " / ";
        text += *part;
    }
    return {digits + " — " + text, true};
}

Shown LoopTypeShown(int type) {
    return Number(type, 1, kTypeCount);
}

Shown RelayShown(const SettingsRecord& r, int relay) {
    const int type = r.relayTypes[relay];
    if (!ValidType(type)) return Invalid("тип " + std::to_string(type), "1..16");
    return {"тип " + std::to_string(type) + " (" + TypeDescription(r, type) + ")", true};
}

bool Member(const SettingsRecord& r, int group, int expander, int loop) {
    return (r.loopGroups[group][expander] >> loop & 1) != 0;
}

} // namespace

std::string GroupMembers(const SettingsRecord& r, int group) {
    std::string out;
    for (int e = 0; e < kExpanderCount; ++e) {
        if (r.loopGroups[group][e] == 0) continue;
        if (!out.empty()) out += "; ";
        out += std::to_string(e) + "/";
        bool first = true;
        for (int l = 0; l < kLoopsPerExpander;) {
            if (!Member(r, group, e, l)) {
                ++l;
                continue;
            }
            int end = l;
            while (end + 1 < kLoopsPerExpander && Member(r, group, e, end + 1))
                ++end;
            if (!first) out += ",";
            first = false;
            out += std::to_string(l + 1);
            if (end > l) out += "-" + std::to_string(end + 1);
            l = end + 1;
        }
    }
    return out;
}

int GroupSize(const SettingsRecord& r, int group) {
    int n = 0;
    for (int e = 0; e < kExpanderCount; ++e)
        n += std::popcount(r.loopGroups[group][e]);
    return n;
}

namespace {

std::string Hex(const std::uint8_t* bytes, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%s%02X", i ? " " : "", bytes[i]);
        out += buf;
    }
    return out;
}

} // namespace

// ---------------------------------------------------------------- the list of fields

std::vector<Item> Items(const SettingsRecord& r) {
    std::vector<Item> items;
    for (int k = 0; k < kPhoneCount; ++k)
        items.push_back({"Телефон " + std::to_string(k + 1), PhoneShown(r, k)});
    items.push_back({"Номер префикса", PrefixNumberShown(r)});
    items.push_back({"Префикс", PrefixEnabledShown(r)});
    items.push_back({"Набор номера", DialingShown(r)});
    items.push_back({"Импульсный коэффициент", PulseRatioShown(r)});
    items.push_back({"Кол-во циклов дозвона", DialCyclesShown(r)});
    items.push_back({"Сигнал \"ОТВЕТ СТАНЦИИ\"", DialToneShown(r)});
    items.push_back({"Пауза перед набором номера", DialPauseShown(r)});
    items.push_back({"Сигнал \"ЗАНЯТО\"", BusyShown(r)});
    items.push_back({"Протокол", ProtocolShown(r)});
    items.push_back({"Адрес ПЕНКО-РС", AccountShown(r)});
    items.push_back({"Интервал передачи тестового извещения", TestIntervalShown(r)});
    items.push_back({"Интервал проверки тел. линии", LineCheckShown(r)});
    items.push_back({"Неисправность тел. линии в СЛ \"ЛЕМАРА\"", LineFaultShown(r)});
    for (int t = 1; t <= kTypeCount; ++t)
        items.push_back({"Тип " + std::to_string(t) + ", код события", EventCodeShown(r, t)});
    for (int n = 0; n < kLoopCount; ++n)
        items.push_back({"Расширитель " + std::to_string(n / kLoopsPerExpander) + ", шлейф " +
                             std::to_string(n % kLoopsPerExpander + 1) + ", тип",
                         LoopTypeShown(r.loopTypes[n])});
    for (int n = 0; n < kRelayCount; ++n)
        items.push_back(
            {"Реле ПЦН " + std::to_string(n + 1) + ", тип", LoopTypeShown(r.relayTypes[n])});
    items.push_back({"Резервные байты 153..155", {Hex(r.reserved153, 3), true}});
    items.push_back({"Резервный байт 1783", {Hex(&r.reserved1783, 1), true}});
    items.push_back({"Резервные байты 1798..1799", {Hex(r.reserved1798, 2), true}});
    return items;
}

// ---------------------------------------------------------------- show as text

namespace {

void Line(std::string& out, const std::string& label, const Shown& s, const char* indent = "") {
    out += indent + label + ": " + s.text + "\n";
}

} // namespace

std::string ShowText(const std::string& path, const SettingsRecord& r) {
    std::string out = "Файл настроек: " + VisiblePath(path) + "\n\n";

    out += "Телефоны:\n";
    for (int k = 0; k < kPhoneCount; ++k)
        Line(out, std::to_string(k + 1), PhoneShown(r, k), "  ");
    Line(out, "Префикс", {PrefixNumberShown(r).text + ", " + PrefixEnabledShown(r).text, true});
    Line(out, "Набор номера", DialingShown(r));
    Line(out, "Импульсный коэффициент", PulseRatioShown(r));
    Line(out, "Кол-во циклов дозвона", DialCyclesShown(r));
    Line(out, "Сигнал \"ОТВЕТ СТАНЦИИ\"", DialToneShown(r));
    Line(out, "Пауза перед набором номера", DialPauseShown(r));
    Line(out, "Сигнал \"ЗАНЯТО\"", BusyShown(r));

    out += "\n";
    Line(out, "Протокол", ProtocolShown(r));
    Line(out, "Адрес ПЕНКО-РС", AccountShown(r));
    Line(out, "Интервал передачи тестового извещения", TestIntervalShown(r));
    Line(out, "Интервал проверки тел. линии", LineCheckShown(r));
    Line(out, "Неисправность тел. линии в СЛ \"ЛЕМАРА\"", LineFaultShown(r));

    out += "\nТипы шлейфов и их коды событий Contact ID:\n";
    for (int t = 1; t <= kTypeCount; ++t) {
        char label[16];
        std::snprintf(label, sizeof label, "Тип %2d", t);
        Line(out, label, EventCodeShown(r, t), "  ");
    }

    out += "\nТипы шлейфов по расширителям (шлейфы 1..8):\n";
    std::vector<std::string> wrong;
    for (int e = 0; e < kExpanderCount; ++e) {
        char head[40];
        std::snprintf(head, sizeof head, "  Расширитель %2d:", e);
        std::string line = head;
        for (int l = 0; l < kLoopsPerExpander; ++l) {
            const int type = r.loopTypes[kLoopsPerExpander * e + l];
            char cell[16];
            std::snprintf(cell, sizeof cell, " %2d%s", type, ValidType(type) ? "" : "!");
            line += cell;
            if (!ValidType(type))
                wrong.push_back("  Расширитель " + std::to_string(e) + ", шлейф " +
                                std::to_string(l + 1) + ": " + LoopTypeShown(type).text);
        }
        out += line + "\n";
    }
    if (!wrong.empty()) {
        out += "Недопустимые типы шлейфов (отмечены !):\n";
        for (const auto& line : wrong)
            out += line + "\n";
    }

    out += "\nРеле ПЦН:\n";
    for (int n = 0; n < kRelayCount; ++n)
        Line(out, "Реле ПЦН " + std::to_string(n + 1), RelayShown(r, n), "  ");

    out += "\nГруппы шлейфов (расширитель/шлейфы):\n";
    for (int g = 0; g < kGroupCount; ++g) {
        const int size = GroupSize(r, g);
        if (size == 0)
            out += Format("  Группа %2d: нет шлейфов\n", g + 1);
        else
            out += Format("  Группа %2d (%d): ", g + 1, size) + GroupMembers(r, g) + "\n";
    }

    out += "\nРезервные байты: 153..155: " + Hex(r.reserved153, 3) +
           "; 1783: " + Hex(&r.reserved1783, 1) + "; 1798..1799: " + Hex(r.reserved1798, 2) + "\n";
    return out;
}

namespace {

// ---------------------------------------------------------------- show as JSON

bool ValidUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t extra = 0;
        if (c < 0x80)
            extra = 0;
        else if ((c & 0xE0) == 0xC0 && c >= 0xC2)
            extra = 1;
        else if ((c & 0xF0) == 0xE0)
            extra = 2;
        else if ((c & 0xF8) == 0xF0 && c <= 0xF4)
            extra = 3;
        else
            return false;
        if (extra >= s.size() - i) return false; // a sequence cut short
        for (std::size_t k = 1; k <= extra; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += extra + 1;
    }
    return true;
}

// A JSON string. With `bytewise`, and for text that is not UTF-8 (a foreign file name),
// each byte of 0x80 and above is written as \u00NN, so the output always parses and a
// record string maps byte for byte onto the code points 0..255.
std::string Json(std::string_view s, bool bytewise = false) {
    const bool utf8 = !bytewise && ValidUtf8(s);
    std::string out = "\"";
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"') {
            out += "\\\"";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F || (c >= 0x80 && !utf8)) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04X", c);
            out += buf;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

std::string Json(bool b) {
    return b ? "true" : "false";
}
std::string Json(int n) {
    return std::to_string(n);
}
std::string JsonOptional(const std::optional<std::string_view>& s) {
    return s ? Json(*s) : "null";
}

std::string Object(const std::vector<std::pair<std::string, std::string>>& members) {
    std::string out = "{";
    for (std::size_t i = 0; i < members.size(); ++i)
        out +=
            (i ? ", " : "") + Json(std::string_view(members[i].first)) + ": " + members[i].second;
    return out + "}";
}

std::string Array(const std::vector<std::string>& values) {
    std::string out = "[";
    for (std::size_t i = 0; i < values.size(); ++i)
        out += (i ? ", " : "") + values[i];
    return out + "]";
}

// An array with one element a line, for the long lists of the top-level object.
std::string Block(const std::vector<std::string>& values) {
    if (values.empty()) return "[]";
    std::string out = "[\n";
    for (std::size_t i = 0; i < values.size(); ++i)
        out += "    " + values[i] + (i + 1 < values.size() ? ",\n" : "\n");
    return out + "  ]";
}

std::string Field(const std::string& value, const Shown& s) {
    return Object({{"value", value}, {"valid", Json(s.valid)}, {"text", Json(s.text)}});
}

template <std::size_t N> std::string RawString(const char (&field)[N]) {
    return Json(std::string_view(field, FieldLength(field)), true);
}

std::string Bytes(const std::uint8_t* bytes, std::size_t count) {
    std::vector<std::string> values;
    for (std::size_t i = 0; i < count; ++i)
        values.push_back(Json(int(bytes[i])));
    return Array(values);
}

} // namespace

std::string ShowJson(const std::string& path, const SettingsRecord& r) {
    std::vector<std::pair<std::string, std::string>> top;
    top.push_back({"file", Json(std::string_view(path))});

    std::vector<std::string> phones;
    for (int k = 0; k < kPhoneCount; ++k)
        phones.push_back(Field(RawString(r.phoneNumbers[k]), PhoneShown(r, k)));
    top.push_back({"phoneNumbers", Block(phones)});
    top.push_back({"prefixNumber", Field(RawString(r.prefixNumber), PrefixNumberShown(r))});
    top.push_back({"prefixEnabled", Field(Json(r.prefixEnabled), PrefixEnabledShown(r))});
    top.push_back({"pulseDialing", Field(Json(r.pulseDialing), DialingShown(r))});
    top.push_back({"pulseRatio", Field(Json(r.pulseRatio), PulseRatioShown(r))});
    top.push_back({"dialCycles", Field(Json(r.dialCycles), DialCyclesShown(r))});
    top.push_back({"blindDialing", Field(Json(r.blindDialing), DialToneShown(r))});
    top.push_back({"dialPause", Field(Json(r.dialPause), DialPauseShown(r))});
    top.push_back({"detectBusy", Field(Json(r.detectBusy), BusyShown(r))});
    top.push_back({"protocol", Field(Json(r.protocol), ProtocolShown(r))});
    top.push_back({"accountNumber", Field(RawString(r.accountNumber), AccountShown(r))});
    top.push_back({"testInterval", Field(RawString(r.testInterval), TestIntervalShown(r))});
    top.push_back({"lineCheckPeriod", Field(Json(r.lineCheckPeriod), LineCheckShown(r))});
    top.push_back({"showLineFault", Field(Json(r.showLineFault), LineFaultShown(r))});

    std::vector<std::string> codes;
    for (int t = 1; t <= kTypeCount; ++t) {
        const int code = TypeEventCode(r, t);
        const Shown s = EventCodeShown(r, t);
        codes.push_back(Object({
            {"type", Json(t)},
            {"digits", Array({Json(int(r.eventCodes[t - 1][0])), Json(int(r.eventCodes[t - 1][1])),
                              Json(int(r.eventCodes[t - 1][2]))})},
            {"code", code < 0 ? "null" : Json(code)},
            {"valid", Json(s.valid)},
            {"english", JsonOptional(FindEventText(EventLanguage::English, code))},
            {"russian", JsonOptional(FindEventText(EventLanguage::Russian, code))},
            {"description", Json(std::string_view(TypeDescription(r, t)))},
            {"text", Json(s.text)},
        }));
    }
    top.push_back({"eventCodes", Block(codes)});

    std::vector<std::string> expanders;
    std::vector<std::string> wrong;
    for (int e = 0; e < kExpanderCount; ++e) {
        std::vector<std::string> types;
        for (int l = 0; l < kLoopsPerExpander; ++l) {
            const int type = r.loopTypes[kLoopsPerExpander * e + l];
            types.push_back(Json(type));
            if (!ValidType(type))
                wrong.push_back(
                    Object({{"expander", Json(e)}, {"loop", Json(l + 1)}, {"value", Json(type)}}));
        }
        expanders.push_back(Array(types));
    }
    top.push_back({"loopTypes", Block(expanders)});
    top.push_back({"invalidLoopTypes", Block(wrong)});

    std::vector<std::string> relays;
    for (int n = 0; n < kRelayCount; ++n) {
        const int type = r.relayTypes[n];
        relays.push_back(
            Object({{"relay", Json(n + 1)},
                    {"value", Json(type)},
                    {"valid", Json(ValidType(type))},
                    {"description",
                     ValidType(type) ? Json(std::string_view(TypeDescription(r, type))) : "null"},
                    {"text", Json(RelayShown(r, n).text)}}));
    }
    top.push_back({"relayTypes", Block(relays)});

    std::vector<std::string> groups;
    for (int g = 0; g < kGroupCount; ++g) {
        std::vector<std::string> members;
        for (int e = 0; e < kExpanderCount; ++e)
            for (int l = 0; l < kLoopsPerExpander; ++l)
                if (Member(r, g, e, l))
                    members.push_back(Object({{"expander", Json(e)}, {"loop", Json(l + 1)}}));
        groups.push_back(Object({{"group", Json(g + 1)}, {"members", Array(members)}}));
    }
    top.push_back({"loopGroups", Block(groups)});

    top.push_back({"reserved", Object({{"153", Bytes(r.reserved153, 3)},
                                       {"1783", Bytes(&r.reserved1783, 1)},
                                       {"1798", Bytes(r.reserved1798, 2)}})});

    std::string out = "{\n";
    for (std::size_t i = 0; i < top.size(); ++i)
        out += "  " + Json(std::string_view(top[i].first)) + ": " + top[i].second +
               (i + 1 < top.size() ? "," : "") + "\n";
    return out + "}\n";
}

std::vector<std::string> DiffLines(const SettingsRecord& a, const SettingsRecord& b) {
    std::vector<std::string> lines;
    const std::vector<Item> itemsA = Items(a), itemsB = Items(b);
    for (std::size_t i = 0; i < itemsA.size(); ++i) {
        if (itemsA[i].shown.text == itemsB[i].shown.text) continue;
        lines.push_back(itemsA[i].label + ": " + itemsA[i].shown.text + " → " +
                        itemsB[i].shown.text);
    }
    for (int g = 0; g < kGroupCount; ++g) {
        SettingsRecord added{}, removed{};
        bool any = false;
        for (int e = 0; e < kExpanderCount; ++e) {
            added.loopGroups[g][e] = b.loopGroups[g][e] & ~a.loopGroups[g][e] & 0xFF;
            removed.loopGroups[g][e] = a.loopGroups[g][e] & ~b.loopGroups[g][e] & 0xFF;
            any = any || added.loopGroups[g][e] || removed.loopGroups[g][e];
        }
        if (!any) continue;
        std::string line = "Группа " + std::to_string(g + 1) + ":";
        if (GroupSize(added, g) > 0) line += " добавлены " + GroupMembers(added, g);
        if (GroupSize(removed, g) > 0)
            line += std::string(GroupSize(added, g) > 0 ? ";" : "") + " удалены " +
                    GroupMembers(removed, g);
        lines.push_back(line);
    }
    return lines;
}
