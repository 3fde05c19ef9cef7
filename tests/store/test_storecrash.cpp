// SPDX-License-Identifier: GPL-3.0-or-later
// Four stations of two boards sharing one counter in the store, each killed (SIGKILL) at
// random moments and started again, while the server itself is restarted twice as after a
// crash: no number in two chips, every number found in a chip in serial_numbers, every
// chip_results row whole, no number spent twice.
#include "boardtool.h"
#include "pgserver.h"
#include "testfiles.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QHash>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>
#include <memory>
#include <vector>

namespace {
constexpr int kStations = 4, kSites = 2;
constexpr int kRunMs = 60000;                // the whole run; the restarts at a third and two thirds
constexpr int kKillFromMs = 300, kKillToMs = 4000;
constexpr int kAt = 0x10, kSize = 4, kImageSize = 256;
constexpr quint32 kSeed = 20261209;  // VORALITH_CRASH_SEED gives another

QByteArray image()
{
    QByteArray d(kImageSize, 0);
    for (int i = 0; i < kImageSize; ++i)
        d[i] = char((i * 11 + 3) & 0x7F);
    d.replace(kAt, kSize, QByteArray(kSize, char(0xFF)));
    return d;
}
}  // namespace

class TestStoreCrash : public QObject {
    Q_OBJECT
    PgServer m_pg = PgServer::fromState();
    QTemporaryDir m_dir;
    QString m_image, m_url;
    QRandomGenerator m_random;
    QHash<quint64, QString> m_chips;  // number -> the chip that holds it
    int m_starts = 0, m_kills = 0, m_selfEnded = 0, m_whole = 0, m_partial = 0;

    struct Station {
        std::unique_ptr<QProcess> cli;
        std::vector<std::unique_ptr<BoardTool>> boards;
        QStringList saves;
        QTimer kill;
    };

    void start(Station &s, int index)
    {
        const int n = ++m_starts;
        s.boards.clear();
        s.saves.clear();
        QStringList args{"--yes", "--repeat", "--json", "--store", m_url, "--station",
                         QStringLiteral("station%1").arg(index), "--serial", "10:4"};
        for (int b = 0; b < kSites; ++b) {
            s.saves << m_dir.filePath(QStringLiteral("start%1-site%2.bin").arg(n).arg(b));
            s.boards.push_back(std::make_unique<BoardTool>(QStringList{"--save", s.saves.last()}));
            args << "--port" << s.boards.back()->path;
        }
        args << "program" << m_image;
        s.cli = std::make_unique<QProcess>();
        s.cli->start(QStringLiteral(VORALITH_CLI_PATH), args);
        s.cli->write(QByteArray(2000, '\n'));
        s.cli->closeWriteChannel();
        s.kill.start(kKillFromMs + int(m_random.bounded(kKillToMs - kKillFromMs)));
    }

