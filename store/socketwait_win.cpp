// SPDX-License-Identifier: GPL-3.0-or-later
// SocketWait on Windows: WSAPoll() in slices, since it cannot wait on an event as well; a
// stop is seen within one slice.
#include "socketwait.h"

#include <winsock2.h>

#include <algorithm>
#include <atomic>

namespace {
constexpr int kSliceMs = 50;  // how soon a stop ends a wait
}

struct SocketWait::Private {
    std::atomic<bool> stopped = false;
};

SocketWait::SocketWait() : d(std::make_unique<Private>()) {}
SocketWait::~SocketWait() = default;

void SocketWait::stop()
{
    d->stopped = true;
}

bool SocketWait::stopped() const
{
    return d->stopped;
}

SocketWait::Outcome SocketWait::wait(int socket, bool write, QDeadlineTimer deadline)
{
    for (;;) {
        if (d->stopped)
            return Stopped;
        const qint64 left = deadline.remainingTime();
        if (left == 0)
            return TimedOut;
        const int slice = int(left < 0 ? kSliceMs : std::min<qint64>(left, kSliceMs));
        if (socket < 0) {
            Sleep(DWORD(slice));
            continue;
        }
        WSAPOLLFD fd{SOCKET(socket), short(write ? POLLWRNORM : POLLRDNORM), 0};
        const int n = WSAPoll(&fd, 1, slice);
        if (n < 0)
            return Failed;
        if (n > 0)
            return Ready;
    }
}
