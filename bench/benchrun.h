// SPDX-License-Identifier: GPL-3.0-or-later
// A benchmark's child program run as a user runs it: its output into files, its wall time,
// and from wait4 the processor time of that process alone (all its threads).
#pragma once

#include "benchsupport.h"

#include <QByteArray>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <cerrno>
#include <map>
#include <random>
#include <cstring>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace bench {

// A run still going after `runLimitMs` hangs: it is killed and told.
struct Run {
    bool ok = false;
    double wallS = 0;
    double cpuS = 0;
    QByteArray why;
};

inline QByteArray fileText(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// `program` with args, its output into files of the folder; its wall time from the start to
// its end and, from wait4, the processor time of that process alone (all its threads).
inline Run runProgram(const QByteArray &program, const QStringList &args, const QTemporaryDir &dir,
                      const std::vector<QByteArray> &env, int runLimitMs)
{
    Run r;
    const QByteArray out = dir.filePath(QStringLiteral("run.out")).toLocal8Bit();
    const QByteArray err = dir.filePath(QStringLiteral("run.err")).toLocal8Bit();
    std::vector<QByteArray> argBytes{program};
    for (const QString &a : args)
        argBytes.push_back(a.toLocal8Bit());
    std::vector<char *> argv, envp;
    for (QByteArray &a : argBytes)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (const QByteArray &e : env)
        envp.push_back(const_cast<char *>(e.constData()));
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    const qint64 t0 = bench::nowNs();
    const int spawned = posix_spawn(&pid, program.constData(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        r.why = "cannot start " + program + ": " + QByteArray(strerror(spawned));
        return r;
    }
    // Its end wakes the wait; a hung run is ended at the limit.
    const int pidfd = int(syscall(SYS_pidfd_open, pid, 0));
    bool hung = false;
    if (pidfd >= 0) {
        pollfd p{pidfd, POLLIN, 0};
        int n;
        while ((n = ::poll(&p, 1, runLimitMs)) < 0 && errno == EINTR) {
        }
        ::close(pidfd);
        if (n == 0) {
            hung = true;
            ::kill(pid, SIGKILL);
        }
    }
    int status = 0;
    rusage use{};
    while (wait4(pid, &status, 0, &use) < 0 && errno == EINTR) {
    }
    r.wallS = (bench::nowNs() - t0) / 1e9;
    r.cpuS = double(use.ru_utime.tv_sec + use.ru_stime.tv_sec) + (use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
    r.ok = !hung && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!r.ok) {
        r.why = hung ? QByteArray("no end after ") + QByteArray::number(runLimitMs / 1000) + " s, killed"
                : WIFEXITED(status) ? "exit status " + QByteArray::number(WEXITSTATUS(status))
                                    : "killed by signal " + QByteArray::number(WTERMSIG(status));
        r.why += "\nstandard error:\n" + fileText(QString::fromLocal8Bit(err)) + "standard output:\n" +
                 fileText(QString::fromLocal8Bit(out));
    }
    return r;
}

// Its own settings and work folder, never the user's; `extra` added.
inline std::vector<QByteArray> childEnvironment(const QTemporaryDir &home, const std::map<QByteArray, QByteArray> &extra = {})
{
    std::map<QByteArray, QByteArray> own{
        {"HOME", home.path().toLocal8Bit()},
        {"XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit()},
        {"XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toLocal8Bit()},
    };
    own.insert(extra.begin(), extra.end());
    std::vector<QByteArray> env;
    for (char **e = environ; *e; ++e) {
        const QByteArray kv(*e);
        if (!own.count(kv.left(kv.indexOf('='))))
            env.push_back(kv);
    }
    for (const auto &[k, v] : own)
        env.push_back(k + '=' + v);
    return env;
}

// The same `size` bytes every run: a fixed seed.
inline QByteArray image(int size)
{
    std::mt19937 random(8951);
    QByteArray bytes(size, 0);
    for (char &b : bytes)
        b = char(random() & 0xFF);
    return bytes;
}
}  // namespace bench
