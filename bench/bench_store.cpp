// SPDX-License-Identifier: GPL-3.0-or-later
// Serial numbers taken from the store on a throw-away local PostgreSQL server by 1, 4 and
// 16 takers at once (each a station's connection): numbers a second, the median time to take
// one and to record a result, each set against a round of a 4 KB paced program on 8 sites
// (bench_gang measures it; its documented figure unless given).
//   bench_store [seconds per run] [round seconds]   (default 3 s, 40.63 s)
#include "pgstore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

namespace {
// bench_gang: 8 sites, 4 KB, paced, the median of two rounds (README, Performance).
constexpr double kRoundS = 40.63;

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The server for this run, removed at the end whatever happens.
struct Server {
    QString state;
    QString uri;
    bool ok = false;
    explicit Server(const QString &folder) : state(folder + QStringLiteral("/pg.state"))
    {
        if (QProcess::execute(QStringLiteral("bash"), {QStringLiteral(VORALITH_PGTEST), QStringLiteral("start"), state}) != 0)
            return;
        QFile f(state);
        if (!f.open(QIODevice::ReadOnly))
            return;
        QString dir, port, user, password;
        static const QRegularExpression pair(QStringLiteral("^(\\w+)='(.*)'$"));
        for (const QByteArray &line : f.readAll().split('\n')) {
            const auto m = pair.match(QString::fromUtf8(line));
            if (m.hasMatch() && m.captured(1) == "dir") dir = m.captured(2);
            if (m.hasMatch() && m.captured(1) == "port") port = m.captured(2);
            if (m.hasMatch() && m.captured(1) == "user") user = m.captured(2);
            if (m.hasMatch() && m.captured(1) == "password") password = m.captured(2);
        }
        qputenv("PGPASSWORD", password.toUtf8());
        uri = QStringLiteral("postgresql://%1@/postgres?host=%2&port=%3").arg(user, dir, port);
        ok = !dir.isEmpty();
    }
    ~Server() { QProcess::execute(QStringLiteral("bash"), {QStringLiteral(VORALITH_PGTEST), QStringLiteral("stop"), state}); }
};

struct Figures {
    double perSecond = 0, takeMs = 0, recordMs = 0;
    bool ok = true;
};

Figures run(const QString &uri, int takers, double seconds, const QString &counter)
{
    std::vector<std::unique_ptr<PgStore>> stores;
    for (int i = 0; i < takers; ++i) {
        StoreOptions o{uri, QStringLiteral("bench%1").arg(i), counter};
        stores.push_back(std::make_unique<PgStore>(o));
        QStringList notes;
        if (Status s = stores.back()->open(&notes); !s) {
            std::fprintf(stderr, "%s\n", qPrintable(s.message()));
            return Figures{0, 0, 0, false};
        }
        if (Status s = stores.back()->prepareSerial(SerialPlace{0, 8}, 1); !s)
            return Figures{0, 0, 0, false};
    }
    std::atomic<long> taken = 0;
    std::atomic<bool> failed = false;
    std::vector<std::vector<double>> takes(static_cast<std::size_t>(takers)), records(static_cast<std::size_t>(takers));
    std::vector<std::unique_ptr<QThread>> threads;
    QElapsedTimer wall;
    wall.start();
    for (int i = 0; i < takers; ++i) {
        threads.emplace_back(QThread::create([&, i] {
            QElapsedTimer t;
            int round = 0;
            while (wall.elapsed() < qint64(seconds * 1000)) {
                t.start();
                const Result<quint64> n = stores[std::size_t(i)]->takeSerial(QStringLiteral("site"), QStringLiteral("run%1").arg(i), ++round);
                takes[std::size_t(i)].push_back(double(t.nsecsElapsed()) / 1e6);
                if (!n) {
                    failed = true;
                    return;
                }
                ++taken;
                // One in eight: the chip's result too, as a site records it.
                if (round % 8 == 0) {
                    QJsonObject r{{"site", "site"}, {"run", QStringLiteral("run%1").arg(i)}, {"round", round},
                                  {"command", "program"}, {"result", "passed"}, {"status", 0},
                                  {"duration_ms", 1}, {"time", "2026-12-09T00:00:00.000+00:00"},
                                  {"serial", qint64(n.value())}};
                    t.start();
                    if (!stores[std::size_t(i)]->recordResult(r))
                        failed = true;
                    records[std::size_t(i)].push_back(double(t.nsecsElapsed()) / 1e6);
                }
            }
        }));
        threads.back()->start();
    }
    for (auto &t : threads)
        t->wait();
    const double elapsed = double(wall.nsecsElapsed()) / 1e9;
    std::vector<double> allTakes, allRecords;
    for (int i = 0; i < takers; ++i) {
        allTakes.insert(allTakes.end(), takes[std::size_t(i)].begin(), takes[std::size_t(i)].end());
        allRecords.insert(allRecords.end(), records[std::size_t(i)].begin(), records[std::size_t(i)].end());
    }
    return Figures{double(taken) / elapsed, median(allTakes), median(allRecords), !failed};
}
}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const double seconds = args.size() > 1 ? args[1].toDouble() : 3.0;
    const double roundS = args.size() > 2 ? args[2].toDouble() : kRoundS;
    QTemporaryDir dir;
    Server server(dir.path());
    if (!server.ok) {
        std::fprintf(stderr, "bench_store: no PostgreSQL server could be started (scripts/pgtest.sh)\n");
        return 1;
    }
    QProcess init;
    init.start(QStringLiteral(VORALITH_CLI_PATH), {QStringLiteral("store"), QStringLiteral("init"), server.uri});
    if (!init.waitForFinished(30000) || init.exitCode() != 0) {
        std::fprintf(stderr, "bench_store: store init failed: %s\n", init.readAllStandardError().constData());
        return 1;
    }
    std::printf("Serial numbers from the store (local server, a Unix socket, synchronous commit), %.0f s a run\n",
                seconds);
    std::printf("%8s %14s %12s %14s %20s\n", "takers", "numbers/s", "take (ms)", "record (ms)", "take / 8-site round");
    bool ok = true;
    double oneTake = 0, ratio16 = 0;
    for (int takers : {1, 4, 16}) {
        const Figures f = run(server.uri, takers, seconds, QStringLiteral("bench%1").arg(takers));
        ok = ok && f.ok;
        if (takers == 1)
            oneTake = f.takeMs;
        if (takers == 16)
            ratio16 = f.takeMs / oneTake;
        std::printf("%8d %14.0f %12.3f %14.3f %20.2e\n", takers, f.perSecond, f.takeMs, f.recordMs,
                    f.takeMs / 1000 / roundS);
    }
    // A round on 8 sites takes 8 numbers and records 8 results, one after another at worst.
    std::printf("ratios: one take / a round of 8 sites (%.2f s) %.2e; 8 takes / the round %.2e; a take with 16 "
                "takers / with one %.2f\n",
                roundS, oneTake / 1000 / roundS, 8 * oneTake / 1000 / roundS, ratio16);
    return ok ? 0 : 1;
}
