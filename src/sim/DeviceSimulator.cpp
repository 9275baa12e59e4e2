#include "sim/DeviceSimulator.h"

#include "settings/SettingsFile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

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

int QueuedInput(int fd) {
    int count = 0;
    if (::ioctl(fd, FIONREAD, &count) != 0) return -1;
    return count;
}

} // namespace

DeviceSimulator::DeviceSimulator(const SimConfig& config) : model_(config) {}

DeviceSimulator::~DeviceSimulator() {
    Stop();
}

std::string DeviceSimulator::Start() {
    std::lock_guard lock(mutex_);
    if (running_) return path_;
    error_.clear();
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
    running_ = true;
    thread_ = std::thread([this] { Run(); });
    return path_;
}

void DeviceSimulator::Stop() {
    std::unique_lock lock(mutex_);
    if (!running_ && !thread_.joinable()) return;
    running_ = false;
    if (wake_[1] >= 0) {
        const char stop = 's';
        [[maybe_unused]] const auto n = ::write(wake_[1], &stop, 1);
    }
    lock.unlock();
    if (thread_.joinable()) thread_.join();
    lock.lock();
    for (int* fd : {&master_, &slave_, &wake_[0], &wake_[1]}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
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
}

SimStats DeviceSimulator::Stats() const {
    std::lock_guard lock(mutex_);
    return model_.stats();
}

void DeviceSimulator::DropLine() {
    std::lock_guard lock(mutex_);
    if (!running_ || dropped_) return;
    const char drop = 'd';
    [[maybe_unused]] const auto n = ::write(wake_[1], &drop, 1);
}

bool DeviceSimulator::WaitFrames(long frames, int timeoutMs) const {
    std::unique_lock lock(mutex_);
    return handled_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return framesHandled_ >= frames || dropped_ || !running_; });
}

// Closing the master is what an unplugged line looks like from the port's side: the
// terminal hangs up and every further read or write there fails.
void DeviceSimulator::Hangup() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
    dropped_ = true;
    handled_.notify_all();
}

void DeviceSimulator::Run() {
    std::vector<std::uint8_t> answers;
    std::uint8_t buffer[256];
    for (;;) {
        pollfd fds[2] = {{wake_[0], POLLIN, 0}, {master_, POLLIN, 0}};
        bool partial;
        {
            std::lock_guard lock(mutex_);
            partial = model_.HasPartial();
        }
        // A partial frame that sees no more bytes for 100 ms is noise.
        const int ready = ::poll(fds, master_ >= 0 ? 2 : 1, partial ? 100 : -1);
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
            model_.ResetPartial();
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
        answers.clear();
        model_.Receive(buffer, static_cast<int>(n), rate, answers);
        deliveryTarget_ = -1;
        if (!answers.empty()) {
            const int before = QueuedInput(slave_);
            std::size_t off = 0;
            while (off < answers.size()) {
                const ssize_t w = ::write(master_, answers.data() + off, answers.size() - off);
                if (w <= 0) {
                    if (w < 0 && errno == EINTR) continue;
                    break;
                }
                off += static_cast<std::size_t>(w);
            }
            if (before >= 0) deliveryTarget_ = before + static_cast<int>(off);
        }
        framesHandled_ = model_.stats().frames;
        if (model_.LineDropped()) Hangup();
        handled_.notify_all();
    }
}
