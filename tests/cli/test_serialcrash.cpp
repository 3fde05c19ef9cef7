// SPDX-License-Identifier: GPL-3.0-or-later
// voralith-cli killed at random moments while it numbers chips on four boards, and started
// again on the same counter and log: no number given twice, none in a chip without its log
// line, no torn log line, no leftover temporary counter taken for the counter.
#include "boardtool.h"
#include "ops/faults.h"
#include "testfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>
#include <memory>
#include <optional>
#include <vector>

namespace {
constexpr int kSites = 4;
constexpr int kKills = 30;
constexpr int kChipSize = 8192;   // the board's default chip, an AT89C52
constexpr int kAt = 0x10;         // --serial 10:4, big-endian
constexpr int kSize = 4;
constexpr int kImageSize = 256;
constexpr quint32 kSeed = 20261207;  // VORALITH_CRASH_SEED gives another

// 256 bytes without an FF, but at the serial number's place: a chip written past a byte
// shows it, and one whose last byte is there holds its number whole.
QByteArray image()
{
    QByteArray d(kImageSize, 0);
    for (int i = 0; i < kImageSize; ++i)
        d[i] = char((i * 13 + 1) & 0x7F);
    d.replace(kAt, kSize, QByteArray(kSize, char(0xFF)));
    return d;
}

// A saved chip: how far it was written, whether it holds anything but the image there, and
// its number once the number's bytes are all written.
struct Flash {
    int written = 0;
    bool garbled = false;
    std::optional<quint64> number;
};
Flash look(const QByteArray &memory)
{
    Flash f;
    f.written = int(memory.size());
    while (f.written > 0 && quint8(memory.at(f.written - 1)) == 0xFF)
        --f.written;
    const QByteArray want = image();
    for (int a = 0; a < f.written; ++a)
        if ((a < kAt || a >= kAt + kSize) && (a >= want.size() || memory.at(a) != want.at(a)))
            f.garbled = true;
    if (f.written >= kAt + kSize)
        f.number = qFromBigEndian<quint32>(memory.constData() + kAt);
    return f;
}

// When voralith-cli is killed: `ms` after it starts, or at the `changes`th change of the
// counter's folder or of the log.
struct Kill {
    enum Kind { AfterDelay, OnCounter, OnLog } kind = AfterDelay;
    int ms = 0, changes = 0;
    QString text() const
    {
        return kind == AfterDelay ? QStringLiteral("after %1 ms").arg(ms)
               : kind == OnCounter ? QStringLiteral("at change %1 of the counter").arg(changes)
                                   : QStringLiteral("at change %1 of the log").arg(changes);
    }
};

// Where the kill found a site: its last event on standard output.
QString landing(const QJsonObject &o)
{
    const QString event = o.value("event").toString();
    if (event == QLatin1String("serial"))
        return QStringLiteral("number taken");
    if (event == QLatin1String("result"))
        return QStringLiteral("between chips");
    return o.value("step").toString();
}
}  // namespace

class TestSerialCrash : public QObject {
    Q_OBJECT
    QTemporaryDir m_home, m_dir;
    QString m_counter, m_log, m_image;
    QRandomGenerator m_random;
    qint64 m_logRead = 0;
    quint64 m_next = 1;  // the counter as last read; 1, --serial-start's default, before it is made
    QHash<quint64, QString> m_chips;  // number -> the chip that showed it
    QSet<quint64> m_logged, m_completed;
    QSet<QString> m_runs;
    QMap<QString, int> m_landed;
    int m_seen = 0, m_unlogged = 0, m_leftovers = 0;
    int m_kinds[3] = {};
    qint64 m_roundMs = 0;

