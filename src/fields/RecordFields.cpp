// The settings of a record in words: one table of fields, and show, show --json and diff
// as walks over it.
#include "fields/RecordFields.h"

#include "settings/ContactIdTable.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QString>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdlib>
#include <optional>
#include <string_view>

namespace {

// A hostile record is shown as hundreds of kilobytes of text and JSON. Everything below
// appends to the one output string: a temporary string per piece cost far more than the
// text itself, above all under the sanitizers.

// The pieces of a short text put together in a buffer of the caller's, which leaves
// room for them.
char* Put(char* p, std::string_view text) {
    return std::copy(text.begin(), text.end(), p);
}
char* PutInt(char* p, int n) {
    // Nearly every number shown is a byte or an index: those without the general case.
    if (n < 0 || n > 999) return std::to_chars(p, p + 11, n).ptr; // "-2147483648"
    if (n >= 100) *p++ = static_cast<char>('0' + n / 100);
    if (n >= 10) *p++ = static_cast<char>('0' + n / 10 % 10);
    *p++ = static_cast<char>('0' + n % 10);
    return p;
}

void AppendInt(std::string& out, int n) {
    char buf[16];
    out.append(buf, static_cast<std::size_t>(PutInt(buf, n) - buf));
}

// A number at least two characters wide, blank-padded on the left ("%2d").
char* PutInt2(char* p, int n) {
    if (n >= 0 && n < 10) *p++ = ' ';
    return PutInt(p, n);
}
void AppendInt2(std::string& out, int n) {
    char buf[16];
    out.append(buf, static_cast<std::size_t>(PutInt2(buf, n) - buf));
}

const char kHexDigits[] = "0123456789ABCDEF";

void AppendHexByte(std::string& out, unsigned char c) {
    out += kHexDigits[c >> 4];
    out += kHexDigits[c & 0xF];
}

// ---------------------------------------------------------------- fields in words

// A one-byte field as the byte it is in the file, 0..255, whatever its declared sign.
int Byte(std::int8_t value) {
    return static_cast<std::uint8_t>(value);
}

const char kInvalid[] = "недопустимое значение";

Shown Invalid(std::string_view value, std::string_view range) {
    Shown s{{}, false};
    s.text.reserve(value.size() + range.size() + sizeof kInvalid + 8);
    s.text.append(value).append(" — ").append(kInvalid).append(" (").append(range).append(")");
    return s;
}

// Printable ASCII as it is, any other byte as \xNN, so a foreign byte is visible and the
// terminal is safe.
void AppendVisibleBytes(std::string& out, std::string_view text) {
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += ch;
        } else {
            out += "\\x";
            AppendHexByte(out, c);
        }
    }
}

std::string VisibleBytes(std::string_view text) {
    std::string out;
    AppendVisibleBytes(out, text);
    return out;
}

// A string field within its own width.
template <std::size_t N> std::string Visible(const char (&field)[N]) {
    return VisibleBytes(std::string_view(field, FieldLength(field)));
}

