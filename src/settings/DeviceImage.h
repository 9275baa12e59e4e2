// The device's 2048-byte configuration memory and its conversion to and from the
// settings record. Both directions are pure functions of memory.
#pragma once

#include "settings/SettingsRecord.h"

#include <array>
#include <cstdint>

inline constexpr std::size_t kImageSize = 2048;
inline constexpr int kBlockSize = 4;
inline constexpr int kBlockCount = static_cast<int>(kImageSize) / kBlockSize; // 512

using DeviceImage = std::array<std::uint8_t, kImageSize>;

// Where each setting lives in the device's memory.
namespace ImageMap {
inline constexpr int ownByte0 = 0;     // device-owned, put back by a write session
inline constexpr int options = 1;      // option flag bits
inline constexpr int dialCycles = 2;   // plain number
inline constexpr int lineCheck = 3;    // minutes, or hours with bit 7, 0 = no check
inline constexpr int identifier = 4;   // device-owned; bit 7 set on a console-side unit
inline constexpr int account = 5;      // 2 bytes, four BCD digits
inline constexpr int testInterval = 7; // binary 0..59
inline constexpr int prefix = 8;       // 8 bytes of digit nibbles
inline constexpr int phones = 16;      // 9 x 8 bytes of digit nibbles
inline constexpr int numberArea = 8;   // bytes per number
inline constexpr int dialPause = 88;   // seconds
inline constexpr int fixedA = 90;      // 16 fixed bytes
inline constexpr int eventCodes = 106; // 16 x 2 bytes
inline constexpr int fixedB = 138;     // 4 fixed bytes
inline constexpr int relayTypes = 352; // 2 bytes of type nibbles
inline constexpr int loopGroups = 768; // 1024 bytes, same order as the record
inline constexpr int loopTypes = 1792; // 256 bytes of type nibbles
} // namespace ImageMap

namespace OptionBit {
inline constexpr std::uint8_t prefixEnabled = 0x01;
inline constexpr std::uint8_t toneDialing = 0x02;
inline constexpr std::uint8_t pulseRatio2 = 0x04;
inline constexpr std::uint8_t blindDialing = 0x08;
inline constexpr std::uint8_t protocolDtmf = 0x10;
inline constexpr std::uint8_t detectBusy = 0x20;
inline constexpr std::uint8_t noLineFault = 0x80;
} // namespace OptionBit

// The device's line-check byte for lineCheckPeriod code 1..6 (index 0 unused).
inline constexpr std::uint8_t kLineCheckBytes[7] = {0, 10, 30, 0x81, 0x82, 0x85, 0};

inline constexpr std::uint8_t kFixedBytesA[16] = {0x11, 0x00, 0x11, 0x80, 0x37, 0x30, 0x40, 0x20,
                                                  0x30, 0x00, 0x32, 0x30, 0x30, 0x10, 0x30, 0x20};
inline constexpr std::uint8_t kFixedBytesB[4] = {0x14, 0x50, 0x60, 0x20};

// Writes the image of `record` into `image`, which the caller has filled with zeros: the
// nibble-packed areas are ORed in. Bytes 0 and 4 are left 0 for the session to fill.
void EncodeImage(const SettingsRecord& record, DeviceImage& image);

// Fills every field of `record` from a whole image. Returns 0, its only result.
// A line-check byte the table does not know leaves lineCheckPeriod as it was; the
// terminator of testInterval (offset 188) is not written.
int DecodeImage(const DeviceImage& image, SettingsRecord& record);
