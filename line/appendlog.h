// SPDX-License-Identifier: GPL-3.0-or-later
// The log of every chip (--log FILE): a file only ever appended to, one line per write, each
// on the disk before the next chip starts. Several processes may append to one at once. A
// pipe or a terminal takes the lines as they come.
#pragma once

#include "result.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <atomic>
#include <mutex>

class AppendLog {
public:
    AppendLog() = default;
    ~AppendLog();
    AppendLog(const AppendLog &) = delete;
    AppendLog &operator=(const AppendLog &) = delete;

    // Opens `path` for appending, made with the user's umask when missing; empty when it
    // opened, else why not. A named pipe that no program reads is refused at once; a wait
    // for its reader ends once `stopHandle` is ready to read (-1: none).
    Status open(const QString &path, int stopHandle = -1);
    bool isOpen() const;
    // After open: what the user is to be told of the log, or nothing ("the log chips.log
    // does not end with a line end ...").
    const QString &warning() const { return m_warning; }
    // One line, in one write: a file's line whole or not at all, and synced to the disk; a
    // pipe's waits for its reader, but not past a stop. Empty when it is there, else why not.
    // From any thread.
    Status append(const QByteArray &line);

private:
    // Empty when done, else why not: the system's part of each.
    QString opened(const QString &path, int stopHandle);
    void close();
    QString appendToFile(const QByteArray &line);
    QString appendToStream(const QByteArray &line);
    QString m_warning;
    bool m_file = false;                     // a regular file: synced, cut back, its end checked
    std::atomic<bool> m_lineEndOwed = false; // its last line was cut short before this run
    std::mutex m_firstLine;                  // the line after a cut-short one goes first
    std::mutex m_stream;                     // a pipe's line is not split by another's
#ifdef Q_OS_WIN
    void *m_handle = nullptr;
    QString m_path;  // a file is cut back through a handle of its own
#else
    int m_fd = -1;
#endif
    int m_stopHandle = -1;
};
