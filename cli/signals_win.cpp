// SPDX-License-Identifier: GPL-3.0-or-later
// Stop signals and standard streams on Windows: a console control handler (Ctrl+C,
// Ctrl+Break, the console closed) posts the stop to the event loop and cancels a read of
// standard input in hand.
#include "signals.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <windows.h>

namespace stopsignals {
namespace {
std::atomic<int> g_signal{0};
HANDLE g_mainThread = nullptr;
std::function<void()> g_onStop;

BOOL WINAPI onControl(DWORD type)
{
    int none = 0;
    if (!g_signal.compare_exchange_strong(none, type == CTRL_C_EVENT ? SIGINT : SIGTERM))
        return FALSE;  // a second one while stopping: the default handler ends the process
    // The handler runs on a thread of its own; the stop belongs to the event loop's.
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [] { if (g_onStop) g_onStop(); }, Qt::QueuedConnection);
    if (g_mainThread)
        CancelSynchronousIo(g_mainThread);  // a prompt waiting in ReadFile
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
        // The system ends the process when this returns: the command gets the time it
        // allows (5 s) to close the port.
        WaitForSingleObject(g_mainThread, 4500);
    }
    return TRUE;
}
}  // namespace

void guardStandardStreams()
{
    // Windows hands out no standard stream's number to a later open: the C runtime's
    // writes to a stream the process was started without fail and are told.
}

void install(std::function<void()> onStop)
{
    g_onStop = std::move(onStop);
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &g_mainThread, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    SetConsoleCtrlHandler(onControl, TRUE);
    // The sites' lines are kept in place with the terminal's cursor sequences, which a
    // console takes only when asked to.
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(error, &mode))
        SetConsoleMode(error, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

int stopStatus()
{
    const int s = g_signal.load();
    return s ? 128 + s : 0;
}

long long readInput(char *buffer, long long size)
{
    // Checked before and after: a Ctrl+C that comes during a console read ends it with
    // nothing read, or the handler cancels it.
    if (g_signal.load())
        return -1;
    DWORD got = 0;
    const BOOL ok = ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, DWORD(size), &got, nullptr);
    if (g_signal.load())
        return -1;
    if (!ok)
        return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;  // a pipe whose writer has gone: its end
    return got;
}

int terminalColumns()
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
        return info.srWindow.Right - info.srWindow.Left + 1;
    return 80;
}

int stopHandle()
{
    return -1;  // the log's writes on Windows do not wait on a reader
}

void discardTypedInput()
{
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(input, &mode))
        FlushConsoleInputBuffer(input);
}

void echoTypedInput(bool on)
{
    static DWORD original = 0;
    static bool saved = false;
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(input, &mode))
        return;
    if (!saved) {
        original = mode;
        saved = true;
        std::atexit([] { SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), original); });
    }
    const DWORD echo = on ? original & ENABLE_ECHO_INPUT : 0;
    SetConsoleMode(input, (mode & ~DWORD(ENABLE_ECHO_INPUT)) | echo);
}

}  // namespace stopsignals
