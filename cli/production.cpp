// SPDX-License-Identifier: GPL-3.0-or-later
// voralith-cli program: identify, erase, blank check, write and verify one chip on each
// site, or with --repeat round after round until the user stops, with counts after each
// round and at the end.
#include "cli.h"
#include "wording.h"

#include <algorithm>

namespace {
QString countsText(const SiteCounts &c)
{
    return QStringLiteral("programmed %1, failed %2, empty sockets %3").arg(c.passed).arg(c.failed).arg(c.empty);
}
}  // namespace

int Cli::program(const QString &path)
{
    Image image;
    if (int e = prepareChange(path, QStringLiteral("Program"), &image); e != Success)
        return e;
    return programChips();
}

int Cli::programChips()
{
    const bool several = m_settings.ports.size() > 1;
    RoundEnd end;
    for (;;) {
        sitesBegin();
        end = m_line->programRound();
        if (!m_settings.repeat)
            return summarise(end.statuses);
        if (several)
            tellRound(end);
        else if (end.toGo >= 0)
            m_t.result(QStringLiteral("%1 to go.").arg(end.toGo));
        if (end.toGo == 0)
            m_t.result(QStringLiteral("The lot of %1 is done.").arg(m_settings.lot));
        if (end.last || stopped() || !nextChip())
            break;
    }
    const SiteCounts &total = end.total;
    QString summary = QStringLiteral("Programmed: %1, failed: %2.").arg(total.passed).arg(total.failed);
    if (several) {
        summary = QStringLiteral("Programmed: %1, failed: %2, empty sockets: %3.")
                      .arg(total.passed)
                      .arg(total.failed)
                      .arg(total.empty);
        for (std::size_t i = 0; i < end.counts.size(); ++i)
            summary += QStringLiteral("\n  %1: %2").arg(m_settings.ports.at(qsizetype(i)).name, countsText(end.counts[i]));
    }
    if (end.toGo >= 0)
        summary += QStringLiteral("\nOf the lot of %1: %2 to go.").arg(m_settings.lot).arg(end.toGo);
    if (total.failed)
        m_t.failure(summary);
    else
        m_t.result(summary);
    // A run that must stop (a note, a number or a record that could not be kept) fails even
    // when no chip did.
    return total.failed || end.worst >= Usage ? end.worst : Success;
}

// After each round on several sites: a line for each, with its counts so far, and the total.
void Cli::tellRound(const RoundEnd &end)
{
    m_t.closeSiteLines();
    QString text = QStringLiteral("Round %1:").arg(end.round);
    for (std::size_t i = 0; i < end.chips.size(); ++i) {
        const QString &result = end.chips[i].result;
        text += QStringLiteral("\n  %1: %2 (%3)")
                    .arg(m_settings.ports.at(qsizetype(i)).name,
                         result.isEmpty()                   ? QStringLiteral("idle")
                         : result == QLatin1String("empty") ? QStringLiteral("empty socket")
                                                            : result,
                         countsText(end.counts[i]));
    }
    text += QStringLiteral("\n  all sites: %1.").arg(countsText(end.total));
    if (end.toGo >= 0)
        text += QStringLiteral("\n  to go: %1.").arg(end.toGo);
    m_t.result(text);
}

// Only an empty line programs the next chip: a word that is not one of the stops is asked
// again, since a chip programmed by mistake cannot be taken back.
bool Cli::nextChip()
{
    static const QStringList stops{QStringLiteral("q"),  QStringLiteral("quit"), QStringLiteral("exit"),
                                   QStringLiteral("n"),  QStringLiteral("no"),   QStringLiteral("stop")};
    for (;;) {
        const auto line =
            m_t.prompted(m_settings.ports.size() > 1 ? QStringLiteral("Put the next chips in and press Enter; q and Enter stops. ")
                                            : QStringLiteral("Put the next chip in and press Enter; q and Enter stops. "));
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
