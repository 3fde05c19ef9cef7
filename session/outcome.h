// SPDX-License-Identifier: GPL-3.0-or-later
// What a session's command did, as facts: which command, the step that ended it, where,
// which bytes, which chip. The words for a person are made from it (wording.h).
#pragma once

#include "chips.h"
#include "result.h"

#include <QByteArray>
#include <functional>

enum class Operation { Identify, BlankCheck, Read, Verify, Write, Erase, Lock, Program };
enum class Step { Identify, Erase, BlankCheck, Read, Write, Verify, Lock };
QString stepName(Step step);  // "Blank check"

struct Outcome {
    enum Kind {
        Done,         // every step passed
        NotOpened,    // the port would not open; `failure` says why
        NoteRefused,  // the note of a chip change could not be kept: nothing was sent
        NoChip,       // an empty socket (or no board): nothing was sent after the signature read
        UnknownChip,  // a signature of no known chip
        OtherChip,    // a known chip, not the one asked for
        TooLong,      // the image does not fit the chip
        DataFound,    // the blank check found `read` at `address`, the first byte not FF
        WrongByte,    // bytes read back wrong while writing: `wrongBytes`, the first at `address`
        Difference,   // the verify found `read` where `expected` was, at `address`
        LinkFailure,  // no answer, a lost port, replies out of step, a stop; `failure` says which
        Withheld,     // the caller withheld the write (no serial number to give): `failure` says why
    };
    Operation operation = Operation::Identify;
    Kind kind = Done;
    Step step = Step::Identify;      // the step in hand when it ended
    const ChipInfo *chip = nullptr;  // the chip identified, when one was
    QByteArray signature;            // the reply to the signature read, as it came
    int address = -1;
    quint8 expected = 0, read = 0;
    int wrongBytes = 0;
    int imageSize = 0;               // TooLong: the image's length
    int lockBits = 0;                // lock: bits 1 to this one
    bool erased = false;             // program: the chip was erased before the blank check
    QByteArray data;                 // read: the chip's bytes
    Failure failure;                 // NotOpened, NoteRefused, LinkFailure
    const ChipInfo *wanted = nullptr;  // OtherChip: the chip asked for
    bool ok() const { return kind == Done; }
};

struct Progress;
// Gives a step its progress sink as the step starts (after the checks before it).
using ProgressFor = std::function<Progress(Step)>;
Progress sink(const ProgressFor &progressFor, Step step);  // none when there is no such function

struct BlankFound;
// The outcome of a blank check that found `f`.
void setDataFound(Outcome &out, const BlankFound &f);
struct Mismatch;
// The outcome of a write whose bytes read back wrong: `count` of them, the first `first`.
void setWrongBytes(Outcome &out, int count, const Mismatch &first);
// The outcome of a verify that found `d`.
struct Difference;
void setDifference(Outcome &out, const Difference &d);
