#include "sim/DeviceModel.h"

#include "settings/SettingsRecord.h"

#include <cstring>

namespace {

std::uint8_t Xor(const std::uint8_t* data, int count) {
    std::uint8_t x = 0;
    for (int i = 0; i < count; ++i)
        x ^= data[i];
    return x;
}

void Answer(std::vector<std::uint8_t>& answers, std::initializer_list<std::uint8_t> bytes) {
    answers.insert(answers.end(), bytes.begin(), bytes.end());
}

// The length of the frame that starts with these bytes; 0 when it cannot start a frame,
// -1 when more bytes are needed to tell.
int FrameLength(const std::vector<std::uint8_t>& bytes) {
    if (bytes.empty()) return -1;
    if (bytes[0] >= 0xC0) return 2; // handshake
    if (bytes.size() < 2) return -1;
    switch (bytes[1]) {
    case 0x6E:
        return 9;
    case 0x2E:
        return 5;
    case 0x80:
        return 3;
    default:
        return 0;
    }
}

} // namespace

DeviceImage FactoryImage() {
    SettingsRecord record;
    std::memset(&record, 0, sizeof record);
    FillDefaults(record);
    DeviceImage image{};
    EncodeImage(record, image);
    image[ImageMap::ownByte0] = 0x07;
    image[ImageMap::identifier] = 0x01;
    return image;
}

DeviceModel::DeviceModel(const SimConfig& config)
    : config_(config), memory_(FactoryImage()), random_(config.seed) {}

void DeviceModel::SetConfig(const SimConfig& config) {
    config_ = config;
    seen_.fill(0);
    random_.seed(config.seed);
}

bool DeviceModel::Hits(SimFault fault) {
    const FaultRule& rule = config_.faults[static_cast<int>(fault)];
    const long seen = ++seen_[static_cast<int>(fault)];
    bool hit = false;
    if (seen <= rule.after)
        hit = false;
    else if (seen <= static_cast<long>(rule.after) + rule.count)
        hit = true;
    else if (rule.probability > 0.0)
        hit = std::uniform_real_distribution<double>(0.0, 1.0)(random_) < rule.probability;
    if (hit) ++stats_.faultsInjected;
    return hit;
}

void DeviceModel::Receive(const std::uint8_t* data, int count, int lineRate,
                          std::vector<std::uint8_t>& answers) {
    pending_.insert(pending_.end(), data, data + count);
    while (!dropped_) {
        const int length = FrameLength(pending_);
        if (length < 0 || static_cast<int>(pending_.size()) < length) return;
        if (length == 0) { // not the start of any frame: look for one further on
            pending_.erase(pending_.begin());
            continue;
        }
        std::uint8_t frame[9];
        std::memcpy(frame, pending_.data(), length);
        pending_.erase(pending_.begin(), pending_.begin() + length);
        ++stats_.frames;
        if (config_.dropLineAfter >= 0 && stats_.frames > config_.dropLineAfter) {
            dropped_ = true;
            pending_.clear();
            return;
        }
        Frame(frame, length, lineRate, answers);
    }
}

void DeviceModel::Frame(const std::uint8_t* frame, int length, int lineRate,
                        std::vector<std::uint8_t>& answers) {
    if (length == 2) {
        Handshake(frame, lineRate, answers);
        return;
    }
    // At any other rate than its own the unit hears only noise.
    if (lineRate != config_.rate || Xor(frame, length) != 0) return;
    if (length == 3)
        Fetch(frame, answers);
    else
        Command(frame, length, answers);
}

void DeviceModel::Handshake(const std::uint8_t* frame, int lineRate,
                            std::vector<std::uint8_t>& answers) {
    ++stats_.handshakes;
    const int rateIndex = (frame[0] >> 4) & 3;
    static constexpr int kRateOf[4] = {9600, 19200, 38400, 57600};
    if (lineRate != config_.rate || kRateOf[rateIndex] != config_.rate ||
        (frame[0] & 7) != (config_.unitAddress & 7) || (frame[0] & 0x08) || frame[1] != 0x55)
        return;
    ++stats_.handshakesAnswered;
    const std::uint8_t second = 0x3C;
    Answer(answers, {frame[0], second, static_cast<std::uint8_t>(frame[0] ^ second)});
}

void DeviceModel::Command(const std::uint8_t* frame, int length,
                          std::vector<std::uint8_t>& answers) {
    const std::uint8_t line = frame[0];
    const bool write = length == 9;
    // Byte 2: the read bit must agree with the frame's length and bits 6 to 3 must all be
    // set; bits 2 to 0 are the address's top bits, named back in the result frame.
    const std::uint8_t marker = write ? 0x78 : 0xF8;
    if (line != (config_.lineAddress & 0xFF) || (frame[2] & 0xF8) != marker) {
        // No device there to take it, or no command it knows: the unit declines it.
        ++stats_.refusedCommands;
        Answer(answers, {line, 0x00, line});
        return;
    }
    if (Hits(SimFault::NoAnswer)) return;
    const int address = ((frame[2] & 7) << 8) | frame[3];
    if (write) {
        std::uint8_t data[4];
        std::memcpy(data, frame + 4, 4);
        if (Hits(SimFault::VerifyMismatch)) data[3] ^= 0xFF;
        for (int i = 0; i < 4; ++i)
            memory_[(address + i) & 0x7FF] = data[i];
        ++stats_.writeCommands;
    } else {
        ++stats_.readCommands;
    }
    haveResult_ = true;
    resultAddress_ = address;
    std::uint8_t ack[3] = {line, 0x80, 0};
    ack[2] = Xor(ack, 2);
    if (Hits(SimFault::CorruptXor)) ack[2] ^= 0x01;
    Answer(answers, {ack[0], ack[1], ack[2]});
}

void DeviceModel::Fetch(const std::uint8_t* frame, std::vector<std::uint8_t>& answers) {
    const std::uint8_t line = frame[0];
    if (line != (config_.lineAddress & 0xFF)) return;
    ++stats_.fetches;
    if (Hits(SimFault::NoAnswer)) return;
    const std::uint8_t notReady[3] = {line, 0x00, line};
    if (!haveResult_ || Hits(SimFault::NotReady)) {
        Answer(answers, {notReady[0], notReady[1], notReady[2]});
        return;
    }
    if (Hits(SimFault::TooShort)) {
        Answer(answers, {line, 0x80, static_cast<std::uint8_t>(line ^ 0x80)});
        return;
    }
    const int a = resultAddress_;
    const int named = Hits(SimFault::WrongAddress) ? (a + 0x100) & 0x7FF : a;
    std::uint8_t r[10] = {};
    r[0] = line;
    r[1] = 0x86;
    r[3] = static_cast<std::uint8_t>(0xA8 | ((named >> 8) & 7));
    r[4] = static_cast<std::uint8_t>(named & 0xFF);
    for (int i = 0; i < 4; ++i) {
        const int at = (a + i) & 0x7FF;
        r[5 + i] = memory_[at];
        if (at == ImageMap::identifier && config_.consoleSide) r[5 + i] |= 0x80;
    }
    unsigned sum = 0;
    for (int i = 3; i <= 8; ++i)
        sum += r[i];
    r[2] = static_cast<std::uint8_t>(255 - (sum & 0xFF));
    if (Hits(SimFault::WrongSum)) r[2] ^= 0x01;
    r[9] = Xor(r, 9);
    if (Hits(SimFault::CorruptXor)) r[9] ^= 0x01;
    answers.insert(answers.end(), r, r + 10);
}
