// Whatever the line answers: the rate search and one block transaction judged against
// answers taken from the input. The port replays them one per read, cut to what the read
// asks for, so every kind of answer (handshake, acknowledgement, short answer, result frame)
// meets every length, echo, checksum and address.
//
// Input: byte 0 direction (bit 0), rates the port refuses (bits 4..7, one per rate index);
// byte 1 the line address (low 6 bits); byte 2 the unit address (low 3 bits); bytes 3..4 the block
// address (11 bits); bytes 5..8 the block buffer; then answers, each a length byte (low 4
// bits; 15 means "nothing came") followed by that many bytes. The rate search takes the
// first answers, the block transaction those after them.
#include "link/Pacer.h"
#include "link/Protocol.h"
#include "link/SerialPort.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

class ReplayPort final : public SerialPort {
public:
    std::vector<Bytes> answers;
    std::size_t next = 0;
    unsigned refused = 0; // bit i: the rate of index i is refused
    int rateCalls = 0;
    int reads = 0;
    int purges = 0;
    std::vector<Bytes> written;

    bool SetRate(int baud) override {
        ++rateCalls;
        for (int i = 0; i < kRateCount; ++i)
            if (kRates[i] == baud) return !(refused >> i & 1);
        __builtin_trap(); // only the four rates of the search exist
    }
    void Write(const std::uint8_t* data, int count) override {
        if (count <= 0 || count > 9) __builtin_trap();
        written.emplace_back(data, data + count);
    }
    int Read(std::uint8_t* buffer, int capacity) override {
        ++reads;
        if (capacity != 3 && capacity != 5 && capacity != 10) __builtin_trap();
        if (next >= answers.size()) return 0;
        const Bytes& a = answers[next++];
        const int n = static_cast<int>(a.size()) < capacity ? static_cast<int>(a.size()) : capacity;
        if (n > 0) std::memcpy(buffer, a.data(), n);
        return n;
    }
    void Purge(PurgeKind kind) override {
        if (kind != PurgeKind::AbortAndClear) __builtin_trap();
        ++purges;
    }
    void Close() override { __builtin_trap(); } // the protocol never closes the session's port
};

class ZeroPacer final : public Pacer {
public:
    int waits = 0;
    void Sleep(int milliseconds) override {
        if (milliseconds != kWaitBeforeRequest && milliseconds != kWaitBeforeRead) __builtin_trap();
        ++waits;
    }
};

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

// What the handshake must conclude from the same answers, judged independently.
HandshakeResult ExpectedHandshake(const std::vector<Bytes>& answers, unsigned refused, int unit) {
    HandshakeResult r;
    std::size_t next = 0;
    for (int index = 0; index < kRateCount; ++index) {
        if (refused >> index & 1) {
            r.rateRefused = true;
            return r;
        }
        const std::uint8_t sent = static_cast<std::uint8_t>(0xC0 + 0x10 * index + (unit & 7));
        Bytes a = next < answers.size() ? answers[next] : Bytes{};
        ++next;
        if (a.size() > 5) a.resize(5);
        if (a.size() != 3)
            r.code = kLinkNoAnswer;
        else if ((a[0] ^ sent) & 0xF7)
            r.code = kLinkBadEcho;
        else if ((a[0] ^ a[1] ^ a[2]) != 0)
            r.code = kLinkBadXor;
        else {
            r.code = kLinkOk;
            r.rateIndex = index;
            return r;
        }
    }
    return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 9) return 0;
    const bool write = data[0] & 1;
    const unsigned refused = data[0] >> 4;
    const int lineAddress = data[1] & 0x3F;
    const int unitAddress = data[2] & 7;
    const int address = ((data[3] << 8) | data[4]) & 0x7FF;
    std::uint8_t block[4];
    std::memcpy(block, data + 5, 4);

    std::vector<Bytes> answers;
    for (std::size_t i = 9; i < size;) {
        const int length = data[i++] & 0x0F;
        if (length == 15) {
            answers.emplace_back();
            continue;
        }
        const std::size_t n = size - i < static_cast<std::size_t>(length) ? size - i : length;
        answers.emplace_back(data + i, data + i + n);
        i += n;
    }

    // The rate search over the answers; the transaction goes on with the answers after
    // the ones it took.
    std::size_t taken = 0;
    {
        ReplayPort port;
        port.answers = answers;
        port.refused = refused;
        ZeroPacer pacer;
        const HandshakeResult got = UnitHandshake(port, pacer, unitAddress);
        const HandshakeResult want = ExpectedHandshake(answers, refused, unitAddress);
        Check(got.code == want.code && got.rateRefused == want.rateRefused &&
              got.rateIndex == want.rateIndex);
        Check(got.code <= kLinkBadXor);
        Check(port.rateCalls <= kRateCount && port.reads <= kRateCount && port.purges == 0);
        Check(static_cast<int>(port.written.size()) == port.reads);
        for (const Bytes& frame : port.written)
            Check(frame.size() == 2 && frame[1] == 0x55 && frame[0] >= 0xC0 && frame[0] <= 0xF7);
        taken = port.next;
    }
    answers.erase(answers.begin(), answers.begin() + static_cast<std::ptrdiff_t>(taken));

    // One block transaction over the same answers.
    ReplayPort port;
    port.answers = answers;
    ZeroPacer pacer;
    std::uint8_t buffer[4];
    std::memcpy(buffer, block, 4);
    const std::uint8_t code = TransferBlock(
        port, address, buffer, write ? Direction::Write : Direction::Read, pacer, lineAddress);
    Check(code <= kLinkVerifyFailed);
    Check(port.purges == 1); // once, after the command phase, whatever it ended with

    int commands = 0;
    int fetches = 0;
    for (const Bytes& frame : port.written) {
        if (frame.size() == 3) {
            Check(frame[0] == (lineAddress & 0xFF) && frame[1] == 0x80 &&
                  frame[2] == (frame[0] ^ 0x80));
            ++fetches;
        } else {
            Check(fetches == 0); // no command frame once the fetch phase began
            Check(frame.size() == (write ? 9u : 5u) && frame == port.written.front());
            ++commands;
        }
    }
    Check(commands >= 1 && commands <= kAttemptsPerPhase && fetches <= kAttemptsPerPhase);
    Check(port.reads == commands + fetches && pacer.waits == 2 * port.reads);

    // What the answers that were read mean for the outcome.
    const Bytes last =
        port.next > 0 && port.next <= answers.size() ? answers[port.next - 1] : Bytes{};
    if (code == kLinkOk) {
        Check(commands >= 1 && fetches >= 1);
        Check(last.size() >= 10);
        if (write)
            Check(std::memcmp(buffer, block, 4) == 0 &&
                  std::memcmp(last.data() + 5, block, 4) == 0);
        else
            Check(std::memcmp(buffer, last.data() + 5, 4) == 0);
    } else {
        // A failed transaction never touches the caller's buffer.
        Check(std::memcmp(buffer, block, 4) == 0);
    }
    if (code >= kLinkNoAnswer && code <= kLinkNotAccepted && fetches == 0)
        Check(commands == kAttemptsPerPhase);
    if (code == kLinkNotReady || code == kLinkTooShort || (code == kLinkBadXor && fetches > 0))
        Check(fetches == kAttemptsPerPhase);
    if (code == kLinkBadSum || code == kLinkBadAddress || code == kLinkVerifyFailed)
        Check(last.size() >= 10);
    if (code == kLinkVerifyFailed) Check(write);
    if (write) Check(std::memcmp(buffer, block, 4) == 0); // a write only reads its buffer
    return 0;
}
