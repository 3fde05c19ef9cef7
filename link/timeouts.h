// SPDX-License-Identifier: GPL-3.0-or-later
// Every wait for the board has a limit; they are all here, with the reason for each value.
// A test run may shorten them, so that a silent board ends a test at once: the environment
// variable VORALITH_LIMITS ("reply=300,identify=300", in milliseconds, any of the names
// below) is read once, when a limit is first asked for.
#pragma once

#include <chrono>

namespace timeouts {
using namespace std::chrono_literals;

class Limit {
public:
    constexpr Limit(const char *name, std::chrono::milliseconds standard) : m_name(name), m_standard(standard) {}
    // The limit in force: the standard value, unless the environment gives another.
    std::chrono::milliseconds value() const;
    operator std::chrono::milliseconds() const { return value(); }
    std::chrono::milliseconds::rep count() const { return value().count(); }

private:
    const char *m_name;
    std::chrono::milliseconds m_standard;
};

// Identify gives the board one second from the start of the command to send the three
// signature bytes (56 ms of line time at 9600 baud, the rest is slack for a slow adapter).
inline constexpr Limit identify{"identify", 1000ms};

// Any other single reply (a read, a written byte read back, a group of four reads).
// The slowest real reply is a byte write: about 1 ms programming plus two bytes on the
// line; two seconds is far above that and still short enough that an unplugged board
// is reported before the user starts wondering.
inline constexpr Limit reply{"reply", 2000ms};

// The protocol has no framing, so a late byte can make every later reply answer the
// request before it, in the same rhythm. After an operation's last reply, and before a
// byte read back different, a difference or a group holding data is reported, the line
// must stay quiet this long; a byte that comes meanwhile means the replies are out of
// step. Far above one byte at 9600 baud (1.04 ms) and above the 16 ms a USB serial
// adapter may hold a byte by default (its latency timer), with room for a busy machine.
inline constexpr Limit quiet{"quiet", 50ms};

// A device node that has just appeared (a USB adapter plugged in) may not carry its
// group yet; the open is tried again for this long before the failure is reported.
inline constexpr Limit openRetry{"openRetry", 800ms};
inline constexpr Limit openRetryStep{"openRetryStep", 100ms};
}  // namespace timeouts
