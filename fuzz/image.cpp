// Any 2048 bytes a device may answer with: decode into a record that already holds
// anything, then encode the result again.
#include "settings/DeviceImage.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    DeviceImage image{};
    std::memcpy(image.data(), data, size < image.size() ? size : image.size());
    SettingsRecord record;
    // What the record held before comes from the tail of the input.
    std::memset(&record, size > image.size() ? data[image.size()] : 0, sizeof record);
    DecodeImage(image, record);
    for (const auto& phone : record.phoneNumbers)
        if (FieldLength(phone) > 15) __builtin_trap();
    if (FieldLength(record.prefixNumber) > 16 || FieldLength(record.accountNumber) != 4)
        __builtin_trap();
    DeviceImage again{};
    EncodeImage(record, again);
    // Decoding what was encoded from a decoded image changes nothing more.
    SettingsRecord second = record;
    DecodeImage(again, second);
    DeviceImage third{};
    EncodeImage(second, third);
    if (third != again) __builtin_trap();
    return 0;
}
