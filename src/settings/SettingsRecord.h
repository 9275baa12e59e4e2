// The device configuration as the utility keeps it: one 1800-byte record that is also,
// byte for byte, the content of a "*.stg" settings file. The struct below is the only
// declaration of that layout; every converter reaches the bytes through these fields.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

static_assert(std::endian::native == std::endian::little,
              "the int32 flags of a settings file are little-endian and are stored as they are");

inline constexpr int kPhoneCount = 9;
inline constexpr int kPhoneSlot = 17;
inline constexpr int kExpanderCount = 64;
inline constexpr int kLoopsPerExpander = 8;
inline constexpr int kLoopCount = kExpanderCount * kLoopsPerExpander; // 512
inline constexpr int kRelayCount = 4;
inline constexpr int kGroupCount = 16;
inline constexpr int kTypeCount = 16;
inline constexpr int kCodeDigits = 3;
inline constexpr std::size_t kRecordSize = 1800;

#pragma pack(push, 1)
struct SettingsRecord {
    char phoneNumbers[kPhoneCount][kPhoneSlot];           //    0  numbers 1..9, up to 15 digits
    std::uint8_t reserved153[3];                          //  153
    std::int32_t prefixEnabled;                           //  156  flag
    char prefixNumber[20];                                //  160  up to 16 digits
    std::int32_t pulseDialing;                            //  180  flag: 1 pulse, 0 tone
    std::int8_t dialCycles;                               //  184  4..8
    std::int8_t lineCheckPeriod;                          //  185  code 1..6
    char testInterval[3];                                 //  186  two digits and a terminator
    char accountNumber[5];                                //  189  four digits and a terminator
    std::int8_t protocol;                                 //  194  1 DTMF, 2 FM
    std::int8_t loopTypes[kLoopCount];                    //  195  type 1..16 of loop 8e+b
    std::int8_t relayTypes[kRelayCount];                  //  707  type 1..16 of relays 1..4
    std::uint8_t loopGroups[kGroupCount][kExpanderCount]; // 711  bit b of [g][e]: loop 8e+b
    std::int8_t eventCodes[kTypeCount][kCodeDigits];      // 1735  digit values, hundreds first
    std::uint8_t reserved1783;                            // 1783
    std::int32_t showLineFault;                           // 1784  flag
    std::int32_t detectBusy;                              // 1788  flag
    std::int32_t blindDialing;                            // 1792  flag: 0 waits for dial tone
    std::int8_t dialPause;                                // 1796  seconds 1..59
    std::int8_t pulseRatio;                               // 1797  0 "1,5", 1 "2"
    std::uint8_t reserved1798[2];                         // 1798
};
#pragma pack(pop)

// The byte table, checked by the compiler: a field that moves breaks the build.
static_assert(offsetof(SettingsRecord, phoneNumbers) == 0);
static_assert(offsetof(SettingsRecord, reserved153) == 153);
static_assert(offsetof(SettingsRecord, prefixEnabled) == 156);
static_assert(offsetof(SettingsRecord, prefixNumber) == 160);
static_assert(offsetof(SettingsRecord, pulseDialing) == 180);
static_assert(offsetof(SettingsRecord, dialCycles) == 184);
static_assert(offsetof(SettingsRecord, lineCheckPeriod) == 185);
static_assert(offsetof(SettingsRecord, testInterval) == 186);
static_assert(offsetof(SettingsRecord, accountNumber) == 189);
static_assert(offsetof(SettingsRecord, protocol) == 194);
static_assert(offsetof(SettingsRecord, loopTypes) == 195);
static_assert(offsetof(SettingsRecord, relayTypes) == 707);
static_assert(offsetof(SettingsRecord, loopGroups) == 711);
static_assert(offsetof(SettingsRecord, eventCodes) == 1735);
static_assert(offsetof(SettingsRecord, reserved1783) == 1783);
static_assert(offsetof(SettingsRecord, showLineFault) == 1784);
static_assert(offsetof(SettingsRecord, detectBusy) == 1788);
static_assert(offsetof(SettingsRecord, blindDialing) == 1792);
static_assert(offsetof(SettingsRecord, dialPause) == 1796);
static_assert(offsetof(SettingsRecord, pulseRatio) == 1797);
static_assert(offsetof(SettingsRecord, reserved1798) == 1798);
static_assert(sizeof(SettingsRecord) == kRecordSize);
static_assert(alignof(SettingsRecord) == 1);

// The one record of the running utility. It starts as all zero bytes.
SettingsRecord& TheSettings();

// The record's raw bytes, for the file operations and the image codec.
inline std::span<std::uint8_t, kRecordSize> RecordBytes(SettingsRecord& r) {
    return std::span<std::uint8_t, kRecordSize>(reinterpret_cast<std::uint8_t*>(&r), kRecordSize);
}
inline std::span<const std::uint8_t, kRecordSize> RecordBytes(const SettingsRecord& r) {
    return std::span<const std::uint8_t, kRecordSize>(reinterpret_cast<const std::uint8_t*>(&r),
                                                      kRecordSize);
}

// Factory defaults. Writes only the defaulted bytes; reserved bytes and the bytes behind
// each string's new terminator keep what they held.
void FillDefaults(SettingsRecord& record);

// The factory event code of loop type t (1..16), as a number (130, 381, 0, ...).
int DefaultEventCode(int type);

// Reads a NUL-terminated digit string that may lack its terminator inside its field:
// the result never extends past the field's own width.
template <std::size_t N> std::size_t FieldLength(const char (&field)[N]) {
    std::size_t n = 0;
    while (n < N && field[n] != '\0')
        ++n;
    return n;
}
