#include "sim/DeviceSimulator.h"

#include "settings/SettingsFile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace {

#ifndef _WIN32

int RateOf(speed_t speed) {
    switch (speed) {
    case B1200:
        return 1200;
    case B2400:
        return 2400;
    case B4800:
        return 4800;
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    default:
        return 0;
    }
}
#endif

} // namespace

DeviceSimulator::DeviceSimulator(const SimConfig& config)
    : model_(config), epoch_(std::chrono::steady_clock::now()) {
    NewWire();
}

DeviceSimulator::~DeviceSimulator() {
    Stop();
}

std::string DeviceSimulator::Start() {
    std::lock_guard lock(mutex_);
    if (running_) return path_;
    error_.clear();
#ifdef _WIN32
    error_ = "no pseudo-terminals on this system";
    return {};
#else
    auto fail = [this](const char* what) {
        error_ = std::string(what) + ": " + std::strerror(errno);
        for (int* fd : {&master_, &slave_, &wake_[0], &wake_[1]}) {
            if (*fd >= 0) ::close(*fd);
            *fd = -1;
        }
        return std::string();
    };
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) return fail("posix_openpt");
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return fail("unlockpt");
    char name[128];
    if (::ptsname_r(master_, name, sizeof name) != 0) return fail("ptsname");
    slave_ = ::open(name, O_RDWR | O_NOCTTY);
    if (slave_ < 0) return fail("open pts");
    termios raw{};
    if (::tcgetattr(slave_, &raw) == 0) {
        ::cfmakeraw(&raw);
        ::cfsetspeed(&raw, B9600);
        ::tcsetattr(slave_, TCSANOW, &raw);
    }
    if (::pipe2(wake_, O_CLOEXEC) != 0) return fail("pipe");
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
    path_ = name;
    dropped_ = false;
    framesHandled_ = 0;
    epoch_ = std::chrono::steady_clock::now();
    NewWire();
    running_ = true;
    thread_ = std::thread([this] { Run(); });
    return path_;
#endif
}

void DeviceSimulator::Stop() {
    std::unique_lock lock(mutex_);
    if (!running_ && !thread_.joinable()) return;
    running_ = false;
#ifndef _WIN32
    if (wake_[1] >= 0) {
        const char stop = 's';
        [[maybe_unused]] const auto n = ::write(wake_[1], &stop, 1);
    }
#endif
    lock.unlock();
    if (thread_.joinable()) thread_.join();
    lock.lock();
#ifndef _WIN32
    for (int* fd : {&master_, &slave_, &wake_[0], &wake_[1]}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
#endif
    handled_.notify_all();
}

std::string DeviceSimulator::PortPath() const {
    std::lock_guard lock(mutex_);
    return path_;
}

std::string DeviceSimulator::LastError() const {
    std::lock_guard lock(mutex_);
    return error_;
}

DeviceImage DeviceSimulator::Memory() const {
    std::lock_guard lock(mutex_);
    return model_.memory();
}

void DeviceSimulator::SetMemory(const DeviceImage& image) {
    std::lock_guard lock(mutex_);
    model_.memory() = image;
}

bool DeviceSimulator::LoadMemory(const std::string& path) {
    // One byte more than the memory, to tell a longer file from an exact one.
    const ReadOutcome file = ReadWholeFile(path, kImageSize + 1);
    if (file.status != FileStatus::Ok || file.bytes.size() != kImageSize) return false;
    DeviceImage image{};
    std::copy(file.bytes.begin(), file.bytes.end(), image.begin());
    SetMemory(image);
    return true;
}

bool DeviceSimulator::SaveMemory(const std::string& path) const {
    const DeviceImage image = Memory();
    return WriteWholeFile(path, image.data(), image.size()).error == 0;
}

SimConfig DeviceSimulator::Config() const {
    std::lock_guard lock(mutex_);
    return model_.config();
}

void DeviceSimulator::SetConfig(const SimConfig& config) {
    std::lock_guard lock(mutex_);
    model_.SetConfig(config);
    NewWire();
}

// A new wire for the configuration in force; what was on the old one is lost.
void DeviceSimulator::NewWire() {
    const SimConfig& config = model_.config();
    std::mt19937 random(config.seed * 2654435761u + 17);
    const double phase = std::uniform_real_distribution<double>(0.0, Wire::kUsbTickMs)(random);
    wire_ = Wire(config.wire, config.rate, NowMs() + phase);
}

double DeviceSimulator::NowMs() const {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - epoch_)
        .count();
}

