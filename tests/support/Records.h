// Records the tests start from: the factory defaults over a zeroed record, and a record of
// random bytes that a seed fixes.
#pragma once

#include "settings/SettingsRecord.h"

#include <random>

inline SettingsRecord Defaults() {
    SettingsRecord r{};
    FillDefaults(r);
    return r;
}

inline SettingsRecord RandomRecord(unsigned seed) {
    std::mt19937 rng(seed);
    SettingsRecord r;
    for (auto& b : RecordBytes(r))
        b = static_cast<std::uint8_t>(rng());
    return r;
}
