// SPDX-License-Identifier: GPL-3.0-or-later
// The log of every chip (--log FILE): a file only ever appended to, one line per write, each
// on the disk before the next chip starts. Several processes may append to one at once.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

class AppendLog {
public:
    AppendLog() = default;
    ~AppendLog();
    AppendLog(const AppendLog &) = delete;
    AppendLog &operator=(const AppendLog &) = delete;

    // Opens `path` for appending, made with the user's umask when missing; empty when it
    // opened, else why not.
    QString open(const QString &path);
    bool isOpen() const;
    // One line, whole, in one write and synced to the disk; empty when it is there, else why not.
    QString append(const QByteArray &line);

private:
    void close();
#ifdef Q_OS_WIN
    void *m_handle = nullptr;
#else
    int m_fd = -1;
#endif
};
