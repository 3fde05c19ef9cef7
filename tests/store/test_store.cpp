// SPDX-License-Identifier: GPL-3.0-or-later
// voralith-cli --store on a throw-away PostgreSQL server: a store refused before anything is
// sent (no tables, a schema from the future, a wrong password that is never shown, a server
// down, TLS refused), and three stations of two boards sharing one counter over rounds.
#include "boardtool.h"
#include "pgconnection.h"
#include "pgserver.h"
#include "testfiles.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTemporaryDir>
#include <QtEndian>
#include <memory>
#include <vector>

namespace {
constexpr int kAt = 0x10, kSize = 4, kImageSize = 256;

QByteArray image()
{
    QByteArray d = pattern(kImageSize, 7);
    for (char &c : d)
        c = char(c & 0x7F);  // no FF but at the number's place
    d.replace(kAt, kSize, QByteArray(kSize, char(0xFF)));
    return d;
}

struct Run {
    int status = -1;
    QByteArray out, err;
};
Run cli(const QStringList &args, const QByteArray &typed = {})
{
    QProcess p;
    p.start(QStringLiteral(VORALITH_CLI_PATH), args);
    p.write(typed);
    p.closeWriteChannel();
    Run r;
    if (!p.waitForFinished(60000))
        p.kill();
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}
}  // namespace

class TestStore : public QObject {
    Q_OBJECT
    PgServer m_pg = PgServer::fromState();
    QTemporaryDir m_dir;
    QString m_image;

private slots:
    void initTestCase()
    {
        REQUIRE_PG_SERVER(m_pg);
        qputenv("PGPASSWORD", m_pg.password.toUtf8());
        m_image = writeFile(m_dir.filePath("fw.bin"), image());
        QVERIFY(m_pg.fresh("empty"));
        QVERIFY(m_pg.fresh("future"));
        QVERIFY(m_pg.fresh("stations"));
        QCOMPARE(cli({"store", "init", m_pg.uri("future")}).status, 0);
        QVERIFY(!m_pg.sql("future", "UPDATE voralith_schema SET version = 99").startsWith("ERROR"));
        const Run init = cli({"store", "init", m_pg.uri("stations")});
        QCOMPARE(init.status, 0);
        QVERIFY2(init.err.isEmpty(), init.err.constData());
        // Stations taking at once then fail each other's takes with serialization failures
        // (40001), which must be tried again, never shown.
        QVERIFY(!m_pg.sql("postgres", "ALTER DATABASE stations SET default_transaction_isolation = 'serializable'")
                     .startsWith("ERROR"));
    }

    // The password, in any form libpq takes, is never shown.
    void masked_data()
    {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("shown");
        QTest::newRow("uri") << "postgresql://line:s3cr%40t@db:5432/prod" << "postgresql://line:***@db:5432/prod";
        QTest::newRow("uri query") << "postgresql://line@db/prod?password=s3cret&sslmode=require"
                                   << "postgresql://line@db/prod?password=***&sslmode=require";
        QTest::newRow("words") << "host=db password=s3cret dbname=prod" << "host=db password=*** dbname=prod";
        QTest::newRow("quoted") << "host=db password = 'a b\\'c' dbname=prod" << "host=db password = *** dbname=prod";
        QTest::newRow("none") << "host=db dbname=prod" << "host=db dbname=prod";
    }
    void masked()
    {
        QFETCH(QString, given);
        QFETCH(QString, shown);
        QCOMPARE(maskedConnection(given), shown);
    }

