// SPDX-License-Identifier: GPL-3.0-or-later
// Soak run: 200 identifications and 20 full read-verify cycles of an AT89C52 on
// voralith-board at full speed, over a pseudo-terminal as a real port, with a fault every
// few of them (the faulty board is a second tool started for it). Every fault must be
// reported as what it is, the command after it must work, no command may outlast its
// limit, and this program's resident memory must stay flat. Prints one row per cycle and
// the figures; exits 1 when any of that fails.
//   bench_soak [path/to/voralith-board]
#include "benchsupport.h"
#include "identify.h"
#include "operations.h"
#include "timeouts.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <functional>
#include <unistd.h>

namespace {
constexpr int chipSize = 8192;
constexpr int cycles = 20;
constexpr int identifiesPerCycle = 10;

long residentKb()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}

QByteArray pattern()
{
    QByteArray d(chipSize, 0);
    for (int i = 0; i < chipSize; ++i)
        d[i] = char((i * 131 + i / 256) & 0xFF);
    return d;
}

// A fault of a read-verify cycle: the board's options, and how it must be reported.
struct CycleFault {
    const char *name;
    QStringList options;
    const char *expected;
};

const char *kindName(Failure::Kind k)
{
    switch (k) {
    case Failure::TimedOut: return "timed out";
    case Failure::PortLost: return "port lost";
    case Failure::Stopped: return "stopped";
    case Failure::OutOfStep: return "out of step";
    default: return "error";
    }
}
}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString tool = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(VORALITH_BOARD_PATH);
    const QByteArray image = pattern();
    QTemporaryDir dir;
    const QString imageFile = dir.filePath(QStringLiteral("image.bin"));
    {
        QFile f(imageFile);
        if (!f.open(QIODevice::WriteOnly) || f.write(image) != image.size())
            return 1;
    }
    const QStringList chip{QStringLiteral("--chip"), QStringLiteral("89c52"), QStringLiteral("--image"), imageFile};
    bench::Board good(tool, chip);
    if (good.path.isEmpty())
        return 1;
    SerialLink link;
    BoardCommands board(link);
    std::unique_ptr<bench::Board> faulty;
    // The good board, or one started with `fault` for the next command(s).
    auto use = [&](const QStringList &fault) {
        link.close();
        faulty.reset();
        QString path = good.path;
        if (!fault.isEmpty()) {
            faulty = std::make_unique<bench::Board>(tool, chip + fault);
            path = faulty->path;
        }
        return bench::openLink(link, path);
    };
    if (!use({}))
        return 1;
    auto n = [](int v) { return QString::number(v); };

    const std::vector<CycleFault> faults{
        {"stray byte in the Read", {"--stray-after", n(3000)}, "read: out of step"},
        {"doubled reply in the Verify", {"--double-reply", n(chipSize + 5000)}, "verify: out of step"},
        {"board silent in the Read", {"--silent-after", n(4000)}, "read: timed out"},
        {"port gone in the Verify", {"--vanish-after", n(chipSize + 100)}, "verify: port lost"},
        {"wrong byte at 1234h", {"--wrong-byte", "1234=00"}, "difference at 1234h"},
    };
    // A command that meets a fault must end no later than a sound one would, plus the
    // limit of the wait it was in, the quiet checks and an out-of-step end letting the rest
    // of the line in. A command that never ends is caught by the watchdog.
    const qint64 slackMs = timeouts::reply.count() + 3 * timeouts::quiet.count() + 500;
    signal(SIGALRM, [](int) {
        const char text[] = "HUNG: a command did not end within ten minutes\n";
        [[maybe_unused]] ssize_t w = write(2, text, sizeof text - 1);
        _exit(2);
    });
    alarm(600);

    int identifies = 0, identifyFaults = 0, identifyReported = 0, identifyWrong = 0;
    int cycleFaults = 0, cycleReported = 0, cycleWrong = 0, late = 0;
    qint64 longestSoundMs = 0, longestFaultMs = 0;
    std::vector<qint64> faultMs;
    auto timed = [&](bool fault, const std::function<void()> &run) {
        QElapsedTimer t;
        t.start();
        run();
        const qint64 ms = t.elapsed();
        (fault ? longestFaultMs : longestSoundMs) = std::max(fault ? longestFaultMs : longestSoundMs, ms);
        if (fault)
            faultMs.push_back(ms);
        return ms;
    };

    QElapsedTimer total;
    total.start();
    std::vector<long> rss;
    std::printf("%-5s %-30s %-24s %-24s %9s %8s\n", "cycle", "fault", "expected", "reported", "ms", "RSS KB");
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        // Identifications; every twentieth meets a stray byte or a silent board.
        for (int i = 0; i < identifiesPerCycle; ++i) {
            ++identifies;
            const bool fault = identifies % 20 == 0;
            if (fault) {
                ++identifyFaults;
                use(identifies % 40 ? QStringList{"--stray-byte", "00"} : QStringList{"--silent-after", "0"});
            }
            IdentifyOutcome out;
            timed(fault, [&] { out = identifyDevice(board); });
            if (fault) {
                identifyReported += !out.chip;
                use({});
            } else if (!out.chip) {
                ++identifyWrong;
            }
        }

        const CycleFault *fault = cycle % 4 == 2 ? &faults[size_t(cycle / 4) % faults.size()] : nullptr;
        if (fault) {
            ++cycleFaults;
            use(fault->options);
        }
        QString reported = QStringLiteral("-");
        bool cycleOk = true;
        const qint64 ms = timed(fault != nullptr, [&] {
            auto data = readDevice(board, chipSize, {});
            if (!data) {
                reported = QStringLiteral("read: %1").arg(QLatin1String(kindName(data.failure().kind)));
                cycleOk = false;
                return;
            }
            // A read that ends as a success holds the chip's bytes, whatever the fault.
            QByteArray chipHolds = image;
            if (fault && fault->options.first() == QLatin1String("--wrong-byte"))
                chipHolds[0x1234] = 0;
            if (data.value() != chipHolds) {
                reported = QStringLiteral("WRONG IMAGE READ AS SUCCESS");
                cycleOk = false;
                return;
            }
            auto same = verifyDevice(board, image, {});
            if (!same) {
                reported = QStringLiteral("verify: %1").arg(QLatin1String(kindName(same.failure().kind)));
                cycleOk = false;
            } else if (same.value()) {
                reported = QStringLiteral("difference at %1h").arg(hexNumber(same.value()->address));
                cycleOk = false;
            }
        });
        if (fault) {
            if (reported == QLatin1String(fault->expected))
                ++cycleReported;
            use({});
        } else if (!cycleOk) {
            ++cycleWrong;
        }
        rss.push_back(residentKb());
        std::printf("%-5d %-30s %-24s %-24s %9lld %8ld\n", cycle, fault ? fault->name : "-",
                    fault ? fault->expected : "-", qPrintable(reported), ms, rss.back());
    }

    for (qint64 ms : faultMs)
        late += ms > longestSoundMs + slackMs;
    const long first = rss.size() > 1 ? rss[1] : rss.front();  // after the first cycle has warmed up
    const long peak = *std::max_element(rss.begin(), rss.end());
    std::printf("\nidentifications: %d, faults %d, reported %d, wrong outcomes without a fault %d\n", identifies,
                identifyFaults, identifyReported, identifyWrong);
    std::printf("read-verify cycles: %d, faults %d, reported as expected %d, failures without a fault %d\n", cycles,
                cycleFaults, cycleReported, cycleWrong);
    std::printf("longest step (an identification or a read-verify cycle) without a fault: %lld ms, with one: %lld ms; "
                "later than the longest sound one plus "
                "%lld ms: %d\n",
                longestSoundMs, longestFaultMs, slackMs, late);
    std::printf("resident memory: %ld KB after cycle 2, %ld KB at the end, peak %ld KB (%+ld KB)\n", first,
                rss.back(), peak, rss.back() - first);
    std::printf("total: %.1f s\n", total.elapsed() / 1000.0);
    const bool sound = identifyReported == identifyFaults && identifyWrong == 0 && cycleReported == cycleFaults &&
                       cycleWrong == 0 && late == 0 && rss.back() - first < 1024;
    std::printf("%s\n", sound ? "sound: every fault reported, nothing hung, memory flat"
                              : "NOT SOUND: see the figures above");
    return sound ? 0 : 1;
}
