// SPDX-License-Identifier: GPL-3.0-or-later
// Preloaded into a program by bench_startup: when the program's first window has been
// exposed and painted, writes the time (monotonic clock, ns) and the resident memory to the
// file named by BENCH_PROBE_OUT, with the time its application object was made, then the
// resident memory of each mapping, and ends the program. The program itself is the one users run, unchanged.
#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QMap>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <time.h>
#include <unistd.h>

namespace {
qint64 nowNs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

qint64 appMadeNs = 0;  // when the application object was made

void report()
{
    const qint64 shown = nowNs();
    QFile status(QStringLiteral("/proc/self/status"));
    qint64 rssKb = -1;
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("VmRSS:"))
                rssKb = line.mid(6).trimmed().split(' ').value(0).toLongLong();
    // Resident memory by mapping: a file's name, or what the kernel calls the mapping.
    QMap<QByteArray, qint64> byMapping;
    QFile smaps(QStringLiteral("/proc/self/smaps"));
    QByteArray current;
    if (smaps.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : smaps.readAll().split('\n')) {
            if (line.startsWith("Rss:")) {
                byMapping[current] += line.mid(4).trimmed().split(' ').value(0).toLongLong();
            } else if (!line.isEmpty() && line.contains('-') && !line.endsWith(':') &&
                       (isxdigit(uchar(line.at(0))))) {
                const QList<QByteArray> f = line.simplified().split(' ');
                current = f.size() >= 6 ? f.mid(5).join(' ') : QByteArray("[anonymous]");
            }
        }
    }
    QFile out(qEnvironmentVariable("BENCH_PROBE_OUT"));
    if (out.open(QIODevice::WriteOnly)) {
        out.write(QByteArray::number(shown) + ' ' + QByteArray::number(rssKb) + ' ' + QByteArray::number(appMadeNs) +
                  '\n');
        for (auto it = byMapping.cbegin(); it != byMapping.cend(); ++it)
            out.write(QByteArray::number(it.value()) + '\t' + it.key() + '\n');
        out.close();
    }
    ::_exit(0);
}

class Probe : public QObject {
public:
    bool eventFilter(QObject *o, QEvent *e) override
    {
        // The expose is handled (and the window painted) when the event returns; the
        // report runs from the event loop just after.
        if (!m_done && e->type() == QEvent::Expose && o->isWindowType() && static_cast<QWindow *>(o)->isExposed()) {
            m_done = true;
            QTimer::singleShot(0, qApp, report);
        }
        return false;
    }

private:
    bool m_done = false;
};

void installProbe()
{
    appMadeNs = nowNs();
    qApp->installEventFilter(new Probe);
}
}  // namespace

Q_COREAPP_STARTUP_FUNCTION(installProbe)
