// Records the tests start from: the factory defaults over a zeroed record, and a record of
// random bytes that a seed fixes.
#pragma once

#include "settings/SettingsRecord.h"

#include <cstring>
#include <random>

inline SettingsRecord Defaults() {
    SettingsRecord r{};
    FillDefaults(r);
    return r;
}

// The defaults with an account number (four digits) and the first telephone number set, as an
// operator's edit leaves them.
inline SettingsRecord EditedRecord(const char* account) {
    SettingsRecord r = Defaults();
    std::memcpy(r.accountNumber, account, 5);
    std::memcpy(r.phoneNumbers[0], "84951234567", 12);
    return r;
}

inline SettingsRecord RandomRecord(unsigned seed) {
    std::mt19937 rng(seed);
    SettingsRecord r;
    for (auto& b : RecordBytes(r))
        b = static_cast<std::uint8_t>(rng());
    return r;
}
