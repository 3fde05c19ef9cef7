// SPDX-License-Identifier: GPL-3.0-or-later
// Device operations as plain functions over the board's command set: each sends exactly
// its sequence, waits for each reply with a deadline, reports progress through a sink,
// and fails with the operation, the address reached and what to check.
#pragma once

#include "boardcommands.h"

#include <QByteArray>
#include <functional>
#include <optional>

// Progress of an operation; either function may be empty.
// How far an operation has come, in its own units, bytes: `done` of `total`, told before its
// first byte and as it goes. A sink that answers false stops the operation there, as a stop
// asked of the link does. Each front end shows it its own way (the window's bar counts as
// it always has).
struct Progress {
    std::function<bool(qint64 done, qint64 total)> update;
    bool operator()(qint64 done, qint64 total) const { return !update || update(done, total); }
};

// "<Operation> stopped at address 1A2h: <why>." with a hint on what to check.
// `consequence` (what the early end means and what to do now) goes before the hint.
Failure operationFailure(const QString &operation, int address, const Failure &why, const QString &port,
                         const QString &consequence = {});

// Each of the four below ends as out of step (Failure::OutOfStep) when a reply holds
// more bytes than asked, bytes wait before a request, or a byte comes in the quiet time
// after the last reply or before a result that is not a match is reported.

// Blank check: "Z", then "RIRIRIRI" per group of four until a group holds data.
// True when every byte read FF; otherwise `found`, when given, gets the first byte that is
// not FF in the group that holds data, and its address.
struct BlankFound {
    int address = -1;
    quint8 value = 0xFF;
};
Result<bool> blankCheck(BoardCommands &board, int chipSize, const Progress &progress, BlankFound *found = nullptr);

// Read: "Z", then "RI" per byte; the chip's bytes (exactly chipSize of them).
Result<QByteArray> readDevice(BoardCommands &board, int chipSize, const Progress &progress);

struct Difference {
    int address;
    quint8 expected;
    quint8 read;
};
// Verify: "Z", then "RI" per image byte up to the first difference.
Result<std::optional<Difference>> verifyDevice(BoardCommands &board, const QByteArray &image,
                                               const Progress &progress);

struct Mismatch {
    int address;
    quint8 written;
    quint8 read;
};
struct WriteOutcome {
    int written = 0;
    int mismatches = 0;
};
// Write: "Z", then per byte "W", the data byte, the read-back, "I"; at most chipSize
// bytes. `onMismatch` runs for each byte read back different, before the write goes on.
// `paddedFrom`: where the file's image ended and FF was added up to what follows it (a
// serial number); that FF is stepped past, not written: a byte of FF programs nothing.
Result<WriteOutcome> writeDevice(BoardCommands &board, const QByteArray &image, int chipSize,
                                 const Progress &progress, const std::function<void(const Mismatch &)> &onMismatch,
                                 int paddedFrom = -1);

// A reply compared with one expected byte: equal only when it is exactly that byte
// (an empty reply stands for 00).
bool replyEquals(const QByteArray &reply, quint8 expected);

// Hex as the messages write it: upper case, no leading zeros.
QString hexNumber(int value);
