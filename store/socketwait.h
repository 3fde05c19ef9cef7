// SPDX-License-Identifier: GPL-3.0-or-later
// The one wait on the server's socket, with a limit, that a stop from another thread ends
// at once. Its system calls are in socketwait_unix.cpp and socketwait_win.cpp.
#pragma once

#include <QDeadlineTimer>
#include <memory>

class SocketWait {
public:
    enum Outcome { Ready, TimedOut, Stopped, Failed };
    SocketWait();
    ~SocketWait();
    SocketWait(const SocketWait &) = delete;
    SocketWait &operator=(const SocketWait &) = delete;
    // Until `socket` can be read (or written, `write`), the deadline passes or stop() is
    // called; a socket of -1 waits for the deadline or the stop alone.
    Outcome wait(int socket, bool write, QDeadlineTimer deadline);
    // Ends the wait in hand and every later one. From any thread.
    void stop();
    bool stopped() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
