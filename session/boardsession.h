// SPDX-License-Identifier: GPL-3.0-or-later
// One board on one port: the link and the board's commands, the chip identified and judged
// by one rule, the note kept around every change of the chip, and each command run to an
// outcome. The window and the command line both go through a session and only decide how
// to show what it returns. A session shares nothing with another: several run at once,
// each on its own port (each in the thread that made it).
#pragma once

#include "boardcommands.h"
#include "identify.h"
#include "operations.h"
#include "outcome.h"
#include "seriallink.h"
#include "workfolder.h"

#include <functional>

class BoardSession {
public:
    // `workFolder`: where the notes of chip changes are kept.
    explicit BoardSession(QString workFolder);

    SerialLink &link() { return m_link; }
    BoardCommands &board() { return m_board; }
    // The chip the last identification found and judged fit; null before one, or after one
    // that found none.
    const ChipInfo *chip() const { return m_chip; }
    // Opens the port when it is not open (a port lost earlier is opened again).
    Status open() { return m_link.ensureOpen(); }
    // The notes that changes on this port's device left when they broke off.
    QList<UnfinishedChange> unfinishedChanges() const;

    // Identify: the signature read, and the chip judged: one of the table, and `wanted`
    // when given. `beforeEachStep` runs before every address step (the window's events).
    Outcome identify(const ChipInfo *wanted = nullptr, const std::function<void()> &beforeEachStep = {});
    // The commands below work on the chip identified last.
    Outcome blankCheck(const ProgressFor &progressFor);
    Outcome read(const ProgressFor &progressFor);
    Outcome verify(const QByteArray &image, const ProgressFor &progressFor);
    // Writes what fits the chip; `onMismatch` runs for each byte read back wrong.
    // `paddedFrom`: where FF was added to the file's image (writeDevice).
    Outcome write(const QByteArray &image, const ProgressFor &progressFor,
                  const std::function<void(const Mismatch &)> &onMismatch = {}, int paddedFrom = -1);
    Outcome erase();
    Outcome lock(int bits);

    struct ProgramOptions {
        bool erase = true;                 // false: the chip must already be blank
        const ChipInfo *wanted = nullptr;  // any other chip is refused
        // The chip identified, before anything is changed: a failure ends it, Withheld.
        std::function<Status(const ChipInfo &chip)> checkChip;
        // Once the chip is found blank, just before its first byte is written: the image to
        // write and verify (a serial number put in), or why nothing is written (Withheld).
        std::function<Status(QByteArray *image)> beforeWrite;
        // Lock bits 1 to this one (1 to 3) programmed once the chip is verified, as lock()
        // programs them; 0: none. Bits 2 and 3 stop the chip from being read back.
        int lockBits = 0;
    };
    // Identify, erase (unless told not to), blank check, write, verify, and the lock bits
    // when asked; the first step that fails ends it. Nothing is written to a chip that is missing, unknown, not the one
    // asked for, too small for the image or not blank. `progressFor` gives each step its
    // progress sink as the step starts.
    Outcome program(const QByteArray &image, const ProgramOptions &options,
                    const ProgressFor &progressFor = {});

private:
    // The port opened and the note of a change written, or why the change must not start.
    std::optional<Outcome> beginChange(Operation operation, const QString &noteName,
                                       std::optional<ChipChange> *change);
    void judge(Outcome &out, const IdentifyOutcome &id, const ChipInfo *wanted);
    bool programChecks(Outcome &out, const QByteArray &image, const ProgramOptions &options,
                       const ProgressFor &progressFor);
    void programWrite(Outcome &out, const QByteArray &image, const ProgressFor &progressFor, int paddedFrom);
    void programLock(Outcome &out, int bits, const ProgressFor &progressFor);

    SerialLink m_link;
    BoardCommands m_board{m_link};
    QString m_workFolder;
    const ChipInfo *m_chip = nullptr;
};
