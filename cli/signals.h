// SPDX-License-Identifier: GPL-3.0-or-later
// How voralith-cli meets its process: standard streams it was started without, Ctrl+C and
// SIGTERM turned into a stop its event loop sees, and standard input read so that such a
// stop also ends a question. One file per system.
#pragma once

#include <functional>

namespace stopsignals {

// Before anything opens a file: a standard stream the process was started without gets a
// stand-in that refuses writes, so that no file or port opened later takes its number and
// receives what was meant for it.
void guardStandardStreams();

// A write to a pipe whose reader has gone fails (EPIPE) instead of killing the process.
// The first Ctrl+C or SIGTERM is remembered and calls `onStop` from the event loop; a
// second one while the command is stopping ends the program at once.
void install(std::function<void()> onStop);

// The exit status the stop asks for, as a shell tells a death by its signal: 130 for
// Ctrl+C (SIGINT), 143 for SIGTERM; 0 while none came.
int stopStatus();

// At most `size` bytes of standard input, waiting until some come: 0 at its end, -1 when
// a stop came (before or during the wait) or the input cannot be read.
long long readInput(char *buffer, long long size);

// The width of the terminal standard error writes to; 80 when it cannot be told.
int terminalColumns();

// A handle that becomes ready to read once a stop came, and stays so: a wait on a file
// (a log that is a pipe) waits on it too, so that every stop ends every wait. -1 where
// there is none.
int stopHandle();

// Standard input when it is a terminal: what was typed and not yet read is thrown away,
// and keys typed are echoed or not. The terminal's own settings come back at the exit,
// however the program ends. Nothing where standard input is no terminal.
void discardTypedInput();
void echoTypedInput(bool on);

}  // namespace stopsignals
