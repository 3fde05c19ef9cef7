// SPDX-License-Identifier: GPL-3.0-or-later
// voralith-cli --store: the shared store opened for a run before anything is sent, and the
// store command (init: its tables; report: chips and numbers by station and site).
#include "cli.h"
#include "report.h"
#include "schema.h"
#include "storelimits.h"

#include <QFileInfo>
#include <QSysInfo>

namespace {
QDeadlineTimer within(const timeouts::Limit &limit)
{
    return QDeadlineTimer(limit.value().count());
}

int statusFor(const Failure &f)
{
    return f.kind == Failure::PortLost ? int(NoBoard) : int(Usage);
}
}  // namespace

int Cli::setUpStore(const QString &argument)
{
    if (!m_p.isSet(m_o.store)) {
        if (m_p.isSet(m_o.serialCounter) || m_p.isSet(m_o.station)) {
            m_t.failure(QStringLiteral("voralith-cli: --serial-counter and --station go with --store."));
            return Usage;
        }
        return Success;
    }
    if (!m_deviceCommand) {
        m_t.failure(QStringLiteral("voralith-cli: --store is for the commands that work on a chip, not %1 (store init "
                                   "and store report take the URL as their argument).")
                        .arg(commandName()));
        return Usage;
    }
    if (m_p.isSet(m_o.serialFile)) {
        m_t.failure(QStringLiteral("voralith-cli: with --store the serial numbers come from the store; leave out "
                                   "--serial-file."));
        return Usage;
    }
    if (m_p.isSet(m_o.serialCounter) && !m_settings.serial) {
        m_t.failure(QStringLiteral("voralith-cli: --serial-counter goes with --serial."));
        return Usage;
    }
    StoreOptions o;
    o.connection = m_p.value(m_o.store);
    o.station = m_p.isSet(m_o.station) ? m_p.value(m_o.station) : QSysInfo::machineHostName();
    if (o.station.trimmed().isEmpty()) {
        m_t.failure(QStringLiteral("voralith-cli: --station takes a name, not an empty one."));
        return Usage;
    }
    if (m_settings.serial) {
        o.counter = m_p.isSet(m_o.serialCounter) ? m_p.value(m_o.serialCounter)
                    : m_job                      ? m_job->job.name
                                                 : QFileInfo(argument).completeBaseName();
        if (o.counter.isEmpty()) {
            m_t.failure(QStringLiteral("voralith-cli: --serial-counter takes a name, not an empty one."));
            return Usage;
        }
        o.start = m_settings.serialStart;
        o.step = m_settings.serialStep;
        o.startGiven = m_p.isSet(m_o.serialStart);
        o.stepGiven = m_p.isSet(m_o.serialStep);
        if (o.start > kStoreLargest || o.step > kStoreLargest) {
            m_t.failure(QStringLiteral("voralith-cli: the store holds numbers up to %1; --serial-start and "
                                       "--serial-step must not pass it.")
                            .arg(kStoreLargest));
            return Usage;
        }
    }
    auto store = std::make_unique<PgStore>(o);
    QStringList notes;
    if (Status s = store->open(&notes); !s) {
        m_t.failure(QStringLiteral("voralith-cli: ") + s.message());
        return statusFor(s.failure());
    }
    for (const QString &note : notes)
        m_t.note(QStringLiteral("voralith-cli: ") + note);
    {
        const std::lock_guard hold(m_lineLock);
        m_store = std::move(store);
    }
    m_settings.store = m_store.get();
    m_r.setStore(m_store.get());
    return Success;
}

int Cli::endStore(int status)
{
    m_r.setStore(nullptr);
    const qsizetype kept = m_store->pending();
    const QStringList missing = m_store->flushPending();
    if (!missing.isEmpty())
        m_t.failure(QStringLiteral("voralith-cli: the store %1 does not have the results of %2; they are in what was "
                                   "shown above%3.")
                        .arg(m_store->shownName(), missing.join(QLatin1String(", ")),
                             m_r.logPath().isEmpty() ? QString() : QStringLiteral(" and in the log ") + m_r.logPath()));
    else if (kept)
        m_t.failure(QStringLiteral("voralith-cli: the store %1 answered again at the end: every result is in it.")
                        .arg(m_store->shownName()));
    // A run the store left is one that could not go on: no answer.
    return m_store->lost() || !missing.isEmpty() ? std::max(status, int(NoBoard)) : status;
}

