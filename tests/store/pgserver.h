// SPDX-License-Identifier: GPL-3.0-or-later
// The throw-away PostgreSQL server the test command starts (scripts/pgtest.sh, a CTest
// fixture): where it is, a fresh database on it for each test, and SQL run as its owner.
#pragma once

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTest>
#include <libpq-fe.h>

struct PgServer {
    QString dir, port, user, password, skipped;

    static PgServer fromState()
    {
        PgServer s;
        QFile f(QStringLiteral(VORALITH_PG_STATE));
        if (!f.open(QIODevice::ReadOnly)) {
            s.skipped = QStringLiteral("the server's state file is missing (run the test through ctest)");
            return s;
        }
        static const QRegularExpression pair(QStringLiteral("^(\\w+)='(.*)'$"));
        for (const QByteArray &line : f.readAll().split('\n')) {
            const auto m = pair.match(QString::fromUtf8(line));
            if (!m.hasMatch())
                continue;
            const QString key = m.captured(1), value = m.captured(2);
            QString other;
            (key == "dir" ? s.dir : key == "port" ? s.port : key == "user" ? s.user : key == "password" ? s.password
             : key == "skipped" ? s.skipped : other) = value;
        }
        return s;
    }
    // A URI for `database` over the Unix socket, without the password (PGPASSWORD gives it).
    QString uri(const QString &database) const
    {
        return QStringLiteral("postgresql://%1@/%2?host=%3&port=%4").arg(user, database, dir, port);
    }
    // SQL on `database`; the first row's first value, or "ERROR: ..." when it failed.
    QString sql(const QString &database, const QString &text) const
    {
        const QByteArray info = QStringLiteral("host=%1 port=%2 user=%3 password=%4 dbname=%5")
                                    .arg(dir, port, user, password, database).toUtf8();
        PGconn *c = PQconnectdb(info.constData());
        QString out;
        if (PQstatus(c) != CONNECTION_OK) {
            out = QStringLiteral("ERROR: ") + QString::fromUtf8(PQerrorMessage(c));
        } else {
            PGresult *r = PQexec(c, text.toUtf8().constData());
            const ExecStatusType st = PQresultStatus(r);
            if (st != PGRES_TUPLES_OK && st != PGRES_COMMAND_OK)
                out = QStringLiteral("ERROR: ") + QString::fromUtf8(PQresultErrorMessage(r));
            else if (st == PGRES_TUPLES_OK && PQntuples(r) > 0)
                out = QString::fromUtf8(PQgetvalue(r, 0, 0));
            PQclear(r);
        }
        PQfinish(c);
        return out;
    }
    // The one column of every row of a query.
    QStringList rows(const QString &database, const QString &text) const
    {
        return sql(database, QStringLiteral("SELECT coalesce(string_agg(x::text, E'\\n'), '') FROM (%1) q(x)").arg(text))
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    // A database of its own for a test, made afresh.
    bool fresh(const QString &database) const
    {
        sql(QStringLiteral("postgres"), QStringLiteral("DROP DATABASE IF EXISTS \"%1\" WITH (FORCE)").arg(database));
        return !sql(QStringLiteral("postgres"), QStringLiteral("CREATE DATABASE \"%1\"").arg(database)).startsWith("ERROR");
    }
    // The server restarted at once, as after a crash; stopped at once; started again.
    bool restart() const { return control("restart"); }
    bool down() const { return control("down"); }
    bool up() const { return control("up"); }
    bool control(const char *action) const
    {
        return QProcess::execute(QStringLiteral("bash"), {QStringLiteral(VORALITH_PGTEST), QString::fromLatin1(action),
                                                           QStringLiteral(VORALITH_PG_STATE)}) == 0;
    }
};

// Skips the test, with the line the test command looks for, where there is no server.
#define REQUIRE_PG_SERVER(server)                                                                              \
    do {                                                                                                         \
        if (!(server).skipped.isEmpty())                                                                         \
            QSKIP(qPrintable(QStringLiteral("SKIPPED: no PostgreSQL server: ") + (server).skipped));              \
    } while (false)
