// SPDX-License-Identifier: GPL-3.0-or-later
// The words the program shows, written once: what an outcome says to the person who gave
// the command. Where the window and the shell say different things (the window names its
// menus, the shell its commands), both are made here from the same facts.
#pragma once

#include "operations.h"
#include "outcome.h"
#include "portmap.h"
#include "seriallink.h"
#include "workfolder.h"

// Who reads the words: the window's advice names its menus, a shell's its options.
enum class Audience { Window, Shell };

namespace wording {
// The erase as each front end gives it: "Chip Erase", "voralith-cli erase".
QString eraseCommand(Audience audience);
// A failure as shown: what happened, what it means for the chip, what to check.
QString failure(const Failure &f, Audience audience);
// What the identification found in the socket when it is no chip to work on.
QString judgement(const Outcome &o);
// A port option refused, in the words its program shows.
QString portRefusal(const PortRequest &r);
// "AT89C52"
QString chipName(const ChipInfo &chip);
// The confirmation of a command that changes the chip: "Are you sure ?", after the
// explanation when there is one, paragraphs separated by a blank line (CR LF CR LF).
QString confirmationText(const QString &explanation = {});
// What programming lock bits 1 to `bit` (1 to 3) does, as the confirmation explains it.
QString lockBitsExplanation(int bit);
// What an outcome says: the result of a command that succeeded (empty when it says
// nothing), or why it did not.
QString text(const Outcome &o, Audience audience);
// A note left by a change that broke off.
QString halfWritten(const UnfinishedChange &change, Audience audience);
// A byte read back wrong during a Write, told as it is found.
QString wrongByte(const Mismatch &m);
// An image that does not fit the chip, refused before anything is sent.
QString tooLong(const QString &path, qsizetype size, const ChipInfo &chip);
}  // namespace wording
