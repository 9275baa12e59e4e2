#include "settings/SettingsRecord.h"

#include <cstring>

namespace {
constexpr int kDefaultCodes[kTypeCount] = {130, 131, 132, 133, 134, 135, 136, 137,
                                           138, 120, 140, 150, 300, 381, 384, 0};
}

SettingsRecord& TheSettings() {
    static SettingsRecord record{};
    return record;
}

int DefaultEventCode(int type) {
    if (type < 1 || type > kTypeCount) return 0;
    return kDefaultCodes[type - 1];
}

void FillDefaults(SettingsRecord& r) {
    for (auto& phone : r.phoneNumbers)
        phone[0] = '\0';
    r.prefixEnabled = 0;
    r.prefixNumber[0] = '\0';
    r.pulseDialing = 1;
    r.showLineFault = 1;
    r.dialCycles = 8;
    r.lineCheckPeriod = 2;
    r.detectBusy = 0;
    r.blindDialing = 0;
    r.dialPause = 5;
    r.pulseRatio = 0;
    r.accountNumber[0] = '\0';
    std::memcpy(r.testInterval, "00", 3);
    r.protocol = 1;
    std::memset(r.loopTypes, 1, sizeof r.loopTypes);
    std::memset(r.relayTypes, 1, sizeof r.relayTypes);
    std::memset(r.loopGroups, 0, sizeof r.loopGroups);
    for (int t = 1; t <= kTypeCount; ++t) {
        const int code = kDefaultCodes[t - 1];
        r.eventCodes[t - 1][0] = static_cast<std::int8_t>(code / 100);
        r.eventCodes[t - 1][1] = static_cast<std::int8_t>(code / 10 % 10);
        r.eventCodes[t - 1][2] = static_cast<std::int8_t>(code % 10);
    }
}
