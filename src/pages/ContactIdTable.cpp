#include "pages/ContactIdTable.h"

// Placeholder until the table lands.
std::optional<std::string_view> FindEventText(EventLanguage, int) { return std::nullopt; }
int TypeEventCode(const SettingsRecord&, int) { return -1; }
std::string TypeDescription(const SettingsRecord&, int) { return {}; }
std::string TypeDescription(int type) { return TypeDescription(TheSettings(), type); }
std::size_t EventTableSize() { return 0; }
const EventEntry& EventTableEntry(std::size_t) {
    static const EventEntry none{0, {}, {}};
    return none;
}
