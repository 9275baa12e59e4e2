// A settings record in words: what torvik7ctl show prints as text or JSON, and the list of
// settings that diff compares. Pure formatting; nothing is printed here.
#pragma once

#include "settings/SettingsRecord.h"

#include <string>
#include <vector>

// One setting as the operator reads it.
struct Shown {
    std::string text;
    bool valid = true;
};

// Every setting one by one, as "label: text" for diff; show arranges the same texts.
// Loops and relays are compared by their type number alone: a changed event code is
// reported once, on its type, not again on every loop that carries the type.
struct Item {
    std::string label;
    Shown shown;
};
std::vector<Item> Items(const SettingsRecord& r);

// Members of a group as "expander/loops", runs of loops joined: "0/1-3,5; 12/8".
std::string GroupMembers(const SettingsRecord& r, int group);
int GroupSize(const SettingsRecord& r, int group);

// What differs from `a` to `b`, one line per setting ("label: old → new") and one per group
// whose members changed; empty when the records say the same.
std::vector<std::string> DiffLines(const SettingsRecord& a, const SettingsRecord& b);

// The whole record as `show` prints it, for the file at `path`.
std::string ShowText(const std::string& path, const SettingsRecord& r);
std::string ShowJson(const std::string& path, const SettingsRecord& r);
