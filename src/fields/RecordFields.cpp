// The settings of a record in words: one table of fields, and show, show --json and diff
// as walks over it.
#include "fields/RecordFields.h"

#include "pages/ContactIdTable.h"

#include <bit>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>

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

// A one-byte field as the byte it is in the file, 0..255, whatever its declared sign.
int Byte(std::int8_t value) {
    return static_cast<std::uint8_t>(value);
}

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
    if (Byte(r.pulseRatio) == 0) return {"1,5", true};
    if (Byte(r.pulseRatio) == 1) return {"2", true};
    return Invalid(std::to_string(Byte(r.pulseRatio)), "0 — \"1,5\", 1 — \"2\"");
}
Shown DialCyclesShown(const SettingsRecord& r) {
    return Number(Byte(r.dialCycles), 4, 8);
}
Shown DialPauseShown(const SettingsRecord& r) {
    return Number(Byte(r.dialPause), 1, 59, " с");
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
    if (Byte(r.protocol) == 1) return {"DTMF (Contact ID)", true};
    if (Byte(r.protocol) == 2) return {"ЧМ (Сальвет - Ф)", true};
    return Invalid(std::to_string(Byte(r.protocol)), "1 — DTMF, 2 — ЧМ");
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
    if (Byte(r.lineCheckPeriod) < 1 || Byte(r.lineCheckPeriod) > 6)
        return Invalid(std::to_string(Byte(r.lineCheckPeriod)), "1..6");
    return {kLineCheckTexts[Byte(r.lineCheckPeriod) - 1], true};
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

// A loop or relay type with its description.
Shown TypeShown(const SettingsRecord& r, int type) {
    if (!ValidType(type)) return Invalid("тип " + std::to_string(type), "1..16");
    return {"тип " + std::to_string(type) + " (" + TypeDescription(r, type) + ")", true};
}

bool Member(const SettingsRecord& r, int group, int expander, int loop) {
    return (r.loopGroups[group][expander] >> loop & 1) != 0;
}

std::string Hex(const std::uint8_t* bytes, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%s%02X", i ? " " : "", bytes[i]);
        out += buf;
    }
    return out;
}

// ---------------------------------------------------------------- JSON pieces

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