    // Each refused before a byte goes to the board (its log of bytes stays empty), in one
    // line that says why, with the status the README gives.
    void refused_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says");
        const QString wrong = QStringLiteral("postgresql://%1:Wr0ngSecret77@/stations?host=%2&port=%3")
                                  .arg(m_pg.user, m_pg.dir, m_pg.port);
        QTest::newRow("no tables") << m_pg.uri("empty") << 2 << "has no tables of voralith-cli: make them with "
                                                                "\"voralith-cli store init URL\"";
        QTest::newRow("future schema") << m_pg.uri("future") << 2 << "version 99, newer than this voralith-cli knows (1)";
        QTest::newRow("wrong password") << wrong << 3 << "password authentication failed";
        QTest::newRow("no database") << m_pg.uri("nowhere") << 3 << "database \"nowhere\" does not exist";
        QTest::newRow("server down") << QStringLiteral("host=%1 port=%2 user=x dbname=y").arg(m_dir.path(), m_pg.port)
                                     << 3 << "cannot be reached";
        QTest::newRow("TLS refused") << QStringLiteral("host=127.0.0.1 port=%1 user=%2 dbname=stations sslmode=require")
                                            .arg(m_pg.port, m_pg.user)
                                     << 3 << "server does not support SSL, but SSL was required";
    }
    void refused()
    {
        QFETCH(QString, url);
        QFETCH(int, status);
        QFETCH(QString, says);
        const QString bytes = m_dir.filePath(QStringLiteral("bytes-%1").arg(QTest::currentDataTag()).replace(' ', '-'));
        BoardTool board({"--log", bytes});
        QVERIFY(!board.path.isEmpty());
        for (const bool json : {false, true}) {
            QStringList args{"--yes", "--store", url, "--serial", "10:4", "--port", board.path, "program", m_image};
            if (json)
                args.prepend("--json");
            const Run r = cli(args);
            QCOMPARE(r.status, status);
            const QByteArray all = r.out + r.err;
            QVERIFY2(r.err.contains(says.toUtf8()), r.err.constData());
            QVERIFY2(!all.contains("Wr0ngSecret77"), all.constData());
            if (QByteArray(QTest::currentDataTag()) == "wrong password")
                QVERIFY2(r.err.contains(":***@"), r.err.constData());
            QCOMPARE(r.err.count('\n'), json ? 1 : 1);
        }
        QCOMPARE(board.terminate(), 0);
        QCOMPARE(readAll(bytes), QByteArray());
    }

    // Three stations of two boards each, a round at a time all at once, one board spoiling
    // its chip in the second round: every number once, every one in serial_numbers, each
    // chip holding exactly the number its result names, the report adding up.
    void threeStations()
    {
        constexpr int kStations = 3, kRounds = 3;
        QHash<quint64, QString> inChips;
        int firstNote = 0;
        for (int round = 1; round <= kRounds; ++round) {
            std::vector<std::unique_ptr<BoardTool>> boards;
            std::vector<std::unique_ptr<QProcess>> stations;
            QStringList saves;
            for (int s = 0; s < kStations; ++s) {
                QStringList args{"--yes", "--json", "--store", m_pg.uri("stations"), "--station",
                                 QStringLiteral("station%1").arg(s + 1), "--serial", "10:4", "--serial-start", "100"};
                for (int b = 0; b < 2; ++b) {
                    saves << m_dir.filePath(QStringLiteral("r%1s%2b%3.bin").arg(round).arg(s).arg(b));
                    QStringList tool{"--save", saves.last()};
                    // Silent in the middle of the write, after the number went in.
                    if (round == 2 && s == 1 && b == 1)
                        tool << "--silent-after" << "8300";
                    boards.push_back(std::make_unique<BoardTool>(tool));
                    QVERIFY(!boards.back()->path.isEmpty());
                    args << "--port" << boards.back()->path;
                }
                args << "program" << m_image;
                stations.push_back(std::make_unique<QProcess>());
                stations.back()->start(QStringLiteral(VORALITH_CLI_PATH), args);
            }
            QMap<QString, quint64> numberOf;  // board -> the number its result names
            for (int s = 0; s < kStations; ++s) {
                QProcess &p = *stations[std::size_t(s)];
                QVERIFY(p.waitForFinished(60000));
                const QByteArray err = p.readAllStandardError();
                const bool spoiling = round == 2 && s == 1;
                QVERIFY2(p.exitCode() == (spoiling ? 3 : 0), err.constData());
                firstNote += int(err.contains("is in the store already and gives"));
                for (const QByteArray &line : p.readAllStandardOutput().split('\n')) {
                    const QJsonObject o = QJsonDocument::fromJson(line).object();
                    if (o.value("event").toString() == QLatin1String("start")) {
                        QCOMPARE(o.value("store").toObject().value("station").toString(),
                                 QStringLiteral("station%1").arg(s + 1));
                        QCOMPARE(o.value("serial").toObject().value("counter").toString(), QStringLiteral("fw"));
                    }
                    if (o.value("event").toString() == QLatin1String("result")) {
                        QCOMPARE(o.value("result").toString(), QString::fromLatin1(
                                     spoiling && o.value("site").toString() == boards[std::size_t(2 * s + 1)]->path
                                         ? "failed" : "passed"));
                        numberOf[o.value("site").toString()] = quint64(o.value("serial").toInteger());
                    }
                }
            }
            for (std::size_t b = 0; b < boards.size(); ++b) {
                QCOMPARE(boards[b]->terminate(), 0);
                const QByteArray memory = readAll(saves[qsizetype(b)]);
                QVERIFY(memory.size() >= kAt + kSize);
                const quint64 n = qFromBigEndian<quint32>(memory.constData() + kAt);
                QCOMPARE(n, numberOf.value(boards[b]->path));
                QVERIFY2(!inChips.contains(n), qPrintable(QStringLiteral("%1 in two chips").arg(n)));
                inChips[n] = saves[qsizetype(b)];
            }
        }
        // Once numbers are taken, every later station was told its start is not used.
        QVERIFY(firstNote >= kStations * (kRounds - 1));
        const QStringList taken = m_pg.rows("stations", "SELECT number FROM serial_numbers ORDER BY number");
        QCOMPARE(taken.size(), kStations * kRounds * 2);
        QSet<quint64> numbers;
        for (const QString &t : taken)
            numbers.insert(t.toULongLong());
        QCOMPARE(numbers, QSet<quint64>(inChips.keyBegin(), inChips.keyEnd()));
        QCOMPARE(*std::min_element(numbers.begin(), numbers.end()), quint64(100));
        QCOMPARE(m_pg.sql("stations", "SELECT next_number FROM serial_counters WHERE name = 'fw'"),
                 QString::number(100 + kStations * kRounds * 2));
        QCOMPARE(m_pg.sql("stations", "SELECT count(*) FROM chip_results WHERE serial IS NOT NULL AND crc32 IS NOT NULL "
                                      "AND (record->>'serial')::bigint = serial"),
                 QString::number(kStations * kRounds * 2));

        // The report: a line a station and site, with the spoiled chip among the failed.
        const Run text = cli({"store", "report", m_pg.uri("stations")});
        QCOMPARE(text.status, 0);
        qInfo("%s", text.out.constData());
        const QList<QByteArray> lines = text.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 1 + kStations * 2 + 1);
        QVERIFY2(QRegularExpression("^all\\s+17\\s+1\\s+0\\s+0$").match(QString::fromUtf8(lines.last())).hasMatch(),
                 lines.last().constData());
        const Run json = cli({"--json", "store", "report", "--counter", "fw", m_pg.uri("stations")});
        QCOMPARE(json.status, 0);
        int passed = 0, rows = 0;
        for (const QByteArray &line : json.out.split('\n')) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            if (o.value("event").toString() != QLatin1String("report"))
                continue;
            ++rows;
            passed += o.value("passed").toInt();
            QVERIFY(o.value("first").toString() <= o.value("last").toString());
        }
        QCOMPARE(rows, kStations * 2);
        QCOMPARE(passed, 17);
        const Run later = cli({"store", "report", "--since", "2999-01-01", m_pg.uri("stations")});
        QCOMPARE(later.out.trimmed().split('\n').size(), 2);  // the heading and the total
        const Run bad = cli({"store", "report", "--since", "soon", m_pg.uri("stations")});
        QCOMPARE(bad.status, 2);
        QVERIFY2(bad.err.contains("--since takes a time"), bad.err.constData());

        // A counter in use keeps its number and step whatever a station gives.
        BoardTool board({"--save", m_dir.filePath("last.bin")});
        const Run last = cli({"--yes", "--store", m_pg.uri("stations"), "--serial", "10:4", "--serial-start", "5",
                              "--serial-step", "3", "--port", board.path, "program", m_image});
        QCOMPARE(last.status, 0);
        QVERIFY2(last.err.contains("gives 118 next; --serial-start 5 is only for a counter not yet made"),
                 last.err.constData());
        QVERIFY2(last.err.contains("steps by 1, which it keeps"), last.err.constData());
        QCOMPARE(board.terminate(), 0);
        QCOMPARE(qFromBigEndian<quint32>(readAll(m_dir.filePath("last.bin")).constData() + kAt), quint32(118));
    }

    // The server gone in the middle of a run and not back within the wait: no chip is
    // written without its number committed, the run stops with status 3, and what was
    // counted stays counted. Last: the server is down meanwhile.
    void lostDuringRun()
    {
        BoardTool a({}), b({});
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("VORALITH_LIMITS", "storeReconnect=1500,storeConnect=500,storeReconnectStep=100");
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(VORALITH_CLI_PATH),
                {"--yes", "--repeat", "--json", "--store", m_pg.uri("stations"), "--serial", "10:4", "--serial-counter",
                 "lost", "--port", a.path, "--port", b.path, "program", m_image});
        QVERIFY(p.waitForStarted(10000));
        p.write(QByteArray(1000, '\n'));
        p.closeWriteChannel();
        QByteArray out;
        const QDeadlineTimer limit(30000);
        while (out.count("\"event\":\"result\"") < 3 && !limit.hasExpired() && p.state() == QProcess::Running)
            out += p.waitForReadyRead(200) ? p.readAllStandardOutput() : QByteArray();
        struct Back {
            const PgServer &pg;
            ~Back() { pg.up(); }
        } back{m_pg};
        QVERIFY(m_pg.down());
        QVERIFY(p.waitForFinished(30000));
        out += p.readAllStandardOutput();
        const QByteArray err = p.readAllStandardError();
        QCOMPARE(p.exitCode(), 3);
        QVERIFY2(err.contains("did not answer"), err.constData());
        QVERIFY(m_pg.up());
        QSet<quint64> told;
        int results = 0, status = -1;
        for (const QByteArray &line : out.split('\n')) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            if (o.value("event").toString() == QLatin1String("serial"))
                told.insert(quint64(o.value("serial").toInteger()));
            results += int(o.value("event").toString() == QLatin1String("result"));
            if (o.value("event").toString() == QLatin1String("summary"))
                status = o.value("status").toInt();
        }
        QCOMPARE(status, 3);
        // Every number told was committed first (one a site may be committed whose answer was
        // lost); every row is a result told.
        QSet<quint64> stored;
        for (const QString &n : m_pg.rows("stations", "SELECT number FROM serial_numbers WHERE counter = 'lost'"))
            stored.insert(n.toULongLong());
        QVERIFY(stored.contains(told));
        QVERIFY(stored.size() <= told.size() + 2);
        const int rows = m_pg.sql("stations", "SELECT count(*) FROM chip_results WHERE counter = 'lost'").toInt();
        QVERIFY2(rows >= 3 && rows <= results, qPrintable(QStringLiteral("%1 rows, %2 results").arg(rows).arg(results)));
    }
};

QTEST_GUILESS_MAIN(TestStore)
#include "test_store.moc"
