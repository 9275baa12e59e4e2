// The simulator joined to a session inside the process. Windows has no pseudo-terminals, so
// the virtual device is reached this way there; the session sees an ordinary SerialPort and
// the device the same frames, answered through the same wire as on a terminal.
#include "sim/DeviceSimulator.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <thread>

class InProcessPort final : public SerialPort {
public:
    explicit InProcessPort(DeviceSimulator& sim) : sim_(sim) {}

    bool SetRate(int baud) override {
        rate_ = baud;
        return true;
    }

    void Write(const std::uint8_t* data, int count) override {
        std::lock_guard lock(sim_.mutex_);
        if (Lost() || count <= 0) return;
        // As a real port: whatever came late for an earlier request is dropped first.
        TakeDue();
        input_.clear();
        const double now = sim_.NowMs();
        DeviceModel& model = sim_.model_;
        if (model.HasPartial() && now - sim_.lastInput_ >= 100.0) model.ResetPartial();
        sim_.lastInput_ = now;
        std::vector<std::uint8_t> answers;
        model.Receive(data, count, rate_, answers);
        if (!answers.empty())
            sim_.wire_.Send(now + model.config().latencyMs, answers.data(),
                            static_cast<int>(answers.size()));
        if (model.LineDropped()) {
            sim_.wire_.Clear();
            sim_.dropped_ = true;
        }
        sim_.framesHandled_ = model.stats().frames;
        sim_.handled_.notify_all();
    }

    // Ends as a pseudo-terminal's read does: with its capacity or its total time-out.
    int Read(std::uint8_t* buffer, int capacity) override {
        if (capacity <= 0) return 0;
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::milliseconds(10 + capacity);
        int got = 0;
        std::unique_lock lock(sim_.mutex_);
        for (bool lastLook = false;;) {
            if (Lost()) return got;
            TakeDue();
            while (got < capacity && !input_.empty()) {
                buffer[got++] = input_.front();
                input_.pop_front();
            }
            if (got >= capacity || lastLook) return got;
            // Sleep until the wire's next hand-over or the deadline, whichever is first.
            auto until = deadline;
            const double due = sim_.wire_.NextDue();
            if (due != Wire::kNever) {
                const auto next = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                     std::chrono::duration<double, std::milli>(
                                                         std::max(0.0, due - sim_.NowMs())));
                until = std::min(until, next);
            }
            if (until >= deadline) lastLook = true;
            lock.unlock();
            std::this_thread::sleep_until(until);
            lock.lock();
        }
    }

    void Purge(PurgeKind) override {
        std::lock_guard lock(sim_.mutex_);
        TakeDue();
        input_.clear();
    }

    void Close() override {}

private:
    bool Lost() const { return sim_.dropped_; }

    // Moves what the wire has handed over by now into the port's input queue.
    void TakeDue() {
        std::vector<std::uint8_t> due;
        const double now = sim_.NowMs();
        if (sim_.wire_.NextDue() < now - 5.0) ++sim_.model_.stats().lateDeliveries;
        sim_.wire_.Deliver(now, due);
        input_.insert(input_.end(), due.begin(), due.end());
    }

    DeviceSimulator& sim_;
    int rate_ = 9600;
    std::deque<std::uint8_t> input_;
};

class SimulatorPortOpener final : public PortOpener {
public:
    explicit SimulatorPortOpener(DeviceSimulator& sim) : sim_(sim) {}
    PortOpening Open(const std::string&, PortOpenMode) override {
        PortOpening opening;
        opening.outcome = PortOpenOutcome::Opened;
        opening.port = sim_.OpenInProcess();
        return opening;
    }

private:
    DeviceSimulator& sim_;
};

std::unique_ptr<SerialPort> DeviceSimulator::OpenInProcess() {
    return std::make_unique<InProcessPort>(*this);
}

PortOpener& DeviceSimulator::InProcessOpener() {
    std::lock_guard lock(mutex_);
    if (!inProcessOpener_) inProcessOpener_ = std::make_unique<SimulatorPortOpener>(*this);
    return *inProcessOpener_;
}
