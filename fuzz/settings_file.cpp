// Any file an operator may open, taken from memory as the loader takes a file's content:
// load it as settings, then do with the record what the utility does with a loaded file
// (describe its types, look up its event codes, encode it for a device). What torvik7ctl
// show prints of such a record is fuzzed on its own (fuzz_show), being far slower.
#include "settings/ContactIdTable.h"
#include "settings/DeviceImage.h"
#include "settings/SettingsFile.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SettingsRecord record;
    std::memset(&record, 0x5A, sizeof record);
    const SettingsRecord before = record;
    const FileResult result =
        LoadSettingsBytes({data, size}, static_cast<long long>(size), "settings.stg", record);
    if (!result.ok()) {
        if (std::memcmp(&record, &before, sizeof record) != 0 || result.message.empty())
            __builtin_trap(); // a refused file must leave the record untouched, and say why
        return 0;
    }
    if (size < kRecordSize || std::memcmp(&record, data, kRecordSize) != 0 ||
        result.fileSize != static_cast<long long>(size))
        __builtin_trap();

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