    // One start of voralith-cli on four fresh boards, killed at `kill` (none: left to
    // program one round and end), then all it left checked against what came before.
    void start(int n, std::optional<Kill> kill)
    {
        const QString where = QStringLiteral("start %1, killed %2").arg(n).arg(kill ? kill->text() : "never");
        QVERIFY(QDir(m_dir.path()).mkpath(QString::number(n)));
        std::vector<std::unique_ptr<BoardTool>> boards;
        QStringList args{"--yes", "--repeat", "--json", "--log", m_log, "--serial", "10:4", "--serial-file", m_counter};
        QStringList sites, saves;
        for (int s = 0; s < kSites; ++s) {
            saves << m_dir.filePath(QStringLiteral("%1/chip%2.bin").arg(n).arg(s));
            boards.push_back(std::make_unique<BoardTool>(QStringList{"--save", saves.last()}));
            QVERIFY2(!boards.back()->path.isEmpty(), "voralith-board gave no device");
            sites << boards.back()->path;
            args << "--port" << sites.last();
        }
        args << "program" << m_image;

        // Every other start finds a temporary counter it must throw away, far above the counter.
        const QString tmp = m_counter + QStringLiteral(".tmp");  // where the counter is written first
        const QByteArray planted = QByteArray::number(m_next + 1000) + '\n';
        if (n % 2 && !QFile::exists(tmp))
            writeFile(tmp, planted);
        const quint64 before = m_next;

        QProcess cli;
        QElapsedTimer clock;
        clock.start();
        cli.start(QStringLiteral(VORALITH_CLI_PATH), args);
        QVERIFY(cli.waitForStarted(10000));
        if (!kill) {
            // One round, timed, to place the kills in this machine's time.
            cli.closeWriteChannel();
            QVERIFY(cli.waitForFinished(30000));
            m_roundMs = clock.elapsed();
            QVERIFY2(cli.exitStatus() == QProcess::NormalExit && cli.exitCode() == 0,
                     cli.readAllStandardError().constData());
        } else {
            // Round after round until killed: when the moment comes, or at a change of the
            // counter's folder or of the log, just after it is made.
            cli.write(QByteArray(1000, '\n'));
            cli.closeWriteChannel();
            QEventLoop loop;
            QTimer timer;
            QFileSystemWatcher watcher;
            int changes = 0;
            auto change = [&] {
                if (++changes == kill->changes)
                    loop.quit();
            };
            connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
            connect(&watcher, &QFileSystemWatcher::directoryChanged, &loop, change);
            connect(&watcher, &QFileSystemWatcher::fileChanged, &loop, change);
            connect(&cli, &QProcess::finished, &loop, &QEventLoop::quit);
            // A run that stops changing anything has hung: it is not waited for long.
            timer.start(kill->kind == Kill::AfterDelay ? kill->ms : 20 * int(m_roundMs));
            if (kill->kind != Kill::AfterDelay)
                QVERIFY(watcher.addPath(kill->kind == Kill::OnCounter ? QFileInfo(m_counter).path() : m_log));
            loop.exec();
            QVERIFY2(cli.state() == QProcess::Running,
                     qPrintable(where + ": ended by itself: " + cli.readAllStandardError()));
            QVERIFY2(kill->kind == Kill::AfterDelay || changes == kill->changes,
                     qPrintable(where + ": no such change came"));
            cli.kill();
            QVERIFY(cli.waitForFinished(10000));
        }
        const QByteArray out = cli.readAllStandardOutput();

        QHash<QString, QJsonObject> last;
        for (const QByteArray &line : out.split('\n')) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            if (o.contains("site") && o.value("event").toString() != QLatin1String("progress"))
                last[o.value("site").toString()] = o;
        }
        if (kill)
            for (const QString &site : sites)
                ++m_landed[last.contains(site) ? landing(last[site]) : QStringLiteral("starting")];

        const QByteArray counter = readAll(m_counter);
        QVERIFY2(QRegularExpression("^[0-9]+\n$").match(QString::fromLatin1(counter)).hasMatch(),
                 qPrintable(where + ": the counter holds \"" + counter + "\""));
        m_next = counter.trimmed().toULongLong();
        if (QFile::exists(tmp) && readAll(tmp) != planted)
            ++m_leftovers;

