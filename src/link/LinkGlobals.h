// The three values the window and the link share for the current run.
#pragma once

// The device's address on the communication line, 0..63; sent with every request.
extern int LineAddress;
// The interface unit's address, 0..7; sent in the handshake.
extern int UnitAddress;
// 1 while a block loop may go on; "Стоп" clears it and the loop polls it between blocks.
extern int TransferRunning;
