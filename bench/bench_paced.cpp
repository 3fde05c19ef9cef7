// SPDX-License-Identifier: GPL-3.0-or-later
// An AT89C51 Read at 9600-baud pacing (voralith-board --paced), through the core and then
// through the shown main window as a user clicks it: each against the bare loop, the
// processor time each takes meanwhile, and how long the program takes from a reply to its
// next request. Each runs at the same time as a bare loop, each against a board of its own,
// the bare loop on a thread of its own: a machine whose load comes and goes over the nine
// seconds weighs on both alike. Both sleep nearly all the time, so they do not slow each
// other. The window runs in a process of its own, started again from this program, and
// needs a display (bench/run.sh gives it a virtual one); without one only the core is
// measured.
//   bench_paced [path/to/voralith-board] [runs]
//
// The turnaround is taken inside this process, in the system calls themselves: this
// program defines read, write, poll and ppoll, so the Qt libraries' calls come here too.
// A reply is in hand when the wait that slept for it returns (the event loop's poll for
// the core, the blocking read for the bare loop); the next request leaves with the next
// write to the port.
#include "benchsupport.h"
#include "form1.h"
#include "frmabout.h"
#include "operations.h"
#include "windowstyle.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cstring>
#include <thread>

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>

namespace {
// What one thread's exchanges took; the core's thread and the bare loop's keep their own.
struct Turnaround {
    bool recording = false;
    dev_t device = 0;
    signed char isPort[1024] = {};  // 0 not looked at yet, 1 the port, -1 anything else
    qint64 lastWakeNs = -1;   // the last poll that returned since the last request
    qint64 replyWakeNs = -1;  // when the host woke with the reply in hand
    std::vector<double> us;

    bool port(int fd)
    {
        if (fd < 0 || fd >= int(sizeof isPort))
            return false;
        if (!isPort[fd]) {
            struct stat st {};
            isPort[fd] = (::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == device) ? 1 : -1;
        }
        return isPort[fd] > 0;
    }
    void start(const QString &path)
    {
        struct stat st {};
        ::stat(path.toLocal8Bit().constData(), &st);
        *this = Turnaround();
        device = st.st_rdev;
        us.reserve(8192);
        recording = true;
    }
};
thread_local Turnaround turnaround;

qint64 wallNs()
{
    return bench::nowNs();
}
}  // namespace

extern "C" {
ssize_t write(int fd, const void *buf, size_t n)
{
    if (turnaround.recording && turnaround.port(fd)) {
        if (turnaround.replyWakeNs >= 0)
            turnaround.us.push_back((wallNs() - turnaround.replyWakeNs) / 1e3);
        turnaround.replyWakeNs = -1;
        turnaround.lastWakeNs = -1;
    }
    return ssize_t(::syscall(SYS_write, fd, buf, n));
}

ssize_t read(int fd, void *buf, size_t n)
{
    const ssize_t r = ssize_t(::syscall(SYS_read, fd, buf, n));
    if (r > 0 && turnaround.recording && turnaround.replyWakeNs < 0 && turnaround.port(fd))
        turnaround.replyWakeNs = turnaround.lastWakeNs >= 0 ? turnaround.lastWakeNs : wallNs();
    return r;
}

int poll(struct pollfd *fds, nfds_t n, int timeout)
{
    timespec ts{}, *tp = nullptr;
    if (timeout >= 0) {
        ts.tv_sec = timeout / 1000;
        ts.tv_nsec = long(timeout % 1000) * 1000000;
        tp = &ts;
    }
    const int r = int(::syscall(SYS_ppoll, fds, n, tp, nullptr, size_t(_NSIG / 8)));
    if (r > 0 && turnaround.recording)
        turnaround.lastWakeNs = wallNs();
    return r;
}

int ppoll(struct pollfd *fds, nfds_t n, const timespec *timeout, const sigset_t *mask)
{
    timespec copy{}, *tp = nullptr;
    if (timeout) {
        copy = *timeout;  // the kernel writes the time left into it
        tp = &copy;
    }
    const int r = int(::syscall(SYS_ppoll, fds, n, tp, mask, size_t(_NSIG / 8)));
    if (r > 0 && turnaround.recording)
        turnaround.lastWakeNs = wallNs();
    return r;
}
}


