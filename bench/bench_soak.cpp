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
// The faults of the read-verify cycles, taken in turn.
std::vector<CycleFault> cycleFaults()
{
    auto n = [](int v) { return QString::number(v); };
    return {
        {"stray byte in the Read", {"--stray-after", n(3000)}, "read: out of step"},
        {"doubled reply in the Verify", {"--double-reply", n(chipSize + 5000)}, "verify: out of step"},
        {"board silent in the Read", {"--silent-after", n(4000)}, "read: timed out"},
        {"port gone in the Verify", {"--vanish-after", n(chipSize + 100)}, "verify: port lost"},
        {"wrong byte at 1234h", {"--wrong-byte", "1234=00"}, "difference at 1234h"},
    };
}

// A command that meets a fault must end no later than a sound one would, plus the limit of
// the wait it was in, the quiet checks and an out-of-step end letting the rest of the line in.
qint64 slackMs()
{
    return timeouts::reply.count() + 3 * timeouts::quiet.count() + 500;
}

// A command that never ends is caught here.
void armWatchdog()
{
    signal(SIGALRM, [](int) {
        const char text[] = "HUNG: a command did not end within ten minutes\n";
        [[maybe_unused]] ssize_t w = write(2, text, sizeof text - 1);
        _exit(2);
    });
    alarm(600);
}

