// The three values the window and the link share for the current run. The window sets
// them on its own thread while a session reads them on its worker, so each is atomic.
#pragma once

#include <atomic>

// The device's address on the communication line, 0..63; sent with every request.
extern std::atomic<int> LineAddress;
// The interface unit's address, 0..7; sent in the handshake.
extern std::atomic<int> UnitAddress;
// 1 while a block loop may go on; "Стоп" clears it and the loop polls it between blocks.
extern std::atomic<int> TransferRunning;
