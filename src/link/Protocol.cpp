#include "link/Protocol.h"

#include "link/Pacer.h"

#include <cstring>

void XorChecksum(const std::uint8_t* buffer, int length, std::uint8_t& out) {
    std::uint8_t x = 0;
    for (int i = 0; i < length; ++i)
        x ^= buffer[i];
    out = x;
}

bool XorCheck(const std::uint8_t* buffer, int length) {
    std::uint8_t x = 0;
    XorChecksum(buffer, length, x);
    return x == 0;
}

HandshakeResult UnitHandshake(SerialPort& port, Pacer& pacer, int unitAddress) {
    HandshakeResult result;
    for (int index = 0; index < kRateCount; ++index) {
        if (!port.SetRate(kRates[index])) {
            result.rateRefused = true;
            return result;
        }
        const std::uint8_t frame[2] = {
            static_cast<std::uint8_t>(0xC0 + 0x10 * index + (unitAddress & 7)), 0x55};
        port.Write(frame, 2);
        pacer.Sleep(kWaitBeforeRead);
        std::uint8_t answer[5] = {};
        const int count = port.Read(answer, 5);
        if (count != 3)
            result.code = kLinkNoAnswer;
        else if ((answer[0] ^ frame[0]) & ~0x08)
            result.code = kLinkBadEcho;
        else if (!XorCheck(answer, 3))
            result.code = kLinkBadXor;
        else {
            result.code = kLinkOk;
            result.rateIndex = index;
            return result;
        }
    }
    return result;
}

namespace {

std::uint8_t CommandPhase(SerialPort& port, const std::uint8_t* command, int length, Pacer& pacer) {
    std::uint8_t code = kLinkNoAnswer;
    for (int attempt = 0; attempt < kAttemptsPerPhase; ++attempt) {
        pacer.Sleep(kWaitBeforeRequest);
        port.Write(command, length);
        pacer.Sleep(kWaitBeforeRead);
        std::uint8_t ack[3] = {};
        const int count = port.Read(ack, 3);
        if (count != 3)
            code = kLinkNoAnswer;
        else if (ack[0] != command[0])
            code = kLinkBadEcho;
        else if (!XorCheck(ack, 3))
            code = kLinkBadXor;
        else if (!(ack[1] & 0x80))
            code = kLinkNotAccepted;
        else
            return kLinkOk;
    }
    return code;
}

// Fetches the result frame of the accepted command into `result`.
std::uint8_t FetchPhase(SerialPort& port, int lineAddress, int address, std::uint8_t* result,
                        Pacer& pacer) {
    std::uint8_t fetch[3] = {static_cast<std::uint8_t>(lineAddress), 0x80, 0};
    XorChecksum(fetch, 2, fetch[2]);
    std::uint8_t code = kLinkTooShort;
    for (int attempt = 0; attempt < kAttemptsPerPhase; ++attempt) {
        pacer.Sleep(kWaitBeforeRequest);
        port.Write(fetch, 3);
        pacer.Sleep(kWaitBeforeRead);
        const int count = port.Read(result, 10);
        if (count == 3) {
            code = (result[1] & 0x80) ? kLinkTooShort : kLinkNotReady;
            continue;
        }
        if (count != 10) {
            code = kLinkTooShort;
            continue;
        }
        if (!XorCheck(result, 10)) {
            code = kLinkBadXor;
            continue;
        }
        const unsigned sum = result[3] + result[4] + result[5] + result[6] + result[7] + result[8];
        if ((sum & 0xFF) != 255u - result[2]) return kLinkBadSum;
        const int answered = ((result[3] & 7) << 8) | result[4];
        if (answered != (address & 0x7FF)) return kLinkBadAddress;
        return kLinkOk;
    }
    return code;
}

} // namespace

std::uint8_t TransferBlock(SerialPort& port, int address, std::uint8_t* data, Direction direction,
                           Pacer& pacer, int lineAddress) {
    const bool write = direction == Direction::Write;
    std::uint8_t command[9] = {};
    command[0] = static_cast<std::uint8_t>(lineAddress);
    command[1] = write ? 0x6E : 0x2E;
    command[2] = static_cast<std::uint8_t>((write ? 0x00 : 0x80) | 0x78 | ((address >> 8) & 7));
    command[3] = static_cast<std::uint8_t>(address & 0xFF);
    int length = 5;
    if (write) {
        std::memcpy(command + 4, data, 4);
        length = 9;
    }
    XorChecksum(command, length - 1, command[length - 1]);

    const std::uint8_t accepted = CommandPhase(port, command, length, pacer);
    port.Purge(PurgeKind::AbortAndClear);
    if (accepted != kLinkOk) return accepted;

    std::uint8_t result[10] = {};
    const std::uint8_t fetched = FetchPhase(port, lineAddress, address, result, pacer);
    if (fetched != kLinkOk) return fetched;

    if (write) return std::memcmp(result + 5, data, 4) == 0 ? kLinkOk : kLinkVerifyFailed;
    std::memcpy(data, result + 5, 4);
    return kLinkOk;
}

std::string LinkErrorText(int code) {
    switch (code) {
    case 1:
        return "ГРЕМУС не отвечает !";
    case 2:
        return "Ошибка первого байта от ГРЕМУС !";
    case 3:
        return "Ошибка контрольной суммы !";
    case 4:
        return "Команда не принята ГРЕМУС !";
    case 5:
        return "Данные от ГРЕМУС не готовы !";
    case 6:
        return "Слишком малое количество данных !";
    case 7:
        return "Ошибка ответа ТОРВИК-7 с указанным адресом !";
    case 8:
        return "Различаются адреса памяти !";
    case 9:
        return "Считанные данные не соответствуют записанным !";
    case 10:
        return "В системе отсутствует ТОРВИК-7 с указанным адресом !";
    default:
        return {};
    }
}

void ShowLinkError(int code, TransferView& view) {
    std::string text = LinkErrorText(code);
    if (text.empty()) return;
    Message message;
    message.owner = MessageOwner::None;
    message.caption = kCaptionError;
    message.text = std::move(text);
    message.icon = MessageIcon::Error;
    message.buttons = MessageButtons::Ok;
    view.ShowMessage(message);
}
