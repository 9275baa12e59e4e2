// The system's serial ports through QSerialPort, used synchronously: there is no event
// loop during a session, so every write is pushed out and every read waits by itself.
#include "link/SerialPort.h"

#include <QSerialPort>
#include <QString>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A USB adapter's latency timer as its driver shows it in sysfs; 16 ms, the common
// adapters' default, when it does not.
int UsbTimerMs(const std::string& systemName) {
#ifdef Q_OS_LINUX
    std::error_code error;
    const auto real = std::filesystem::canonical(systemName, error);
    if (!error) {
        std::ifstream in("/sys/class/tty/" + real.filename().string() + "/device/latency_timer");
        int ms = 0;
        if (in >> ms && ms > 0 && ms <= 255) return ms;
    }
#else
    (void)systemName;
#endif
    return 16;
}

class QtSerialPort final : public SerialPort {
public:
    explicit QtSerialPort(PortKind kind) : kind_(kind) {}
    ~QtSerialPort() override { Close(); }

    QSerialPort& q() { return port_; }

    // Called once the port is open: asks for low latency, learns the adapter's timer.
    void Prepare(const std::string& systemName) {
        AskLowLatency();
        if (kind_ == PortKind::UsbAdapter) usbTimerMs_ = UsbTimerMs(systemName);
        hold_ = ReadHoldMs(kind_, baud_, usbTimerMs_);
    }

    bool SetRate(int baud) override {
        if (lost_) return true; // the protocol finds out from the answers that do not come
        if (!port_.setBaudRate(baud)) return false;
        baud_ = baud;
        hold_ = ReadHoldMs(kind_, baud_, usbTimerMs_);
        return true;
    }

    void Write(const std::uint8_t* data, int count) override {
        if (lost_ || count <= 0) return;
        // What is queued now came late for an earlier request; it is no part of the answer
        // to this one.
        port_.clear(QSerialPort::Input);
        if (NoteError()) return;
        port_.write(reinterpret_cast<const char*>(data), count);
        // Without an event loop the bytes only sit in Qt's buffer until pushed out.
        const auto deadline = Clock::now() + milliseconds(kWriteTimeoutMs);
        while (port_.bytesToWrite() > 0) {
            const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
            if (left.count() <= 0 || !port_.waitForBytesWritten(static_cast<int>(left.count()))) {
                if (NoteError()) return;
                if (Clock::now() >= deadline) {
                    port_.clear(QSerialPort::Output);
                    return;
                }
            }
        }
    }

    int Read(std::uint8_t* buffer, int capacity) override {
        if (lost_ || capacity <= 0) return 0;
        const auto deadline = Clock::now() + milliseconds(10 + capacity);
        const auto hold = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double, std::milli>(hold_));
        Clock::time_point lastByte;
        int got = 0;
        bool lastLook = false;
        for (;;) {
            if (port_.bytesAvailable() > 0) {
                const qint64 n = port_.read(reinterpret_cast<char*>(buffer) + got, capacity - got);
                if (n > 0) {
                    got += static_cast<int>(n);
                    lastByte = Clock::now();
                }
            }
            if (got >= capacity || lastLook) return got;
            const auto now = Clock::now();
            // The bytes have stopped when the port's hold has passed since the last one.
            const bool held = got > 0 && hold_ > 0 && lastByte + hold < deadline;
            const auto until = held ? lastByte + hold : deadline;
            milliseconds wait(0);
            if (now >= until) {
                if (held) return got;
                // A thread held up past the deadline still takes what the system queued in
                // the meantime, as the platform's own read would: one more look, no wait.
                lastLook = true;
            } else {
                // poll() waits at least the whole milliseconds asked for.
                wait = std::chrono::ceil<milliseconds>(until - now);
            }
            if (!port_.waitForReadyRead(static_cast<int>(wait.count())) && NoteError()) return got;
        }
    }

    void Purge(PurgeKind) override {
        if (lost_) return;
        // Synchronous use leaves nothing pending to abort; both kinds drop both directions,
        // Qt's own buffers included.
        port_.clear(QSerialPort::AllDirections);
        NoteError();
    }

    void Close() override {
        if (!port_.isOpen()) return;
        GiveLatencyBack();
        port_.close();
    }

private:
    // Clears a time-out (not a failure of the port) and notes a port that went away.
    // Returns true when the port is lost.
    bool NoteError() {
        const auto error = port_.error();
        if (error == QSerialPort::NoError) return false;
        if (error == QSerialPort::TimeoutError) {
            port_.clearError();
            return false;
        }
        // Read, write and resource errors on an open port mean the adapter or the line
        // is gone: stop touching it, and let the missing answers end the session once.
        lost_ = true;
        return true;
    }

    // Low latency makes the serial driver hand received bytes over at once, and the common
    // USB adapters' drivers set their latency timer to 1 ms for it. A port or a user that
    // may not have it works without.
    void AskLowLatency() {
#ifdef Q_OS_LINUX
        const int fd = static_cast<int>(port_.handle());
        serial_struct serial{};
        if (::ioctl(fd, TIOCGSERIAL, &serial) != 0 || (serial.flags & ASYNC_LOW_LATENCY)) return;
        serial.flags |= ASYNC_LOW_LATENCY;
        lowLatencySet_ = ::ioctl(fd, TIOCSSERIAL, &serial) == 0;
#endif
    }

    void GiveLatencyBack() {
#ifdef Q_OS_LINUX
        if (!lowLatencySet_) return;
        lowLatencySet_ = false;
        const int fd = static_cast<int>(port_.handle());
        serial_struct serial{};
        if (::ioctl(fd, TIOCGSERIAL, &serial) != 0) return;
        serial.flags &= ~ASYNC_LOW_LATENCY;
        ::ioctl(fd, TIOCSSERIAL, &serial);
#endif
    }

    QSerialPort port_;
    bool lost_ = false;
    PortKind kind_;
    int baud_ = 9600;
    int usbTimerMs_ = 16;
    double hold_ = 0;
    bool lowLatencySet_ = false;
};

