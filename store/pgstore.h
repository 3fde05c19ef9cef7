// SPDX-License-Identifier: GPL-3.0-or-later
// The line's store in PostgreSQL: one connection for the whole process, used by one site's
// thread at a time, a number taken and committed in one statement, every chip's result a
// row, and a lost connection waited for (storelimits.h) with the results in hand kept.
#pragma once

#include "pgconnection.h"
#include "store.h"

#include <QJsonObject>
#include <QList>
#include <QStringList>
#include <atomic>
#include <functional>
#include <mutex>

struct StoreOptions {
    QString connection;  // a libpq URI or key=value words
    QString station;     // named in every row
    QString counter;     // the counter the numbers come from; empty without --serial
    quint64 start = 1, step = 1;
    bool startGiven = false, stepGiven = false;
};

// The largest number the store holds (bigint).
inline constexpr quint64 kStoreLargest = 9223372036854775807ULL;

class PgStore : public LineStore {
public:
    explicit PgStore(StoreOptions options);
    // Connected, its tables checked, and with a counter, the counter made from the start
    // number when missing; `notes` says where an existing counter differs from the options.
    // A failure of kind PortLost: the store cannot be reached; Refused: its tables are not
    // this program's.
    Status open(QStringList *notes);

    QString shownName() const override { return m_conn.shownName(); }
    QString station() const override { return m_options.station; }
    QString counter() const override { return m_options.counter; }
    quint64 counterStep() const override { return m_step; }
    Status prepareSerial(const SerialPlace &place, int chips) override;
    Result<quint64> takeSerial(const QString &site, const QString &run, int round) override;
    Status recordResult(const QJsonObject &record) override;
    void stop() override { m_conn.waits().stop(); }
    bool lost() const override { return m_lost; }

    // The results the store could not take (it was lost), tried once more; those still not
    // in it, as "site round N" words.
    QStringList flushPending();
    qsizetype pending()
    {
        const std::lock_guard hold(m_lock);
        return m_pending.size();
    }

private:
    // `statement` on the connection, connected again and tried again while it is lost (for
    // the reconnect limit, once; a store already lost gets one attempt), and again after a
    // serialization failure or a deadlock. `retried` tells the statement it runs again.
    PgAnswer attempt(const std::function<PgAnswer(bool retried)> &statement);
    PgAnswer insertResult(const QJsonObject &record);
    QString whyNoNumber();
    StoreOptions m_options;
    PgConnection m_conn;
    std::mutex m_lock;  // one site's thread on the connection at a time
    quint64 m_step = 1;
    quint64 m_largest = kStoreLargest;
    std::optional<SerialPlace> m_place;
    std::atomic<bool> m_lost = false;
    QList<QJsonObject> m_pending;
};
