// The interface unit with one ТОРВИК-7 behind it, as frames in and answers out. No I/O and
// no threads: DeviceSimulator puts it on a pseudo-terminal, and tests can drive it
// directly behind a port of their own.
#pragma once

#include "settings/DeviceImage.h"

#include <array>
#include <cstdint>
#include <random>
#include <vector>

// Faults the simulator can inject. Each applies to its own kind of request (see below).
enum class SimFault {
    NoAnswer,       // command frames and fetch requests get no answer at all
    CorruptXor,     // acknowledgements and result frames get a wrong last byte
    NotReady,       // fetch requests get the 3-byte "not ready" answer
    TooShort,       // fetch requests get the 3-byte "too short" answer
    WrongSum,       // result frames get a wrong byte 2 (correct XOR)
    WrongAddress,   // result frames name the block 0x100 further on
    VerifyMismatch, // write commands store the block with its last byte inverted
};
inline constexpr int kSimFaultCount = 7;

// When a fault strikes: the requests it applies to are counted; the first `after` of them
// are spared, then the next `count` are hit, and after those each is hit with
// `probability` (drawn from the simulator's seeded generator).
struct FaultRule {
    int count = 0;
    int after = 0;
    double probability = 0.0;
};

// How the unit's answers reach the computer. Real lines hand them over in pieces: bytes as
// they come off the line, a UART's receive FIFO, a USB adapter's latency timer.
enum class SimWire {
    Whole, // the whole answer at once (a pseudo-terminal, or an ideal line)
    Bytes, // one byte per character time
    Fifo8, // 8 bytes at a time; what is left, 4 character times after the last byte
    Usb16, // whatever has arrived, at each tick of a free-running 16 ms timer (random phase)
};

struct SimConfig {
    int lineAddress = 0; // the device answers only at this line address (0..63)
    int unitAddress = 0; // the interface unit answers handshakes only for this address (0..7)
    int rate = 9600;     // the only line rate the interface unit answers at
    // A console-side unit: reads of byte 4 come back with bit 7 set.
    bool consoleSide = false;
    // After this many frames (of any kind) have been handled, the line drops; -1: never.
    long dropLineAfter = -1;
    std::array<FaultRule, kSimFaultCount> faults{};
    unsigned seed = 1;
    SimWire wire = SimWire::Whole;
    // How long after the request is complete the answer's first character starts.
    int latencyMs = 0;

    FaultRule& fault(SimFault f) { return faults[static_cast<int>(f)]; }
};

struct SimStats {
    long frames = 0; // complete frames received, answered or not
    long handshakes = 0;
    long handshakesAnswered = 0;
    long readCommands = 0;  // accepted
    long writeCommands = 0; // accepted (each stores its block)
    long fetches = 0;
    long refusedCommands = 0; // for another line address, or with a malformed byte 2
    long faultsInjected = 0;
    // Hand-overs the simulator made more than 5 ms after they fell due, its thread having
    // run late (a loaded machine): answers late through no fault of the wire.
    long lateDeliveries = 0;
};

// The memory of a device fresh from the factory: the image of the default settings, with
// an object-side identifier (0x01) in byte 4 and 0x07 in byte 0.
DeviceImage FactoryImage();

class DeviceModel {
public:
    explicit DeviceModel(const SimConfig& config = {});

    // Takes bytes as they arrive on the line at `lineRate` baud, appending any answers to
    // `answers`. Bytes may carry several frames or part of one.
    void Receive(const std::uint8_t* data, int count, int lineRate,
                 std::vector<std::uint8_t>& answers);
    // A pause on the line: a partial frame is dropped.
    void ResetPartial() { pending_.clear(); }
    bool HasPartial() const { return !pending_.empty(); }
    // True once the configured drop point has passed.
    bool LineDropped() const { return dropped_; }

    DeviceImage& memory() { return memory_; }
    const DeviceImage& memory() const { return memory_; }
    const SimStats& stats() const { return stats_; }
    SimStats& stats() { return stats_; }
    const SimConfig& config() const { return config_; }
    // Changes the configuration from now on; fault counters start again.
    void SetConfig(const SimConfig& config);

private:
    void Frame(const std::uint8_t* frame, int length, int lineRate,
               std::vector<std::uint8_t>& answers);
    void Handshake(const std::uint8_t* frame, int lineRate, std::vector<std::uint8_t>& answers);
    void Command(const std::uint8_t* frame, int length, std::vector<std::uint8_t>& answers);
    void Fetch(const std::uint8_t* frame, std::vector<std::uint8_t>& answers);
    bool Hits(SimFault fault);

    SimConfig config_;
    DeviceImage memory_;
    SimStats stats_;
    std::vector<std::uint8_t> pending_;
    std::array<long, kSimFaultCount> seen_{};
    std::mt19937 random_;
    bool dropped_ = false;
    // The result of the last accepted command, repeated to every fetch until the next.
    bool haveResult_ = false;
    int resultAddress_ = 0;
};
