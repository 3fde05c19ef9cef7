// SPDX-License-Identifier: GPL-3.0-or-later
// One libpq connection whose every wait has a limit and ends on a stop: connecting, and
// statements with their parameters apart from the SQL text. Its failures say what libpq
// says, on one line, with the connection's password never in them.
#pragma once

#include "socketwait.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

typedef struct pg_conn PGconn;

// The connection string (a URI or key=value words) with its password, wherever it is, masked.
QString maskedConnection(const QString &connection);

struct PgAnswer {
    bool ok = false;
    bool lost = false;      // the connection is gone (or its state unknown): connect again
    bool stopped = false;   // a stop ended the wait
    QByteArray sqlState;    // the server's error code ("40001"), when it gave one
    QString message;        // why not, on one line
    QList<QList<std::optional<QString>>> rows;  // each value as text; nullopt for NULL
    QString value(int row = 0, int column = 0) const { return rows.value(row).value(column).value_or(QString()); }
};

using PgParams = QList<std::optional<QByteArray>>;

class PgConnection {
public:
    explicit PgConnection(QString connection);
    ~PgConnection();
    PgConnection(const PgConnection &) = delete;
    PgConnection &operator=(const PgConnection &) = delete;

    const QString &shownName() const { return m_shown; }
    // Connected (a connection that went bad is made again); or why not.
    PgAnswer connect(QDeadlineTimer deadline);
    bool connected() const;
    void close();
    // One statement, its parameters as text ($1, $2, ...; nullopt is NULL), each awaited
    // until `deadline`. A connection whose answer did not come in time is closed.
    PgAnswer exec(const char *sql, const PgParams &params, QDeadlineTimer deadline);
    // Several statements without parameters in one text (the schema's steps).
    PgAnswer script(const QByteArray &sql, QDeadlineTimer deadline);
    SocketWait &waits() { return m_wait; }

private:
    PgAnswer failed(const QString &why, bool lost);
    PgAnswer answer(QDeadlineTimer deadline);
    QString oneLine(const QString &text) const;
    QString m_connection;
    QString m_shown;
    QStringList m_secrets;  // the password and its forms in the connection string
    PGconn *m_conn = nullptr;
    SocketWait m_wait;
};