int Cli::store(const QString &what)
{
    const QString url = m_p.positionalArguments().value(2);
    if (what != QLatin1String("init") && what != QLatin1String("report")) {
        m_t.failure(QStringLiteral("voralith-cli: store takes init or report, not \"%1\".").arg(what));
        return Usage;
    }
    if (what == QLatin1String("init") && (m_p.isSet(m_o.since) || m_p.isSet(m_o.counter))) {
        m_t.failure(QStringLiteral("voralith-cli: --since and --counter are for store report."));
        return Usage;
    }
    PgConnection c(url);
    if (const PgAnswer a = c.connect(within(storelimits::connect)); !a.ok) {
        m_t.failure(QStringLiteral("voralith-cli: The store %1 cannot be reached: %2.").arg(c.shownName(), a.message));
        return NoBoard;
    }
    if (what == QLatin1String("init")) {
        const Result<QString> done = storeschema::init(c, c.shownName(), within(storelimits::query));
        if (!done) {
            m_t.failure(QStringLiteral("voralith-cli: ") + done.message());
            return statusFor(done.failure());
        }
        m_r.event("store", JsonLine().add("connection", c.shownName()).add("version", storeschema::kVersion));
        m_t.result(done.value());
        return Success;
    }
    if (Status s = storeschema::check(c, c.shownName(), within(storelimits::query)); !s) {
        m_t.failure(QStringLiteral("voralith-cli: ") + s.message().remove(QStringLiteral(" Nothing was sent to a board.")));
        return statusFor(s.failure());
    }
    const Result<QList<ReportRow>> rows =
        storeReport(c, m_p.value(m_o.since), m_p.value(m_o.counter), within(storelimits::query));
    if (!rows) {
        m_t.failure(QStringLiteral("voralith-cli: ") + rows.message());
        return statusFor(rows.failure());
    }
    if (m_t.json()) {
        for (const ReportRow &r : rows.value())
            m_r.event("report", JsonLine()
                                    .add("station", r.station)
                                    .add("site", r.site)
                                    .add("passed", r.passed)
                                    .add("failed", r.failed)
                                    .add("empty", r.empty)
                                    .add("unused", r.unused)
                                    .add("first", r.first.isEmpty() ? QJsonValue() : QJsonValue(r.first))
                                    .add("last", r.last.isEmpty() ? QJsonValue() : QJsonValue(r.last)));
        return Success;
    }
    // A column as wide as its widest entry; the counts right-aligned.
    const QStringList head{QStringLiteral("station"), QStringLiteral("site"),   QStringLiteral("passed"),
                           QStringLiteral("failed"),  QStringLiteral("empty"),  QStringLiteral("unused"),
                           QStringLiteral("first"),   QStringLiteral("last")};
    QList<QStringList> table{head};
    ReportRow all;
    for (const ReportRow &r : rows.value()) {
        table << QStringList{r.station, r.site, QString::number(r.passed), QString::number(r.failed),
                             QString::number(r.empty), QString::number(r.unused), r.first, r.last};
        all.passed += r.passed;
        all.failed += r.failed;
        all.empty += r.empty;
        all.unused += r.unused;
    }
    table << QStringList{QStringLiteral("all"), QString(), QString::number(all.passed), QString::number(all.failed),
                         QString::number(all.empty), QString::number(all.unused), QString(), QString()};
    QList<qsizetype> width(head.size(), 0);
    for (const QStringList &row : table)
        for (qsizetype i = 0; i < row.size(); ++i)
            width[i] = std::max(width[i], row[i].size());
    QStringList lines;
    for (const QStringList &row : table) {
        QString line;
        for (qsizetype i = 0; i < row.size(); ++i) {
            const bool count = i >= 2 && i <= 5;
            line += (count ? row[i].rightJustified(width[i]) : row[i].leftJustified(width[i])) + QStringLiteral("  ");
        }
        lines << line.trimmed();
    }
    m_t.result(lines.join(QLatin1Char('\n')));
    return Success;
}
