// SPDX-License-Identifier: GPL-3.0-or-later
// The station window offscreen on voralith-board processes: a round's tiles, counts, list and
// log; the jobs and sites it refuses before anything is sent; its keys, its stop and its close.
#include "pgserver.h"
#include "schema.h"
#include "stationfixture.h"

#include <QAction>
#include <QPushButton>
#include <QSettings>
#include <QTest>

namespace {
const QString lotKeys = "chip=89c52\nlog=chips.log\nserial=1FFC:4\nserial-file=next-serial\ncount=10\n";
const QColor green(0x2E, 0x7D, 0x32), red(0xC6, 0x28, 0x28), amber(0xFF, 0xB3, 0x00);
}  // namespace

class TestStation : public QObject {
    Q_OBJECT
public:
    // A silent board ends its test at once, not after the standard two seconds.
    static void initMain() { qputenv("VORALITH_LIMITS", "reply=300,identify=300"); }

private slots:
    // Three boards, the middle one misbehaving: the others pass and take their numbers.
    void round_data()
    {
        QTest::addColumn<QStringList>("board");  // the middle board's options
        QTest::addColumn<QString>("middle");     // its tile's result and reason, as they start
        QTest::addColumn<QString>("tally");      // its tile's counts
        QTest::addColumn<QColor>("colour");
        QTest::addColumn<QString>("counts");     // the lot's
        QTest::newRow("silent") << QStringList{"--silent-after", "1500"}
                                << "FAILED | Blank check stopped at address 5D8h: the board did not answer"
                                << "passed 0   failed 1" << red << "Passed 2 of 10    Failed 1    Empty 0    To go 8";
        QTest::newRow("vanished") << QStringList{"--vanish-after", "1500"}
                                  << "FAILED | Blank check stopped at address 5D8h: the serial port /"
                                  << "passed 0   failed 1" << red << "Passed 2 of 10    Failed 1    Empty 0    To go 8";
        QTest::newRow("empty socket") << QStringList{"--chip", "none"} << "EMPTY | No chip in the socket (signature FF FF FF)"
                                      << "passed 0   failed 0   empty 1" << amber
                                      << "Passed 2 of 10    Failed 0    Empty 1    To go 8";
    }
    void round()
    {
        QFETCH(QStringList, board);
        QFETCH(QString, middle);
        StationFixture t({{}, board, {}});
        QVERIFY(t.w->openJob(t.job(pattern(256), lotKeys)));
        QCOMPARE(t.w->windowTitle(), QString("Voralith Station — demo"));
        QCOMPARE(t.w->tiles().size(), 3);
        QCOMPARE(t.tile(1).headText(), "Site 2  " + t.boards[1]->path);
        QCOMPARE(t.tile(0).resultText(), QString("READY"));
        t.w->startRound();
        QVERIFY(t.w->roundRunning());
        QVERIFY(!t.w->openAction()->isEnabled() && !t.w->sitesAction()->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!t.w->roundRunning(), 60000);

        // The good sites: green, their numbers, their counts.
        QStringList good{t.shown(0), t.shown(2)};
        good.sort();
        QCOMPARE(good, (QStringList{"PASSED |  | serial 1 | passed 1   failed 0", "PASSED |  | serial 2 | passed 1   failed 0"}));
        QCOMPARE(t.tile(0).background(), green);
        QCOMPARE(t.tile(0).chipText(), QString("AT89C52"));
        QFETCH(QString, tally);
        QVERIFY2(t.shown(1).startsWith(middle) && t.shown(1).endsWith(" |  | " + tally), qPrintable(t.shown(1)));
        QFETCH(QColor, colour);
        QCOMPARE(t.tile(1).background(), colour);
        QFETCH(QString, counts);
        QCOMPARE(t.w->countsLabel()->text(), counts);
        QVERIFY2(t.w->timesLabel()->text().startsWith("Yield 100.0 %") || t.w->timesLabel()->text().startsWith("Yield 66.7 %"),
                 qPrintable(t.w->timesLabel()->text()));
        QVERIFY(t.w->timesLabel()->text().endsWith("Round 1"));
        QCOMPARE(t.w->resultList()->topLevelItemCount(), 3);

        // The records: a result a site and a number a good chip, the counter moved on.
        const QStringList log = t.logLines();
        QCOMPARE(log.filter("\"event\":\"result\"").size(), 3);
        QCOMPARE(log.filter("\"event\":\"serial\"").size(), 2);
        QCOMPARE(readAll(t.path("next-serial")), QByteArray("3\n"));
        // The lot is not done: its job and its sites stay until it is ended.
        QVERIFY(t.w->lotRunning() && !t.w->openAction()->isEnabled());
        t.w->endLot();
        QVERIFY(!t.w->lotRunning() && t.w->openAction()->isEnabled());
    }

