#include "settings/DeviceImage.h"
#include "support/Records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace {

DeviceImage Encode(const SettingsRecord& r) {
    DeviceImage image{};
    EncodeImage(r, image);
    return image;
}

template <std::size_t N> void SetString(char (&field)[N], const char* text) {
    std::memset(field, 0, N);
    std::memcpy(field, text, std::strlen(text));
}

// The whole image of the factory defaults, written out by hand: only these bytes are not 0.
DeviceImage DefaultsImageByHand() {
    DeviceImage m{};
    m[1] = 0x10; // DTMF, pulse dialing, ratio 1.5, the line fault shown
    m[2] = 8;
    m[3] = 0x1E; // 30 minutes
    m[88] = 5;
    const std::uint8_t fixedA[16] = {0x11, 0x00, 0x11, 0x80, 0x37, 0x30, 0x40, 0x20,
                                     0x30, 0x00, 0x32, 0x30, 0x30, 0x10, 0x30, 0x20};
    // 130..138, 120, 140, 150, 300, 381, 384, 000
    const std::uint8_t codes[32] = {0x13, 0x00, 0x13, 0x10, 0x13, 0x20, 0x13, 0x30,
                                    0x13, 0x40, 0x13, 0x50, 0x13, 0x60, 0x13, 0x70,
                                    0x13, 0x80, 0x12, 0x00, 0x14, 0x00, 0x15, 0x00,
                                    0x30, 0x00, 0x38, 0x10, 0x38, 0x40, 0x00, 0x00};
    const std::uint8_t fixedB[4] = {0x14, 0x50, 0x60, 0x20};
    std::memcpy(&m[90], fixedA, sizeof fixedA);
    std::memcpy(&m[106], codes, sizeof codes);
    std::memcpy(&m[138], fixedB, sizeof fixedB);
    return m;
}

TEST(DeviceImage, DefaultsEncodeToTheDocumentedBytes) {
    const auto m = Encode(Defaults());
    const struct {
        int offset;
        std::uint8_t value;
    } table[] = {
        {0, 0x00},   {1, 0x10},   {2, 8},      {3, 0x1E},   {4, 0x00},   {5, 0x00},
        {6, 0x00},   {7, 0},      {88, 5},     {89, 0},     {106, 0x13}, {107, 0x00},
        {132, 0x38}, {133, 0x10}, {134, 0x38}, {135, 0x40}, {136, 0x00}, {137, 0x00},
        {124, 0x12}, {125, 0x00}, {352, 0x00}, {353, 0x00},
    };
    for (const auto& row : table)
        EXPECT_EQ(m[row.offset], row.value) << "byte " << row.offset;
    const DeviceImage expected = DefaultsImageByHand();
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(m[i], expected[i]) << "byte " << i;
}

TEST(DeviceImage, OptionFlagsOneAtATime) {
    struct Case {
        const char* name;
        void (*change)(SettingsRecord&);
        std::uint8_t byte1;
    };
    const Case cases[] = {
        {"prefix", [](SettingsRecord& r) { r.prefixEnabled = 1; }, 0x11},
        {"tone", [](SettingsRecord& r) { r.pulseDialing = 0; }, 0x12},
        {"ratio 2", [](SettingsRecord& r) { r.pulseRatio = 1; }, 0x14},
        {"blind", [](SettingsRecord& r) { r.blindDialing = 1; }, 0x18},
        {"FM", [](SettingsRecord& r) { r.protocol = 2; }, 0x00},
        {"busy", [](SettingsRecord& r) { r.detectBusy = 1; }, 0x30},
        {"no line fault", [](SettingsRecord& r) { r.showLineFault = 0; }, 0x90},
        {"any non-zero flag is on", [](SettingsRecord& r) { r.detectBusy = -7; }, 0x30},
        {"protocol 3 is not DTMF", [](SettingsRecord& r) { r.protocol = 3; }, 0x00},
    };
    for (const auto& c : cases) {
        auto r = Defaults();
        c.change(r);
        EXPECT_EQ(Encode(r)[1], c.byte1) << c.name;
    }
}

