// The serial port as the block protocol and the sessions see it: a handful of blocking
// operations, so the protocol can be driven by a scripted port in tests and by the
// system's serial ports (or a pseudo-terminal) in the product.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

enum class PurgeKind {
    Clear,         // drop pending input and output (once, while configuring)
    AbortAndClear, // also abort pending operations (after every command phase, at the end)
};

class SerialPort {
public:
    virtual ~SerialPort() = default;

    // Sets the line rate, keeping every other line setting; false when the port refuses it.
    virtual bool SetRate(int baud) = 0;
    // Sends `count` bytes. Never blocks longer than the port's write time-out; what was
    // not sent by then is dropped (the protocol notices by the answer that does not come).
    // Input still queued from before is dropped first: every frame sent asks for a new
    // answer, so those bytes can only be the late end of an earlier one, and must not be
    // read as the start of this one.
    virtual void Write(const std::uint8_t* data, int count) = 0;
    // One read of at most `capacity` bytes. Returns when `capacity` bytes have arrived, or
    // after 10 ms + 1 ms per byte asked for in total, or when the bytes stop: after a byte,
    // no next one for the port's hold (ReadHoldMs), the longest pause its adapter or driver
    // can put into bytes that came without pause on the line. A frame still arriving in
    // pieces is thus collected whole. Returns the number of bytes stored (0 when none came).
    virtual int Read(std::uint8_t* buffer, int capacity) = 0;
    virtual void Purge(PurgeKind kind) = 0;
    // Closes the port; nothing else may be called afterwards. Idempotent.
    virtual void Close() = 0;
};

// How opening and configuring a port ended.
enum class PortOpenOutcome {
    Opened,
    CannotOpen,       // missing, or held by another program; no port
    StateUnreadable,  // the current line settings could not be read (write sessions only)
    EventMaskRefused, // the receive-event mask was refused
};

// What the session asks of the opener: a write session stops at the first failure, a read
// session carries on past an unreadable state (and past a refused event mask, which it
// reports and then uses the port without the queue sizes and the initial purge).
enum class PortOpenMode { Write, Read };

struct PortOpening {
    PortOpenOutcome outcome = PortOpenOutcome::CannotOpen;
    // Open for every outcome but CannotOpen; the session closes it.
    std::unique_ptr<SerialPort> port;
    // CannotOpen only: one Russian line saying why, when the system says so; else empty.
    std::string reason;
};

// Opens a port by its system name and configures it: 9600 baud, 8 data bits, no parity,
// 1 stop bit, every other line setting as the port had it, the read time-outs above.
class PortOpener {
public:
    virtual ~PortOpener() = default;
    virtual PortOpening Open(const std::string& name, PortOpenMode mode) = 0;
};

// How a port hands the bytes it receives to the program, as far as the system tells.
enum class PortKind {
    Uart,           // a serial chip: its 8-byte receive FIFO interrupts when full, or 4
                    // character times after the last byte
    UsbAdapter,     // a USB serial adapter: what has arrived goes over in a packet when its
                    // latency timer fires (16 ms unless the system says otherwise)
    PseudoTerminal, // a program on the other side, which may hand bytes over in any pieces
    Unknown,
};

// What the system says the port at `systemName` is (Linux: the tty's device in sysfs, the
// pseudo-terminal majors); Unknown elsewhere.
PortKind PortKindOf(const std::string& systemName);

// How long a read waits after a byte for the next before it ends, in ms: the longest pause
// this kind of port can put between bytes that followed each other on the line, plus the
// 1 ms the line itself may leave. 0 where no bound is known (a pseudo-terminal, an unknown
// port): the read then ends only with its capacity or its total time-out. `usbTimerMs` is
// a USB adapter's latency timer.
double ReadHoldMs(PortKind kind, int baud, int usbTimerMs);

// The system's serial ports (QSerialPort), opened for this process alone. On open the
// serial driver is asked for low latency where it allows it (Linux: ASYNC_LOW_LATENCY),
// and the flag is given back as it was on close.
PortOpener& SystemPortOpener();
// The same, taking every port for one of this kind (tests on pseudo-terminals).
PortOpener& SystemPortOpenerAs(PortKind kind);

// The system name of a port of the window's list: "COM1".."COM6" become "/dev/ttyS0".."5"
// on Linux and stay as they are on Windows; any other name or path is returned unchanged.
std::string SystemPortName(const std::string& listName);

// How long a write may block before its bytes are dropped. A frame is at most 9 bytes,
// under 10 ms even at 9600 baud; a second leaves room for a slow adapter and still ends
// a transaction attempt on a stuck line.
inline constexpr int kWriteTimeoutMs = 1000;
