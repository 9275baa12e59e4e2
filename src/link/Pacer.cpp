#include "link/Pacer.h"

#ifdef _WIN32
#include <windows.h>

#include <mmsystem.h>
#else
#include <cerrno>
#include <ctime>
#endif

void RealPacer::Sleep(int milliseconds) {
    if (milliseconds <= 0) return;
#ifdef _WIN32
    // Windows sleeps in steps of its timer tick, 15.6 ms unless asked for 1 ms; the
    // protocol's 20 ms waits would become 31 ms. Asked once, for the whole run.
    static const bool fineTimer = timeBeginPeriod(1) == TIMERR_NOERROR;
    (void)fineTimer;
    ::Sleep(static_cast<DWORD>(milliseconds));
#else
    timespec rest{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&rest, &rest) == -1 && errno == EINTR) {
    }
#endif
}

Pacer& DefaultPacer() {
    static RealPacer pacer;
    return pacer;
}
