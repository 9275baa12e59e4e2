// The settings of a record in words. Every setting is described once, in one table of
// fields: its label, its JSON key, how it is shown and whether its value is within its
// range. torvik7ctl show (text and JSON), diff, the list of out-of-range values asked
// about before a write, and the printable settings card all walk that table.
#pragma once

#include "settings/SettingsRecord.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <string>
#include <vector>

// One setting as the operator reads it; `valid` is false for a value outside its range.
struct Shown {
    std::string text;
    bool valid = true;
};

// The parts of a record, in the order the table lists them.
enum class Section {
    Phones,     // telephone numbers, prefix and dialing
    General,    // protocol, account, test and line-check intervals, line fault
    EventCodes, // the Contact ID code of each of the 16 loop types
    LoopTypes,  // the type of each of the 512 loops
    Relays,     // the type of each of the four monitoring-station relays
    Groups,     // the members of each of the 16 groups
    Reserved,   // bytes no operation sets
};

// The heading of a section, as a card prints it.
const char* SectionTitle(Section section);

// One row of the table: a setting, or a run of `count` like settings (9 phones, 16 event
// codes, 512 loops, 4 relays, 16 groups) told apart by an index 0..count-1.
struct Field {
    Section section;
    const char* key;  // the record's field name, the key of show --json
    const char* name; // the setting's name; for a run, what its labels have in common
    int count = 1;
    // The label of entry `index` of a run, in diff's words: "Телефон 1",
    // "Расширитель 0, шлейф 1, тип". Null for a single setting: its label is `name`.
    std::string (*label)(int index) = nullptr;
    // The value in words and whether it is within its range. Loops and relays are shown by
    // their type number alone, so diff reports a changed event code once, on its type.
    Shown (*shown)(const SettingsRecord& r, int index) = nullptr;
    // The value with what it means where that says more than `shown` (a loop or relay type
    // with its description); null where `shown` says it all.
    Shown (*detail)(const SettingsRecord& r, int index) = nullptr;
    // The raw value as show --json gives it (a number, or a string byte for byte); null for
    // the runs that JSON lays out as objects of their own.
    QJsonValue (*json)(const SettingsRecord& r, int index) = nullptr;
};

// The table, in section order.
const std::vector<Field>& RecordFields();

// A field's label, and its detail where it has one, else its shown value.
std::string Label(const Field& field, int index);
Shown Detail(const Field& field, const SettingsRecord& r, int index);

// One setting with its name, as diff and the out-of-range list name it.
struct NamedValue {
    std::string label;
    Shown shown;
};

// The settings whose values are outside their ranges, in table order.
std::vector<NamedValue> OutOfRange(const SettingsRecord& r);

// The out-of-range settings as lines "<label>: <text>", at most `maxLines` of them and then
// "и ещё N"; empty when every value is within its range.
std::string OutOfRangeList(const SettingsRecord& r, std::size_t maxLines = 10);

// "What differs" from `a` to `b`, one line each: "<label>: <in a> → <in b>", then per group
// "Группа N: добавлены ...; удалены ...". Bytes behind a string's terminator are no
// difference.
std::vector<std::string> Differences(const SettingsRecord& a, const SettingsRecord& b);

// One setting that differs, with its value on each side.
struct Difference {
    std::string label;
    Shown a;
    Shown b;
};

// The settings Differences() names, side by side for a table: each value as Detail() words
// it (a loop type with its name), and each group that differs with all its members on both
// sides. Every one, in table order.
std::vector<Difference> SideBySide(const SettingsRecord& a, const SettingsRecord& b);

// Members of a group as "expander/loops", runs of loops joined: "0/1-3,5; 12/8".
std::string GroupMembers(const SettingsRecord& r, int group);
int GroupSize(const SettingsRecord& r, int group);

// The whole record as torvik7ctl show prints it, for the file at `path`.
std::string ShowText(const std::string& path, const SettingsRecord& r);
// The same as one JSON object, and as its indented text.
QJsonObject ShowJsonObject(const std::string& path, const SettingsRecord& r);
std::string ShowJson(const std::string& path, const SettingsRecord& r);
// A JSON document as indented text for a terminal or a file: Qt's writer leaves DEL and the
// C1 controls (U+0080..U+009F, where a record's raw bytes 0x80..0x9F land) unescaped; here
// they become \u00NN, so no such byte reaches a terminal raw and the text parses the same.
std::string JsonForTerminal(const QJsonDocument& document);
