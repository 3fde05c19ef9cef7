// SPDX-License-Identifier: GPL-3.0-or-later
// Stop signals and standard streams on Unix: the handler writes a byte into a pipe that a
// QSocketNotifier reads; a prompt waits in poll() on standard input and that pipe.
#include "signals.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <cstdlib>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace stopsignals {
namespace {
int g_pipe[2] = {-1, -1};
int g_latch[2] = {-1, -1};  // written once at the stop, never read
volatile std::sig_atomic_t g_signal = 0;
termios g_terminal{};  // standard input's settings as the program found them
volatile std::sig_atomic_t g_terminalSaved = 0;

void restoreTerminal()
{
    if (g_terminalSaved)
        ::tcsetattr(STDIN_FILENO, TCSANOW, &g_terminal);
}

void onSignal(int sig)
{
    if (g_signal != 0) {
        // The process ends by the signal: the terminal's echo comes back first.
        restoreTerminal();
        std::signal(sig, SIG_DFL);
        std::raise(sig);
        return;
    }
    g_signal = sig;
    const int saved = errno;
    const char c = char(sig);
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &c, 1);
    [[maybe_unused]] const ssize_t m = ::write(g_latch[1], &c, 1);
    errno = saved;
}
}  // namespace

void guardStandardStreams()
{
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // Open for reading only: a write fails (EBADF) and is told like any other, and
        // reading it finds the end at once.
        const int standIn = ::open("/dev/null", O_RDONLY);
        if (standIn >= 0 && standIn != fd) {
            ::dup2(standIn, fd);
            ::close(standIn);
        }
    }
}

void install(std::function<void()> onStop)
{
    std::signal(SIGPIPE, SIG_IGN);
    // A file that grows past the size this process may write fails its write (EFBIG), and
    // is told, instead of ending the process with nothing said.
    std::signal(SIGXFSZ, SIG_IGN);
    // Without the pipe Ctrl+C ends the program at once, as it would by default.
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0 || ::pipe2(g_latch, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM}) {
        // A signal the caller ignores (a job a script put in the background) stays ignored.
        struct sigaction old {};
        if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
            ::sigaction(sig, &sa, nullptr);
    }
    auto *notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [onStop = std::move(onStop)] {
        char c;
        while (::read(g_pipe[0], &c, 1) > 0) {
        }
        onStop();
    });
}

int stopStatus()
{
    return g_signal ? 128 + g_signal : 0;
}

long long readInput(char *buffer, long long size)
{
    for (;;) {
        // The flag first: the notifier may have taken the pipe's byte already.
        if (g_signal)
            return -1;
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {g_pipe[0], POLLIN, 0}};
        const int ready = ::poll(fds, g_pipe[0] >= 0 ? 2 : 1, -1);
        if (ready < 0 && errno != EINTR)
            return -1;
        if (g_signal)
            return -1;
        if (ready > 0 && fds[0].revents) {
            const ssize_t got = ::read(STDIN_FILENO, buffer, size_t(size));
            if (got >= 0)
                return got;
            if (errno != EINTR && errno != EAGAIN)
                return -1;
        }
    }
}

int terminalColumns()
{
    winsize size{};
    return ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

int stopHandle()
{
    return g_latch[0];
}

void discardTypedInput()
{
    if (::isatty(STDIN_FILENO))
        ::tcflush(STDIN_FILENO, TCIFLUSH);
}

void echoTypedInput(bool on)
{
    termios now{};
    if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &now) != 0)
        return;
    if (!g_terminalSaved) {
        g_terminal = now;
        g_terminalSaved = 1;
        std::atexit(restoreTerminal);
    }
    // Line editing stays as the user has it; only the echo follows the prompt.
    const tcflag_t echo = on ? g_terminal.c_lflag & (ECHO | ECHONL) : 0;
    now.c_lflag = (now.c_lflag & ~tcflag_t(ECHO | ECHONL)) | echo;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &now);
}

}  // namespace stopsignals
