// SPDX-License-Identifier: GPL-3.0-or-later
// Read, Verify, Blank check and Write of an erased AT89C52 at full speed over a
// pseudo-terminal against voralith-board: the core's operations, each divided by the bare
// loop doing the same exchanges against the same board, runs taken in turn.
//   bench_exchanges [path/to/voralith-board] [runs]
#include "benchsupport.h"
#include "operations.h"

#include <QCoreApplication>

#include <functional>
#include <sys/resource.h>

namespace {
struct Row {
    const char *name;
    int exchanges;
    std::function<bool(BoardCommands &)> core;
    std::function<bool(bench::BareLine &)> bare;
    std::vector<double> coreMs, bareMs, coreCpuUs, bareCpuUs;
};

double cpuUs()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e6 + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}
constexpr int chipSize = 8192;

// Each operation on the erased chip, through the core and by the bare loop; each run is
// good only when it finds the chip erased and the line in step.
std::vector<Row> operations(const QByteArray &erased)
{
    std::vector<Row> rows;
    rows.push_back({"Read", chipSize,
                    [&](BoardCommands &b) {
                        auto r = readDevice(b, chipSize, {});
                        return r.ok() && r.value() == erased;
                    },
                    [&](bench::BareLine &l) { return l.read(chipSize) == erased; }});
    rows.push_back({"Verify", chipSize,
                    [&](BoardCommands &b) {
                        auto r = verifyDevice(b, erased, {});
                        return r.ok() && !r.value();
                    },
                    [&](bench::BareLine &l) { return l.verify(erased); }});
    rows.push_back({"Blank check", chipSize / 4,
                    [&](BoardCommands &b) {
                        auto r = blankCheck(b, chipSize, {});
                        return r.ok() && r.value();
                    },
                    [&](bench::BareLine &l) { return l.blank(chipSize); }});
    rows.push_back({"Write", chipSize,
                    [&](BoardCommands &b) {
                        auto r = writeDevice(b, erased, chipSize, {}, {});
                        return r.ok() && r.value().mismatches == 0 && r.value().written == chipSize;
                    },
                    [&](bench::BareLine &l) { return l.write(erased) == 0; }});
    return rows;
}

// One run of the row's operation through the core's link, its times added to the row.
bool runCore(Row &row, const QString &device)
{
    SerialLink link;
    if (!bench::openLink(link, device))
        return false;
    BoardCommands board(link);
    const double c0 = cpuUs();
    const qint64 t0 = bench::nowNs();
    if (!row.core(board)) {
        std::fprintf(stderr, "%s through the core failed\n", row.name);
        return false;
    }
    row.coreMs.push_back((bench::nowNs() - t0) / 1e6);
    row.coreCpuUs.push_back((cpuUs() - c0) / row.exchanges);
    return true;
}

// One run of the row's operation by the bare loop, its times added to the row.
bool runBare(Row &row, const QString &device)
{
    bench::BareLine line(device);
    const double c0 = cpuUs();
    const qint64 t0 = bench::nowNs();
    if (!row.bare(line) || !line.ok()) {
        std::fprintf(stderr, "%s by the bare loop failed\n", row.name);
        return false;
    }
    row.bareMs.push_back((bench::nowNs() - t0) / 1e6);
    row.bareCpuUs.push_back((cpuUs() - c0) / row.exchanges);
    return true;
}

bool measure(std::vector<Row> &rows, const QString &device, int runs)
{
    for (Row &row : rows) {
        for (int i = 0; i < runs; ++i) {
            // Each goes first in every other round, so a drift in the machine's load
            // falls on both alike.
            if (!(i % 2 ? runBare(row, device) && runCore(row, device)
                        : runCore(row, device) && runBare(row, device)))
                return false;
        }
    }
    return true;
}

void printTable(const std::vector<Row> &rows, int runs)
{
    std::printf("Full speed over a pseudo-terminal, AT89C52 (median of %d runs each, taken in turn)\n", runs);
    std::printf("%-12s %9s %9s %9s %10s %10s %11s %11s %7s\n", "operation", "exchanges", "core ms", "bare ms",
                "core us/x", "bare us/x", "core cpu/x", "bare cpu/x", "ratio");
    QString summary;
    for (const Row &row : rows) {
        const double c = bench::median(row.coreMs), b = bench::median(row.bareMs);
        std::printf("%-12s %9d %9.1f %9.1f %10.1f %10.1f %11.1f %11.1f %7.2f\n", row.name, row.exchanges, c, b,
                    c * 1000 / row.exchanges, b * 1000 / row.exchanges, bench::median(row.coreCpuUs),
                    bench::median(row.bareCpuUs), c / b);
        summary += QStringLiteral("  %1 %2").arg(QString::fromLatin1(row.name)).arg(c / b, 0, 'f', 2);
    }
    std::printf("(cpu/x: processor time of this process per exchange, us; the board's is not counted)\n");
    std::printf("summary: full speed, core / bare loop:%s  (goal <= 1.3)\n", qPrintable(summary));
}
}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString tool = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(VORALITH_BOARD_PATH);
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 5;
    bench::Board boardTool(tool, {QStringLiteral("--chip"), QStringLiteral("89c52")});
    if (boardTool.path.isEmpty())
        return 1;

    const QByteArray erased(chipSize, char(0xFF));
    std::vector<Row> rows = operations(erased);
    if (!measure(rows, boardTool.path, runs))
        return 1;
    printTable(rows, runs);
    return 0;
}
