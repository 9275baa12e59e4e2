// The time the protocol's fixed waits alone take for one session: each rate tried before
// the right one costs its 20 ms wait and a read that runs its whole 15 ms time-out; the
// right one its 20 ms wait; every block transaction 2 x (70 + 20) ms. A session can only
// come close to it from above.
#pragma once

#include "link/Protocol.h"

// `rateIndex`: the rate that answers (0 for 9600); `transactions`: 512 for a read, 514 for
// a write (its two identity reads).
inline double ProtocolFloorMs(int rateIndex, int transactions) {
    return rateIndex * (kWaitBeforeRead + 10 + 5) + kWaitBeforeRead +
           transactions * 2.0 * (kWaitBeforeRequest + kWaitBeforeRead);
}