        for (auto &b : boards)
            QVERIFY2(b->terminate() == 0, qPrintable(where + ": a board ended badly"));

        // The log: whole lines, each a JSON object, this start's of one run.
        QFile file(m_log);
        QVERIFY(file.open(QIODevice::ReadOnly) && file.seek(m_logRead));
        const QByteArray added = file.readAll();
        m_logRead += added.size();
        QVERIFY2(added.isEmpty() || added.endsWith('\n'), qPrintable(where + ": the log's last line is torn"));
        QHash<QString, quint64> latest;  // site -> the number it took last
        QHash<QString, int> latestRound;
        QHash<QString, quint64> passedLast;
        int taken = 0;
        QString run;
        for (const QByteArray &line : added.split('\n')) {
            if (line.isEmpty())
                continue;
            QJsonParseError error{};
            const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
            QVERIFY2(error.error == QJsonParseError::NoError && doc.isObject(),
                     qPrintable(where + ": a log line is no JSON object: " + line));
            const QJsonObject o = doc.object();
            const QString site = o.value("site").toString();
            QVERIFY2(sites.contains(site), qPrintable(where + ": " + line));
            QVERIFY2(run.isEmpty() || o.value("run").toString() == run, qPrintable(where + ": two runs: " + line));
            run = o.value("run").toString();
            const quint64 number = quint64(o.value("serial").toInteger());
            if (o.value("event").toString() == QLatin1String("serial")) {
                QVERIFY2(number >= before && number < m_next,
                         qPrintable(where + QStringLiteral(": %1 logged, the counter went from %2 to %3")
                                                .arg(number).arg(before).arg(m_next)));
                QVERIFY2(!m_logged.contains(number), qPrintable(where + ": a number logged twice: " + line));
                m_logged.insert(number);
                latest[site] = number;
                latestRound[site] = o.value("round").toInt();
                ++taken;
            } else if (o.value("result").toString() == QLatin1String("passed")) {
                QVERIFY2(latest.contains(site) && latest[site] == number &&
                             latestRound[site] == o.value("round").toInt(),
                         qPrintable(where + ": passed without its number's line: " + line));
                QCOMPARE(o.value("serial_bytes").toString(),
                         QStringLiteral("%1").arg(number, 8, 16, QChar('0')).toUpper());
                m_completed.insert(number);
                passedLast[site] = number;
            }
        }
        QVERIFY2(!m_runs.contains(run), qPrintable(where + ": the run of an earlier start: " + run));
        if (!run.isEmpty())
            m_runs.insert(run);
        // A number is spent without its line only when the kill comes between the counter's
        // rename and the line's write, once at most on each site.
        const int unlogged = int(m_next - before) - taken;
        QVERIFY2(unlogged >= 0 && unlogged <= (kill ? kSites : 0),
                 qPrintable(where + QStringLiteral(": the counter went from %1 to %2, %3 numbers logged")
                                        .arg(before).arg(m_next).arg(taken)));
        m_unlogged += unlogged;
        if (taken && QFile::exists(tmp))
            QVERIFY2(readAll(tmp) != planted, qPrintable(where + ": the temporary counter left before was kept"));

        // Each chip: the image from address 0 up to where it stopped, the number its site
        // took last, and whole when its site called it passed.
        for (int s = 0; s < kSites; ++s) {
            const QByteArray memory = readAll(saves[s]);
            QCOMPARE(memory.size(), kChipSize);
            const Flash f = look(memory);
            const QString chip = where + ", " + sites[s];
            QVERIFY2(!f.garbled, qPrintable(chip + ": the chip holds what is not the image"));
            QVERIFY2(f.written == 0 || latest.contains(sites[s]),
                     qPrintable(chip + ": written without a number logged"));
            if (f.number) {
                QVERIFY2(*f.number == latest[sites[s]],
                         qPrintable(chip + QStringLiteral(": holds %1, its site last took %2")
                                               .arg(*f.number).arg(latest[sites[s]])));
                QVERIFY2(!m_chips.contains(*f.number),
                         qPrintable(chip + QStringLiteral(": %1 is held by %2 too")
                                               .arg(*f.number)
                                               .arg(m_chips.value(*f.number))));
                m_chips[*f.number] = chip;
            }
            // A chip called passed holds its image whole, unless the next round has begun: it
            // erases before it takes a number.
            if (passedLast.contains(sites[s]) && passedLast[sites[s]] == latest[sites[s]]) {
                const bool next = last[sites[s]].value("round").toInt() > latestRound[sites[s]];
                QVERIFY2(f.written == kImageSize || (next && f.written == 0),
                         qPrintable(chip + ": passed, but not whole"));
            }
            if (f.written == kImageSize) {
                ++m_seen;
                m_completed.insert(*f.number);
            }
        }
        if (!kill)
            QCOMPARE(passedLast.size(), kSites);
    }