TEST(DeviceImage, LineCheckBothWays) {
    const std::uint8_t bytes[] = {0, 10, 30, 0x81, 0x82, 0x85, 0};
    for (int code = 1; code <= 6; ++code) {
        auto r = Defaults();
        r.lineCheckPeriod = static_cast<std::int8_t>(code);
        const auto m = Encode(r);
        EXPECT_EQ(m[3], bytes[code]) << code;
        SettingsRecord back = Defaults();
        back.lineCheckPeriod = 99;
        DecodeImage(m, back);
        EXPECT_EQ(back.lineCheckPeriod, code);
    }
    for (int code : {0, 7, -1}) {
        auto r = Defaults();
        r.lineCheckPeriod = static_cast<std::int8_t>(code);
        EXPECT_EQ(Encode(r)[3], 0) << code;
    }
    // Unknown bytes leave the record's period alone.
    for (int b : {5, 0x80, 0x86, 255}) {
        auto m = Encode(Defaults());
        m[3] = static_cast<std::uint8_t>(b);
        auto r = Defaults();
        r.lineCheckPeriod = 4;
        DecodeImage(m, r);
        EXPECT_EQ(r.lineCheckPeriod, 4) << b;
    }
}

TEST(DeviceImage, NumbersAsDigitNibbles) {
    struct Case {
        const char* number;
        std::uint8_t bytes[8];
        const char* phoneBack; // what a telephone number decodes to
    };
    const Case cases[] = {
        {"0123", {0x1A, 0x32, 0, 0, 0, 0, 0, 0}, "0123"},
        {"", {0, 0, 0, 0, 0, 0, 0, 0}, ""},
        {"5", {0x05, 0, 0, 0, 0, 0, 0, 0}, "5"},
        {"1234567890123456", {0x21, 0x43, 0x65, 0x87, 0xA9, 0x21, 0x43, 0x65}, "123456789012345"},
        {"12a4", {0x21, 0x4A, 0, 0, 0, 0, 0, 0}, "1204"}, // a non-digit counts as 0
    };
    for (const auto& c : cases) {
        auto r = Defaults();
        SetString(r.phoneNumbers[2], c.number);
        SetString(r.prefixNumber, c.number);
        const auto m = Encode(r);
        for (int i = 0; i < 8; ++i) {
            EXPECT_EQ(m[16 + 16 + i], c.bytes[i]) << c.number << " phone byte " << i;
            EXPECT_EQ(m[8 + i], c.bytes[i]) << c.number << " prefix byte " << i;
        }
        SettingsRecord back = Defaults();
        DecodeImage(m, back);
        EXPECT_STREQ(back.phoneNumbers[2], c.phoneBack) << c.number;
        // The prefix keeps all 16 digits.
        std::string prefix = c.number;
        if (prefix == "12a4") prefix = "1204";
        EXPECT_STREQ(back.prefixNumber, prefix.c_str());
    }
}

TEST(DeviceImage, NonDigitNibblesEndTheNumber) {
    DeviceImage m{};
    m[16] = 0x21; // "12"
    m[17] = 0xB3; // "3", then nibble 11
    m[18] = 0x44;
    m[8] = 0xF1; // "1", then nibble 15
    SettingsRecord r;
    std::memset(&r, 0x7A, sizeof r);
    DecodeImage(m, r);
    EXPECT_STREQ(r.phoneNumbers[0], "123");
    EXPECT_STREQ(r.prefixNumber, "1");
}

TEST(DeviceImage, AccountAndTestInterval) {
    struct Case {
        const char* account;
        std::uint8_t b5, b6;
        const char* back;
    };
    const Case cases[] = {
        {"1234", 0x12, 0x34, "1234"},
        {"12", 0x12, 0x00, "1200"},
        {"", 0x00, 0x00, "0000"},
        {"9x09", 0x90, 0x09, "9009"},
    };
    for (const auto& c : cases) {
        auto r = Defaults();
        SetString(r.accountNumber, c.account);
        const auto m = Encode(r);
        EXPECT_EQ(m[5], c.b5) << c.account;
        EXPECT_EQ(m[6], c.b6) << c.account;
        SettingsRecord back = Defaults();
        DecodeImage(m, back);
        EXPECT_STREQ(back.accountNumber, c.back);
    }
    // Non-BCD nibbles from a device come back as letters and encode again as 0.
    auto m = Encode(Defaults());
    m[5] = 0xAB;
    m[6] = 0x1F;
    auto r = Defaults();
    DecodeImage(m, r);
    EXPECT_STREQ(r.accountNumber, "ab1f");
    const auto again = Encode(r);
    EXPECT_EQ(again[5], 0x00);
    EXPECT_EQ(again[6], 0x10);

    const struct {
        std::uint8_t byte7;
        const char* text;
    } intervals[] = {{0x45, "05"}, {62, "62"}, {0, "00"}, {59, "59"}, {0xFF, "63"}};
    for (const auto& c : intervals) {
        auto image = Encode(Defaults());
        image[7] = c.byte7;
        SettingsRecord rec = Defaults();
        rec.testInterval[2] = 'Z'; // the terminator byte is not written by a decode
        DecodeImage(image, rec);
        EXPECT_EQ(std::string(rec.testInterval, 2), c.text);
        EXPECT_EQ(rec.testInterval[2], 'Z');
    }
    const struct {
        const char* text;
        std::uint8_t byte7;
    } encoded[] = {{"00", 0}, {"7", 7}, {"", 0}, {"45", 45}, {"59", 59}};
    for (const auto& c : encoded) {
        auto rec = Defaults();
        SetString(rec.testInterval, c.text);
        EXPECT_EQ(Encode(rec)[7], c.byte7) << c.text;
    }
}

