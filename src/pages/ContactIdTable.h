// The Contact ID codes the utility knows, with their English and Russian texts.
// Read-only data; no widget code here, so the command-line tool uses it too.
#pragma once

#include "settings/SettingsRecord.h"

#include <optional>
#include <string>
#include <string_view>

enum class EventLanguage { English, Russian };

// The text of `code` (0..999) in `language`, or nothing when the table has no entry.
// A single blank is a present text. Codes outside 0..999 are absent.
std::optional<std::string_view> FindEventText(EventLanguage language, int code);

// The number formed by the three stored digits of type t (1..16); digits outside 0..9
// (a foreign file) still give a number, never a read outside the record. -1 for a type
// outside 1..16.
int TypeEventCode(const SettingsRecord& record, int type);

// The name of loop type t everywhere in the interface: the Russian text of its code, or
// "Код события : %d%d%d" with the three stored digits. A type outside 1..16 is named
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
const EventEntry& EventTableEntry(std::size_t index);
