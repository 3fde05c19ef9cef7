// SPDX-License-Identifier: GPL-3.0-or-later
// voralith-cli program: identify, erase, blank check, write and verify one chip, or with
// --repeat one chip after another until the user stops, with a count at the end.
#include "cli.h"
#include "wording.h"

#include <algorithm>

int Cli::program(const QString &path)
{
    Image image;
    if (int e = loadFile(path, &image); e != Success)
        return e;
    if (Status s = requireData(image); !s)
        return fileFailure(s.message());
    if (Status s = m_link.open(); !s)
        return boardFailure(wording::failure(s.failure(), Audience::Shell));
    if (!confirm(QStringLiteral("Program")))
        return Usage;
    return programChips(path, image);
}

int Cli::programChips(const QString &path, const Image &image)
{
    const bool repeat = m_p.isSet(m_o.repeat);
    BoardSession::ProgramOptions options;
    options.erase = !m_p.isSet(m_o.noErase);
    options.wanted = m_wanted;
    int programmed = 0, failed = 0, worst = Success, attempts = 0;
    for (;;) {
        const int number = programmed + failed + 1;
        // Each attempt is a round of its own, an empty socket too.
        newRound(++attempts);
        const QString chipLabel = repeat ? QStringLiteral("Chip %1: ").arg(number) : QString();
        const Outcome outcome = programChip(image, options);
        if (outcome.kind == Outcome::NoteRefused) {
            record(outcome, Usage);
            // Nothing was sent, and no chip can be programmed without its note.
            m_t.failure(chipLabel + wording::text(outcome, Audience::Shell));
            if (!repeat)
                return Usage;
            ++failed;
            worst = std::max(worst, int(Usage));
            break;
        }
        if (outcome.ok()) {
            record(outcome, Success);
            ++programmed;
            m_t.result(chipLabel + wording::text(outcome, Audience::Shell));
            printSums(path, image.bytes);
        } else if (repeat && outcome.kind == Outcome::NoChip) {
            // With --repeat an empty socket is no failure: the next chip is awaited.
            record(outcome, Success);
            m_t.failure(wording::text(outcome, Audience::Shell));
        } else {
            ++failed;
            const int status = stopped() ? int(Usage) : exitFor(outcome);
            record(outcome, status);
            worst = std::max(worst, status);
            m_t.failure(chipLabel + wording::text(outcome, Audience::Shell));
        }
        if (!repeat)
            return worst;
        // The record of this chip is not on the disk: no next chip.
        if (m_logFailed) {
            worst = std::max(worst, int(Usage));
            break;
        }
        if (stopped() || !nextChip())
            break;
    }
    const QString summary = QStringLiteral("Programmed: %1, failed: %2.").arg(programmed).arg(failed);
    if (failed)
        m_t.failure(summary);
    else
        m_t.result(summary);
    return failed ? worst : Success;
}

// One chip: a note left by an earlier change on this port is told first.
Outcome Cli::programChip(const Image &image, const BoardSession::ProgramOptions &options)
{
    if (Status s = m_session.open(); !s) {
        Outcome out;
        out.operation = Operation::Program;
        out.kind = Outcome::NotOpened;
        out.failure = s.failure();
        return out;
    }
    tellUnfinishedChanges();
    return m_session.program(image.bytes, options, steps());
}

// Only an empty line programs the next chip: a word that is not one of the stops is asked
// again, since a chip programmed by mistake cannot be taken back.
bool Cli::nextChip()
{
    static const QStringList stops{QStringLiteral("q"),  QStringLiteral("quit"), QStringLiteral("exit"),
                                   QStringLiteral("n"),  QStringLiteral("no"),   QStringLiteral("stop")};
    for (;;) {
        m_t.prompt(QStringLiteral("Put the next chip in and press Enter; q and Enter stops. "));
        const auto line = m_t.readLine();
        if (!line || stopped())
            return false;
        const QString answer = line->trimmed().toLower();
        if (answer.isEmpty())
            return true;
        if (stops.contains(answer))
            return false;
        m_t.failure(QStringLiteral("Press Enter for the next chip, or q to stop."));
    }
}