    // A lot of two on three sites: one round on two of them, and then no more chips.
    void lotDone()
    {
        StationFixture t;
        QVERIFY(t.w->openJob(t.job(pattern(256), "log=chips.log\ncount=2\n")));
        t.w->startRound();
        QTRY_VERIFY_WITH_TIMEOUT(!t.w->lotRunning(), 30000);
        QCOMPARE(t.w->countsLabel()->text(), QString("Passed 2 of 2    Failed 0    Empty 0    To go 0"));
        QCOMPARE(t.shown(2), QString("READY |  |  | passed 0   failed 0"));
        QCOMPARE(t.wire(2), QByteArray());
        QVERIFY2(t.w->messageLabel()->text().startsWith("The lot of 2 is done."), qPrintable(t.w->messageLabel()->text()));
        QVERIFY(!t.w->startButton()->isEnabled());
        t.w->startRound();
        QVERIFY(!t.w->roundRunning());
        QCOMPARE(t.logLines().size(), 2);
    }

    // The sites: --port, else the ports the settings map, else the job's. Only the board
    // the right one leads to passes; the others lead to no board.
    void sitesFound_data()
    {
        QTest::addColumn<QString>("from");
        QTest::newRow("command line") << "command line";
        QTest::newRow("settings") << "settings";
        QTest::newRow("job") << "job";
    }
    void sitesFound()
    {
        QFETCH(QString, from);
        StationFixture t(QList<QStringList>{QStringList()}, from == "command line");
        const QString board = t.boards[0]->path, none = t.path("no-board");
        {
            QSettings settings("Quorvale", "Quorvale");
            settings.remove("Ports");
            if (from != "job")
                settings.setValue("Ports/Com5", from == "settings" ? board : none);
        }
        QVERIFY(t.w->openJob(t.job(pattern(256), "port=" + (from == "job" ? board : none) + "\n")));
        QCOMPARE(t.w->tiles().size(), 1);
        QCOMPARE(t.tile(0).headText(), "Site 1  " + board);  // a site is named by its device
        t.w->startRound();
        QTRY_VERIFY_WITH_TIMEOUT(!t.w->roundRunning(), 30000);
        QCOMPARE(t.tile(0).resultText(), QString("PASSED"));
        QSettings("Quorvale", "Quorvale").remove("Ports");
    }

