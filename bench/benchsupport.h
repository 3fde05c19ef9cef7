// SPDX-License-Identifier: GPL-3.0-or-later
// What the benchmarks share: the board tool on a pseudo-terminal, the bare loop that sets
// the pace the core is measured against, and a median.
#pragma once

#include "seriallink.h"
#include "timeouts.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace bench {

inline double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

inline double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

inline qint64 nowNs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// voralith-board with the given options; the device it prints, stopped at the end.
struct Board {
    QProcess proc;
    QString path;
    Board(const QString &tool, const QStringList &args)
    {
        proc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        proc.start(tool, args);
        if (proc.waitForReadyRead(10000))
            path = QString::fromLocal8Bit(proc.readLine()).trimmed();
        if (path.isEmpty())
            std::fprintf(stderr, "the board tool %s did not report its device\n", qPrintable(tool));
    }
    ~Board()
    {
        proc.terminate();
        if (!proc.waitForFinished(5000))
            proc.kill();
        proc.waitForFinished(5000);
    }
};

// The core's link on a device, as the program opens it.
inline bool openLink(SerialLink &link, const QString &device)
{
    link.portMap().mapForThisRun(2, device);
    link.setPortNumber(2);
    const Status s = link.open();
    if (!s)
        std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(device), qPrintable(s.message()));
    return s.ok();
}

// The same exchanges as plain system calls on the terminal's descriptor: blocking reads,
// one write per command string, and at the end the same quiet line the core waits for
// after the last reply. What the core costs on top of the board and the line is measured
// against this.
class BareLine {
public:
    explicit BareLine(const QString &device)
    {
        m_fd = ::open(device.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_fd < 0)
            return;
        termios tio{};
        ::tcgetattr(m_fd, &tio);
        ::cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tio.c_cc[VMIN] = 1;
        tio.c_cc[VTIME] = 0;
        ::cfsetispeed(&tio, B9600);
        ::cfsetospeed(&tio, B9600);
        ::tcsetattr(m_fd, TCSANOW, &tio);
    }
    ~BareLine()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool ok() const { return m_fd >= 0 && !m_failed; }

    void send(const char *bytes, size_t n)
    {
        if (::write(m_fd, bytes, n) != ssize_t(n))
            m_failed = true;
    }
    void receive(char *into, size_t n)
    {
        size_t got = 0;
        while (got < n && !m_failed) {
            const ssize_t r = ::read(m_fd, into + got, n - got);
            if (r > 0)
                got += size_t(r);
            else
                m_failed = true;
        }
    }

    // Nothing more may come for the quiet time after the last reply.
    void quiet()
    {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, int(timeouts::quiet.count())) != 0)
            m_failed = true;
    }

    QByteArray read(int size)
    {
        QByteArray out(size, 0);
        send("Z", 1);
        for (int i = 0; i < size; ++i) {
            send("RI", 2);
            receive(out.data() + i, 1);
        }
        quiet();
        return out;
    }
    bool verify(const QByteArray &image)
    {
        send("Z", 1);
        for (char expected : image) {
            char c = 0;
            send("RI", 2);
            receive(&c, 1);
            if (c != expected)
                return false;
        }
        quiet();
        return true;
    }
    bool blank(int size)
    {
        send("Z", 1);
        for (int g = 0; g < size / 4; ++g) {
            char four[4];
            send("RIRIRIRI", 8);
            receive(four, 4);
            for (char c : four)
                if (c != char(0xFF))
                    return false;
        }
        quiet();
        return true;
    }
    int write(const QByteArray &image)
    {
        int mismatches = 0;
        send("Z", 1);
        for (char data : image) {
            char back = 0;
            send("W", 1);
            send(&data, 1);
            receive(&back, 1);
            mismatches += back != data;
            send("I", 1);
        }
        quiet();
        return mismatches;
    }

private:
    int m_fd = -1;
    bool m_failed = false;
};

}  // namespace bench
