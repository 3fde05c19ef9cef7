// SPDX-License-Identifier: GPL-3.0-or-later
// The line's counter and record in PostgreSQL.
#include "pgstore.h"

#include "schema.h"
#include "storelimits.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {
QDeadlineTimer within(const timeouts::Limit &limit)
{
    return QDeadlineTimer(limit.value().count());
}

QByteArray text(const QString &s)
{
    return s.toUtf8();
}

std::optional<QByteArray> orNull(const QJsonValue &v)
{
    if (v.isNull() || v.isUndefined())
        return std::nullopt;
    if (v.isString())
        return v.toString().toUtf8();
    if (v.isDouble())
        return QByteArray::number(v.toInteger());
    return QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact).chopped(1).mid(1);
}

bool retryable(const PgAnswer &a)
{
    // A serialization failure or a deadlock: the transaction was rolled back whole.
    return a.sqlState == "40001" || a.sqlState == "40P01";
}
}  // namespace

PgStore::PgStore(StoreOptions options) : m_options(std::move(options)), m_conn(m_options.connection)
{
    m_step = m_options.step;
}

Status PgStore::open(QStringList *notes)
{
    const std::lock_guard hold(m_lock);
    const QDeadlineTimer connecting = within(storelimits::connect);
    if (const PgAnswer c = m_conn.connect(connecting); !c.ok)
        return Failure{QStringLiteral("The store %1 cannot be reached: %2.").arg(shownName(), c.message), Failure::PortLost};
    if (Status s = storeschema::check(m_conn, shownName(), within(storelimits::query)); !s)
        return s;
    if (m_options.counter.isEmpty())
        return {};
    const QByteArray name = text(m_options.counter);
    PgAnswer made = m_conn.exec("INSERT INTO serial_counters (name, next_number, step) VALUES ($1, $2, $3) "
                                "ON CONFLICT (name) DO NOTHING RETURNING name",
                                {name, QByteArray::number(m_options.start), QByteArray::number(m_options.step)},
                                within(storelimits::query));
    PgAnswer held;
    if (made.ok)
        held = m_conn.exec("SELECT next_number, step FROM serial_counters WHERE name = $1", {name},
                           within(storelimits::query));
    const PgAnswer &failed = made.ok ? held : made;
    if (!failed.ok || held.rows.isEmpty()) {
        return Failure{QStringLiteral("The store %1 cannot make or read the counter \"%2\": %3.")
                           .arg(shownName(), m_options.counter, failed.ok ? QStringLiteral("it is gone") : failed.message),
                       failed.lost ? Failure::PortLost : Failure::Error};
    }
    const quint64 next = held.value(0, 0).toULongLong();
    m_step = held.value(0, 1).toULongLong();
    if (made.rows.isEmpty()) {
        // A counter in use is never set back or forward by one station's options.
        if (m_options.startGiven && m_options.start != next)
            *notes << QStringLiteral("The counter \"%1\" is in the store already and gives %2 next; --serial-start %3 "
                                     "is only for a counter not yet made.")
                          .arg(m_options.counter)
                          .arg(next)
                          .arg(m_options.start);
        if (m_options.stepGiven && m_options.step != m_step)
            *notes << QStringLiteral("The counter \"%1\" in the store steps by %2, which it keeps; --serial-step %3 is "
                                     "only for a counter not yet made.")
                          .arg(m_options.counter)
                          .arg(m_step)
                          .arg(m_options.step);
    }
    return {};
}