    // Refused before anything is sent, with the reason in the window.
    void refused_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("message");
        QTest::newRow("no crc32") << "no crc32" << "gives no crc32";
        QTest::newRow("other crc32") << "other crc32" << "the job expects";
        QTest::newRow("image rebuilt") << "image rebuilt" << "the job expects";
        QTest::newRow("device twice") << "device twice" << "same device";
        QTest::newRow("bad key") << "bad key" << "there is no such key";
        QTest::newRow("a store that cannot be reached") << "a store" << "cannot be reached";
    }
    void refused()
    {
        QFETCH(QString, how);
        QFETCH(QString, message);
        StationFixture t(QList<QStringList>{QStringList()});
        const QByteArray image = pattern(256);
        QString job = how == "no crc32"      ? t.job(image, lotKeys, QByteArray())
                      : how == "other crc32" ? t.job(image, lotKeys, pattern(256, 7))
                      : how == "bad key"     ? t.job(image, lotKeys + "speed=fast\n")
                      : how == "a store"     ? t.job(image, "chip=89c52\nlog=chips.log\ncount=10\nstore=postgresql://line@127.0.0.1:1/production\n")
                                             : t.job(image, lotKeys);
        const bool opens = how == "image rebuilt" || how == "device twice" || how == "a store";
        QCOMPARE(t.w->openJob(job), opens);
        if (how == "image rebuilt")
            writeFile(t.path("image.bin"), pattern(256, 7));
        if (how == "device twice")
            QVERIFY(!t.w->setSites({t.boards[0]->path, t.boards[0]->path}));
        t.w->startRound();
        QVERIFY(!t.w->roundRunning() && !t.w->lotRunning());
        QVERIFY2(t.w->messageLabel()->text().contains(message), qPrintable(t.w->messageLabel()->text()));
        QVERIFY(how == "image rebuilt" || how == "a store" || !t.w->startButton()->isEnabled());  // worth trying again
        QCOMPARE(t.wire(0), QByteArray());
        QVERIFY(!QFile::exists(t.path("chips.log")) && !QFile::exists(t.path("next-serial")));
    }

    // A job with a store: the numbers and the records are the store's, as voralith-cli's.
    void store()
    {
        const PgServer pg = PgServer::fromState();
        REQUIRE_PG_SERVER(pg);
        qputenv("PGPASSWORD", pg.password.toUtf8());
        QVERIFY(pg.fresh("station"));
        PgConnection c(pg.uri("station"));
        QVERIFY(c.connect(QDeadlineTimer(10000)).ok);
        QVERIFY(storeschema::init(c, c.shownName(), QDeadlineTimer(10000)).ok());
        StationFixture t(QList<QStringList>{QStringList(), QStringList()});
        QVERIFY(t.w->openJob(t.job(pattern(256), "chip=89c52\nserial=1FFC:4\nserial-start=500\ncount=2\nstation=bench-7\n"
                                                 "store=" + pg.uri("station") + "\n")));
        t.w->startRound();
        QTRY_VERIFY_WITH_TIMEOUT(!t.w->lotRunning(), 30000);
        QCOMPARE(t.tile(0).resultText(), QString("PASSED"));
        QCOMPARE(t.tile(1).resultText(), QString("PASSED"));
        QCOMPARE(pg.sql("station", "SELECT string_agg(number::text, ',' ORDER BY number) FROM serial_numbers "
                                   "WHERE counter = 'demo' AND station = 'bench-7'"),
                 "500,501");
        QCOMPARE(pg.sql("station", "SELECT count(*) FROM chip_results WHERE result = 'passed' AND station = 'bench-7'"),
                 "2");
        QVERIFY(!QFile::exists(t.path("next-serial")));
    }

    // Space starts a round on every site; Escape, or closing the window, stops each after the
    // byte in hand, and the round ends with every site's result.
    void stopping_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("answer");
        QTest::newRow("Escape") << "Escape" << true;
        QTest::newRow("close") << "close" << true;
        QTest::newRow("close, answered no") << "close" << false;
    }
    void stopping()
    {
        QFETCH(QString, how);
        QFETCH(bool, answer);
        StationFixture t({{"--paced"}, {"--paced"}});
        t.answer = answer;
        QVERIFY(t.w->openJob(t.job(pattern(256), lotKeys)));
        t.w->show();
        QVERIFY(QTest::qWaitForWindowActive(t.w.get()));
        QTest::keyClick(t.w.get(), Qt::Key_Space);
        QVERIFY(t.w->roundRunning());
        QTRY_COMPARE_WITH_TIMEOUT(t.tile(1).stepText(), QString("Blank check…"), 20000);
        QTest::keyClick(t.w.get(), Qt::Key_Return);  // a second start while one runs is no round
        if (how == "Escape")
            QTest::keyClick(t.w.get(), Qt::Key_Escape);
        else
            t.w->close();
        QCOMPARE(t.asked.size(), how == "close" ? 1 : 0);
        if (!answer) {
            QVERIFY(t.w->isVisible() && t.w->roundRunning());
            t.w->stop();
        }
        QTRY_VERIFY_WITH_TIMEOUT(!t.w->roundRunning(), 10000);
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(t.tile(i).resultText(), QString("FAILED"));
            QVERIFY2(t.tile(i).detailText().contains(how == "close" && answer ? "the window was closed" : "operator"),
                     qPrintable(t.tile(i).detailText()));
        }
        QCOMPARE(t.logLines().filter("\"event\":\"result\"").size(), 2);
        if (!(how == "close" && answer)) {
            // A stopped round leaves the lot open: Start goes on with it, its counts kept,
            // until it is ended.
            QVERIFY(t.w->lotRunning() && !t.w->openAction()->isEnabled());
            QTest::keyClick(t.w.get(), Qt::Key_Space);
            QVERIFY(t.w->roundRunning());
            QTRY_COMPARE_WITH_TIMEOUT(t.tile(1).stepText(), QString("Blank check…"), 20000);
            QTest::keyClick(t.w.get(), Qt::Key_Escape);
            QTRY_VERIFY_WITH_TIMEOUT(!t.w->roundRunning(), 10000);
            QCOMPARE(t.logLines().filter("\"event\":\"result\"").size(), 4);
            QVERIFY2(t.w->countsLabel()->text().contains("Failed 4"), qPrintable(t.w->countsLabel()->text()));
            t.w->endLot();
        }
        // An ended lot is over: its job may change again.
        QTRY_VERIFY(!t.w->lotRunning());
        QCOMPARE(t.w->isVisible(), !(how == "close" && answer));
        QVERIFY(t.w->openAction()->isEnabled());
    }
};

QTEST_MAIN(TestStation)
#include "test_station.moc"
