// The system's serial ports through QSerialPort, used synchronously: there is no event
// loop during a session, so every write is pushed out and every read waits by itself.
#include "link/SerialPort.h"

#include <QSerialPort>
#include <QString>

#include <cerrno>
#include <chrono>
#include <regex>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

class QtSerialPort final : public SerialPort {
public:
    QSerialPort& q() { return port_; }

    bool SetRate(int baud) override {
        if (lost_) return true; // the protocol finds out from the answers that do not come
        return port_.setBaudRate(baud);
    }

    void Write(const std::uint8_t* data, int count) override {
        if (lost_ || count <= 0) return;
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
        const auto start = Clock::now();
        const auto total = milliseconds(10 + capacity);
        int got = 0;
        bool lastLook = false;
        for (;;) {
            if (port_.bytesAvailable() > 0) {
                const qint64 n = port_.read(reinterpret_cast<char*>(buffer) + got, capacity - got);
                if (n > 0) got += static_cast<int>(n);
            }
            if (got >= capacity || lastLook) return got;
            const auto elapsed = Clock::now() - start;
            milliseconds wait(0);
            if (elapsed >= total) {
                // A thread held up past the deadline still takes what the system queued in
                // the meantime, as the platform's own read would: one more look, no wait.
                lastLook = true;
            } else {
                wait = std::chrono::ceil<milliseconds>(total - elapsed);
                // After a byte, a gap of more than 1 ms ends the read: poll() waits at least
                // the whole millisecond asked for.
                if (got > 0 && wait > milliseconds(1)) wait = milliseconds(1);
            }
            if (!port_.waitForReadyRead(static_cast<int>(wait.count()))) {
                if (NoteError()) return got;
                if (got > 0 && port_.bytesAvailable() == 0) return got;
            }
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
        if (port_.isOpen()) port_.close();
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

    QSerialPort port_;
    bool lost_ = false;
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
    PortOpening Open(const std::string& name, PortOpenMode mode) override {
        PortOpening opening;
        const std::string systemName = SystemPortName(name);
        auto port = std::make_unique<QtSerialPort>();
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
};

} // namespace

PortOpener& SystemPortOpener() {
    static QtPortOpener opener;
    return opener;
}

std::string SystemPortName(const std::string& listName) {
#ifdef Q_OS_WIN
    return listName;
#else
    static const std::regex com("COM([1-6])");
    std::smatch match;
    if (std::regex_match(listName, match, com))
        return "/dev/ttyS" + std::to_string(match[1].str()[0] - '1');
    return listName;
#endif
}