PgAnswer PgStore::attempt(const std::function<PgAnswer(bool retried)> &statement)
{
    // While the store is lost the chips wait, for the reconnect limit from the loss; a store
    // that stayed away that long gets one attempt each time after.
    std::optional<QDeadlineTimer> giveUp;
    const QDeadlineTimer serializing = within(storelimits::query);
    bool retried = false;
    PgAnswer last;
    for (;;) {
        if (m_conn.waits().stopped()) {
            last.ok = false;
            last.stopped = true;
            last.message = QStringLiteral("stopped");
            return last;
        }
        if (!m_conn.connected()) {
            if (!giveUp)
                giveUp = m_lost ? within(storelimits::connect) : within(storelimits::reconnect);
            QDeadlineTimer connecting = within(storelimits::connect);
            if (giveUp->deadlineNSecs() < connecting.deadlineNSecs())
                connecting = *giveUp;
            const PgAnswer c = m_conn.connect(connecting);
            if (!c.ok) {
                last = c;
                if (c.stopped)
                    return c;
                if (giveUp->hasExpired()) {
                    m_lost = true;
                    return last;
                }
                QDeadlineTimer pause = within(storelimits::reconnectStep);
                if (giveUp->deadlineNSecs() < pause.deadlineNSecs())
                    pause = *giveUp;
                m_conn.waits().wait(-1, false, pause);
                continue;
            }
            // Back: the results it missed go in first, in their order.
            while (!m_pending.isEmpty()) {
                const PgAnswer p = insertResult(m_pending.constFirst());
                if (!p.ok && p.lost)
                    break;
                m_pending.removeFirst();
            }
            if (!m_conn.connected())
                continue;
        }
        PgAnswer a = statement(retried);
        if (a.ok)
            return a;
        if (a.lost) {
            last = a;
            retried = true;
            if (!giveUp)
                giveUp = m_lost ? within(storelimits::connect) : within(storelimits::reconnect);
            if (giveUp->hasExpired()) {
                m_lost = true;
                return a;
            }
            continue;
        }
        if (retryable(a) && !serializing.hasExpired()) {
            retried = true;
            continue;
        }
        return a;
    }
}

Status PgStore::prepareSerial(const SerialPlace &place, int chips)
{
    const std::lock_guard hold(m_lock);
    m_largest = std::min(place.largest(), kStoreLargest);
    m_place = place;
    const PgAnswer a = attempt([&](bool) {
        return m_conn.exec("SELECT next_number, step FROM serial_counters WHERE name = $1", {text(m_options.counter)},
                           within(storelimits::query));
    });
    if (!a.ok)
        return Failure{QStringLiteral("The store %1 cannot be read: %2.").arg(shownName(), a.message),
                       a.lost || a.stopped ? Failure::PortLost : Failure::Error};
    if (a.rows.isEmpty())
        return Failure{QStringLiteral("The counter \"%1\" is not in the store %2.").arg(m_options.counter, shownName())};
    const quint64 next = a.value(0, 0).toULongLong();
    const quint64 step = a.value(0, 1).toULongLong();
    // The last of the chips' numbers, and the one the counter then holds, must be held.
    quint64 last = next;
    for (int i = 1; i < chips; ++i) {
        if (last > kStoreLargest - step)
            return Failure{QStringLiteral("The counter \"%1\" gives %2 next: %3 more numbers pass the largest the store "
                                          "holds (%4).")
                               .arg(m_options.counter)
                               .arg(next)
                               .arg(chips)
                               .arg(kStoreLargest)};
        last += step;
    }
    if (last > place.largest())
        return Failure{place.tooLarge(last)};
    if (last > kStoreLargest - step)
        return Failure{QStringLiteral("The counter \"%1\" gives %2 next; the number after %3 passes the largest the "
                                      "store holds (%4).")
                           .arg(m_options.counter)
                           .arg(next)
                           .arg(last)
                           .arg(kStoreLargest)};
    return {};
}

QString PgStore::whyNoNumber()
{
    const PgAnswer a = m_conn.exec("SELECT next_number, step FROM serial_counters WHERE name = $1",
                                   {text(m_options.counter)}, within(storelimits::query));
    if (!a.ok || a.rows.isEmpty())
        return QStringLiteral("The counter \"%1\" is not in the store %2.").arg(m_options.counter, shownName());
    const quint64 next = a.value(0, 0).toULongLong();
    if (next > m_largest && m_place)
        return m_place->tooLarge(next);
    return QStringLiteral("The counter \"%1\" has reached %2; the number after it passes the largest the store holds "
                          "(%3).")
        .arg(m_options.counter)
        .arg(next)
        .arg(kStoreLargest);
}

