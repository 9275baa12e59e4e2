// Any file an operator may open: load it as settings, then do with the record what the
// utility does with a loaded file (describe its types, encode it for a device).
#include "pages/ContactIdTable.h"
#include "settings/DeviceImage.h"
#include "settings/SettingsFile.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

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
    return 0;
}
