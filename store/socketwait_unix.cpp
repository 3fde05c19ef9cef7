// SPDX-License-Identifier: GPL-3.0-or-later
// SocketWait on POSIX: poll() on the socket and on a pipe that a stop writes into.
#include "socketwait.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

struct SocketWait::Private {
    int pipe[2] = {-1, -1};
    std::atomic<bool> stopped = false;
};

SocketWait::SocketWait() : d(std::make_unique<Private>())
{
    if (::pipe(d->pipe) == 0) {
        for (int fd : d->pipe)
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(d->pipe[1], F_SETFL, O_NONBLOCK);
    }
}

SocketWait::~SocketWait()
{
    for (int fd : d->pipe)
        if (fd >= 0)
            ::close(fd);
}

void SocketWait::stop()
{
    d->stopped = true;
    if (d->pipe[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(d->pipe[1], &byte, 1);
    }
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
        pollfd fds[2] = {{d->pipe[0], POLLIN, 0}, {socket, short(write ? POLLOUT : POLLIN), 0}};
        const qint64 left = deadline.remainingTime();
        if (left == 0)
            return TimedOut;
        const int n = ::poll(fds, socket >= 0 ? 2 : 1, left < 0 ? -1 : int(std::min<qint64>(left, 1 << 30)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Failed;
        if (d->stopped || fds[0].revents)
            return Stopped;
        if (n == 0)
            return TimedOut;
        // An error or a hang-up on the socket is for libpq to read and tell.
        return Ready;
    }
}