TEST(DeviceImage, UnterminatedIntervalStaysInItsField) {
    auto r = Defaults();
    std::memcpy(r.testInterval, "123", 3); // no terminator; accountNumber follows
    SetString(r.accountNumber, "4567");
    EXPECT_EQ(Encode(r)[7], 12);
}

TEST(DeviceImage, TypesAndGroupsPacking) {
    auto r = Defaults();
    r.loopTypes[0] = 3;
    r.loopTypes[1] = 16;
    r.relayTypes[0] = 16;
    r.relayTypes[1] = 1;
    r.relayTypes[3] = 5;
    r.loopTypes[511] = 0;        // out of range: wraps to nibble 15, reads back as 16
    r.loopGroups[15][63] = 0x80; // loop 8 of expander 63 in group 16
    r.loopGroups[0][0] = 0x01;
    const auto m = Encode(r);
    EXPECT_EQ(m[1792], 0x2F);
    EXPECT_EQ(m[352], 0xF0);
    EXPECT_EQ(m[353], 0x04);
    EXPECT_EQ(m[2047], 0x0F);
    EXPECT_EQ(m[768], 0x01);
    EXPECT_EQ(m[1791], 0x80);
    SettingsRecord back{};
    DecodeImage(m, back);
    EXPECT_EQ(back.loopTypes[0], 3);
    EXPECT_EQ(back.loopTypes[1], 16);
    EXPECT_EQ(back.loopTypes[511], 16);
    EXPECT_EQ(back.relayTypes[0], 16);
    EXPECT_EQ(back.relayTypes[3], 5);
    EXPECT_EQ(back.loopGroups[15][63], 0x80);
}

TEST(DeviceImage, EncodingIntoADirtyBufferCorruptsOnlyTheOredAreas) {
    // The caller must zero the buffer: the packed types are ORed in.
    const auto r = Defaults();
    DeviceImage dirty;
    dirty.fill(0x11);
    EncodeImage(r, dirty);
    EXPECT_EQ(dirty[1792], 0x11);
    EXPECT_EQ(dirty[1], 0x10); // plain bytes are written, not ORed
    // The same buffer cleared by the caller, as the write session does, gives the image.
    dirty.fill(0);
    EncodeImage(r, dirty);
    EXPECT_EQ(dirty, DefaultsImageByHand());
}

// The second byte of an event code carries the units digit in its high nibble; whatever a
// device keeps in its low nibble is not read.
TEST(DeviceImage, EventCodeLowNibbleOfTheSecondByteIsIgnored) {
    const struct {
        std::uint8_t first, second;
        int hundreds, tens, units;
    } cases[] = {
        {0x13, 0x00, 1, 3, 0}, {0x13, 0x0F, 1, 3, 0}, {0x38, 0x1A, 3, 8, 1},
        {0x60, 0x55, 6, 0, 5}, {0x00, 0x07, 0, 0, 0}, {0xFF, 0xF9, 15, 15, 15},
    };
    for (const auto& c : cases) {
        auto m = Encode(Defaults());
        m[106 + 2 * 6] = c.first; // type 7
        m[107 + 2 * 6] = c.second;
        SettingsRecord r = Defaults();
        DecodeImage(m, r);
        const int got[3] = {r.eventCodes[6][0], r.eventCodes[6][1], r.eventCodes[6][2]};
        EXPECT_EQ(got[0], c.hundreds) << int(c.first) << " " << int(c.second);
        EXPECT_EQ(got[1], c.tens) << int(c.first) << " " << int(c.second);
        EXPECT_EQ(got[2], c.units) << int(c.first) << " " << int(c.second);
        EXPECT_EQ(r.eventCodes[5][2], 5) << "type 6 untouched";
        EXPECT_EQ(r.eventCodes[7][0], 1) << "type 8 untouched";
    }
}

