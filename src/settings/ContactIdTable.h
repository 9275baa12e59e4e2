// The Contact ID codes the utility knows, with their English and Russian texts.
// Read-only data; no widget code here, so the command-line tool and the help page
// generator use it too.
#pragma once

#include "settings/SettingsRecord.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

enum class EventLanguage { English, Russian };

// The text of `code` (0..999) in `language`, or nothing when the table has no entry.
// A single blank is a present text. Codes outside 0..999 are absent.
std::optional<std::string_view> FindEventText(EventLanguage language, int code);

// The number 100 x hundreds + 10 x tens + units formed by the three stored digits of
// type t (1..16). -1 for a type outside 1..16, and -1 when any stored digit lies outside
// 0..9 (a foreign file or device): such digits form no three-digit code, and folding
// them into a number would alias a real code (0, 11, 0 would read as 110).
int TypeEventCode(const SettingsRecord& record, int type);

// The three stored digits of type t as the operator reads them: "130", "000". A digit
// outside 0..9 is written as its value in square brackets, so "1[12]0" is the hundreds
// digit 1, a tens "digit" 12 and the units digit 0; nothing is hidden and nothing runs
// together. Empty for a type outside 1..16.
std::string TypeCodeDigits(const SettingsRecord& record, int type);

// The name of loop type t everywhere in the interface: the Russian text of its code, or
// "Код события : " followed by TypeCodeDigits when the table holds no Russian text
// (for valid digits exactly "Код события : %d%d%d"). A type outside 1..16 is named
// "Тип %d (недопустимый)".
std::string TypeDescription(const SettingsRecord& record, int type);
std::string TypeDescription(int type); // of TheSettings()

// Every entry in code order, for the help page and tests.
struct EventEntry {
    int code;
    std::string_view english;
    std::string_view russian;
};
std::size_t EventTableSize();
// index < EventTableSize(); a larger index gives the last entry.
const EventEntry& EventTableEntry(std::size_t index);
