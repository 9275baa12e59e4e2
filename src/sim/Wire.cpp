#include "sim/Wire.h"

#include <algorithm>
#include <cmath>

Wire::Wire(SimWire mode, int rate, double phaseMs)
    : mode_(mode), charMs_(10000.0 / (rate > 0 ? rate : 9600)),
      phaseMs_(std::fmod(phaseMs, kUsbTickMs)) {}

void Wire::Send(double startMs, const std::uint8_t* data, int count) {
    const double start = std::max(startMs, lineFree_);
    for (int i = 0; i < count; ++i) {
        const double arrives = mode_ == SimWire::Whole ? start : start + (i + 1) * charMs_;
        line_.push_back({arrives, data[i]});
    }
    lineFree_ = mode_ == SimWire::Whole ? start : start + count * charMs_;
}

double Wire::Next(int& count) const {
    count = 0;
    if (line_.empty()) return kNever;
    const double first = line_.front().arrives;
    switch (mode_) {
    case SimWire::Whole:
    case SimWire::Bytes: {
        // Everything that is in by the time the first byte is.
        while (count < static_cast<int>(line_.size()) && line_[count].arrives <= first)
            ++count;
        return first;
    }
    case SimWire::Fifo8: {
        // The FIFO interrupts at its trigger level, or when no byte has come for the
        // time-out after the last one.
        const double timeout = kFifoTimeoutChars * charMs_;
        for (int i = 0; i < static_cast<int>(line_.size()); ++i) {
            if (i + 1 == kFifoTrigger) {
                count = kFifoTrigger;
                return line_[i].arrives;
            }
            const bool last = i + 1 == static_cast<int>(line_.size());
            if (last || line_[i + 1].arrives - line_[i].arrives > timeout) {
                count = i + 1;
                return line_[i].arrives + timeout;
            }
        }
        return kNever;
    }
    case SimWire::Usb16: {
        // The first tick at or after the first byte is in hands over all that is in by then.
        const double tick = phaseMs_ + std::ceil((first - phaseMs_) / kUsbTickMs) * kUsbTickMs;
        while (count < static_cast<int>(line_.size()) && line_[count].arrives <= tick)
            ++count;
        return tick;
    }
    }
    return kNever;
}

void Wire::Deliver(double nowMs, std::vector<std::uint8_t>& out) {
    for (;;) {
        int count = 0;
        if (Next(count) > nowMs || count == 0) return;
        for (int i = 0; i < count; ++i) {
            out.push_back(line_.front().value);
            line_.pop_front();
        }
    }
}

double Wire::NextDue() const {
    int count = 0;
    return Next(count);
}
