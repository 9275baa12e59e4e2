// What torvik7ctl show prints of a hostile record, as text and as JSON: UTF-8 with no
// control character but the line feed, whatever the record holds, so a foreign byte never
// reaches the terminal or a JSON reader raw.
#include "fields/RecordFields.h"
#include "settings/SettingsRecord.h"

#include <cstring>
#include <string>

namespace {

// The check walks every byte of hundreds of kilobytes; coverage of its own branches tells
// the fuzzer nothing about show and cost more time than show itself.
__attribute__((no_sanitize("coverage"))) bool PlainUtf8(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t extra = 0;
        if (c < 0x80) {
            if ((c < 0x20 && c != '\n') || c == 0x7F) return false;
        } else if ((c & 0xE0) == 0xC0 && c >= 0xC2) {
            // U+0080..U+009F are the C1 controls, a terminal's CSI among them.
            if (c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) < 0xA0)
                return false;
            extra = 1;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
        } else if ((c & 0xF8) == 0xF0 && c <= 0xF4) {
            extra = 3;
        } else {
            return false;
        }
        if (i + extra >= s.size()) return false;
        for (std::size_t k = 1; k <= extra; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += extra + 1;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kRecordSize) return 0; // the loader refuses such a file before show runs
    SettingsRecord record;
    std::memcpy(&record, data, kRecordSize);
    const std::string text = ShowText("settings.stg", record);
    const std::string json = ShowJson("settings.stg", record);
    if (!PlainUtf8(text) || !PlainUtf8(json)) __builtin_trap();
    if (json.front() != '{' || json.substr(json.size() - 2) != "}\n") __builtin_trap();
    if (!Differences(record, record).empty()) __builtin_trap();
    (void)OutOfRange(record);
    return 0;
}
