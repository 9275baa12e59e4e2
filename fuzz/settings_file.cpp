// Any file an operator may open: load it as settings, then do with the record what the
// utility does with a loaded file (describe its types, encode it for a device) and what
// torvik7ctl show prints of it, as text and as JSON.
#include "fields/RecordFields.h"
#include "pages/ContactIdTable.h"
#include "settings/DeviceImage.h"
#include "settings/SettingsFile.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

// Whatever a file holds, what show prints is UTF-8 with no control character but the line
// feed: a foreign byte never reaches the terminal or a JSON reader raw.
bool PlainUtf8(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t extra = 0;
        if (c < 0x80) {
            if ((c < 0x20 && c != '\n') || c == 0x7F) return false;
        } else if ((c & 0xE0) == 0xC0 && c >= 0xC2) {
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
    static const std::string path = "/tmp/torvik7-fuzz-" + std::to_string(::getpid()) + ".stg";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    SettingsRecord record;
    std::memset(&record, 0x5A, sizeof record);
    const SettingsRecord before = record;
    const FileResult result = LoadSettingsFile(path, record);
    if (!result.ok()) {
        if (std::memcmp(&record, &before, sizeof record) != 0 || result.message.empty())
            __builtin_trap(); // a refused file must leave the record untouched, and say why
        return 0;
    }
    if (size < kRecordSize || std::memcmp(&record, data, kRecordSize) != 0) __builtin_trap();

    for (int type = 0; type <= kTypeCount + 1; ++type)
        (void)TypeDescription(record, type);
    for (int t = 1; t <= kTypeCount; ++t) {
        const int code = TypeEventCode(record, t);
        (void)FindEventText(EventLanguage::English, code);
        (void)FindEventText(EventLanguage::Russian, code);
    }
    DeviceImage image{};
    EncodeImage(record, image);

    const std::string text = ShowText("settings.stg", record);
    const std::string json = ShowJson("settings.stg", record);
    if (!PlainUtf8(text) || !PlainUtf8(json)) __builtin_trap();
    if (json.front() != '{' || json.substr(json.size() - 2) != "}\n") __builtin_trap();
    if (!Differences(record, record).empty()) __builtin_trap();
    (void)OutOfRange(record);
    return 0;
}