// A file name for the terminal: UTF-8 names as they are, control characters escaped, the
// C1 ones (U+0080..U+009F, a terminal's CSI among them) as their two bytes.
void AppendVisiblePath(std::string& out, const std::string& path) {
    for (std::size_t i = 0; i < path.size(); ++i) {
        const auto c = static_cast<unsigned char>(path[i]);
        const auto next = i + 1 < path.size() ? static_cast<unsigned char>(path[i + 1]) : 0u;
        if (c < 0x20 || c == 0x7F) {
            AppendVisibleBytes(out, path.substr(i, 1));
        } else if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {
            AppendVisibleBytes(out, path.substr(i, 2));
            ++i;
        } else {
            out += path[i];
        }
    }
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

// A hostile record has hundreds of these, each built for show, diff and the out-of-range
// list alike: put together in place.
Shown Number(int value, int low, int high, const char* unit = "") {
    char buf[128];
    char* p = PutInt(buf, value);
    if (value >= low && value <= high) {
        p = Put(p, unit);
        return {std::string(buf, static_cast<std::size_t>(p - buf)), true};
    }
    p = Put(Put(Put(p, " — "), kInvalid), " (");
    p = PutInt(Put(PutInt(p, low), ".."), high);
    *p++ = ')';
    return {std::string(buf, static_cast<std::size_t>(p - buf)), false};
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

std::string Hex(const std::uint8_t* bytes, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        if (i) out += ' ';
        AppendHexByte(out, bytes[i]);
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

// A record string byte for byte: bytes 0x80..0xFF become the code points U+0080..U+00FF,
// so a value maps back onto the record whatever its bytes.
template <std::size_t N> QJsonValue RawString(const char (&field)[N]) {
    return QString::fromLatin1(field, static_cast<qsizetype>(FieldLength(field)));
}

QJsonValue Json(int n) {
    return n;
}

QJsonValue Bytes(const std::uint8_t* bytes, std::size_t count) {
    QJsonArray out;
    for (std::size_t i = 0; i < count; ++i)
        out.append(bytes[i]);
    return out;
}

QJsonValue Text(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QJsonValue OptionalText(const std::optional<std::string_view>& s) {
    return s ? Text(*s) : QJsonValue(QJsonValue::Null);
}

QJsonObject FieldJson(const QJsonValue& value, const Shown& s) {
    return {{"value", value}, {"valid", s.valid}, {"text", Text(s.text)}};
}

} // namespace

namespace {

void AppendGroupMembers(std::string& out, const SettingsRecord& r, int group) {
    char buf[kExpanderCount * 24]; // "; 63/1-2,4-5,7-8" at the most for each expander
    char* p = buf;
    for (int e = 0; e < kExpanderCount; ++e) {
        unsigned loops = r.loopGroups[group][e]; // bit b: loop b+1
        if (loops == 0) continue;
        if (p != buf) p = Put(p, "; ");
        p = PutInt(p, e);
        *p++ = '/';
        for (bool first = true; loops != 0; first = false) {
            const int l = std::countr_zero(loops);
            int end = l;
            while (loops >> (end + 1) & 1)
                ++end;
            if (!first) *p++ = ',';
            *p++ = static_cast<char>('1' + l);
            if (end > l) {
                *p++ = '-';
                *p++ = static_cast<char>('1' + end);
            }
            loops &= ~((2u << end) - 1);
        }
    }
    out.append(buf, static_cast<std::size_t>(p - buf));
}

} // namespace

std::string GroupMembers(const SettingsRecord& r, int group) {
    std::string out;
    AppendGroupMembers(out, r, group);
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

std::vector<Difference> SideBySide(const SettingsRecord& a, const SettingsRecord& b) {
    std::vector<Difference> rows;
    for (const auto& f : RecordFields())
        for (int i = 0; i < f.count; ++i)
            // Told apart by `shown`, as diff tells them: a changed event code is one row, on
            // its type, not one more on every loop of that type.
            if (f.shown(a, i).text != f.shown(b, i).text)
                rows.push_back({Label(f, i), Detail(f, a, i), Detail(f, b, i)});
    return rows;
}

// ---------------------------------------------------------------- show as text

namespace {

void Line(std::string& out, std::string_view label, const Shown& s, const char* indent = "") {
    out.append(indent).append(label).append(": ").append(s.text) += '\n';
}

// "153..155" of "Резервные байты 153..155".
std::string_view LastWord(const char* name) {
    const std::string_view text = name;
    return text.substr(text.rfind(' ') + 1);
}

} // namespace

std::string ShowText(const std::string& path, const SettingsRecord& r) {
    std::string out;
    out.reserve(1 << 14);
    out += "Файл настроек: ";
    AppendVisiblePath(out, path);
    out += '\n';
    std::optional<Section> section;
    std::string label;
    for (const auto& f : RecordFields()) {
        const bool first = section != f.section;
        section = f.section;
        switch (f.section) {
        case Section::Phones:
        case Section::General:
            if (first) out += '\n';
            if (f.count > 1) {
                out.append(f.name).append(":\n");
                for (int i = 0; i < f.count; ++i) {
                    label.clear();
                    AppendInt(label, i + 1);
                    Line(out, label, f.shown(r, i), "  ");
                }
            } else if (std::string_view(f.key) == "prefixEnabled") {
                // The prefix and whether it is dialed, on one line.
                const Shown number = FieldByKey("prefixNumber").shown(r, 0);
                Line(out, f.name, {number.text + ", " + f.shown(r, 0).text, true});
            } else if (std::string_view(f.key) != "prefixNumber") {
                Line(out, f.name, f.shown(r, 0));
            }
            break;
        case Section::EventCodes:
            out.append("\n").append(f.name).append(":\n");
            for (int t = 0; t < f.count; ++t) {
                label = "Тип ";
                AppendInt2(label, t + 1);
                Line(out, label, f.shown(r, t), "  ");
            }
            break;
        case Section::LoopTypes: {
            out.append("\n").append(f.name).append(" по расширителям (шлейфы 1..8):\n");
            std::string wrong;
            for (int e = 0; e < kExpanderCount; ++e) {
                char line[96]; // "  Расширитель 63:" (28 bytes) and 8 times " 255!", "\n"
                char* p = PutInt2(Put(line, "  Расширитель "), e);
                *p++ = ':';
                for (int l = 0; l < kLoopsPerExpander; ++l) {
                    const int n = kLoopsPerExpander * e + l;
                    const Shown s = f.shown(r, n);
                    *p++ = ' ';
                    p = PutInt2(p, Byte(r.loopTypes[n]));
                    if (s.valid) continue;
                    *p++ = '!';
                    wrong += "  Расширитель ";
                    AppendInt(wrong, e);
                    wrong += ", шлейф ";
                    AppendInt(wrong, l + 1);
                    wrong.append(": ").append(s.text) += '\n';
                }
                *p++ = '\n';
                out.append(line, static_cast<std::size_t>(p - line));
            }
            if (!wrong.empty())
                out.append("Недопустимые типы шлейфов (отмечены !):\n").append(wrong);
            break;
        }
        case Section::Relays:
            out.append("\n").append(f.name).append(":\n");
            for (int n = 0; n < f.count; ++n) {
                label = "Реле ПЦН ";
                AppendInt(label, n + 1);
                Line(out, label, Detail(f, r, n), "  ");
            }
            break;
        case Section::Groups:
            out.append("\n").append(f.name).append(" (расширитель/шлейфы):\n");
            for (int g = 0; g < f.count; ++g) {
                const int size = GroupSize(r, g);
                out += "  Группа ";
                AppendInt2(out, g + 1);
                if (size == 0) {
                    out += ": нет шлейфов\n";
                } else {
                    out += " (";
                    AppendInt(out, size);
                    out += "): ";
                    AppendGroupMembers(out, r, g);
                    out += '\n';
                }
            }
            break;
        case Section::Reserved:
            out.append(first ? "\nРезервные байты: " : "; ")
                .append(LastWord(f.name))
                .append(": ")
                .append(f.shown(r, 0).text);
            break;
        }
    }
    return out + "\n";
}

// ---------------------------------------------------------------- show as JSON

QJsonObject ShowJsonObject(const std::string& path, const SettingsRecord& r) {
    QJsonObject top;
    // A file name that is not UTF-8 (a foreign one) keeps its bytes as code points 0..255.
    top["file"] = ValidUtf8(path)
                      ? QString::fromStdString(path)
                      : QString::fromLatin1(path.data(), static_cast<qsizetype>(path.size()));
    QJsonObject reserved;
    for (const auto& f : RecordFields()) {
        const QString key = QString::fromLatin1(f.key);
        switch (f.section) {
        case Section::Phones:
        case Section::General:
            if (f.count > 1) {
                QJsonArray values;
                for (int i = 0; i < f.count; ++i)
                    values.append(FieldJson(f.json(r, i), f.shown(r, i)));
                top[key] = values;
            } else {
                top[key] = FieldJson(f.json(r, 0), f.shown(r, 0));
            }
            break;
        case Section::EventCodes: {
            QJsonArray codes;
            for (int t = 1; t <= f.count; ++t) {
                const int code = TypeEventCode(r, t);
                const Shown s = f.shown(r, t - 1);
                QJsonArray digits;
                for (int k = 0; k < kCodeDigits; ++k)
                    digits.append(r.eventCodes[t - 1][k]);
                codes.append(QJsonObject{
                    {"type", t},
                    {"digits", digits},
                    {"code", code < 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(code)},
                    {"valid", s.valid},
                    {"english", OptionalText(FindEventText(EventLanguage::English, code))},
                    {"russian", OptionalText(FindEventText(EventLanguage::Russian, code))},
                    {"description", Text(TypeDescription(r, t))},
                    {"text", Text(s.text)}});
            }
            top[key] = codes;
            break;
        }
        case Section::LoopTypes: {
            QJsonArray expanders;
            QJsonArray wrong;
            for (int e = 0; e < kExpanderCount; ++e) {
                QJsonArray types;
                for (int l = 0; l < kLoopsPerExpander; ++l) {
                    const int n = kLoopsPerExpander * e + l;
                    types.append(Byte(r.loopTypes[n]));
                    if (!f.shown(r, n).valid)
                        wrong.append(QJsonObject{
                            {"expander", e}, {"loop", l + 1}, {"value", Byte(r.loopTypes[n])}});
                }
                expanders.append(types);
            }
            top[key] = expanders;
            top["invalidLoopTypes"] = wrong;
            break;
        }
        case Section::Relays: {
            QJsonArray relays;
            for (int n = 0; n < f.count; ++n) {
                const int type = Byte(r.relayTypes[n]);
                const bool valid = f.shown(r, n).valid;
                relays.append(QJsonObject{{"relay", n + 1},
                                          {"value", type},
                                          {"valid", valid},
                                          {"description", valid ? Text(TypeDescription(r, type))
                                                                : QJsonValue(QJsonValue::Null)},
                                          {"text", Text(Detail(f, r, n).text)}});
            }
            top[key] = relays;
            break;
        }
        case Section::Groups: {
            QJsonArray groups;
            for (int g = 0; g < f.count; ++g) {
                QJsonArray members;
                for (int e = 0; e < kExpanderCount; ++e)
                    for (unsigned loops = r.loopGroups[g][e]; loops != 0; loops &= loops - 1)
                        members.append(
                            QJsonObject{{"expander", e}, {"loop", 1 + std::countr_zero(loops)}});
                groups.append(QJsonObject{{"group", g + 1}, {"members", members}});
            }
            top[key] = groups;
            break;
        }
        case Section::Reserved:
            // "reserved153" is "153" of the one "reserved" object.
            reserved[key.mid(8)] = f.json(r, 0);
            break;
        }
    }
    top["reserved"] = reserved;
    return top;
}

std::string ShowJson(const std::string& path, const SettingsRecord& r) {
    return JsonForTerminal(QJsonDocument(ShowJsonObject(path, r)));
}

std::string JsonForTerminal(const QJsonDocument& document) {
    const QByteArray raw = document.toJson(QJsonDocument::Indented);
    std::string out;
    out.reserve(static_cast<std::size_t>(raw.size()));
    // Both can only stand inside a string in Qt's output, where \u00NN means the same.
    const auto escape = [&out](unsigned code) {
        out += "\\u00";
        AppendHexByte(out, static_cast<std::uint8_t>(code));
    };
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const auto c = static_cast<unsigned char>(raw[i]);
        const auto next = i + 1 < raw.size() ? static_cast<unsigned char>(raw[i + 1]) : 0u;
        if (c == 0x7F) {
            escape(c);
        } else if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {
            escape(next);
            ++i;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}
