// SPDX-License-Identifier: GPL-3.0-or-later
// The operations that change the chip as a whole, chip erase and the lock bits, and how a
// socket's signature is judged.
#pragma once

#include "identify.h"
#include "operations.h"

#include <QByteArray>
#include <QString>
#include <functional>

// Chip erase: "E", nothing before it. The board sends nothing back, so the command
// counts as given once it has left for the line; a port that is not open, refuses the
// byte or is lost before it has left is told.
Status eraseDevice(BoardCommands &board);
// Lock bits 1 to `bits`: "1" once for each, as sends of their own.
Status lockDevice(BoardCommands &board, int bits);

// What an empty socket answers to the signature read: nothing or a short reply (no
// board, or nothing driving the line), or three bytes all FF or all 00.
bool socketEmpty(const QByteArray &signatureReply);
// Of those, the one answer that is a board with nothing in its socket: FF FF FF. Nothing or
// a short reply is a board that does not answer (a cable pulled), a failure wherever chips
// are awaited one after another.
bool boardSaysEmpty(const QByteArray &signatureReply);

// Whether the identified socket can be worked on: a chip of the table, and the one asked
// for when `wanted` names one (the words for what was found are the session's).
enum class ChipCheck { Fine, NoChip, UnknownChip, OtherChip };
ChipCheck checkChip(const IdentifyOutcome &id, const ChipInfo *wanted);
