// SPDX-License-Identifier: GPL-3.0-or-later
// A production run: its sites, its rounds of program with their counts and the lot, the
// serial numbers taken, and a stop that reaches every site.
#include "line.h"

#include "deviceidentity.h"
#include "portmap.h"
#include "site.h"
#include "sites.h"
#include "wholechip.h"
#include "wording.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <algorithm>

namespace {
QString tr(const char *text)
{
    return QCoreApplication::translate("Line", text);
}
}  // namespace

int exitFor(const Outcome &o)
{
    switch (o.kind) {
    case Outcome::Done:
        return Success;
    case Outcome::DataFound:
    case Outcome::WrongByte:
    case Outcome::Difference:
        return Different;
    case Outcome::TooLong:
    case Outcome::NoteRefused:
    case Outcome::Withheld:
        return Usage;
    default:
        return NoBoard;
    }
}

Result<QList<SitePort>> sitePorts(const QStringList &given, const QString &com, PortOption portKind, PortOption comKind)
{
    SitePort base;
    if (!com.isEmpty()) {
        const PortRequest request = parsePortOption(comKind, com);
        if (request.refused())
            return Failure{wording::portRefusal(request)};
        base.number = request.number;
        if (!request.device.isEmpty())
            base.mapped.append({request.number, request.device});
    }
    // Each port given is a site, in the order given; without one, the port --com names.
    QList<SitePort> ports;
    for (const QString &text : given.isEmpty() ? QStringList{QString()} : given) {
        SitePort port = base;
        if (!given.isEmpty()) {
            const PortRequest request = parsePortOption(portKind, text);
            if (request.refused())
                return Failure{wording::portRefusal(request)};
            if (request.number)
                port.number = request.number;
            if (!request.device.isEmpty()) {
                port.given = text;
                port.mapped.append({port.number, request.device});
            }
        }
        PortMap map;
        for (const auto &[number, device] : port.mapped)
            map.mapForThisRun(number, device);
        port.device = map.deviceFor(port.number);
        port.name = port.given.isEmpty() ? port.device : port.given;
        ports << port;
    }
    // Two sites on one board would each take the other's replies.
    QList<DeviceIdentity> seen;
    for (const SitePort &port : ports) {
        const DeviceIdentity id = DeviceIdentity::of(port.device);
        for (qsizetype i = 0; i < seen.size(); ++i) {
            if (seen.at(i).sameAs(id))
                return Failure{tr("%1 and %2 are the same device; give each board once.").arg(ports.at(i).name, port.name),
                               Failure::PortInUse};
        }
        seen << id;
    }
    return ports;
}

void SiteCounts::add(const SiteChip &chip)
{
    if (chip.result.isEmpty())  // a site left idle in a lot's last round
        return;
    ++(chip.result == QLatin1String("passed") ? passed : chip.result == QLatin1String("empty") ? empty : failed);
}

SiteCounts &SiteCounts::operator+=(const SiteCounts &c)
{
    passed += c.passed;
    failed += c.failed;
    empty += c.empty;
    return *this;
}

Line::Line(LineSettings settings, Teller &teller, Records &records)
    : m_settings(std::move(settings)), m_teller(teller), m_records(records)
{
    if (m_settings.lot > 0)
        m_settings.repeat = true;
    if (m_settings.serial)
        m_counter = std::make_unique<SerialCounter>(m_settings.serialFile, m_settings.serialStart, m_settings.serialStep);
    m_counts.resize(std::size_t(m_settings.ports.size()));
    m_chips.resize(m_counts.size());
    m_records.setLot(m_settings.lot);
}

Line::~Line()
{
    // The sites end outside the lock, which a stop from a site's thread may be waiting for.
    std::unique_ptr<Sites> ending;
    {
        const std::lock_guard hold(m_sitesLock);
        ending = std::move(m_sites);
    }
}

QString Line::stopReason() const
{
    const std::lock_guard hold(m_stopWhyLock);
    return m_stopWhy;
}

void Line::stop(int status, const QString &why)
{
    {
        const std::lock_guard hold(m_stopWhyLock);
        m_stopWhy = why;
    }
    m_stopStatus = status;
    m_stopped = true;
    const std::lock_guard hold(m_sitesLock);
    if (m_sites)
        m_sites->stop();
}

void Line::resume()
{
    if (m_running)
        return;
    m_stopped = false;
    m_stopStatus = int(Usage);
    const std::lock_guard hold(m_stopWhyLock);
    m_stopWhy.clear();
}

Status Line::checkSerial(const Image &image)
{
    if (!m_settings.serial)
        return {};
    const SerialPlace &place = *m_settings.serial;
    const int room = m_settings.wanted ? m_settings.wanted->size : maxImageSize;
    if (place.end() > room) {
        return Failure{place.beyond(room, m_settings.wanted ? QStringLiteral("the ") + wording::chipName(*m_settings.wanted)
                                                            : tr("the largest chip"))};
    }
    if (const int at = dataAt(image.bytes, place); at >= 0) {
        return Failure{tr("%1 holds data at %2h, where the serial number goes (%3h to %4h): the number is put only "
                          "where the image is erased (FF).")
                           .arg(image.path, QString::number(at, 16).toUpper(),
                                QString::number(place.address, 16).toUpper(),
                                QString::number(place.end() - 1, 16).toUpper())};
    }
    if (m_settings.store)
        return m_settings.store->prepareSerial(place, int(m_settings.ports.size()));
    return m_counter->prepare(place, int(m_settings.ports.size()));
}

