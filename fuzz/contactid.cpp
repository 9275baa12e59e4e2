// The Contact ID lookups on any record a file or a device may bring: any stored digits,
// any type number, any code.
#include "settings/ContactIdTable.h"
#include "settings/SettingsRecord.h"

#include <cstring>
#include <string>

namespace {
void Check(bool ok) {
    if (!ok) __builtin_trap();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SettingsRecord record;
    std::memset(&record, 0, sizeof record);
    std::memcpy(&record, data, size < sizeof record ? size : sizeof record);
    const SettingsRecord before = record;

    // Codes from the tail of the input (or from the record when there is none).
    for (std::size_t i = sizeof record; i + 4 <= size; i += 4) {
        int code;
        std::memcpy(&code, data + i, 4);
        const auto english = FindEventText(EventLanguage::English, code);
        const auto russian = FindEventText(EventLanguage::Russian, code);
        if (code < 0 || code > 999) Check(!english && !russian);
    }
    for (int type = -2; type <= kTypeCount + 2; ++type) {
        const int code = TypeEventCode(record, type);
        const std::string digits = TypeCodeDigits(record, type);
        const std::string description = TypeDescription(record, type);
        Check(!description.empty());
        if (type < 1 || type > kTypeCount) {
            Check(code == -1 && digits.empty());
            Check(description == "Тип " + std::to_string(type) + " (недопустимый)");
            continue;
        }
        const auto& d = record.eventCodes[type - 1];
        const bool valid =
            d[0] >= 0 && d[0] <= 9 && d[1] >= 0 && d[1] <= 9 && d[2] >= 0 && d[2] <= 9;
        Check(valid ? code == d[0] * 100 + d[1] * 10 + d[2] : code == -1);
        if (valid) Check(digits.size() == 3);
        const auto russian = FindEventText(EventLanguage::Russian, code);
        if (russian)
            Check(description == *russian);
        else
            Check(description == "Код события : " + digits);
        (void)FindEventText(EventLanguage::English, code);
    }
    Check(std::memcmp(&record, &before, sizeof record) == 0); // lookups only read
    return 0;
}
