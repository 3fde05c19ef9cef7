// SPDX-License-Identifier: GPL-3.0-or-later
// A libpq connection driven by its asynchronous calls, so that a silent server or a stop
// ends each wait at its limit instead of blocking the site's thread.
#include "pgconnection.h"

#include <QRegularExpression>
#include <QUrl>
#include <libpq-fe.h>
#include <vector>

namespace {
// The password the connection string gives, if any.
QString givenPassword(const QString &connection)
{
    char *error = nullptr;
    PQconninfoOption *options = PQconninfoParse(connection.toUtf8().constData(), &error);
    PQfreemem(error);
    QString password;
    for (PQconninfoOption *o = options; o && o->keyword; ++o) {
        if (qstrcmp(o->keyword, "password") == 0 && o->val)
            password = QString::fromUtf8(o->val);
    }
    PQconninfoFree(options);
    return password;
}
}  // namespace

QString maskedConnection(const QString &connection)
{
    QString shown = connection;
    // The URI's user:password@, a password= word or query parameter, whatever libpq makes of
    // the rest (a string it cannot parse is masked by its form alone).
    static const QRegularExpression inUri(QStringLiteral("^([a-z]+://[^/@:?]*:)[^@/?]*@"));
    static const QRegularExpression word(QStringLiteral("(password\\s*=\\s*)('(?:[^'\\\\]|\\\\.)*'|[^\\s&]+)"));
    shown.replace(inUri, QStringLiteral("\\1***@"));
    shown.replace(word, QStringLiteral("\\1***"));
    if (const QString password = givenPassword(connection); !password.isEmpty()) {
        shown.replace(password, QStringLiteral("***"));
        shown.replace(QString::fromLatin1(QUrl::toPercentEncoding(password)), QStringLiteral("***"));
    }
    return shown;
}

PgConnection::PgConnection(QString connection) : m_connection(std::move(connection))
{
    m_shown = maskedConnection(m_connection);
    if (const QString password = givenPassword(m_connection); !password.isEmpty())
        m_secrets << password << QString::fromLatin1(QUrl::toPercentEncoding(password));
}

PgConnection::~PgConnection()
{
    close();
}

void PgConnection::close()
{
    if (m_conn)
        PQfinish(m_conn);
    m_conn = nullptr;
}

bool PgConnection::connected() const
{
    return m_conn && PQstatus(m_conn) == CONNECTION_OK;
}

QString PgConnection::oneLine(const QString &text) const
{
    QStringList lines;
    for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        lines << line.simplified();
    QString joined = lines.join(QLatin1String("; "));
    for (const QString &secret : m_secrets)
        joined.replace(secret, QStringLiteral("***"));
    // Put in a sentence of this program's, which ends it.
    while (joined.endsWith(QLatin1Char('.')) || joined.endsWith(QLatin1Char('?')))
        joined.chop(1);
    return joined;
}

PgAnswer PgConnection::failed(const QString &why, bool lost)
{
    PgAnswer a;
    a.lost = lost;
    a.message = oneLine(why);
    if (lost)
        close();
    return a;
}

PgAnswer PgConnection::connect(QDeadlineTimer deadline)
{
    if (connected())
        return PgAnswer{true};
    close();
    const QByteArray info = m_connection.toUtf8();
    const char *keys[] = {"fallback_application_name", "dbname", nullptr};
    const char *values[] = {"voralith-cli", info.constData(), nullptr};
    m_conn = PQconnectStartParams(keys, values, 1);
    if (!m_conn)
        return failed(QStringLiteral("out of memory"), true);
    if (PQstatus(m_conn) == CONNECTION_BAD)
        return failed(QString::fromUtf8(PQerrorMessage(m_conn)), true);
    // The server's notices (a shutdown's warning) are not the operator's: what matters comes
    // back as a failure, in this program's words.
    PQsetNoticeProcessor(m_conn, [](void *, const char *) {}, nullptr);
    // libpq's own loop, each of its waits ours.
    PostgresPollingStatusType state = PGRES_POLLING_WRITING;
    for (;;) {
        if (state == PGRES_POLLING_OK)
            break;
        if (state == PGRES_POLLING_FAILED)
            return failed(QString::fromUtf8(PQerrorMessage(m_conn)), true);
        const SocketWait::Outcome w = m_wait.wait(PQsocket(m_conn), state == PGRES_POLLING_WRITING, deadline);
        if (w == SocketWait::Stopped) {
            PgAnswer a = failed(QStringLiteral("stopped"), true);
            a.stopped = true;
            return a;
        }
        if (w == SocketWait::TimedOut)
            return failed(QStringLiteral("the server did not answer in time"), true);
        state = PQconnectPoll(m_conn);
    }
    PQsetnonblocking(m_conn, 1);
    // A number is committed to the disk before the chip it goes into is written, whatever
    // the server's or the database's default.
    PgAnswer set = exec("SET synchronous_commit TO on", {}, deadline);
    if (!set.ok)
        return set;
    return PgAnswer{true};
}

