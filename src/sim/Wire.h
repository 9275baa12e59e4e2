// The way from the unit's serial output to the computer's reads: which bytes of the
// answers the computer can read at what time. No I/O: DeviceSimulator writes what falls
// due to its pseudo-terminal. Times are milliseconds on any one clock.
#pragma once

#include "sim/DeviceModel.h"

#include <cstdint>
#include <deque>
#include <limits>
#include <vector>

class Wire {
public:
    // `rate` is the line's rate in baud (10 bits a character); `phaseMs` where the USB
    // adapter's timer ticks (at phaseMs + k × 16).
    Wire(SimWire mode = SimWire::Whole, int rate = 9600, double phaseMs = 0);

    // An answer whose first character may start at `startMs`; it follows any answer still
    // on the line.
    void Send(double startMs, const std::uint8_t* data, int count);
    // Takes the bytes the computer can read by `nowMs`, appending them to `out`.
    void Deliver(double nowMs, std::vector<std::uint8_t>& out);
    // When the next bytes become readable; infinity when nothing is on the way.
    double NextDue() const;
    bool Empty() const { return line_.empty(); }
    void Clear() { line_.clear(); }

    double CharacterMs() const { return charMs_; }
    static constexpr double kUsbTickMs = 16.0;
    static constexpr int kFifoTrigger = 8;
    static constexpr double kFifoTimeoutChars = 4.0;
    static constexpr double kNever = std::numeric_limits<double>::infinity();

private:
    struct OnLine {
        double arrives; // when its last bit is in (Whole: when the answer is ready)
        std::uint8_t value;
    };
    // The next hand-over: when, and how many bytes from the front.
    double Next(int& count) const;

    SimWire mode_;
    double charMs_;
    double phaseMs_;
    double lineFree_ = -kNever;
    std::deque<OnLine> line_;
};