Status Line::takeSerial(const QString &site, int round, std::optional<quint64> *taken)
{
    if (m_serialFailed || m_logFailed)
        return Failure{tr("No serial number was taken: the run is stopping.")};
    // With a store the number is committed there, with who took it, before it is used.
    const Result<quint64> number = m_settings.store ? m_settings.store->takeSerial(site, m_records.run(), round)
                                                    : m_counter->take(*m_settings.serial);
    if (!number) {
        m_serialFailed = true;
        return number.failure();
    }
    *taken = number.value();
    if (Status s = m_records.serial(site, siteIndex(site), round, number.value()); !s) {
        logFailed(s.failure().message);
        return Failure{tr("Serial number %1 is spent, but the log cannot record it: the chip is not written without "
                          "its record.")
                           .arg(number.value())};
    }
    return {};
}

int Line::siteIndex(const QString &name) const
{
    for (int i = 0; i < m_settings.ports.size(); ++i) {
        if (m_settings.ports.at(i).name == name)
            return i;
    }
    return -1;
}

void Line::makeSites()
{
    if (m_sites)
        return;
    m_sitesStarted = true;
    auto sites = std::make_unique<Sites>(*this, m_settings.ports);
    const std::lock_guard hold(m_sitesLock);
    m_sites = std::move(sites);
    if (m_stopped)
        m_sites->stop();
}

void Line::runOnSites(const std::function<int(Site &)> &job, int active, std::function<void(std::vector<int>)> done)
{
    makeSites();
    m_sites->start(
        [job](Site &site) {
            const int status = job(site);
            site.ends(status);
            return status;
        },
        active, std::move(done));
}

std::vector<int> Line::onEachSite(const std::function<int(Site &)> &job, int active)
{
    std::vector<int> statuses;
    QEventLoop wait;
    runOnSites(job, active, [&](std::vector<int> s) {
        statuses = std::move(s);
        wait.quit();
    });
    if (statuses.empty())
        wait.exec();
    return statuses;
}

void Line::startRound(std::function<void(const RoundEnd &)> done)
{
    m_running = true;
    m_done = std::move(done);
    const int round = ++m_round;
    int passed = 0;
    for (const SiteCounts &c : m_counts)
        passed += c.passed;
    // A lot starts a round on no more sites than it still wants chips.
    const int sites = int(m_settings.ports.size());
    const int active = m_settings.lot ? std::clamp(m_settings.lot - passed, 0, sites) : sites;
    std::fill(m_chips.begin(), m_chips.end(), SiteChip());
    // Every chip of the round must get its number: a counter that cannot give them all is
    // found before any chip is erased.
    if (round > 1 && m_settings.serial) {
        if (Status s = m_settings.store ? m_settings.store->prepareSerial(*m_settings.serial, active)
                                        : m_counter->prepare(*m_settings.serial, active);
            !s) {
            m_teller.failure(s.message());
            m_worst = std::max(m_worst, int(Usage));
            m_serialFailed = true;
            roundEnded(std::vector<int>(m_chips.size(), 0), false);
            return;
        }
    }
    runOnSites(
        [this, round](Site &site) {
            // Each attempt is a round of its own, an empty socket too.
            const std::size_t i = std::size_t(site.index());
            site.newRound(round);
            const SiteCounts &c = m_counts[i];
            m_chips[i] = site.programChip(m_image, m_settings.repeat ? tr("Chip %1: ").arg(c.passed + c.failed + 1)
                                                                     : QString());
            return m_chips[i].status;
        },
        active, [this](std::vector<int> statuses) { roundEnded(statuses, true); });
}

void Line::roundEnded(const std::vector<int> &statuses, bool ran)
{
    RoundEnd end;
    end.round = m_round;
    end.statuses = statuses;
    bool noteRefused = false;
    for (std::size_t i = 0; ran && i < m_chips.size(); ++i) {
        m_counts[i].add(m_chips[i]);
        m_worst = std::max(m_worst, m_chips[i].status);
        noteRefused = noteRefused || m_chips[i].noteRefused;
    }
    end.chips = m_chips;
    end.counts = m_counts;
    for (const SiteCounts &c : m_counts)
        end.total += c;
    end.toGo = m_settings.lot ? std::max(0, m_settings.lot - end.total.passed) : -1;
    if (m_settings.repeat && ran)
        m_records.round(m_round);
    // Nothing was sent where a note could not be kept, and no chip is programmed without
    // its note, its number or its record.
    if (m_logFailed || m_serialFailed)
        m_worst = std::max(m_worst, int(Usage));
    end.mustEnd = !m_settings.repeat || noteRefused || m_logFailed || m_serialFailed || end.toGo == 0;
    end.last = end.mustEnd || m_stopped;
    end.worst = m_worst;
    m_running = false;
    if (auto done = std::exchange(m_done, {}))
        done(end);
}

RoundEnd Line::programRound()
{
    std::optional<RoundEnd> result;
    QEventLoop wait;
    startRound([&](const RoundEnd &end) {
        result = end;
        wait.quit();
    });
    if (!result)
        wait.exec();
    return *result;
}