PgAnswer PgConnection::answer(QDeadlineTimer deadline)
{
    // Everything sent first, then every result read, the first error kept.
    for (;;) {
        const int flushed = PQflush(m_conn);
        if (flushed == 0)
            break;
        if (flushed < 0)
            return failed(QString::fromUtf8(PQerrorMessage(m_conn)), true);
        const SocketWait::Outcome w = m_wait.wait(PQsocket(m_conn), true, deadline);
        if (w != SocketWait::Ready) {
            PgAnswer a = failed(w == SocketWait::Stopped ? QStringLiteral("stopped") : QStringLiteral("the server did not answer in time"), true);
            a.stopped = w == SocketWait::Stopped;
            return a;
        }
    }
    PgAnswer a{true};
    bool errored = false;
    for (;;) {
        while (PQisBusy(m_conn)) {
            const SocketWait::Outcome w = m_wait.wait(PQsocket(m_conn), false, deadline);
            if (w != SocketWait::Ready) {
                PgAnswer f = failed(w == SocketWait::Stopped ? QStringLiteral("stopped")
                                                             : QStringLiteral("the server did not answer in time"),
                                    true);
                f.stopped = w == SocketWait::Stopped;
                return f;
            }
            if (!PQconsumeInput(m_conn))
                return failed(QString::fromUtf8(PQerrorMessage(m_conn)), true);
        }
        PGresult *r = PQgetResult(m_conn);
        if (!r)
            break;
        const ExecStatusType status = PQresultStatus(r);
        if (status == PGRES_TUPLES_OK && !errored) {
            a.rows.clear();
            for (int i = 0; i < PQntuples(r); ++i) {
                QList<std::optional<QString>> row;
                for (int j = 0; j < PQnfields(r); ++j)
                    row << (PQgetisnull(r, i, j) ? std::nullopt
                                                 : std::optional<QString>(QString::fromUtf8(PQgetvalue(r, i, j))));
                a.rows << row;
            }
        } else if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && !errored) {
            errored = true;
            a.ok = false;
            const char *state = PQresultErrorField(r, PG_DIAG_SQLSTATE);
            a.sqlState = state ? QByteArray(state) : QByteArray();
            const char *primary = PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY);
            a.message = oneLine(QString::fromUtf8(primary ? primary : PQresultErrorMessage(r)));
        }
        PQclear(r);
    }
    if (PQstatus(m_conn) != CONNECTION_OK) {
        PgAnswer f = failed(a.message.isEmpty() ? QString::fromUtf8(PQerrorMessage(m_conn)) : a.message, true);
        f.sqlState = a.sqlState;
        return f;
    }
    return a;
}

PgAnswer PgConnection::exec(const char *sql, const PgParams &params, QDeadlineTimer deadline)
{
    if (!connected())
        return failed(QStringLiteral("not connected"), true);
    std::vector<const char *> values;
    for (const std::optional<QByteArray> &p : params)
        values.push_back(p ? p->constData() : nullptr);
    if (!PQsendQueryParams(m_conn, sql, int(values.size()), nullptr, values.data(), nullptr, nullptr, 0))
        return failed(QString::fromUtf8(PQerrorMessage(m_conn)), true);
    return answer(deadline);
}

PgAnswer PgConnection::script(const QByteArray &sql, QDeadlineTimer deadline)
{
    if (!connected())
        return failed(QStringLiteral("not connected"), true);
    if (!PQsendQuery(m_conn, sql.constData()))
        return failed(QString::fromUtf8(PQerrorMessage(m_conn)), true);
    return answer(deadline);
}
