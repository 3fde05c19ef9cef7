// SPDX-License-Identifier: GPL-3.0-or-later
// voralith-cli program: identify, erase, blank check, write and verify one chip, or with
// --repeat one chip after another until the user stops, with a count at the end.
#include "cli.h"

#include <algorithm>

namespace {

int exitFor(const ProgramOutcome &o)
{
    switch (o.end) {
    case ProgramOutcome::Programmed:
        return int(Success);
    case ProgramOutcome::DataFound:
    case ProgramOutcome::WrongByte:
    case ProgramOutcome::Difference:
        return int(Different);
    case ProgramOutcome::TooLong:
        return int(Usage);
    default:
        return int(NoBoard);
    }
}

}  // namespace

int Cli::program(const QString &path)
{
    Image image;
    if (int e = loadFile(path, &image); e != Success)
        return e;
    if (Status s = requireData(image); !s)
        return fileFailure(s.message());
    if (Status s = m_link.open(); !s)
        return boardFailure(s.message());
    if (!confirm(QStringLiteral("Program")))
        return Usage;
    return programChips(path, image);
}

int Cli::programChips(const QString &path, const Image &image)
{
    const bool repeat = m_p.isSet(m_o.repeat);
    ProgramOptions options;
    options.erase = !m_p.isSet(m_o.noErase);
    options.chip = m_wanted;
    int programmed = 0, failed = 0, worst = Success;
    for (;;) {
        const int number = programmed + failed + 1;
        const QString chipLabel = repeat ? QStringLiteral("Chip %1: ").arg(number) : QString();
        ProgramOutcome outcome;
        if (!programChip(image, options, chipLabel, &outcome)) {
            if (!repeat)
                return Usage;
            ++failed;
            worst = std::max(worst, int(Usage));
            break;
        }
        if (outcome.ok()) {
            ++programmed;
            m_t.result(chipLabel + QStringLiteral("programmed and verified (%1).").arg(chipName(*outcome.id.chip)));
            printSums(path, image.bytes);
        } else if (repeat && outcome.end == ProgramOutcome::NoChip) {
            m_t.failure(outcome.message);
        } else {
            ++failed;
            worst = std::max(worst, stopped() ? int(Usage) : exitFor(outcome));
            m_t.failure(chipLabel + outcome.message);
        }
        if (!repeat)
            return worst;
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

// False when the work folder takes no note of the change (told): then nothing was sent, and
// no chip can be programmed.
bool Cli::programChip(const Image &image, const ProgramOptions &options, const QString &chipLabel,
                      ProgramOutcome *outcome)
{
    if (Status s = m_link.ensureOpen(); !s) {
        outcome->end = ProgramOutcome::LinkFailure;
        outcome->message = s.message();
        return true;
    }
    tellUnfinishedChanges();
    auto change = ChipChange::begin(WorkFolder::defaultLocation(), m_link.devicePath(), QStringLiteral("program"));
    if (!change) {
        m_t.failure(chipLabel + change.message());
        return false;
    }
    auto progressFor = [this](ProgramStep step) { return m_t.step(stepName(step)); };
    *outcome = programDevice(m_board, image.bytes, options, progressFor);
    // Only an erase or a write that broke off leaves the chip in a state nobody knows.
    const bool broken = outcome->end == ProgramOutcome::LinkFailure &&
                        (outcome->step == ProgramStep::Erase || outcome->step == ProgramStep::Write);
    if (!broken)
        change.value().completed();
    return true;
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
