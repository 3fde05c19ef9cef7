// Every wait for the board has a limit; they are all here, with the reason for each value.
#pragma once

#include <chrono>

namespace timeouts {
using namespace std::chrono_literals;

// Identify gives the board one second from the start of the command to send the three
// signature bytes (56 ms of line time at 9600 baud, the rest is slack for a slow adapter).
inline constexpr std::chrono::milliseconds identify = 1000ms;

// Any other single reply (a read, a written byte read back, a group of four reads).
// The slowest real reply is a byte write: about 1 ms programming plus two bytes on the
// line; two seconds is far above that and still short enough that an unplugged board
// is reported before the user starts wondering.
inline constexpr std::chrono::milliseconds reply = 2000ms;

// A device node that has just appeared (a USB adapter plugged in) may not carry its
// group yet; the open is tried again for this long before the failure is reported.
inline constexpr std::chrono::milliseconds openRetry = 800ms;
inline constexpr std::chrono::milliseconds openRetryStep = 100ms;
}  // namespace timeouts