private slots:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath("config")));
        // The notes of half-written chips the kills leave go here.
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.filePath("data")));
        faults::useShortLimits();
        // The counter alone in its folder, so that each change there is one of the counter's.
        QVERIFY(QDir(m_dir.path()).mkdir("counter"));
        m_counter = m_dir.filePath("counter/next");
        m_log = writeFile(m_dir.filePath("chips.log"), {});
        m_image = writeFile(m_dir.filePath("image.bin"), image());
        const QByteArray seed = qgetenv("VORALITH_CRASH_SEED");
        m_random.seed(seed.isEmpty() ? kSeed : seed.toUInt());
        qInfo("seed %u", seed.isEmpty() ? kSeed : seed.toUInt());
    }

    void killedAtRandom()
    {
        QElapsedTimer total;
        total.start();
        start(0, std::nullopt);
        if (QTest::currentTestFailed())
            return;
        // A third of the kills spread over two rounds, a third just after one of the first
        // changes of the counter (a temporary file made, or put in place), a third just after
        // one of the first lines of the log. The seed gives the same kinds and changes on any
        // machine; the delays follow its round.
        for (int n = 1; n <= kKills; ++n) {
            const auto kind = Kill::Kind(m_random.bounded(3));
            const double at = m_random.generateDouble();
            const Kill kill{kind, int(at * 2 * double(m_roundMs)), 1 + int(at * (kind == Kill::OnLog ? 10 : 14))};
            ++m_kinds[kill.kind];
            start(n, kill);
            if (QTest::currentTestFailed())
                return;
        }
        quint64 highest = 0;
        for (quint64 n : m_logged)
            highest = std::max(highest, n);
        QVERIFY2(m_next > highest, "the counter is not above every number taken");
        QVERIFY2(m_logged.size() >= kKills && m_seen > 0, "too few numbers taken to tell anything");
        const QString landed = [this] {
            QStringList l;
            for (auto it = m_landed.cbegin(); it != m_landed.cend(); ++it)
                l << QStringLiteral("%1 %2").arg(it.key()).arg(it.value());
            return l.join(", ");
        }();
        qInfo("kills: %d: %d after a delay (one round took %lld ms), %d at a change of the counter, %d at a "
              "log line",
              kKills, m_kinds[Kill::AfterDelay], m_roundMs, m_kinds[Kill::OnCounter], m_kinds[Kill::OnLog]);
        qInfo("sites when killed: %s", qPrintable(landed));
        qInfo("numbers taken (log serial lines): %lld", qint64(m_logged.size()));
        qInfo("chips holding a number: %d seen whole in flash; %lld numbers in a finished chip in all",
              m_seen, qint64(m_completed.size()));
        qInfo("numbers spent without a chip: %lld (%d of them without a log line)",
              qint64(m_next - 1) - qint64(m_completed.size()), m_unlogged);
        qInfo("temporary counters left by a kill: %d", m_leftovers);
        qInfo("counter's final value: %llu", m_next);
        qInfo("total time: %lld ms", total.elapsed());
    }
};

QTEST_GUILESS_MAIN(TestSerialCrash)
#include "test_serialcrash.moc"
