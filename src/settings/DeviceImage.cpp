#include "settings/DeviceImage.h"

#include <cstring>

namespace {

std::uint8_t HighNibble(std::uint8_t b) {
    return static_cast<std::uint8_t>(b >> 4);
}
std::uint8_t LowNibble(std::uint8_t b) {
    return static_cast<std::uint8_t>(b & 0x0F);
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Digit i of a number lives in byte i/2, low nibble first; 0 is stored as nibble 10 and
// nibble 0 ends the number. At most 16 digits fit, then no end nibble follows.
template <std::size_t N> void EncodeDigits(const char (&field)[N], std::uint8_t* area) {
    const std::size_t length = FieldLength(field);
    for (std::size_t i = 0; i < length && i < 2 * ImageMap::numberArea; ++i) {
        const char c = field[i];
        const std::uint8_t nibble =
            (IsDigit(c) && c != '0') ? static_cast<std::uint8_t>(c - '0') : 10;
        area[i / 2] |= (i % 2 == 0) ? nibble : static_cast<std::uint8_t>(nibble << 4);
    }
}

// Reads at most maxDigits digit nibbles. A nibble 11..15 is no digit: the number ends
// there, as at a nibble 0, so the field only ever holds digits.
template <std::size_t N>
void DecodeDigits(const std::uint8_t* area, std::size_t maxDigits, char (&field)[N]) {
    static_assert(N > 16);
    std::size_t i = 0;
    for (; i < maxDigits; ++i) {
        const std::uint8_t b = area[i / 2];
        const std::uint8_t nibble = (i % 2 == 0) ? LowNibble(b) : HighNibble(b);
        if (nibble == 0 || nibble > 10) break;
        field[i] = nibble == 10 ? '0' : static_cast<char>('0' + nibble);
    }
    field[i] = '\0';
}

// Type t of entry n goes into nibble (t-1) mod 16; entry 0 takes the high nibble.
void EncodeTypes(const std::int8_t* types, int count, std::uint8_t* area) {
    for (int n = 0; n < count; ++n) {
        const auto nibble = static_cast<std::uint8_t>((types[n] - 1) & 0x0F);
        area[n / 2] |= (n % 2 == 0) ? static_cast<std::uint8_t>(nibble << 4) : nibble;
    }
}

void DecodeTypes(const std::uint8_t* area, int count, std::int8_t* types) {
    for (int n = 0; n < count; ++n) {
        const std::uint8_t b = area[n / 2];
        types[n] = static_cast<std::int8_t>(((n % 2 == 0) ? HighNibble(b) : LowNibble(b)) + 1);
    }
}

int DigitValue(char c) {
    return IsDigit(c) ? c - '0' : 0;
}

} // namespace

void EncodeImage(const SettingsRecord& r, DeviceImage& image) {
    std::uint8_t* m = image.data();

    m[ImageMap::ownByte0] = 0;
    std::uint8_t options = 0;
    if (r.prefixEnabled != 0) options |= OptionBit::prefixEnabled;
    if (r.pulseDialing == 0) options |= OptionBit::toneDialing;
    if (r.pulseRatio != 0) options |= OptionBit::pulseRatio2;
    if (r.blindDialing != 0) options |= OptionBit::blindDialing;
    if (r.protocol == 1) options |= OptionBit::protocolDtmf;
    if (r.detectBusy != 0) options |= OptionBit::detectBusy;
    if (r.showLineFault == 0) options |= OptionBit::noLineFault;
    m[ImageMap::options] = options;

    m[ImageMap::dialCycles] = static_cast<std::uint8_t>(r.dialCycles);
    m[ImageMap::lineCheck] =
        (r.lineCheckPeriod >= 1 && r.lineCheckPeriod <= 6) ? kLineCheckBytes[r.lineCheckPeriod] : 0;

    // Four BCD digits; positions at or after the terminator count as 0.
    int digits[4] = {0, 0, 0, 0};
    const std::size_t accountLength = FieldLength(r.accountNumber);
    for (std::size_t i = 0; i < 4 && i < accountLength; ++i)
        digits[i] = DigitValue(r.accountNumber[i]);
    m[ImageMap::account] = static_cast<std::uint8_t>(digits[0] * 16 + digits[1]);
    m[ImageMap::account + 1] = static_cast<std::uint8_t>(digits[2] * 16 + digits[3]);

    // testInterval may lack its terminator (a decoded record never writes it): read at
    // most its two digits and never past the field.
    int interval = 0;
    for (std::size_t i = 0; i < 2 && i < FieldLength(r.testInterval) && IsDigit(r.testInterval[i]);
         ++i)
        interval = interval * 10 + (r.testInterval[i] - '0');
    m[ImageMap::testInterval] = static_cast<std::uint8_t>(interval);

    std::memset(m + ImageMap::prefix, 0, ImageMap::numberArea);
    EncodeDigits(r.prefixNumber, m + ImageMap::prefix);
    std::memset(m + ImageMap::phones, 0, kPhoneCount * ImageMap::numberArea);
    for (int k = 0; k < kPhoneCount; ++k)
        EncodeDigits(r.phoneNumbers[k], m + ImageMap::phones + ImageMap::numberArea * k);

    m[ImageMap::dialPause] = static_cast<std::uint8_t>(r.dialPause);
    std::memcpy(m + ImageMap::fixedA, kFixedBytesA, sizeof kFixedBytesA);
    for (int t = 0; t < kTypeCount; ++t) {
        const auto* d = r.eventCodes[t];
        m[ImageMap::eventCodes + 2 * t] = static_cast<std::uint8_t>(d[0] * 16 + d[1]);
        m[ImageMap::eventCodes + 2 * t + 1] = static_cast<std::uint8_t>(d[2] * 16);
    }
    std::memcpy(m + ImageMap::fixedB, kFixedBytesB, sizeof kFixedBytesB);
    std::memcpy(m + ImageMap::loopGroups, r.loopGroups, sizeof r.loopGroups);
    EncodeTypes(r.loopTypes, kLoopCount, m + ImageMap::loopTypes);
    EncodeTypes(r.relayTypes, kRelayCount, m + ImageMap::relayTypes);
}

int DecodeImage(const DeviceImage& image, SettingsRecord& r) {
    const std::uint8_t* m = image.data();

    const std::uint8_t options = m[ImageMap::options];
    r.prefixEnabled = (options & OptionBit::prefixEnabled) ? 1 : 0;
    r.pulseDialing = (options & OptionBit::toneDialing) ? 0 : 1;
    r.pulseRatio = (options & OptionBit::pulseRatio2) ? 1 : 0;
    r.blindDialing = (options & OptionBit::blindDialing) ? 1 : 0;
    r.protocol = (options & OptionBit::protocolDtmf) ? 1 : 2;
    r.detectBusy = (options & OptionBit::detectBusy) ? 1 : 0;
    r.showLineFault = (options & OptionBit::noLineFault) ? 0 : 1;

    r.dialCycles = static_cast<std::int8_t>(m[ImageMap::dialCycles]);
    for (int code = 1; code <= 6; ++code) {
        if (m[ImageMap::lineCheck] == kLineCheckBytes[code]) {
            r.lineCheckPeriod = static_cast<std::int8_t>(code);
            break;
        }
    }

    static constexpr char kHex[] = "0123456789abcdef";
    const std::uint8_t a = m[ImageMap::account], b = m[ImageMap::account + 1];
    r.accountNumber[0] = kHex[HighNibble(a)];
    r.accountNumber[1] = kHex[LowNibble(a)];
    r.accountNumber[2] = kHex[HighNibble(b)];
    r.accountNumber[3] = kHex[LowNibble(b)];
    r.accountNumber[4] = '\0';

    const int interval = m[ImageMap::testInterval] & 0x3F;
    r.testInterval[0] = static_cast<char>('0' + interval / 10);
    r.testInterval[1] = static_cast<char>('0' + interval % 10);

    DecodeDigits(m + ImageMap::prefix, 16, r.prefixNumber);
    for (int k = 0; k < kPhoneCount; ++k)
        DecodeDigits(m + ImageMap::phones + ImageMap::numberArea * k, 15, r.phoneNumbers[k]);

    r.dialPause = static_cast<std::int8_t>(m[ImageMap::dialPause]);
    for (int t = 0; t < kTypeCount; ++t) {
        const std::uint8_t hi = m[ImageMap::eventCodes + 2 * t];
        const std::uint8_t lo = m[ImageMap::eventCodes + 2 * t + 1];
        r.eventCodes[t][0] = static_cast<std::int8_t>(HighNibble(hi));
        r.eventCodes[t][1] = static_cast<std::int8_t>(LowNibble(hi));
        r.eventCodes[t][2] = static_cast<std::int8_t>(HighNibble(lo));
    }
    std::memcpy(r.loopGroups, m + ImageMap::loopGroups, sizeof r.loopGroups);
    DecodeTypes(m + ImageMap::loopTypes, kLoopCount, r.loopTypes);
    DecodeTypes(m + ImageMap::relayTypes, kRelayCount, r.relayTypes);
    return 0;
}
