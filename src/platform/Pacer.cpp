#include "platform/Pacer.h"

#include <cerrno>
#include <ctime>

void RealPacer::Sleep(int milliseconds) {
    if (milliseconds <= 0) return;
    timespec rest{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&rest, &rest) == -1 && errno == EINTR) {
    }
}

Pacer& DefaultPacer() {
    static RealPacer pacer;
    return pacer;
}
