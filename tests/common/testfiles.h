// SPDX-License-Identifier: GPL-3.0-or-later
// Files for tests: images that differ byte by byte, whole-file reads and writes, a disk
// that fills, and voralith-cli run beside the window (with VORALITH_CLI_PATH defined).
#pragma once

#include <QFile>
#include <QProcess>
#include <csignal>
#include <sys/resource.h>

// n bytes that differ from their neighbours; another seed gives another image.
inline QByteArray pattern(int n, int seed = 13)
{
    QByteArray d(n, 0);
    for (int i = 0; i < n; ++i)
        d[i] = char((i * seed + 1) & 0xFF);
    return d;
}

inline QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
inline QString writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(data);
    return path;
}

// While it lives, files of this process grow to `bytes` at most (0: no limit), as on a
// disk that fills, also for root.
struct FileSizeLimit {
    rlimit old{};
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &old);
        const rlimit cap{bytes ? bytes : old.rlim_cur, old.rlim_max};
        signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &cap);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old); }
};

#ifdef VORALITH_CLI_PATH
// voralith-cli run with `args`, in this test's settings; its exit status and what it printed.
struct CliRun {
    int exit = -1;
    QString out, err;
};
inline CliRun runCli(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral(VORALITH_CLI_PATH), args);
    const bool ended = p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit;
    return {ended ? p.exitCode() : -1, QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}
#endif
