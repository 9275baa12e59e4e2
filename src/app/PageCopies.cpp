#include "app/PageCopies.h"

#include "pages/Devices.h"
#include "pages/PhoneNums.h"

#include <algorithm>
#include <cstring>

namespace {

// The stored digits, never reading past the field even when a foreign file left it
// without a terminator. Bytes map one to one, so whatever came in goes back unchanged.
template <std::size_t N> QString FromField(const char (&field)[N]) {
    return QString::fromLatin1(field, static_cast<qsizetype>(FieldLength(field)));
}

// The first `keep` characters of `text` and a terminator; the bytes behind it stay.
template <std::size_t N> void ToField(const QString& text, std::size_t keep, char (&field)[N]) {
    static_assert(N >= 1);
    keep = std::min(keep, N - 1);
    const QByteArray bytes = text.left(static_cast<qsizetype>(keep)).toLatin1();
    const std::size_t n = std::min(static_cast<std::size_t>(bytes.size()), keep);
    std::memcpy(field, bytes.constData(), n);
    field[n] = '\0';
}

} // namespace

void CopyIntoGeneral(const SettingsRecord& r, Devices& page) {
    page.m_account = FromField(r.accountNumber);
    page.m_testInterval = FromField(r.testInterval);
    page.m_lineCheckIndex = r.lineCheckPeriod - 1;
    page.m_protocolDtmf = r.protocol == 1 ? 1 : 0;
    page.m_protocolFm = r.protocol == 1 ? 0 : 1;
    page.m_showLineFault = r.showLineFault;
}

void CopyBackGeneral(const Devices& page, SettingsRecord& r) {
    ToField(page.m_account, 4, r.accountNumber);
    ToField(page.m_testInterval, 2, r.testInterval);
    r.lineCheckPeriod = static_cast<std::int8_t>(page.m_lineCheckIndex + 1);
    r.protocol = page.m_protocolDtmf == 1 ? 1 : 2;
    r.showLineFault = page.m_showLineFault;
}

void CopyIntoPhones(const SettingsRecord& r, PhoneNums& page) {
    for (int i = 0; i < kPhoneCount; ++i)
        page.m_phones[static_cast<std::size_t>(i)] = FromField(r.phoneNumbers[i]);
    page.m_prefix = FromField(r.prefixNumber);
    page.m_prefixOn = r.prefixEnabled != 0 ? 1 : 0;
    page.m_detectBusy = r.detectBusy;
    page.m_detectDialTone = r.blindDialing == 0 ? 1 : 0;
    page.m_pause = QString::asprintf("%02d", static_cast<int>(r.dialPause));
    page.m_pulseRatioIndex = r.pulseRatio;
    page.m_dialCyclesIndex = r.dialCycles >= 4 && r.dialCycles <= 8 ? r.dialCycles - 4 : -1;
    page.m_pulse = r.pulseDialing != 0 ? 1 : 0;
    page.m_tone = r.pulseDialing != 0 ? 0 : 1;
}

void CopyBackPhones(const PhoneNums& page, SettingsRecord& r) {
    for (int i = 0; i < kPhoneCount; ++i)
        ToField(page.m_phones[static_cast<std::size_t>(i)], 16, r.phoneNumbers[i]);
    ToField(page.m_prefix, 16, r.prefixNumber);
    r.prefixEnabled = page.m_prefixOn != 0 ? 1 : 0;
    r.detectBusy = page.m_detectBusy != 0 ? 1 : 0;
    r.blindDialing = page.m_detectDialTone == 0 ? 1 : 0;
    r.dialPause = static_cast<std::int8_t>(PauseFromText(page.m_pause));
    r.pulseRatio = static_cast<std::int8_t>(page.m_pulseRatioIndex);
    if (page.m_dialCyclesIndex >= 0 && page.m_dialCyclesIndex <= 4)
        r.dialCycles = static_cast<std::int8_t>(page.m_dialCyclesIndex + 4);
    r.pulseDialing = page.m_pulse == 1 ? 1 : 0;
}

int PauseFromText(const QString& text) {
    const QString head = text.left(2);
    qsizetype i = 0;
    bool negative = false;
    if (i < head.size() && (head[i] == u'-' || head[i] == u'+')) {
        negative = head[i] == u'-';
        ++i;
    }
    int value = 0;
    bool any = false;
    for (; i < head.size() && head[i] >= u'0' && head[i] <= u'9'; ++i) {
        value = value * 10 + (head[i].unicode() - u'0');
        any = true;
    }
    if (!any) return 5;
    if (negative) value = -value;
    return std::clamp(value, 1, 59);
}