std::string ReasonFor(const QSerialPort& port, const std::string& systemName) {
    const auto error = port.error();
    if (error == QSerialPort::DeviceNotFoundError) return "Причина: порт не найден в системе.";
#ifdef Q_OS_LINUX
    if (error == QSerialPort::PermissionError) {
        if (::access(systemName.c_str(), R_OK | W_OK) != 0 && errno == EACCES)
            return "Причина: нет прав на доступ к порту; добавьте пользователя в группу dialout "
                   "(sudo usermod -aG dialout $USER) и войдите в систему заново.";
        return "Причина: порт уже занят (заблокирован другой программой).";
    }
#else
    (void)systemName;
#endif
    return {};
}

class QtPortOpener final : public PortOpener {
public:
    explicit QtPortOpener(std::optional<PortKind> kind = std::nullopt) : kind_(kind) {}

    PortOpening Open(const std::string& name, PortOpenMode mode) override {
        PortOpening opening;
        const std::string systemName = SystemPortName(name);
        auto port = std::make_unique<QtSerialPort>(kind_ ? *kind_ : PortKindOf(systemName));
        QSerialPort& q = port->q();
        q.setPortName(QString::fromStdString(systemName));
#ifdef Q_OS_UNIX
        // Qt applies its own flow control when it opens a port; tell it the port's own first.
        // The look stays open until Qt has the port, so it is never the last close (which
        // would drop the control lines).
        const int look = ::open(systemName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios before{};
        if (look >= 0 && ::tcgetattr(look, &before) == 0)
            q.setFlowControl((before.c_cflag & CRTSCTS)          ? QSerialPort::HardwareControl
                             : (before.c_iflag & (IXON | IXOFF)) ? QSerialPort::SoftwareControl
                                                                 : QSerialPort::NoFlowControl);
        const bool opened = q.open(QIODevice::ReadWrite);
        if (look >= 0) ::close(look);
#else
        const bool opened = q.open(QIODevice::ReadWrite);
#endif
        if (!opened) {
            opening.outcome = PortOpenOutcome::CannotOpen;
            opening.reason = ReasonFor(q, systemName);
            return opening;
        }
        opening.outcome = PortOpenOutcome::Opened;
        port->Prepare(systemName);
#ifdef Q_OS_UNIX
        termios state{};
        if (::tcgetattr(static_cast<int>(q.handle()), &state) != 0 && mode == PortOpenMode::Write) {
            opening.outcome = PortOpenOutcome::StateUnreadable;
            opening.port = std::move(port);
            return opening;
        }
#else
        (void)mode;
#endif
        // Only these four change; flow control and the control lines stay as they were.
        q.setBaudRate(9600);
        q.setDataBits(QSerialPort::Data8);
        q.setParity(QSerialPort::NoParity);
        q.setStopBits(QSerialPort::OneStop);
        // There is no receive-event mask to set here, and Qt keeps its own queues; only the
        // initial purge remains.
        port->Purge(PurgeKind::Clear);
        opening.port = std::move(port);
        return opening;
    }

private:
    std::optional<PortKind> kind_;
};

} // namespace

PortKind PortKindOf(const std::string& systemName) {
#ifdef Q_OS_LINUX
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path real = fs::canonical(systemName, error);
    if (error) return PortKind::Unknown;
    struct stat st {};
    // Pseudo-terminal slaves have majors 136 to 143.
    if (::stat(real.c_str(), &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 &&
        major(st.st_rdev) <= 143)
        return PortKind::PseudoTerminal;
    const fs::path subsystem =
        fs::read_symlink("/sys/class/tty" / real.filename() / "device" / "subsystem", error);
    if (error) return PortKind::Unknown;
    // ttyUSB adapters sit on usb-serial, ttyACM ones on the USB interface itself; ttyS on
    // serial-base, platform, pnp or pci.
    const std::string bus = subsystem.filename().string();
    return bus == "usb-serial" || bus == "usb" ? PortKind::UsbAdapter : PortKind::Uart;
#else
    (void)systemName;
    return PortKind::Unknown;
#endif
}

PortOpener& SystemPortOpener() {
    static QtPortOpener opener;
    return opener;
}

PortOpener& SystemPortOpenerAs(PortKind kind) {
    static QtPortOpener openers[] = {
        QtPortOpener(PortKind::Uart), QtPortOpener(PortKind::UsbAdapter),
        QtPortOpener(PortKind::PseudoTerminal), QtPortOpener(PortKind::Unknown)};
    return openers[static_cast<int>(kind)];
}

std::string SystemPortName(const std::string& listName) {
    static const std::regex com("COM([1-6])");
    std::smatch match;
    if (std::regex_match(listName, match, com))
        return "/dev/ttyS" + std::to_string(match[1].str()[0] - '1');
    return listName;
}