SimStats DeviceSimulator::Stats() const {
    std::lock_guard lock(mutex_);
    return model_.stats();
}

void DeviceSimulator::DropLine() {
    std::lock_guard lock(mutex_);
    if (dropped_) return;
    if (!running_) {
        // No terminal to hang up: the in-process ports see the drop at their next call.
        wire_.Clear();
        dropped_ = true;
        handled_.notify_all();
        return;
    }
#ifndef _WIN32
    const char drop = 'd';
    [[maybe_unused]] const auto n = ::write(wake_[1], &drop, 1);
#endif
}

bool DeviceSimulator::WaitFrames(long frames, int timeoutMs) const {
    std::unique_lock lock(mutex_);
    return handled_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return framesHandled_ >= frames || dropped_ || !running_; });
}

#ifndef _WIN32
void DeviceSimulator::DeliverDue() {
    std::vector<std::uint8_t> due;
    const double now = NowMs();
    if (wire_.NextDue() < now - 5.0) ++model_.stats().lateDeliveries;
    wire_.Deliver(now, due);
    std::size_t off = 0;
    while (master_ >= 0 && off < due.size()) {
        const ssize_t w = ::write(master_, due.data() + off, due.size() - off);
        if (w <= 0) {
            if (w < 0 && errno == EINTR) continue;
            break;
        }
        off += static_cast<std::size_t>(w);
    }
    // A frame counts as handled once the whole of its answer is readable.
    if (wire_.Empty()) framesHandled_ = model_.stats().frames;
}

// Closing the master is what an unplugged line looks like from the port's side: the
// terminal hangs up and every further read or write there fails.
void DeviceSimulator::Hangup() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
    wire_.Clear();
    dropped_ = true;
    handled_.notify_all();
}

void DeviceSimulator::Run() {
    std::vector<std::uint8_t> answers;
    std::uint8_t buffer[256];
    for (;;) {
        pollfd fds[2] = {{wake_[0], POLLIN, 0}, {master_, POLLIN, 0}};
        bool partial;
        double due;
        {
            std::lock_guard lock(mutex_);
            partial = model_.HasPartial();
            due = wire_.NextDue() - NowMs();
        }
        // A partial frame that sees no more bytes for 100 ms is noise. Answers on the way
        // wake the thread when their next bytes fall due.
        double waitMs = partial ? 100.0 : -1.0;
        if (due != Wire::kNever && (waitMs < 0 || due < waitMs)) waitMs = due < 0 ? 0 : due;
        timespec timeout{};
        if (waitMs >= 0) {
            const auto ns = static_cast<long long>(waitMs * 1e6);
            timeout.tv_sec = static_cast<time_t>(ns / 1000000000LL);
            timeout.tv_nsec = static_cast<long>(ns % 1000000000LL);
        }
        const int ready =
            ::ppoll(fds, master_ >= 0 ? 2 : 1, waitMs >= 0 ? &timeout : nullptr, nullptr);
        if (ready < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[0].revents & POLLIN) {
            char command = 0;
            if (::read(wake_[0], &command, 1) == 1 && command == 'd') {
                std::lock_guard lock(mutex_);
                Hangup();
                continue;
            }
            break;
        }
        if (ready == 0) {
            std::lock_guard lock(mutex_);
            const double now = NowMs();
            if (partial && now - lastInput_ >= 100.0) model_.ResetPartial();
            DeliverDue();
            handled_.notify_all();
            continue;
        }
        if (master_ < 0 || !(fds[1].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0) {
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            // Nobody on the other side (cannot happen while we hold the slave): wait a bit.
            ::poll(fds, 1, 10);
            continue;
        }
        // The rate in force when the request arrived; the port may pass through other
        // rates while it changes between requests.
        termios state{};
        const int rate = ::tcgetattr(slave_, &state) == 0 ? RateOf(::cfgetospeed(&state)) : 0;
        std::lock_guard lock(mutex_);
        lastInput_ = NowMs();
        answers.clear();
        model_.Receive(buffer, static_cast<int>(n), rate, answers);
        if (!answers.empty())
            wire_.Send(lastInput_ + model_.config().latencyMs, answers.data(),
                       static_cast<int>(answers.size()));
        DeliverDue();
        if (model_.LineDropped()) Hangup();
        handled_.notify_all();
    }
}
#endif