Result<quint64> PgStore::takeSerial(const QString &site, const QString &run, int round)
{
    const std::lock_guard hold(m_lock);
    const QByteArray name = text(m_options.counter);
    const PgParams params{name, QByteArray::number(m_largest), text(m_options.station), text(site), text(run),
                          QByteArray::number(round)};
    const PgAnswer a = attempt([&](bool retried) {
        // A take whose answer was lost may have been committed: then that number is this chip's.
        if (retried) {
            PgAnswer had = m_conn.exec("SELECT number FROM serial_numbers WHERE run = $1 AND site = $2 AND round = $3 "
                                       "AND counter = $4",
                                       {text(run), text(site), QByteArray::number(round), name},
                                       within(storelimits::query));
            if (!had.ok || !had.rows.isEmpty())
                return had;
        }
        // The counter advanced and the number recorded with its taker in one statement, so
        // one transaction, committed (synchronous_commit on) before the answer comes back.
        return m_conn.exec("WITH taken AS (UPDATE serial_counters SET next_number = next_number + step "
                           "  WHERE name = $1 AND next_number <= $2 AND next_number <= 9223372036854775807 - step "
                           "  RETURNING next_number - step AS number) "
                           "INSERT INTO serial_numbers (counter, number, station, site, run, round) "
                           "SELECT $1, number, $3, $4, $5, $6 FROM taken RETURNING number",
                           params, within(storelimits::query));
    });
    if (!a.ok) {
        if (a.stopped)
            return Failure{QStringLiteral("No serial number was taken: the run is stopping."), Failure::Stopped};
        if (a.lost)
            return Failure{QStringLiteral("No serial number was taken: the store %1 did not answer (%2); the chip is "
                                          "not written.")
                               .arg(shownName(), a.message),
                           Failure::PortLost};
        return Failure{QStringLiteral("No serial number was taken: the store %1 refused it: %2.").arg(shownName(), a.message)};
    }
    if (a.rows.isEmpty())
        return Failure{whyNoNumber()};
    return a.value().toULongLong();
}

PgAnswer PgStore::insertResult(const QJsonObject &record)
{
    const QJsonValue serial = record.value(QLatin1String("serial"));
    const bool numbered = !serial.isNull() && !serial.isUndefined();
    const QJsonValue image = record.value(QLatin1String("image"));
    const PgParams params{
        text(m_options.station),
        orNull(record.value(QLatin1String("site"))),
        orNull(record.value(QLatin1String("run"))),
        orNull(record.value(QLatin1String("round"))),
        orNull(record.value(QLatin1String("command"))),
        orNull(record.value(QLatin1String("result"))),
        orNull(record.value(QLatin1String("status"))),
        orNull(record.value(QLatin1String("chip"))),
        orNull(record.value(QLatin1String("signature"))),
        numbered ? std::optional<QByteArray>(text(m_options.counter)) : std::nullopt,
        orNull(serial),
        image.isObject() ? orNull(image.toObject().value(QLatin1String("crc32"))) : std::nullopt,
        orNull(record.value(QLatin1String("lock"))),
        orNull(record.value(QLatin1String("duration_ms"))),
        orNull(record.value(QLatin1String("step"))),
        orNull(record.value(QLatin1String("message"))),
        orNull(record.value(QLatin1String("time"))),
        QJsonDocument(record).toJson(QJsonDocument::Compact),
    };
    // A result sent again after its answer was lost finds itself there: one row a chip.
    return m_conn.exec("INSERT INTO chip_results (station, site, run, round, command, result, status, chip, signature, "
                       "counter, serial, crc32, lock, duration_ms, step, message, finished_at, record) "
                       "VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14, $15, $16, $17, $18) "
                       "ON CONFLICT (run, site, round) DO NOTHING",
                       params, within(storelimits::query));
}

Status PgStore::recordResult(const QJsonObject &record)
{
    const std::lock_guard hold(m_lock);
    const PgAnswer a = attempt([&](bool) { return insertResult(record); });
    if (a.ok)
        return {};
    if (a.lost || a.stopped) {
        m_pending << record;
        return Failure{QStringLiteral("the store %1 did not answer (%2): the result of %3, round %4, is kept in "
                                      "memory until it does")
                           .arg(shownName(), a.message, record.value(QLatin1String("site")).toString())
                           .arg(record.value(QLatin1String("round")).toInt()),
                       Failure::PortLost};
    }
    return Failure{QStringLiteral("the store %1 refused the result of %2, round %3: %4")
                       .arg(shownName(), record.value(QLatin1String("site")).toString())
                       .arg(record.value(QLatin1String("round")).toInt())
                       .arg(a.message)};
}

QStringList PgStore::flushPending()
{
    const std::lock_guard hold(m_lock);
    if (!m_pending.isEmpty() && !m_conn.waits().stopped())
        (void)attempt([&](bool) { return m_conn.exec("SELECT 1", {}, within(storelimits::query)); });
    QStringList missing;
    for (const QJsonObject &r : m_pending)
        missing << QStringLiteral("%1 round %2 (run %3)")
                       .arg(r.value(QLatin1String("site")).toString())
                       .arg(r.value(QLatin1String("round")).toInt())
                       .arg(r.value(QLatin1String("run")).toString());
    return missing;
}