    // The station gone (killed, or ended by itself): what its chips hold.
    void collect(Station &s, bool killed)
    {
        if (!s.cli)
            return;
        if (s.cli->state() != QProcess::NotRunning) {
            s.cli->kill();
            s.cli->waitForFinished(10000);
        } else if (!killed) {
            ++m_selfEnded;
            qInfo("a station ended by itself (%d): %s", s.cli->exitCode(), s.cli->readAllStandardError().right(300).constData());
        }
        s.cli.reset();
        m_kills += int(killed);
        for (std::size_t b = 0; b < s.boards.size(); ++b) {
            QCOMPARE(s.boards[b]->terminate(), 0);
            const QByteArray memory = readAll(s.saves[qsizetype(b)]);
            int written = int(memory.size());
            while (written > 0 && quint8(memory.at(written - 1)) == 0xFF)
                --written;
            const QByteArray want = image();
            for (int a = 0; a < written; ++a)
                QVERIFY2((a >= kAt && a < kAt + kSize) || (a < want.size() && memory.at(a) == want.at(a)),
                         qPrintable(s.saves[qsizetype(b)] + ": holds what is not the image"));
            if (written < kAt + kSize) {
                m_partial += int(written > 0);
                continue;
            }
            const quint64 number = qFromBigEndian<quint32>(memory.constData() + kAt);
            QVERIFY2(!m_chips.contains(number), qPrintable(QStringLiteral("%1 is in %2 and %3")
                                                               .arg(number)
                                                               .arg(m_chips.value(number), s.saves[qsizetype(b)])));
            m_chips[number] = s.saves[qsizetype(b)];
            m_whole += int(written == kImageSize);
        }
        s.boards.clear();
    }

private slots:
    void initTestCase()
    {
        REQUIRE_PG_SERVER(m_pg);
        qputenv("PGPASSWORD", m_pg.password.toUtf8());
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.filePath("data")));
        QVERIFY(m_pg.fresh("crash"));
        m_url = m_pg.uri("crash");
        m_image = writeFile(m_dir.filePath("fw.bin"), image());
        QProcess init;
        init.start(QStringLiteral(VORALITH_CLI_PATH), {"store", "init", m_url});
        QVERIFY(init.waitForFinished(30000) && init.exitCode() == 0);
        const QByteArray seed = qgetenv("VORALITH_CRASH_SEED");
        m_random.seed(seed.isEmpty() ? kSeed : seed.toUInt());
        qInfo("seed %u", seed.isEmpty() ? kSeed : seed.toUInt());
    }

    void killedAndRestarted()
    {
        QElapsedTimer clock;
        clock.start();
        std::vector<std::unique_ptr<Station>> stations;
        for (int i = 0; i < kStations; ++i) {
            stations.push_back(std::make_unique<Station>());
            Station &s = *stations.back();
            s.kill.setSingleShot(true);
            connect(&s.kill, &QTimer::timeout, this, [this, &s, i] {
                collect(s, true);
                if (!QTest::currentTestFailed())
                    start(s, i + 1);
            });
            start(s, i + 1);
        }
        int restarts = 0;
        QEventLoop loop;
        QTimer restart, end;
        connect(&restart, &QTimer::timeout, this, [&] {
            QVERIFY2(m_pg.restart(), "the server did not restart");
            if (++restarts == 2)
                restart.stop();
        });
        connect(&end, &QTimer::timeout, &loop, &QEventLoop::quit);
        restart.start(kRunMs / 3);
        end.start(kRunMs);
        // A station that ends by itself (the store gave up on it) is counted and started again.
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            for (int i = 0; i < kStations; ++i) {
                Station &s = *stations[std::size_t(i)];
                if (s.cli && s.cli->state() == QProcess::NotRunning) {
                    s.kill.stop();
                    collect(s, false);
                    start(s, i + 1);
                }
            }
            if (QTest::currentTestFailed())
                loop.quit();
        });
        watch.start(200);
        loop.exec();
        watch.stop();
        for (auto &s : stations) {
            s->kill.stop();
            collect(*s, true);
        }
        QCOMPARE(restarts, 2);

        // Every number in a chip is in serial_numbers, once; none taken twice; the counter above all.
        const QString db = QStringLiteral("crash");
        QSet<quint64> taken;
        for (const QString &n : m_pg.rows(db, "SELECT number FROM serial_numbers"))
            taken.insert(n.toULongLong());
        for (auto it = m_chips.cbegin(); it != m_chips.cend(); ++it)
            QVERIFY2(taken.contains(it.key()), qPrintable(QStringLiteral("%1 in %2 is not in serial_numbers")
                                                              .arg(it.key()).arg(it.value())));
        QCOMPARE(m_pg.sql(db, "SELECT count(*) - count(DISTINCT (counter, number)) FROM serial_numbers"), "0");
        QCOMPARE(m_pg.sql(db, "SELECT (SELECT next_number FROM serial_counters) > coalesce(max(number), 0) FROM "
                              "serial_numbers"),
                 "t");
        // Every result row whole: the columns are its record's, its number one taken by its site.
        QCOMPARE(m_pg.sql(db, "SELECT count(*) FROM chip_results WHERE result NOT IN ('passed', 'failed', 'empty') "
                              "OR record->>'site' IS DISTINCT FROM site OR (record->>'round')::int <> round "
                              "OR record->>'result' IS DISTINCT FROM result OR record->>'run' IS DISTINCT FROM run "
                              "OR (record->>'serial')::bigint IS DISTINCT FROM serial"),
                 "0");
        QCOMPARE(m_pg.sql(db, "SELECT count(*) FROM chip_results c WHERE serial IS NOT NULL AND NOT EXISTS (SELECT 1 "
                              "FROM serial_numbers n WHERE n.counter = c.counter AND n.number = c.serial AND "
                              "n.run = c.run AND n.site = c.site AND n.round = c.round)"),
                 "0");
        QCOMPARE(m_pg.sql(db, "SELECT count(*) FROM (SELECT 1 FROM chip_results WHERE serial IS NOT NULL "
                              "GROUP BY counter, serial HAVING count(*) > 1) twice"),
                 "0");
        QVERIFY2(m_chips.size() >= 10, "too few chips numbered to tell anything");

        qInfo("stations started %d times, killed %d times, %d ended by themselves; server restarted %d times",
              m_starts, m_kills, m_selfEnded, restarts);
        // A board keeps only its last chip: earlier rounds' chips are known by their rows.
        qInfo("numbers taken: %lld; found in a board's last chip: %lld (%d of them whole), chips left without a "
              "whole number: %d",
              qint64(taken.size()), qint64(m_chips.size()), m_whole, m_partial);
        qInfo("chip_results rows: %s (passed %s, failed %s); numbers spent without a result (a kill between the "
              "take and the result): %s",
              qPrintable(m_pg.sql(db, "SELECT count(*) FROM chip_results")),
              qPrintable(m_pg.sql(db, "SELECT count(*) FROM chip_results WHERE result = 'passed'")),
              qPrintable(m_pg.sql(db, "SELECT count(*) FROM chip_results WHERE result = 'failed'")),
              qPrintable(m_pg.sql(db, "SELECT count(*) FROM serial_numbers n WHERE NOT EXISTS (SELECT 1 FROM "
                                      "chip_results c WHERE c.counter = n.counter AND c.serial = n.number)")));
        qInfo("total time: %lld ms", clock.elapsed());
    }
};

QTEST_GUILESS_MAIN(TestStoreCrash)
#include "test_storecrash.moc"
