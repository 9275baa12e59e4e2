// The block transaction protocol spoken with the interface unit: checksums, the rate
// search, the 4-byte block transaction and the link error messages.
#pragma once

#include "link/SerialPort.h"
#include "link/TransferView.h"

#include <cstdint>
#include <string>

class Pacer;

// Line rates by rate index, the order of the rate search.
inline constexpr int kRateCount = 4;
inline constexpr int kRates[kRateCount] = {9600, 19200, 38400, 57600};

// The fixed waits, in milliseconds.
inline constexpr int kWaitBeforeRequest = 70; // before every command frame and fetch request
inline constexpr int kWaitBeforeRead = 20;    // between sending and reading
inline constexpr int kAttemptsPerPhase = 10;

// Link error codes.
enum LinkError : std::uint8_t {
    kLinkOk = 0,
    kLinkNoAnswer = 1,
    kLinkBadEcho = 2,
    kLinkBadXor = 3,
    kLinkNotAccepted = 4,
    kLinkNotReady = 5,
    kLinkTooShort = 6,
    kLinkBadSum = 7,
    kLinkBadAddress = 8,
    kLinkVerifyFailed = 9,
    kLinkNoDevice = 10,
};

enum class Direction { Write, Read };

// Sets `out` to the XOR of the first `length` bytes (0 when length <= 0). `out` may be the
// byte right after the covered ones.
void XorChecksum(const std::uint8_t* buffer, int length, std::uint8_t& out);
// True when the XOR of all `length` bytes, the last included, is zero (or length <= 0).
bool XorCheck(const std::uint8_t* buffer, int length);

struct HandshakeResult {
    std::uint8_t code = kLinkOk; // of the last rate tried; 0 on success
    bool rateRefused = false;    // the port refused a rate: a configuration failure
    int rateIndex = -1;          // the rate that answered
};

// Finds the interface unit at `unitAddress` (its low 3 bits): tries 9600..57600 in order and
// leaves the port at the first rate that answers.
HandshakeResult UnitHandshake(SerialPort& port, Pacer& pacer, int unitAddress);

// Writes or reads the 4 bytes at `address` (0..2047) of the device at `lineAddress` (0..63).
// Returns a link error code 0..9. A read stores into `data` only on 0.
std::uint8_t TransferBlock(SerialPort& port, int address, std::uint8_t* data, Direction direction,
                           Pacer& pacer, int lineAddress);

// The message of a link error code 1..10; empty for any other code.
std::string LinkErrorText(int code);
// Shows the message of `code` (no owner, caption "Error", error icon); nothing for 0 or a
// code without a message.
void ShowLinkError(int code, TransferView& view);
