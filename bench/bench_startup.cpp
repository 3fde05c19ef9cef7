// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up of the program to its first shown window, and its resident memory then, each
// divided by the same figures of a bare Qt Widgets window (bare_window), runs taken in
// turn. Both programs get the same probe preloaded (startupprobe), which reports and ends
// them; the program runs unchanged, with Com2 on voralith-board. Then the mappings that
// hold the program's extra memory.
//   bench_startup [runs]
#include "benchsupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>

namespace {
struct Shown {
    double ms = -1;
    double appMs = -1;  // to the application object
    double rssMb = -1;
    QMap<QString, qint64> kbByMapping;
};

Shown runOnce(const QString &program, const QStringList &args)
{
    Shown s;
    QTemporaryDir home;
    const QString out = home.filePath(QStringLiteral("probe.txt"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(VORALITH_PROBE_PATH));
    env.insert(QStringLiteral("BENCH_PROBE_OUT"), out);
    // Its own settings and work folder, never the user's.
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    if (!env.contains(QStringLiteral("DISPLAY")) && !env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const qint64 t0 = bench::nowNs();
    p.start(program, args);
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        return s;
    }
    QFile f(out);
    if (!f.open(QIODevice::ReadOnly))
        return s;
    const QList<QByteArray> head = f.readLine().trimmed().split(' ');
    s.ms = (head.value(0).toLongLong() - t0) / 1e6;
    s.rssMb = head.value(1).toLongLong() / 1024.0;
    s.appMs = (head.value(2).toLongLong() - t0) / 1e6;
    while (!f.atEnd()) {
        const QList<QByteArray> kv = f.readLine().trimmed().split('\t');
        QString name = QString::fromLocal8Bit(kv.value(1));
        if (name.startsWith(QLatin1Char('/')))
            name = QFileInfo(name).fileName();
        if (name.isEmpty())
            name = QStringLiteral("[anonymous]");
        s.kbByMapping[name] += kv.value(0).toLongLong();
    }
    return s;
}
}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 7;
    bench::Board board(QStringLiteral(VORALITH_BOARD_PATH), {QStringLiteral("--chip"), QStringLiteral("89c52")});
    if (board.path.isEmpty())
        return 1;
    const QStringList programArgs{QStringLiteral("--com"), QStringLiteral("2=") + board.path};

    std::vector<double> progMs, bareMs, progMb, bareMb, progApp, bareApp;
    Shown lastProg, lastBare;
    for (int i = 0; i < runs; ++i) {
        const Shown p = runOnce(QStringLiteral(VORALITH_PROGRAM_PATH), programArgs);
        const Shown b = runOnce(QStringLiteral(VORALITH_BARE_WINDOW_PATH), {});
        if (p.ms < 0 || b.ms < 0) {
            std::fprintf(stderr, "a window did not report that it was shown\n");
            return 1;
        }
        progMs.push_back(p.ms);
        progApp.push_back(p.appMs);
        bareApp.push_back(b.appMs);
        bareMs.push_back(b.ms);
        progMb.push_back(p.rssMb);
        bareMb.push_back(b.rssMb);
        lastProg = p;
        lastBare = b;
    }

    const double pm = bench::median(progMs), bm = bench::median(bareMs);
    const double pr = bench::median(progMb), br = bench::median(bareMb);
    std::printf("Start-up to the first shown window (median of %d runs each, taken in turn, QPA %s)\n", runs,
                qPrintable(qEnvironmentVariable("QT_QPA_PLATFORM",
                                                qEnvironmentVariableIsSet("DISPLAY") ? QStringLiteral("xcb")
                                                                                     : QStringLiteral("offscreen"))));
    const double pa = bench::median(progApp), ba = bench::median(bareApp);
    std::printf("%-22s %12s %18s %14s\n", "", "start-up ms", "of it: to QApp ms", "resident MB");
    std::printf("%-22s %12.1f %18.1f %14.1f\n", "voralith", pm, pa, pr);
    std::printf("%-22s %12.1f %18.1f %14.1f\n", "bare Qt Widgets window", bm, ba, br);
    std::printf("%-22s %12.2f %18.2f %14.2f\n", "ratio", pm / bm, pa / ba, pr / br);

    // Where the difference lies, by mapping, in the last run of each.
    QMap<QString, qint64> diff;
    for (auto it = lastProg.kbByMapping.cbegin(); it != lastProg.kbByMapping.cend(); ++it)
        diff[it.key()] += it.value();
    for (auto it = lastBare.kbByMapping.cbegin(); it != lastBare.kbByMapping.cend(); ++it)
        diff[it.key()] -= it.value();
    std::vector<std::pair<qint64, QString>> order;
    for (auto it = diff.cbegin(); it != diff.cend(); ++it)
        if (std::llabs(it.value()) >= 64)
            order.emplace_back(it.value(), it.key());
    std::sort(order.begin(), order.end(), [](auto &a, auto &b) { return std::llabs(a.first) > std::llabs(b.first); });
    std::printf("resident memory of voralith minus the bare window, by mapping (last run, 64 kB and more):\n");
    for (size_t i = 0; i < order.size() && i < 16; ++i)
        std::printf("  %+8lld kB  %s\n", order[i].first, qPrintable(order[i].second));
    std::printf("summary: start-up to first shown window %.2f (goal <= 1.3), resident memory after it %.2f "
                "(goal <= 1.2), voralith / bare Qt Widgets window\n",
                pm / bm, pr / br);
    return 0;
}
