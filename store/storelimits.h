// SPDX-License-Identifier: GPL-3.0-or-later
// Every wait for the store's server has a limit; they are all here, with the reason for each
// value. VORALITH_LIMITS shortens them as it does the board's (link/timeouts.h).
#pragma once

#include "timeouts.h"

namespace storelimits {
using namespace std::chrono_literals;
using timeouts::Limit;

// Connecting: the address looked up, TCP, TLS and the password exchange. A server on the
// local network answers in milliseconds; five seconds leaves a busy one room and tells an
// operator of a wrong address before they wonder.
inline constexpr Limit connect{"storeConnect", 5000ms};

// One statement's answer. Taking a number waits for the other stations' takes of the same
// counter, each one short statement; ten seconds is far above a queue of a hundred of them.
inline constexpr Limit query{"storeQuery", 10000ms};

// The connection lost during a run: how long the chips wait for the store to answer again
// before the run stops. A server restarted after a crash replays its log in seconds.
inline constexpr Limit reconnect{"storeReconnect", 30000ms};
// Between two attempts to connect again meanwhile.
inline constexpr Limit reconnectStep{"storeReconnectStep", 250ms};
}  // namespace storelimits
