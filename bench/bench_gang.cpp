// SPDX-License-Identifier: GPL-3.0-or-later
// voralith-cli program of a 4 KB image into AT89C51s on 1, 4 and 8 paced boards at once,
// runs taken in turn: its wall time on many sites against one, and its processor time
// over wall time per site. Exits 1 when any run fails.
//   bench_gang [rounds] [sites,sites,...]   (default 1 round of 1,4,8; a round takes two minutes)
#include "benchrun.h"
#include "benchsupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cerrno>
#include <map>
#include <memory>
#include <poll.h>
#include <random>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>

namespace {
constexpr int imageSize = 4096;
// A sound run takes about 41 s on any number of sites; a run still going after this hangs.
constexpr int runLimitMs = 300000;


// Each site's board logs what it receives; a run must have written the image to every site
// (a command line that drove fewer boards than it was given would pass unseen otherwise).
const char *plural(int n)
{
    return n == 1 ? "" : "s";
}

struct Site {
    std::unique_ptr<bench::Board> board;
    QString log;
    qint64 logged() const { return QFileInfo(log).size(); }
};
}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 1;
    std::vector<int> counts;
    for (const QString &n : QString::fromLocal8Bit(argc > 2 ? argv[2] : "1,4,8").split(QLatin1Char(',')))
        if (const int c = n.toInt(); c > 0)
            counts.push_back(c);
    if (counts.empty()) {
        std::fprintf(stderr, "usage: bench_gang [rounds] [sites,sites,...]\n");
        return 2;
    }
    const int most = *std::max_element(counts.begin(), counts.end());

    QTemporaryDir dir;
    const QString imagePath = dir.filePath(QStringLiteral("image.bin"));
    {
        QFile f(imagePath);
        if (!dir.isValid() || !f.open(QIODevice::WriteOnly) || f.write(bench::image(imageSize)) != imageSize) {
            std::fprintf(stderr, "cannot write the image into a temporary folder\n");
            return 1;
        }
    }
    const std::vector<QByteArray> env = bench::childEnvironment(dir);

    // The boards are started once: program erases first, so each run finds a chip to write.
    std::vector<Site> sites(most);
    for (int i = 0; i < most; ++i) {
        sites[i].log = dir.filePath(QStringLiteral("board%1.log").arg(i + 1));
        sites[i].board = std::make_unique<bench::Board>(
            QStringLiteral(VORALITH_BOARD_PATH),
            QStringList{QStringLiteral("--chip"), QStringLiteral("89c51"), QStringLiteral("--paced"),
                        QStringLiteral("--programming-time"), QStringLiteral("--log"), sites[i].log});
        if (sites[i].board->path.isEmpty())
            return 1;
    }

    std::map<int, std::vector<double>> wall, cpu;
    for (int round = 0; round < rounds; ++round) {
        for (int count : counts) {
            QStringList args{QStringLiteral("--yes"), QStringLiteral("--quiet")};
            std::vector<qint64> before;
            for (int i = 0; i < count; ++i) {
                args << QStringLiteral("--port") << sites[i].board->path;
                before.push_back(sites[i].logged());
            }
            args << QStringLiteral("program") << imagePath;
            const bench::Run r = bench::runProgram(QByteArrayLiteral(VORALITH_CLI_PATH), args, dir, env, runLimitMs);
            if (!r.ok) {
                std::fprintf(stderr, "voralith-cli program on %d site%s failed (%s)\n", count, plural(count),
                             r.why.constData());
                return 1;
            }
            // A write alone sends three bytes for each byte of the image.
            for (int i = 0; i < count; ++i)
                if (sites[i].logged() - before[i] < 3 * imageSize) {
                    std::fprintf(stderr,
                                 "voralith-cli program on %d site%s exited 0, but site %d (%s) received %lld bytes\n",
                                 count, plural(count), i + 1, qPrintable(sites[i].board->path),
                                 sites[i].logged() - before[i]);
                    return 1;
                }
            wall[count].push_back(r.wallS);
            cpu[count].push_back(r.cpuS);
            std::fprintf(stderr, "round %d, %d site%s: %.2f s, cpu %.3f s\n", round + 1, count, plural(count),
                         r.wallS, r.cpuS);
        }
    }

    std::printf("voralith-cli program, %d bytes into AT89C51s on paced boards with programming time "
                "(median of %d run%s each, taken in turn)\n",
                imageSize, rounds, plural(rounds));
    std::printf("%6s %14s %13s %10s %19s\n", "sites", "median wall s", "median cpu s", "cpu/wall", "cpu/wall per site");
    std::map<int, double> perSite;
    for (int count : counts) {
        const double w = bench::median(wall[count]), c = bench::median(cpu[count]);
        perSite[count] = c / w / count;
        std::printf("%6d %14.2f %13.3f %10.4f %19.4f\n", count, w, c, c / w, perSite[count]);
    }

    const auto has = [&](int n) { return wall.count(n) > 0; };
    const auto timeRatio = [&](int n) { return bench::median(wall[n]) / bench::median(wall[1]); };
    QByteArray times, loads;
    bool timeMet = true, loadMet = true;
    for (int n : {4, 8})
        if (has(1) && has(n)) {
            times += QByteArray(times.isEmpty() ? "" : ", ") + "time " + QByteArray::number(n) + "/1 " +
                     QByteArray::number(timeRatio(n), 'f', 3);
            timeMet = timeMet && timeRatio(n) <= 1.05;
        }
    for (int count : counts) {
        loads += QByteArray(loads.isEmpty() ? "" : " ") + QByteArray::number(count) + ": " +
                 QByteArray::number(perSite[count], 'f', 4);
        loadMet = loadMet && perSite[count] <= 0.02;
    }
    if (times.isEmpty())
        times = "time 4/1, 8/1 not measured (no run on 1 site and on 4 or 8)";
    else
        times += timeMet ? " (goal <= 1.05: met)" : " (goal <= 1.05: NOT met)";
    std::printf("summary: %s; cpu/wall per site %s (goal <= 0.02: %s)\n", times.constData(), loads.constData(),
                loadMet ? "met" : "NOT met");
    return 0;
}
