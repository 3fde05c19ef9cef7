// SPDX-License-Identifier: GPL-3.0-or-later
// program: identify, erase, blank check, write and verify as one command of the session.
#include "boardsession.h"

#include "identify.h"
#include "wholechip.h"

Outcome BoardSession::program(const QByteArray &image, const ProgramOptions &options,
                              const ProgressFor &progressFor)
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
    auto start = [&](Step step) {
        out.step = step;
        return sink(progressFor, step);
    };
    // Only an erase or a write that broke off leaves the chip in a state nobody knows:
    // then the note stays.
    auto end = [&](Outcome::Kind kind, const Failure &why = {}) {
        out.kind = kind;
        out.failure = why;
        if (!(kind == Outcome::LinkFailure && (out.step == Step::Erase || out.step == Step::Write)))
            change->completed();
        return out;
    };

    start(Step::Identify);
    m_chip = nullptr;
    const IdentifyOutcome id = identifyDevice(m_board);
    if (id.failure) {
        out.signature = id.reply;
        return end(Outcome::LinkFailure, *id.failure);
    }
    judge(out, id, options.wanted);
    if (!out.ok())
        return end(out.kind);
    m_chip = id.chip;
    if (image.size() > m_chip->size)
        return end(Outcome::TooLong);

    if (options.erase) {
        start(Step::Erase);
        if (Status s = eraseDevice(m_board); !s)
            return end(Outcome::LinkFailure, s.failure());
    }

    int dataAt = 0;
    const auto blank = ::blankCheck(m_board, m_chip->size, start(Step::BlankCheck), &dataAt);
    if (!blank)
        return end(Outcome::LinkFailure, blank.failure());
    if (!blank.value()) {
        out.address = dataAt;
        return end(Outcome::DataFound);
    }

    const Progress writing = start(Step::Write);
    writing.maximum(image.size());
    std::optional<Mismatch> first;
    const auto written = writeDevice(m_board, image, m_chip->size, writing, [&](const Mismatch &m) {
        if (!first)
            first = m;
    });
    if (!written)
        return end(Outcome::LinkFailure, written.failure());
    if (first) {
        setWrongBytes(out, written.value().mismatches, *first);
        return end(out.kind);
    }

    const Progress verifying = start(Step::Verify);
    verifying.maximum(image.size() + 1);
    const auto verified = verifyDevice(m_board, image, verifying);
    if (!verified)
        return end(Outcome::LinkFailure, verified.failure());
    if (const auto &d = verified.value()) {
        setDifference(out, *d);
        return end(out.kind);
    }
    return end(Outcome::Done);
}