bool writeFile(const QString &name, const QByteArray &bytes)
{
    QFile f(name);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// The boards, the link and the tallies of the whole run.
class Soak {
public:
    Soak(const QString &tool, const QStringList &chip, const QByteArray &image)
        : m_tool(tool), m_chip(chip), m_image(image), m_good(tool, chip)
    {
    }

    bool start() { return !m_good.path.isEmpty() && use({}); }

    // Identifications; every twentieth meets a stray byte or a silent board.
    void identifications()
    {
        for (int i = 0; i < identifiesPerCycle; ++i) {
            ++m_identifies;
            const bool fault = m_identifies % 20 == 0;
            if (fault) {
                ++m_identifyFaults;
                use(m_identifies % 40 ? QStringList{"--stray-byte", "00"} : QStringList{"--silent-after", "0"});
            }
            IdentifyOutcome out;
            timed(fault, [&] { out = identifyDevice(m_board); });
            if (fault) {
                m_identifyReported += !out.chip;
                use({});
            } else if (!out.chip) {
                ++m_identifyWrong;
            }
        }
    }

    // A Read and a Verify of the whole chip, every fourth with a fault; prints its row.
    void readVerifyCycle(int cycle)
    {
        const CycleFault *fault = cycle % 4 == 2 ? &m_faults[size_t(cycle / 4) % m_faults.size()] : nullptr;
        if (fault) {
            ++m_cycleFaults;
            use(fault->options);
        }
        QString reported = QStringLiteral("-");
        bool cycleOk = true;
        const qint64 ms = timed(fault != nullptr, [&] { cycleOk = readVerify(fault, &reported); });
        if (fault) {
            if (reported == QLatin1String(fault->expected))
                ++m_cycleReported;
            use({});
        } else if (!cycleOk) {
            ++m_cycleWrong;
        }
        m_rss.push_back(residentKb());
        std::printf("%-5d %-30s %-24s %-24s %9lld %8ld\n", cycle, fault ? fault->name : "-",
                    fault ? fault->expected : "-", qPrintable(reported), ms, m_rss.back());
    }

    // Prints the figures; true when the run was sound.
    bool summary(qint64 totalMs) const
    {
        int late = 0;
        for (qint64 ms : m_faultMs)
            late += ms > m_longestSoundMs + slackMs();
        const long first = m_rss.size() > 1 ? m_rss[1] : m_rss.front();  // after the first cycle has warmed up
        const long peak = *std::max_element(m_rss.begin(), m_rss.end());
        std::printf("\nidentifications: %d, faults %d, reported %d, wrong outcomes without a fault %d\n",
                    m_identifies, m_identifyFaults, m_identifyReported, m_identifyWrong);
        std::printf("read-verify cycles: %d, faults %d, reported as expected %d, failures without a fault %d\n",
                    cycles, m_cycleFaults, m_cycleReported, m_cycleWrong);
        std::printf("longest step (an identification or a read-verify cycle) without a fault: %lld ms, with one: "
                    "%lld ms; later than the longest sound one plus %lld ms: %d\n",
                    m_longestSoundMs, m_longestFaultMs, slackMs(), late);
        std::printf("resident memory: %ld KB after cycle 2, %ld KB at the end, peak %ld KB (%+ld KB)\n", first,
                    m_rss.back(), peak, m_rss.back() - first);
        std::printf("total: %.1f s\n", totalMs / 1000.0);
        const bool sound = m_identifyReported == m_identifyFaults && m_identifyWrong == 0 &&
                           m_cycleReported == m_cycleFaults && m_cycleWrong == 0 && late == 0 &&
                           m_rss.back() - first < 1024;
        std::printf("%s\n", sound ? "sound: every fault reported, nothing hung, memory flat"
                                  : "NOT SOUND: see the figures above");
        return sound;
    }

private:
    // The good board, or one started with `fault` for the next command(s).
    bool use(const QStringList &fault)
    {
        m_link.close();
        m_faulty.reset();
        QString path = m_good.path;
        if (!fault.isEmpty()) {
            m_faulty = std::make_unique<bench::Board>(m_tool, m_chip + fault);
            path = m_faulty->path;
        }
        return bench::openLink(m_link, path);
    }

    qint64 timed(bool fault, const std::function<void()> &run)
    {
        QElapsedTimer t;
        t.start();
        run();
        const qint64 ms = t.elapsed();
        qint64 &longest = fault ? m_longestFaultMs : m_longestSoundMs;
        longest = std::max(longest, ms);
        if (fault)
            m_faultMs.push_back(ms);
        return ms;
    }

    // The Read and the Verify; false with what was reported when either did not succeed.
    bool readVerify(const CycleFault *fault, QString *reported)
    {
        auto data = readDevice(m_board, chipSize, {});
        if (!data) {
            *reported = QStringLiteral("read: %1").arg(QLatin1String(kindName(data.failure().kind)));
            return false;
        }
        // A read that ends as a success holds the chip's bytes, whatever the fault.
        QByteArray chipHolds = m_image;
        if (fault && fault->options.first() == QLatin1String("--wrong-byte"))
            chipHolds[0x1234] = 0;
        if (data.value() != chipHolds) {
            *reported = QStringLiteral("WRONG IMAGE READ AS SUCCESS");
            return false;
        }
        auto same = verifyDevice(m_board, m_image, {});
        if (!same) {
            *reported = QStringLiteral("verify: %1").arg(QLatin1String(kindName(same.failure().kind)));
            return false;
        }
        if (same.value()) {
            *reported = QStringLiteral("difference at %1h").arg(hexNumber(same.value()->address));
            return false;
        }
        return true;
    }

    const QString m_tool;
    const QStringList m_chip;
    const QByteArray m_image;
    const std::vector<CycleFault> m_faults = cycleFaults();
    bench::Board m_good;
    SerialLink m_link;
    BoardCommands m_board{m_link};
    std::unique_ptr<bench::Board> m_faulty;

    int m_identifies = 0, m_identifyFaults = 0, m_identifyReported = 0, m_identifyWrong = 0;
    int m_cycleFaults = 0, m_cycleReported = 0, m_cycleWrong = 0;
    qint64 m_longestSoundMs = 0, m_longestFaultMs = 0;
    std::vector<qint64> m_faultMs;
    std::vector<long> m_rss;
};
}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString tool = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(VORALITH_BOARD_PATH);
    const QByteArray image = pattern();
    QTemporaryDir dir;
    const QString imageFile = dir.filePath(QStringLiteral("image.bin"));
    if (!writeFile(imageFile, image))
        return 1;
    Soak soak(tool, {QStringLiteral("--chip"), QStringLiteral("89c52"), QStringLiteral("--image"), imageFile}, image);
    if (!soak.start())
        return 1;
    armWatchdog();

    QElapsedTimer total;
    total.start();
    std::printf("%-5s %-30s %-24s %-24s %9s %8s\n", "cycle", "fault", "expected", "reported", "ms", "RSS KB");
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        soak.identifications();
        soak.readVerifyCycle(cycle);
    }
    return soak.summary(total.elapsed()) ? 0 : 1;
}