namespace {
constexpr int chipSize = 4096;

// The processor time of the calling thread (RUSAGE_THREAD) or of the whole process.
double cpuSeconds(int who)
{
    rusage u{};
    ::getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// What one side of a paced Read took, run by run.
struct Side {
    std::vector<double> wall, cpuShare, turn;
};

// `host` (the core or the window) on this thread against `hostDevice`, and the bare loop's
// Read on a thread of its own against `bareDevice`, started together. The window's
// processor time is the whole process's less the bare loop's thread: Qt reads the display
// on a thread of its own, and that is the window's too.
template <typename F>
bool atOnce(const QString &hostDevice, const QString &bareDevice, bool wholeProcess, F host, Side &hostSide,
            Side &bareSide)
{
    const QByteArray erased(chipSize, char(0xFF));
    bench::BareLine line(bareDevice);
    std::atomic<bool> go{false};
    bool bareSame = false;
    double bareWall = 0, bareCpu = 0;
    std::vector<double> bareUs;
    std::thread bareThread([&] {
        while (!go.load())
            std::this_thread::yield();
        turnaround.start(bareDevice);
        const double c0 = cpuSeconds(RUSAGE_THREAD);
        const qint64 t0 = bench::nowNs();
        bareSame = line.read(chipSize) == erased;
        bareWall = (bench::nowNs() - t0) / 1e9;
        bareCpu = cpuSeconds(RUSAGE_THREAD) - c0;
        turnaround.recording = false;
        bareUs = turnaround.us;
    });
    const int who = wholeProcess ? RUSAGE_SELF : RUSAGE_THREAD;
    turnaround.start(hostDevice);
    go = true;
    const double c0 = cpuSeconds(who);
    const qint64 t0 = bench::nowNs();
    const bool hostOk = host();
    const double wall = (bench::nowNs() - t0) / 1e9;
    double cpu = cpuSeconds(who) - c0;
    turnaround.recording = false;
    bareThread.join();
    if (wholeProcess)
        cpu -= bareCpu;
    if (!hostOk)
        return false;
    if (!bareSame || !line.ok()) {
        std::fprintf(stderr, "the paced Read by the bare loop failed\n");
        return false;
    }
    hostSide.wall.push_back(wall);
    hostSide.cpuShare.push_back(cpu / wall);
    hostSide.turn.insert(hostSide.turn.end(), turnaround.us.begin(), turnaround.us.end());
    bareSide.wall.push_back(bareWall);
    bareSide.cpuShare.push_back(bareCpu / bareWall);
    bareSide.turn.insert(bareSide.turn.end(), bareUs.begin(), bareUs.end());
    return true;
}

// Messages are counted, never shown: a modal box would stop the benchmark.
class CountingPrompter : public Prompter {
public:
    QStringList texts;
    Answer message(QWidget *, const QString &, const QString &text, Buttons, Icon, Answer preselected) override
    {
        texts << text;
        return preselected;
    }
    QString openFileName(QWidget *, const QString &, const QString &) override { return {}; }
    QString saveFileName(QWidget *, const QString &, const QString &) override { return {}; }
};

// The main window as the program makes it (its look, its icon), shown, with Com2 on the
// board's device; a Read is a click on "Read data" after an identification, as a user
// does it, until the handler returns (the chip read, the buffer file written and listed).
class WindowRead {
public:
    explicit WindowRead(const QString &device)
    {
        Form1::Deps deps;
        deps.work = WorkFolder::acquireAt(m_dir.filePath(QStringLiteral("work"))).value();
        deps.prompter = &m_prompts;
        deps.portsForThisRun = {{2, device}};
        m_window = std::make_unique<Form1>(std::move(deps));
        m_window->show();
        if (!QTest::qWaitForWindowExposed(m_window.get())) {
            std::fprintf(stderr, "the window was not shown\n");
            return;
        }
        m_window->IdentifyDevice->click();
        const ChipInfo *chip = m_window->chip();
        if (!chip || chip->size != 4096 || !m_window->ReadData->isEnabled() || !m_prompts.texts.isEmpty()) {
            std::fprintf(stderr, "the window did not identify the AT89C51: %s\n",
                         qPrintable(m_prompts.texts.join(QLatin1Char(' '))));
            return;
        }
        QTest::qWait(200);  // what follows the identification is drawn before a Read
        m_ready = true;
    }
    bool ready() const { return m_ready; }

    void read() { m_window->ReadData->click(); }
    // The chip's bytes in the buffer file, nothing told; the listing drawn before what follows.
    bool readWell()
    {
        QFile buffer(m_window->work().bufferPath());
        if (!m_prompts.texts.isEmpty() || !buffer.open(QIODevice::ReadOnly)
            || buffer.readAll() != QByteArray(chipSize, char(0xFF))) {
            std::fprintf(stderr, "the paced Read through the window failed: %s\n",
                         qPrintable(m_prompts.texts.join(QLatin1Char(' '))));
            return false;
        }
        QTest::qWait(50);
        return true;
    }

private:
    QTemporaryDir m_dir;
    CountingPrompter m_prompts;
    std::unique_ptr<Form1> m_window;
    bool m_ready = false;
};

const QStringList pacedBoard{QStringLiteral("--chip"), QStringLiteral("89c51"), QStringLiteral("--paced")};

// One row of the table: the medians of a side's runs.
struct Row {
    double wall = 0, cpuShare = 0, turn = 0, turn90 = 0;
};

Row rowOf(const Side &s)
{
    return {bench::median(s.wall), bench::median(s.cpuShare), bench::median(s.turn), bench::percentile(s.turn, 0.9)};
}

void printRow(const char *name, const Row &r, double lineSeconds)
{
    std::printf("%-10s %8.3f %10.4f %12.4f %16.1f %16.1f\n", name, r.wall, r.wall / lineSeconds, r.cpuShare, r.turn,
                r.turn90);
}

// The window's Reads (bench_paced --window TOOL RUNS), in a process of their own as the
// program has one, so that the core's figures are taken without a display connection, as
// before: prints the window's row and its bare loop's as eight numbers, then the platform.
int windowMain(int argc, char **argv, const QString &tool, int runs)
{
    // The settings the window reads and writes are a folder's of this run.
    QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", settings.path().toLocal8Bit());
    QApplication app(argc, argv);
    setUpLook(app);
    QApplication::setWindowIcon(voralithIcon());
    bench::Board windowBoard(tool, pacedBoard), bareBoard(tool, pacedBoard);
    if (windowBoard.path.isEmpty() || bareBoard.path.isEmpty())
        return 1;
    WindowRead window(windowBoard.path);
    if (!window.ready())
        return 1;
    Side shown, bare;
    for (int i = 0; i < runs; ++i) {
        if (!atOnce(windowBoard.path, bareBoard.path, true, [&] { window.read(); return true; }, shown, bare)
            || !window.readWell())
            return 1;
    }
    const Row w = rowOf(shown), b = rowOf(bare);
    std::printf("%.6f %.6f %.3f %.3f %.6f %.6f %.3f %.3f %s\n", w.wall, w.cpuShare, w.turn, w.turn90, b.wall,
                b.cpuShare, b.turn, b.turn90, qPrintable(QGuiApplication::platformName()));
    return 0;
}

// windowMain in a child process; false when it failed (it has told why).
bool windowInItsOwnProcess(const QString &tool, int runs, Row &window, Row &bare, QString &platform)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--window"), tool, QString::number(runs)});
    if (!child.waitForFinished(runs * 120000) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0) {
        std::fprintf(stderr, "the window's Read did not complete\n");
        return false;
    }
    const QStringList f = QString::fromLocal8Bit(child.readAllStandardOutput()).split(QLatin1Char(' '));
    if (f.size() != 9)
        return false;
    window = {f[0].toDouble(), f[1].toDouble(), f[2].toDouble(), f[3].toDouble()};
    bare = {f[4].toDouble(), f[5].toDouble(), f[6].toDouble(), f[7].toDouble()};
    platform = f[8].trimmed();
    return true;
}
// The core's Reads, each at once with a bare loop on a board of its own.
bool measureCore(const QString &tool, int runs, Side &core, Side &coreBare)
{
    bench::Board coreBoard(tool, pacedBoard), bareBoard(tool, pacedBoard);
    if (coreBoard.path.isEmpty() || bareBoard.path.isEmpty())
        return false;
    const QByteArray erased(chipSize, char(0xFF));
    for (int i = 0; i < runs; ++i) {
        SerialLink link;
        if (!bench::openLink(link, coreBoard.path))
            return false;
        BoardCommands board(link);
        const auto coreRead = [&] {
            const auto data = readDevice(board, chipSize, {});
            if (!data.ok() || data.value() != erased) {
                std::fprintf(stderr, "the paced Read through the core failed: %s\n", qPrintable(data.message()));
                return false;
            }
            return true;
        };
        if (!atOnce(coreBoard.path, bareBoard.path, false, coreRead, core, coreBare))
            return false;
    }
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    const bool windowOnly = argc > 1 && std::strcmp(argv[1], "--window") == 0;
    const int at = windowOnly ? 2 : 1;
    const QString tool = argc > at ? QString::fromLocal8Bit(argv[at]) : QStringLiteral(VORALITH_BOARD_PATH);
    const int runs = argc > at + 1 ? std::max(1, atoi(argv[at + 1])) : 1;
    if (windowOnly)
        return windowMain(argc, argv, tool, runs);

    QCoreApplication app(argc, argv);
    Side core, coreBare;
    if (!measureCore(tool, runs, core, coreBare))
        return 1;
    // The window's Read wants a display; bench/run.sh gives it a virtual one where there is
    // none.
    const bool display = !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
                         || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    // Two bytes on the line per exchange: "R" out, the byte back ("I" goes out meanwhile).
    const double lineSeconds = chipSize * 2 * 10 / 9600.0;
    Row window, windowBare;
    QString platform;
    if (display && !windowInItsOwnProcess(tool, runs, window, windowBare, platform))
        return 1;

    const Row c = rowOf(core), b = rowOf(coreBare);
    std::printf("AT89C51 Read at 9600-baud pacing, %d exchanges, line time %.3f s (%d run%s; the core, then the "
                "window on %s, each at once with a bare loop)\n",
                chipSize, lineSeconds, runs, runs > 1 ? "s" : "", display ? qPrintable(platform) : "no display");
    std::printf("%-10s %8s %10s %12s %16s %16s\n", "", "wall s", "/ line", "cpu / wall", "reply->next us",
                "90% within us");
    printRow("core", c, lineSeconds);
    printRow("bare loop", b, lineSeconds);
    if (display) {
        printRow("window", window, lineSeconds);
        printRow("bare loop", windowBare, lineSeconds);
    }
    std::printf("summary: paced Read, core / bare loop %.4f (goal <= 1.01), core cpu / wall %.4f (goal <= 0.05), "
                "core reply->next request median %.1f us (goal <= 20), ",
                c.wall / b.wall, c.cpuShare, c.turn);
    if (display)
        std::printf("window / bare loop %.4f (goal <= 1.01), window cpu / wall %.4f (goal <= 0.03)\n",
                    window.wall / windowBare.wall, window.cpuShare);
    else
        std::printf("window not measured (no display)\n");
    return 0;
}