std::string FieldJson(const std::string& value, const Shown& s) {
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

// ---------------------------------------------------------------- the table of fields

namespace {

std::string PhoneLabel(int k) {
    return "Телефон " + std::to_string(k + 1);
}
std::string EventCodeLabel(int t) {
    return "Тип " + std::to_string(t + 1) + ", код события";
}
std::string LoopLabel(int n) {
    return "Расширитель " + std::to_string(n / kLoopsPerExpander) + ", шлейф " +
           std::to_string(n % kLoopsPerExpander + 1) + ", тип";
}
std::string RelayLabel(int n) {
    return "Реле ПЦН " + std::to_string(n + 1) + ", тип";
}
std::string GroupLabel(int g) {
    return "Группа " + std::to_string(g + 1);
}

Shown GroupShown(const SettingsRecord& r, int g) {
    return {GroupSize(r, g) == 0 ? "нет шлейфов" : GroupMembers(r, g), true};
}

std::vector<Field> MakeFields() {
    using R = const SettingsRecord&;
    return {
        {.section = Section::Phones,
         .key = "phoneNumbers",
         .name = "Телефоны",
         .count = kPhoneCount,
         .label = PhoneLabel,
         .shown = [](R r, int k) { return PhoneShown(r, k); },
         .json = [](R r, int k) { return RawString(r.phoneNumbers[k]); }},
        {.section = Section::Phones,
         .key = "prefixNumber",
         .name = "Номер префикса",
         .shown = [](R r, int) { return PrefixNumberShown(r); },
         .json = [](R r, int) { return RawString(r.prefixNumber); }},
        {.section = Section::Phones,
         .key = "prefixEnabled",
         .name = "Префикс",
         .shown = [](R r, int) { return PrefixEnabledShown(r); },
         .json = [](R r, int) { return Json(r.prefixEnabled); }},
        {.section = Section::Phones,
         .key = "pulseDialing",
         .name = "Набор номера",
         .shown = [](R r, int) { return DialingShown(r); },
         .json = [](R r, int) { return Json(r.pulseDialing); }},
        {.section = Section::Phones,
         .key = "pulseRatio",
         .name = "Импульсный коэффициент",
         .shown = [](R r, int) { return PulseRatioShown(r); },
         .json = [](R r, int) { return Json(Byte(r.pulseRatio)); }},
        {.section = Section::Phones,
         .key = "dialCycles",
         .name = "Кол-во циклов дозвона",
         .shown = [](R r, int) { return DialCyclesShown(r); },
         .json = [](R r, int) { return Json(Byte(r.dialCycles)); }},
        {.section = Section::Phones,
         .key = "blindDialing",
         .name = "Сигнал \"ОТВЕТ СТАНЦИИ\"",
         .shown = [](R r, int) { return DialToneShown(r); },
         .json = [](R r, int) { return Json(r.blindDialing); }},
        {.section = Section::Phones,
         .key = "dialPause",
         .name = "Пауза перед набором номера",
         .shown = [](R r, int) { return DialPauseShown(r); },
         .json = [](R r, int) { return Json(Byte(r.dialPause)); }},
        {.section = Section::Phones,
         .key = "detectBusy",
         .name = "Сигнал \"ЗАНЯТО\"",
         .shown = [](R r, int) { return BusyShown(r); },
         .json = [](R r, int) { return Json(r.detectBusy); }},
        {.section = Section::General,
         .key = "protocol",
         .name = "Протокол",
         .shown = [](R r, int) { return ProtocolShown(r); },
         .json = [](R r, int) { return Json(Byte(r.protocol)); }},
        {.section = Section::General,
         .key = "accountNumber",
         .name = "Адрес ПЕНКО-РС",
         .shown = [](R r, int) { return AccountShown(r); },
         .json = [](R r, int) { return RawString(r.accountNumber); }},
        {.section = Section::General,
         .key = "testInterval",
         .name = "Интервал передачи тестового извещения",
         .shown = [](R r, int) { return TestIntervalShown(r); },
         .json = [](R r, int) { return RawString(r.testInterval); }},
        {.section = Section::General,
         .key = "lineCheckPeriod",
         .name = "Интервал проверки тел. линии",
         .shown = [](R r, int) { return LineCheckShown(r); },
         .json = [](R r, int) { return Json(Byte(r.lineCheckPeriod)); }},
        {.section = Section::General,
         .key = "showLineFault",
         .name = "Неисправность тел. линии в СЛ \"ЛЕМАРА\"",
         .shown = [](R r, int) { return LineFaultShown(r); },
         .json = [](R r, int) { return Json(r.showLineFault); }},
        {.section = Section::EventCodes,
         .key = "eventCodes",
         .name = "Типы шлейфов и их коды событий Contact ID",
         .count = kTypeCount,
         .label = EventCodeLabel,
         .shown = [](R r, int t) { return EventCodeShown(r, t + 1); }},
        {.section = Section::LoopTypes,
         .key = "loopTypes",
         .name = "Типы шлейфов",
         .count = kLoopCount,
         .label = LoopLabel,
         .shown = [](R r, int n) { return LoopTypeShown(Byte(r.loopTypes[n])); },
         .detail = [](R r, int n) { return TypeShown(r, Byte(r.loopTypes[n])); }},
        {.section = Section::Relays,
         .key = "relayTypes",
         .name = "Реле ПЦН",
         .count = kRelayCount,
         .label = RelayLabel,
         .shown = [](R r, int n) { return LoopTypeShown(Byte(r.relayTypes[n])); },
         .detail = [](R r, int n) { return TypeShown(r, Byte(r.relayTypes[n])); }},
        {.section = Section::Groups,
         .key = "loopGroups",
         .name = "Группы шлейфов",
         .count = kGroupCount,
         .label = GroupLabel,
         .shown = GroupShown},
        {.section = Section::Reserved,
         .key = "reserved153",
         .name = "Резервные байты 153..155",
         .shown =
             [](R r, int) {
                 return Shown{Hex(r.reserved153, 3), true};
             },
         .json = [](R r, int) { return Bytes(r.reserved153, 3); }},
        {.section = Section::Reserved,
         .key = "reserved1783",
         .name = "Резервный байт 1783",
         .shown =
             [](R r, int) {
                 return Shown{Hex(&r.reserved1783, 1), true};
             },
         .json = [](R r, int) { return Bytes(&r.reserved1783, 1); }},
        {.section = Section::Reserved,
         .key = "reserved1798",
         .name = "Резервные байты 1798..1799",
         .shown =
             [](R r, int) {
                 return Shown{Hex(r.reserved1798, 2), true};
             },
         .json = [](R r, int) { return Bytes(r.reserved1798, 2); }},
    };
}

const Field& FieldByKey(std::string_view key) {
    for (const auto& f : RecordFields())
        if (key == f.key) return f;
    std::abort(); // a key missing from the table is a fault of this file
}

} // namespace

const std::vector<Field>& RecordFields() {
    static const std::vector<Field> fields = MakeFields();
    return fields;
}

const char* SectionTitle(Section section) {
    switch (section) {
    case Section::Phones:
        return "Телефоны и набор номера";
    case Section::General:
        return "Общие";
    case Section::EventCodes:
        return "Коды событий";
    case Section::LoopTypes:
        return "Типы шлейфов";
    case Section::Relays:
        return "Реле ПЦН";
    case Section::Groups:
        return "Группы шлейфов";
    case Section::Reserved:
        return "Резервные байты";
    }
    return "";
}

std::string Label(const Field& field, int index) {
    return field.label ? field.label(index) : field.name;
}

Shown Detail(const Field& field, const SettingsRecord& r, int index) {
    return field.detail ? field.detail(r, index) : field.shown(r, index);
}

std::vector<NamedValue> OutOfRange(const SettingsRecord& r) {
    std::vector<NamedValue> out;
    for (const auto& f : RecordFields())
        for (int i = 0; i < f.count; ++i)
            if (Shown s = f.shown(r, i); !s.valid) out.push_back({Label(f, i), std::move(s)});
    return out;
}

std::string OutOfRangeList(const SettingsRecord& r, std::size_t maxLines) {
    const std::vector<NamedValue> values = OutOfRange(r);
    std::string out;
    for (std::size_t i = 0; i < values.size() && i < maxLines; ++i)
        out += (i ? "\n" : "") + values[i].label + ": " + values[i].shown.text;
    if (values.size() > maxLines) out += "\nи ещё " + std::to_string(values.size() - maxLines);
    return out;
}

std::vector<std::string> Differences(const SettingsRecord& a, const SettingsRecord& b) {
    std::vector<std::string> lines;
    for (const auto& f : RecordFields()) {
        if (f.section == Section::Groups) continue; // members added and removed, below
        for (int i = 0; i < f.count; ++i) {
            const std::string textA = f.shown(a, i).text, textB = f.shown(b, i).text;
            if (textA != textB) lines.push_back(Label(f, i) + ": " + textA + " → " + textB);
        }
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
        std::string line = GroupLabel(g) + ":";
        if (GroupSize(added, g) > 0) line += " добавлены " + GroupMembers(added, g);
        if (GroupSize(removed, g) > 0)
            line += std::string(GroupSize(added, g) > 0 ? ";" : "") + " удалены " +
                    GroupMembers(removed, g);
        lines.push_back(line);
    }
    return lines;
}

// ---------------------------------------------------------------- show as text

namespace {

void Line(std::string& out, const std::string& label, const Shown& s, const char* indent = "") {
    out += indent + label + ": " + s.text + "\n";
}

// "153..155" of "Резервные байты 153..155".
std::string LastWord(const char* name) {
    const std::string text = name;
    return text.substr(text.rfind(' ') + 1);
}

} // namespace

std::string ShowText(const std::string& path, const SettingsRecord& r) {
    std::string out = "Файл настроек: " + VisiblePath(path) + "\n";
    std::optional<Section> section;
    for (const auto& f : RecordFields()) {
        const bool first = section != f.section;
        section = f.section;
        switch (f.section) {
        case Section::Phones:
        case Section::General:
            if (first) out += "\n";
            if (f.count > 1) {
                out += std::string(f.name) + ":\n";
                for (int i = 0; i < f.count; ++i)
                    Line(out, std::to_string(i + 1), f.shown(r, i), "  ");
            } else if (std::string_view(f.key) == "prefixEnabled") {
                // The prefix and whether it is dialed, on one line.
                const Shown number = FieldByKey("prefixNumber").shown(r, 0);
                Line(out, f.name, {number.text + ", " + f.shown(r, 0).text, true});
            } else if (std::string_view(f.key) != "prefixNumber") {
                Line(out, f.name, f.shown(r, 0));
            }
            break;
        case Section::EventCodes:
            out += "\n" + std::string(f.name) + ":\n";
            for (int t = 0; t < f.count; ++t)
                Line(out, Format("Тип %2d", t + 1), f.shown(r, t), "  ");
            break;
        case Section::LoopTypes: {
            out += "\n" + std::string(f.name) + " по расширителям (шлейфы 1..8):\n";
            std::vector<std::string> wrong;
            for (int e = 0; e < kExpanderCount; ++e) {
                std::string line = Format("  Расширитель %2d:", e);
                for (int l = 0; l < kLoopsPerExpander; ++l) {
                    const int n = kLoopsPerExpander * e + l;
                    const Shown s = f.shown(r, n);
                    line += Format(" %2d%s", Byte(r.loopTypes[n]), s.valid ? "" : "!");
                    if (!s.valid)
                        wrong.push_back("  Расширитель " + std::to_string(e) + ", шлейф " +
                                        std::to_string(l + 1) + ": " + s.text);
                }
                out += line + "\n";
            }
            if (!wrong.empty()) {
                out += "Недопустимые типы шлейфов (отмечены !):\n";
                for (const auto& line : wrong)
                    out += line + "\n";
            }
            break;
        }
        case Section::Relays:
            out += "\n" + std::string(f.name) + ":\n";
            for (int n = 0; n < f.count; ++n)
                Line(out, "Реле ПЦН " + std::to_string(n + 1), Detail(f, r, n), "  ");
            break;
        case Section::Groups:
            out += "\n" + std::string(f.name) + " (расширитель/шлейфы):\n";
            for (int g = 0; g < f.count; ++g) {
                const int size = GroupSize(r, g);
                if (size == 0)
                    out += Format("  Группа %2d: нет шлейфов\n", g + 1);
                else
                    out += Format("  Группа %2d (%d): ", g + 1, size) + GroupMembers(r, g) + "\n";
            }
            break;
        case Section::Reserved:
            out += (first ? "\nРезервные байты: " : "; ") + LastWord(f.name) + ": " +
                   f.shown(r, 0).text;
            break;
        }
    }
    return out + "\n";
}

// ---------------------------------------------------------------- show as JSON

std::string ShowJson(const std::string& path, const SettingsRecord& r) {
    std::vector<std::pair<std::string, std::string>> top;
    top.push_back({"file", Json(std::string_view(path))});
    std::vector<std::pair<std::string, std::string>> reserved;
    for (const auto& f : RecordFields()) {
        switch (f.section) {
        case Section::Phones:
        case Section::General:
            if (f.count > 1) {
                std::vector<std::string> values;
                for (int i = 0; i < f.count; ++i)
                    values.push_back(FieldJson(f.json(r, i), f.shown(r, i)));
                top.push_back({f.key, Block(values)});
            } else {
                top.push_back({f.key, FieldJson(f.json(r, 0), f.shown(r, 0))});
            }
            break;
        case Section::EventCodes: {
            std::vector<std::string> codes;
            for (int t = 1; t <= f.count; ++t) {
                const int code = TypeEventCode(r, t);
                const Shown s = f.shown(r, t - 1);
                codes.push_back(Object({
                    {"type", Json(t)},
                    {"digits",
                     Array({Json(int(r.eventCodes[t - 1][0])), Json(int(r.eventCodes[t - 1][1])),
                            Json(int(r.eventCodes[t - 1][2]))})},
                    {"code", code < 0 ? "null" : Json(code)},
                    {"valid", Json(s.valid)},
                    {"english", JsonOptional(FindEventText(EventLanguage::English, code))},
                    {"russian", JsonOptional(FindEventText(EventLanguage::Russian, code))},
                    {"description", Json(std::string_view(TypeDescription(r, t)))},
                    {"text", Json(s.text)},
                }));
            }
            top.push_back({f.key, Block(codes)});
            break;
        }
        case Section::LoopTypes: {
            std::vector<std::string> expanders;
            std::vector<std::string> wrong;
            for (int e = 0; e < kExpanderCount; ++e) {
                std::vector<std::string> types;
                for (int l = 0; l < kLoopsPerExpander; ++l) {
                    const int n = kLoopsPerExpander * e + l;
                    types.push_back(Json(Byte(r.loopTypes[n])));
                    if (!f.shown(r, n).valid)
                        wrong.push_back(Object({{"expander", Json(e)},
                                                {"loop", Json(l + 1)},
                                                {"value", Json(Byte(r.loopTypes[n]))}}));
                }
                expanders.push_back(Array(types));
            }
            top.push_back({f.key, Block(expanders)});
            top.push_back({"invalidLoopTypes", Block(wrong)});
            break;
        }
        case Section::Relays: {
            std::vector<std::string> relays;
            for (int n = 0; n < f.count; ++n) {
                const int type = Byte(r.relayTypes[n]);
                const bool valid = f.shown(r, n).valid;
                relays.push_back(
                    Object({{"relay", Json(n + 1)},
                            {"value", Json(type)},
                            {"valid", Json(valid)},
                            {"description",
                             valid ? Json(std::string_view(TypeDescription(r, type))) : "null"},
                            {"text", Json(Detail(f, r, n).text)}}));
            }
            top.push_back({f.key, Block(relays)});
            break;
        }
        case Section::Groups: {
            std::vector<std::string> groups;
            for (int g = 0; g < f.count; ++g) {
                std::vector<std::string> members;
                for (int e = 0; e < kExpanderCount; ++e)
                    for (int l = 0; l < kLoopsPerExpander; ++l)
                        if (Member(r, g, e, l))
                            members.push_back(
                                Object({{"expander", Json(e)}, {"loop", Json(l + 1)}}));
                groups.push_back(Object({{"group", Json(g + 1)}, {"members", Array(members)}}));
            }
            top.push_back({f.key, Block(groups)});
            break;
        }
        case Section::Reserved:
            // "reserved153" is "153" of the one "reserved" object.
            reserved.push_back({std::string(f.key).substr(8), f.json(r, 0)});
            break;
        }
    }
    top.push_back({"reserved", Object(reserved)});

    std::string out = "{\n";
    for (std::size_t i = 0; i < top.size(); ++i)
        out += "  " + Json(std::string_view(top[i].first)) + ": " + top[i].second +
               (i + 1 < top.size() ? "," : "") + "\n";
    return out + "}\n";
}
