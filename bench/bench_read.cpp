// A full-speed 8 KB Read (8192 "RI" exchanges, one outstanding) against the in-process
// board, and over a pseudo-terminal when a board tool path is given:
//   bench_read [path/to/voralith-board]
#include "emulatedport.h"
#include "operations.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <algorithm>
#include <cstdio>

namespace {
double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void report(const char *what, SerialLink &link, int runs)
{
    BoardCommands board(link);
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        auto data = readDevice(board, 8192, {});
        if (!data) {
            std::printf("%s: failed: %s\n", what, qPrintable(data.message()));
            return;
        }
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    std::printf("%-34s median %7.1f ms  min %7.1f ms  max %7.1f ms  (%d runs, %.1f us per byte)\n", what, median(ms),
                *std::min_element(ms.begin(), ms.end()), *std::max_element(ms.begin(), ms.end()), runs,
                median(ms) * 1000 / 8192);
}
}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    {
        auto engine = std::make_shared<BoardEngine>(*BoardConfig::forChip("89c52"));
        SerialLink link;
        link.setOpener([&](const QString &, Failure *) {
            auto p = std::make_unique<EmulatedPort>(engine);
            p->open(QIODevice::ReadWrite);
            return p;
        });
        link.open();
        report("8 KB Read, in-process board", link, 9);
    }
    if (argc > 1) {
        QProcess tool;
        tool.start(QString::fromLocal8Bit(argv[1]), {QStringLiteral("--chip"), QStringLiteral("89c52")});
        if (!tool.waitForReadyRead(10000)) {
            std::printf("board tool did not start\n");
            return 1;
        }
        const QString path = QString::fromLocal8Bit(tool.readLine()).trimmed();
        SerialLink link;
        link.portMap().mapForThisRun(2, path);
        link.setPortNumber(2);
        if (Status s = link.open(); !s) {
            std::printf("cannot open %s: %s\n", qPrintable(path), qPrintable(s.message()));
            return 1;
        }
        report("8 KB Read, pseudo-terminal", link, 5);
        link.close();
        tool.terminate();
        tool.waitForFinished(3000);
    }
    return 0;
}
