// SPDX-License-Identifier: GPL-3.0-or-later
// An AT89C51 Read at 9600-baud pacing (voralith-board --paced): the core against the bare
// loop, the processor time the core takes meanwhile, and how long the program takes from a
// reply to its next request. The two run at the same time, each against a board of its
// own, the bare loop on a thread of its own: a machine whose load comes and goes over the
// nine seconds weighs on both alike. Both sleep nearly all the time, so they do not slow
// each other.
//   bench_paced [path/to/voralith-board] [runs]
//
// The turnaround is taken inside this process, in the system calls themselves: this
// program defines read, write, poll and ppoll, so the Qt libraries' calls come here too.
// A reply is in hand when the wait that slept for it returns (the event loop's poll for
// the core, the blocking read for the bare loop); the next request leaves with the next
// write to the port.
#include "benchsupport.h"
#include "operations.h"

#include <QCoreApplication>

#include <atomic>
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
// The processor time of the calling thread.
double cpuSeconds()
{
    rusage u{};
    ::getrusage(RUSAGE_THREAD, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}
}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString tool = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(VORALITH_BOARD_PATH);
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 1;
    const QStringList paced{QStringLiteral("--chip"), QStringLiteral("89c51"), QStringLiteral("--paced")};
    bench::Board coreBoard(tool, paced), bareBoard(tool, paced);
    if (coreBoard.path.isEmpty() || bareBoard.path.isEmpty())
        return 1;

    constexpr int size = 4096;
    const QByteArray erased(size, char(0xFF));
    // Two bytes on the line per exchange: "R" out, the byte back ("I" goes out meanwhile).
    const double lineSeconds = size * 2 * 10 / 9600.0;
    std::vector<double> coreS, bareS, coreCpu, bareCpu, coreTurn, bareTurn;
    for (int i = 0; i < runs; ++i) {
        SerialLink link;
        if (!bench::openLink(link, coreBoard.path))
            return 1;
        BoardCommands board(link);
        bench::BareLine line(bareBoard.path);
        std::atomic<bool> go{false};
        bool bareSame = false;
        double bareWall = 0, bareCpuShare = 0;
        std::vector<double> bareUs;
        std::thread bareThread([&] {
            while (!go.load())
                std::this_thread::yield();
            turnaround.start(bareBoard.path);
            const double c0 = cpuSeconds();
            const qint64 t0 = bench::nowNs();
            bareSame = line.read(size) == erased;
            bareWall = (bench::nowNs() - t0) / 1e9;
            bareCpuShare = (cpuSeconds() - c0) / bareWall;
            turnaround.recording = false;
            bareUs = turnaround.us;
        });
        turnaround.start(coreBoard.path);
        go = true;
        const double c0 = cpuSeconds();
        const qint64 t0 = bench::nowNs();
        const auto data = readDevice(board, size, {});
        const double wall = (bench::nowNs() - t0) / 1e9;
        const double cpu = cpuSeconds() - c0;
        turnaround.recording = false;
        bareThread.join();
        if (!data.ok() || data.value() != erased) {
            std::fprintf(stderr, "the paced Read through the core failed: %s\n", qPrintable(data.message()));
            return 1;
        }
        if (!bareSame || !line.ok()) {
            std::fprintf(stderr, "the paced Read by the bare loop failed\n");
            return 1;
        }
        coreS.push_back(wall);
        coreCpu.push_back(cpu / wall);
        coreTurn.insert(coreTurn.end(), turnaround.us.begin(), turnaround.us.end());
        bareS.push_back(bareWall);
        bareCpu.push_back(bareCpuShare);
        bareTurn.insert(bareTurn.end(), bareUs.begin(), bareUs.end());
    }

    const double c = bench::median(coreS), b = bench::median(bareS);
    std::printf("AT89C51 Read at 9600-baud pacing, %d exchanges, line time %.3f s (%d run%s, both at once)\n",
                size, lineSeconds, runs, runs > 1 ? "s" : "");
    std::printf("%-10s %8s %10s %12s %16s %16s\n", "", "wall s", "/ line", "cpu / wall", "reply->next us",
                "90% within us");
    std::printf("%-10s %8.3f %10.4f %12.4f %16.1f %16.1f\n", "core", c, c / lineSeconds, bench::median(coreCpu),
                bench::median(coreTurn), bench::percentile(coreTurn, 0.9));
    std::printf("%-10s %8.3f %10.4f %12.4f %16.1f %16.1f\n", "bare loop", b, b / lineSeconds,
                bench::median(bareCpu), bench::median(bareTurn), bench::percentile(bareTurn, 0.9));
    std::printf("summary: paced Read, core / bare loop %.4f (goal <= 1.01), core cpu / wall %.4f (goal <= 0.05), "
                "core reply->next request median %.1f us (goal <= 20)\n",
                c / b, bench::median(coreCpu), bench::median(coreTurn));
    return 0;
}
