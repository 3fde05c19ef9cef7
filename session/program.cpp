// SPDX-License-Identifier: GPL-3.0-or-later
// program: identify, erase, blank check, write and verify as one command of the session.
#include "boardsession.h"

#include "identify.h"
#include "wholechip.h"

Outcome BoardSession::program(const QByteArray &image, const ProgramOptions &options, const ProgressFor &progressFor)
{
    std::optional<ChipChange> change;
    if (auto refused = beginChange(Operation::Program, QStringLiteral("program"), &change)) {
        refused->step = Step::Identify;
        return *refused;
    }
    Outcome out;
    out.operation = Operation::Program;
    out.erased = options.erase;
    out.imageSize = int(image.size());
    if (programChecks(out, image, options, progressFor)) {
        QByteArray written = image;
        if (Status s = options.beforeWrite ? options.beforeWrite(&written) : Status(); !s) {
            out.step = Step::Write;
            out.kind = Outcome::Withheld;
            out.failure = s.failure();
        } else {
            // What the caller put beyond the file's image came after FF it padded with.
            programWrite(out, written, progressFor, written.size() > image.size() ? int(image.size()) : -1);
            // Only a chip that holds its image is locked: a failed one can still be read
            // back to see what went wrong.
            if (out.ok() && options.lockBits > 0)
                programLock(out, options.lockBits, progressFor);
        }
    }
    // Only an erase or a write that broke off leaves the chip in a state nobody knows:
    // then the note stays.
    if (!(out.kind == Outcome::LinkFailure && (out.step == Step::Erase || out.step == Step::Write)))
        change->completed();
    return out;
}

// Identify, erase and blank check: true when the chip is one to write the image into.
bool BoardSession::programChecks(Outcome &out, const QByteArray &image, const ProgramOptions &options,
                                 const ProgressFor &progressFor)
{
    auto lost = [&](const Failure &why) {
        out.kind = Outcome::LinkFailure;
        out.failure = why;
        return false;
    };
    out.step = Step::Identify;
    sink(progressFor, Step::Identify);
    m_chip = nullptr;
    const IdentifyOutcome id = identifyDevice(m_board);
    if (id.failure) {
        out.signature = id.reply;
        return lost(*id.failure);
    }
    judge(out, id, options.wanted);
    if (!out.ok())
        return false;
    m_chip = id.chip;
    if (image.size() > m_chip->size) {
        out.kind = Outcome::TooLong;
        return false;
    }
    if (options.checkChip) {
        if (Status s = options.checkChip(*m_chip); !s) {
            out.kind = Outcome::Withheld;
            out.failure = s.failure();
            return false;
        }
    }
    if (options.erase) {
        out.step = Step::Erase;
        sink(progressFor, Step::Erase);
        if (Status s = eraseDevice(m_board); !s)
            return lost(s.failure());
    }
    out.step = Step::BlankCheck;
    BlankFound found;
    const auto blank = ::blankCheck(m_board, m_chip->size, sink(progressFor, Step::BlankCheck), &found);
    if (!blank)
        return lost(blank.failure());
    if (!blank.value()) {
        setDataFound(out, found);
        return false;
    }
    return true;
}

// Write, then verify what was written.
void BoardSession::programWrite(Outcome &out, const QByteArray &image, const ProgressFor &progressFor,
                                int paddedFrom)
{
    out.step = Step::Write;
    const Progress writing = sink(progressFor, Step::Write);
    std::optional<Mismatch> first;
    const auto written = writeDevice(m_board, image, m_chip->size, writing, [&](const Mismatch &m) {
        if (!first)
            first = m;
    }, paddedFrom);
    if (!written) {
        out.kind = Outcome::LinkFailure;
        out.failure = written.failure();
        return;
    }
    if (first) {
        setWrongBytes(out, written.value().mismatches, *first);
        return;
    }
    out.step = Step::Verify;
    const Progress verifying = sink(progressFor, Step::Verify);
    const auto verified = verifyDevice(m_board, image, verifying);
    if (!verified) {
        out.kind = Outcome::LinkFailure;
        out.failure = verified.failure();
    } else if (const auto &d = verified.value()) {
        setDifference(out, *d);
    }
}

void BoardSession::programLock(Outcome &out, int bits, const ProgressFor &progressFor)
{
    out.step = Step::Lock;
    out.lockBits = bits;
    sink(progressFor, Step::Lock);
    if (Status s = lockDevice(m_board, bits); !s) {
        out.kind = Outcome::LinkFailure;
        out.failure = s.failure();
    }
}
