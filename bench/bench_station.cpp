// SPDX-License-Identifier: GPL-3.0-or-later
// One round of program, a 4 KB image into AT89C51s on 8 paced boards at once, driven by the
// station window (offscreen, --rounds 1) and by voralith-cli, runs taken in turn: the
// processor time and the wall time of each, and the station's over the command line's, run by run.
// Exits 1 when any run fails.
//   bench_station [runs] [sites]   (default 1 run each on 8 sites; a run takes about 41 s)
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
#include <zlib.h>

namespace {
constexpr int imageSize = 4096;
// A sound run takes about 41 s; one still going after this hangs.
constexpr int runLimitMs = 300000;


struct Site {
    std::unique_ptr<bench::Board> board;
    QString log;
    qint64 logged() const { return QFileInfo(log).size(); }
};
}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 1;
    const int count = argc > 2 ? std::max(1, atoi(argv[2])) : 8;

    QTemporaryDir dir;
    const QByteArray bytes = bench::image(imageSize);
    const QString imagePath = dir.filePath(QStringLiteral("image.bin"));
    const QString jobPath = dir.filePath(QStringLiteral("bench.job"));
    {
        QFile f(imagePath), job(jobPath);
        const uLong crc = crc32(0, reinterpret_cast<const Bytef *>(bytes.constData()), uInt(bytes.size()));
        const QByteArray text = "[job]\nimage=image.bin\nchip=89c51\ncrc32=" +
                                QByteArray::number(quint32(crc), 16).rightJustified(8, '0').toUpper() + "\n";
        if (!dir.isValid() || !f.open(QIODevice::WriteOnly) || f.write(bytes) != imageSize ||
            !job.open(QIODevice::WriteOnly) || job.write(text) != text.size()) {
            std::fprintf(stderr, "cannot write the image and the job into a temporary folder\n");
            return 1;
        }
    }
    const std::vector<QByteArray> cliEnv = bench::childEnvironment(dir);
    const std::vector<QByteArray> stationEnv = bench::childEnvironment(dir, {{"QT_QPA_PLATFORM", "offscreen"}});

    // The boards are started once: program erases first, so each run finds a chip to write.
    std::vector<Site> sites(count);
    QStringList ports;
    for (int i = 0; i < count; ++i) {
        sites[i].log = dir.filePath(QStringLiteral("board%1.log").arg(i + 1));
        sites[i].board = std::make_unique<bench::Board>(
            QStringLiteral(VORALITH_BOARD_PATH),
            QStringList{QStringLiteral("--chip"), QStringLiteral("89c51"), QStringLiteral("--paced"),
                        QStringLiteral("--programming-time"), QStringLiteral("--log"), sites[i].log});
        if (sites[i].board->path.isEmpty())
            return 1;
        ports << QStringLiteral("--port") << sites[i].board->path;
    }

    struct Driver {
        const char *name;
        QByteArray program;
        QStringList args;
        const std::vector<QByteArray> *env;
    };
    const std::vector<Driver> drivers{
        {"voralith-cli", QByteArrayLiteral(VORALITH_CLI_PATH),
         QStringList{QStringLiteral("--yes"), QStringLiteral("--quiet"), QStringLiteral("--job"), jobPath} + ports +
             QStringList{QStringLiteral("program")},
         &cliEnv},
        {"voralith-station", QByteArrayLiteral(VORALITH_STATION_PATH),
         QStringList{QStringLiteral("--rounds"), QStringLiteral("1")} + ports + QStringList{jobPath}, &stationEnv},
    };
    std::map<std::string, std::vector<double>> wall, cpu;
    for (int run = 0; run < runs; ++run) {
        for (const Driver &d : drivers) {
            std::vector<qint64> before;
            for (const Site &s : sites)
                before.push_back(s.logged());
            const bench::Run r = bench::runProgram(d.program, d.args, dir, *d.env, runLimitMs);
            if (!r.ok) {
                std::fprintf(stderr, "%s on %d sites failed (%s)\n", d.name, count, r.why.constData());
                return 1;
            }
            // A write alone sends three bytes for each byte of the image: every site was driven.
            for (int i = 0; i < count; ++i)
                if (sites[i].logged() - before[i] < 3 * imageSize) {
                    std::fprintf(stderr, "%s exited 0, but site %d (%s) received %lld bytes\n", d.name, i + 1,
                                 qPrintable(sites[i].board->path), sites[i].logged() - before[i]);
                    return 1;
                }
            wall[d.name].push_back(r.wallS);
            cpu[d.name].push_back(r.cpuS);
            std::fprintf(stderr, "run %d, %s: %.2f s, cpu %.3f s\n", run + 1, d.name, r.wallS, r.cpuS);
        }
    }

    std::printf("program, %d bytes into AT89C51s on %d paced boards with programming time, one round "
                "(median of %d run%s each, taken in turn)\n",
                imageSize, count, runs, runs == 1 ? "" : "s");
    std::printf("%-18s %14s %13s %10s\n", "driven by", "median wall s", "median cpu s", "cpu/wall");
    for (const Driver &d : drivers) {
        const double w = bench::median(wall[d.name]), c = bench::median(cpu[d.name]);
        std::printf("%-18s %14.2f %13.3f %10.4f\n", d.name, w, c, c / w);
    }
    // Each run's ratio to the command line's run just before it, whose machine was the same:
    // a load that comes and goes between runs moves both.
    std::vector<double> cpuRatios, wallRatios;
    for (int run = 0; run < runs; ++run) {
        cpuRatios.push_back(cpu["voralith-station"][run] / cpu["voralith-cli"][run]);
        wallRatios.push_back(wall["voralith-station"][run] / wall["voralith-cli"][run]);
    }
    const double cpuRatio = bench::median(cpuRatios), wallRatio = bench::median(wallRatios);
    std::printf("summary: station/cli (median of the runs' ratios) cpu %.3f (goal <= 1.25: %s), wall %.4f "
                "(goal within 1 %%: %s)\n",
                cpuRatio,
                cpuRatio <= 1.25 ? "met" : "NOT met", wallRatio,
                std::abs(wallRatio - 1) <= 0.01 ? "met" : "NOT met");
    return 0;
}
