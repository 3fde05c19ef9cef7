// SPDX-License-Identifier: GPL-3.0-or-later
// voralith-cli program: identify, erase, blank check, write and verify one chip on each
// site, or with --repeat round after round until the user stops, with counts after each
// round and at the end.
#include "site.h"
#include "wording.h"

#include <algorithm>

// What a site has programmed so far.
struct Cli::Counts {
    int programmed = 0, failed = 0, empty = 0;
    void add(const Site::Chip &chip)
    {
        if (chip.result.isEmpty())  // a site left idle in a lot's last round
            return;
        ++(chip.result == QLatin1String("passed") ? programmed : chip.result == QLatin1String("empty") ? empty : failed);
    }
    Counts &operator+=(const Counts &c)
    {
        programmed += c.programmed;
        failed += c.failed;
        empty += c.empty;
        return *this;
    }
    QString text() const
    {
        return QStringLiteral("programmed %1, failed %2, empty sockets %3").arg(programmed).arg(failed).arg(empty);
    }
};

int Cli::program(const QString &path)
{
    Image image;
    if (int e = prepareChange(path, QStringLiteral("Program"), &image); e != Success)
        return e;
    return programChips(image);
}

int Cli::programChips(const Image &image)
{
    const bool repeat = repeating();
    const bool several = m_ports.size() > 1;
    std::vector<Counts> counts(std::size_t(m_ports.size()));
    std::vector<Site::Chip> chips(counts.size());
    int worst = Success;
    auto passedSoFar = [&counts] {
        int n = 0;
        for (const Counts &c : counts)
            n += c.programmed;
        return n;
    };
    m_r.setLot(m_lot);
    for (int round = 1;; ++round) {
        // A lot starts a round on no more sites than it still wants chips.
        const int active = m_lot ? std::min(int(m_ports.size()), m_lot - passedSoFar()) : int(m_ports.size());
        // Every chip of the round must get its number: a counter that cannot give them all
        // is found before any chip is erased.
        if (round > 1 && m_serialPlace) {
            if (Status s = m_counter->prepare(*m_serialPlace, active); !s) {
                m_t.failure(s.message());
                worst = std::max(worst, int(Usage));
                break;
            }
        }
        std::fill(chips.begin(), chips.end(), Site::Chip());
        const std::vector<int> statuses = onEachSite(
            [&](Site &site) {
                // Each attempt is a round of its own, an empty socket too.
                const std::size_t i = std::size_t(site.index());
                site.newRound(round);
                const Counts &c = counts[i];
                chips[i] = site.programChip(
                    image, repeat ? QStringLiteral("Chip %1: ").arg(c.programmed + c.failed + 1) : QString());
                return chips[i].status;
            },
            active);
        if (!repeat)
            return summarise(statuses);
        bool noteRefused = false;
        for (std::size_t i = 0; i < chips.size(); ++i) {
            counts[i].add(chips[i]);
            worst = std::max(worst, chips[i].status);
            noteRefused = noteRefused || chips[i].noteRefused;
        }
        const int toGo = m_lot ? std::max(0, m_lot - passedSoFar()) : -1;
        if (several)
            tellRound(round, chips, counts, toGo);
        else if (toGo >= 0)
            m_t.result(QStringLiteral("%1 to go.").arg(toGo));
        m_r.round(round);
        // Nothing was sent where a note could not be kept, and no chip is programmed without
        // its note or its record.
        if (noteRefused)
            break;
        if (m_logFailed || m_serialFailed) {
            worst = std::max(worst, int(Usage));
            break;
        }
        if (toGo == 0) {
            m_t.result(QStringLiteral("The lot of %1 is done.").arg(m_lot));
            break;
        }
        if (stopped() || !nextChip())
            break;
    }
    Counts total;
    for (const Counts &c : counts)
        total += c;
    QString summary = QStringLiteral("Programmed: %1, failed: %2.").arg(total.programmed).arg(total.failed);
    if (several) {
        summary = QStringLiteral("Programmed: %1, failed: %2, empty sockets: %3.")
                      .arg(total.programmed)
                      .arg(total.failed)
                      .arg(total.empty);
        for (std::size_t i = 0; i < counts.size(); ++i)
            summary += QStringLiteral("\n  %1: %2").arg(m_ports.at(qsizetype(i)).name, counts[i].text());
    }
    if (m_lot)
        summary += QStringLiteral("\nOf the lot of %1: %2 to go.").arg(m_lot).arg(std::max(0, m_lot - total.programmed));
    if (total.failed)
        m_t.failure(summary);
    else
        m_t.result(summary);
    return total.failed ? worst : Success;
}

// After each round on several sites: a line for each, with its counts so far, and the total.
void Cli::tellRound(int round, const std::vector<SiteChip> &chips, const std::vector<Counts> &counts, int toGo)
{
    m_t.closeSiteLines();
    QString text = QStringLiteral("Round %1:").arg(round);
    Counts total;
    for (std::size_t i = 0; i < chips.size(); ++i) {
        const QString &result = chips[i].result;
        text += QStringLiteral("\n  %1: %2 (%3)")
                    .arg(m_ports.at(qsizetype(i)).name,
                         result.isEmpty()                   ? QStringLiteral("idle")
                         : result == QLatin1String("empty") ? QStringLiteral("empty socket")
                                                            : result,
                         counts[i].text());
        total += counts[i];
    }
    text += QStringLiteral("\n  all sites: %1.").arg(total.text());
    if (toGo >= 0)
        text += QStringLiteral("\n  to go: %1.").arg(toGo);
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
            m_t.prompted(m_ports.size() > 1 ? QStringLiteral("Put the next chips in and press Enter; q and Enter stops. ")
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
