// How long a read waits for the next byte, shared by the serial ports of every platform.
#include "link/SerialPort.h"

double ReadHoldMs(PortKind kind, int baud, int usbTimerMs) {
    const double character = 10000.0 / (baud > 0 ? baud : 9600);
    switch (kind) {
    case PortKind::Uart:
        // At most 8 characters between two FIFO interrupts while the line is busy, at most
        // 7 + 4 before the tail's; 12 covers both.
        return 1.0 + 12 * character;
    case PortKind::UsbAdapter:
        // The timer, one USB frame to poll the packet, and the line's own millisecond.
        return usbTimerMs + 1.0 + 1.0 + character;
    case PortKind::PseudoTerminal:
    case PortKind::Unknown:
        return 0;
    }
    return 0;
}
