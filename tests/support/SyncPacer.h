// A pacer that spends no real time: where the product waits for an answer, it waits until
// the simulator has handled every frame sent so far (counted by a CountingPort), so a
// loaded machine cannot make an answer late. The other waits are only counted.
#pragma once

#include "link/Pacer.h"
#include "link/Protocol.h"
#include "sim/DeviceSimulator.h"

#include <atomic>
#include <functional>

class SyncPacer final : public Pacer {
public:
    // Finds the simulator at each wait: one that is made on first use, or none yet.
    using Finder = std::function<const DeviceSimulator*()>;

    SyncPacer(const DeviceSimulator& sim, const long& frames)
        : find_([&sim] { return &sim; }), frames_(frames) {}
    SyncPacer(Finder find, const long& frames) : find_(std::move(find)), frames_(frames) {}

    void Sleep(int milliseconds) override {
        ++waits;
        if (milliseconds != kWaitBeforeRead) return;
        if (const DeviceSimulator* sim = find_()) {
            sim->WaitFrames(frames_, 10000);
            answered = frames_;
            if (onFrame) onFrame(frames_);
        }
    }
    std::atomic<int> waits{0};
    // Runs on the session's thread once each frame has been answered, with the count so far;
    // `answered` is that count for another thread to look at while the session runs.
    std::function<void(long)> onFrame;
    std::atomic<long> answered{0};

private:
    Finder find_;
    const long& frames_;
};