// A record that keeps every invariant of the layout.
SettingsRecord RandomValidRecord(std::mt19937& rng) {
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    auto digits = [&](char* field, int maxLength) {
        const int n = pick(0, maxLength);
        for (int i = 0; i < n; ++i)
            field[i] = static_cast<char>('0' + pick(0, 9));
        field[n] = '\0';
    };
    SettingsRecord r;
    for (auto& b : RecordBytes(r))
        b = static_cast<std::uint8_t>(pick(0, 255)); // stale bytes everywhere
    for (auto& phone : r.phoneNumbers)
        digits(phone, 15);
    digits(r.prefixNumber, 16);
    r.prefixEnabled = pick(0, 1);
    r.pulseDialing = pick(0, 1);
    r.dialCycles = static_cast<std::int8_t>(pick(4, 8));
    r.lineCheckPeriod = static_cast<std::int8_t>(pick(1, 6));
    const int interval = pick(0, 59);
    r.testInterval[0] = static_cast<char>('0' + interval / 10);
    r.testInterval[1] = static_cast<char>('0' + interval % 10);
    r.testInterval[2] = '\0';
    digits(r.accountNumber, 4);
    r.protocol = static_cast<std::int8_t>(pick(1, 2));
    for (auto& t : r.loopTypes)
        t = static_cast<std::int8_t>(pick(1, 16));
    for (auto& t : r.relayTypes)
        t = static_cast<std::int8_t>(pick(1, 16));
    for (auto& t : r.eventCodes)
        for (auto& d : t)
            d = static_cast<std::int8_t>(pick(0, 9));
    r.showLineFault = pick(0, 1);
    r.detectBusy = pick(0, 1);
    r.blindDialing = pick(0, 1);
    r.dialPause = static_cast<std::int8_t>(pick(1, 59));
    r.pulseRatio = static_cast<std::int8_t>(pick(0, 1));
    return r;
}

TEST(DeviceImage, RoundTripOfRandomValidRecords) {
    std::mt19937 rng(20261207);
    for (int i = 0; i < 2000; ++i) {
        const auto r = RandomValidRecord(rng);
        const auto image = Encode(r);
        SettingsRecord back;
        std::memset(&back, 0, sizeof back);
        DecodeImage(image, back);
        ASSERT_EQ(Encode(back), image) << "record " << i;
        // Every setting survives; an account of fewer than four digits is padded with "0".
        std::string account = r.accountNumber;
        account.resize(4, '0');
        ASSERT_STREQ(back.accountNumber, account.c_str());
        ASSERT_EQ(0, std::memcmp(back.loopTypes, r.loopTypes, sizeof r.loopTypes));
        ASSERT_EQ(0, std::memcmp(back.loopGroups, r.loopGroups, sizeof r.loopGroups));
        ASSERT_EQ(0, std::memcmp(back.eventCodes, r.eventCodes, sizeof r.eventCodes));
        for (int k = 0; k < kPhoneCount; ++k)
            ASSERT_STREQ(back.phoneNumbers[k], r.phoneNumbers[k]);
        ASSERT_STREQ(back.prefixNumber, r.prefixNumber);
        ASSERT_EQ(back.dialPause, r.dialPause);
        ASSERT_EQ(back.lineCheckPeriod, r.lineCheckPeriod);
    }
}

TEST(DeviceImage, HostileImagesDecodeIntoTerminatedFields) {
    std::mt19937 rng(7);
    for (int i = 0; i < 2000; ++i) {
        DeviceImage m;
        for (auto& b : m)
            b = static_cast<std::uint8_t>(rng());
        SettingsRecord r;
        std::memset(&r, 0x55, sizeof r);
        EXPECT_EQ(DecodeImage(m, r), 0);
        for (const auto& phone : r.phoneNumbers)
            ASSERT_LE(FieldLength(phone), 15u);
        ASSERT_LE(FieldLength(r.prefixNumber), 16u);
        ASSERT_EQ(FieldLength(r.accountNumber), 4u);
        for (auto t : r.loopTypes)
            ASSERT_TRUE(t >= 1 && t <= 16);
        // Whatever came in encodes again without trouble.
        DeviceImage again{};
        EncodeImage(r, again);
    }
}

} // namespace
