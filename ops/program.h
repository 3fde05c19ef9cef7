// SPDX-License-Identifier: GPL-3.0-or-later
// The operations that change the chip as a whole: chip erase, the lock bits, and program,
// which runs identify, erase, blank check, write and verify as one command.
#pragma once

#include "identify.h"
#include "operations.h"

#include <QByteArray>
#include <QString>
#include <functional>

// The confirmation of a command that changes the chip: "Are you sure ?", after the
// explanation when there is one, paragraphs separated by a blank line (CR LF CR LF).
QString confirmationText(const QString &explanation = {});
// What programming lock bits 1 to `bit` (1 to 3) does, as the confirmation explains it.
QString lockBitsExplanation(int bit);

// Chip erase: "E", nothing before it. The board sends nothing back, so the command
// counts as given once it has left for the line; a port that is not open, refuses the
// byte or is lost before it has left is told.
Status eraseDevice(BoardCommands &board);
// Lock bits 1 to `bits`: "1" once for each, as sends of their own.
Status lockDevice(BoardCommands &board, int bits);

// What an empty socket answers to the signature read: nothing or a short reply (no
// board, or nothing driving the line), or three bytes all FF or all 00.
bool socketEmpty(const QByteArray &signatureReply);

// Whether the identified socket can be worked on: a chip of the table, and the one asked
// for when `wanted` names one. Otherwise `why` says what was found.
enum class ChipCheck { Fine, NoChip, UnknownChip, OtherChip };
ChipCheck checkChip(const IdentifyOutcome &id, const ChipInfo *wanted, QString *why);
// "AT89C52"
QString chipName(const ChipInfo &chip);

enum class ProgramStep { Identify, Erase, BlankCheck, Write, Verify };
QString stepName(ProgramStep step);  // "Blank check"

struct ProgramOptions {
    bool erase = true;               // false: the chip must already be blank
    const ChipInfo *chip = nullptr;  // any other chip is refused
};

struct ProgramOutcome {
    enum End {
        Programmed,   // every step passed
        NoChip,       // socketEmpty(): nothing was sent after the signature read
        UnknownChip,  // a signature of no known chip
        OtherChip,    // a known chip, but not the one asked for
        TooLong,      // the image does not fit the chip
        DataFound,    // the blank check found data
        WrongByte,    // bytes read back wrong while writing
        Difference,   // the verify found a difference
        LinkFailure,  // no answer, a lost port, replies out of step, a stop
    };
    End end = Programmed;
    ProgramStep step = ProgramStep::Identify;  // the step that ended it
    IdentifyOutcome id;
    QString message;  // which step, where and what; empty when programmed
    Failure::Kind linkFailure = Failure::Error;  // the kind, for LinkFailure
    bool ok() const { return end == Programmed; }
};

// Identify, erase (unless told not to), blank check, write, verify; the first step that
// fails ends it. Nothing is written to a chip that is missing, unknown, not the one asked
// for, too small for the image or not blank. `progressFor` gives each step its progress
// sink as the step starts.
[[nodiscard]] ProgramOutcome programDevice(BoardCommands &board, const QByteArray &image,
                                           const ProgramOptions &options,
                                           const std::function<Progress(ProgramStep)> &progressFor = {});
