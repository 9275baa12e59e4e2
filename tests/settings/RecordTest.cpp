#include "settings/SettingsRecord.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace {

// The factory defaults as a byte table: offset, expected bytes.
struct DefaultBytes {
    std::size_t offset;
    std::vector<std::uint8_t> bytes;
};

TEST(SettingsRecord, DefaultsWriteExactlyTheListedBytes) {
    SettingsRecord r;
    std::memset(&r, 0xEE, sizeof r);
    FillDefaults(r);
    const auto b = RecordBytes(r);
    const DefaultBytes table[] = {
        {0, {0}},
        {17, {0}},
        {136, {0}},
        {156, {0, 0, 0, 0}},
        {160, {0}},
        {180, {1, 0, 0, 0}},
        {184, {8, 2}},
        {186, {'0', '0', 0}},
        {189, {0}},
        {194, {1}},
        {1784, {1, 0, 0, 0}},
        {1788, {0, 0, 0, 0}},
        {1792, {0, 0, 0, 0}},
        {1796, {5, 0}},
        {1735, {1, 3, 0}},
        {1735 + 3 * 9, {1, 2, 0}},
        {1735 + 3 * 13, {3, 8, 1}},
        {1735 + 3 * 15, {0, 0, 0}},
    };
    for (const auto& row : table)
        for (std::size_t i = 0; i < row.bytes.size(); ++i)
            EXPECT_EQ(b[row.offset + i], row.bytes[i]) << "offset " << row.offset + i;
    for (std::size_t n = 195; n < 711; ++n)
        ASSERT_EQ(b[n], 1) << n;
    for (std::size_t n = 711; n < 1735; ++n)
        ASSERT_EQ(b[n], 0) << n;
    // Bytes that are not defaulted keep what they held.
    for (std::size_t n :
         {1u, 16u, 18u, 153u, 154u, 155u, 161u, 179u, 190u, 193u, 1783u, 1798u, 1799u})
        EXPECT_EQ(b[n], 0xEE) << "offset " << n;
}

TEST(SettingsRecord, DefaultEventCodesByType) {
    const int expected[] = {130, 131, 132, 133, 134, 135, 136, 137,
                            138, 120, 140, 150, 300, 381, 384, 0};
    for (int t = 1; t <= 16; ++t)
        EXPECT_EQ(DefaultEventCode(t), expected[t - 1]) << "type " << t;
    EXPECT_EQ(DefaultEventCode(0), 0);
    EXPECT_EQ(DefaultEventCode(17), 0);
}

TEST(SettingsRecord, TheSettingsStartsAllZero) {
    const auto b = RecordBytes(TheSettings());
    for (auto v : b)
        ASSERT_EQ(v, 0);
}

TEST(SettingsRecord, FieldLengthStopsAtFieldWidth) {
    SettingsRecord r{};
    std::memcpy(r.testInterval, "123", 3); // no terminator inside the field
    std::memcpy(r.accountNumber, "9", 2);
    EXPECT_EQ(FieldLength(r.testInterval), 3u);
    EXPECT_EQ(FieldLength(r.accountNumber), 1u);
}

} // namespace
