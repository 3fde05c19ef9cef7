// SPDX-License-Identifier: GPL-3.0-or-later
// The chip log's results, the same on every system; the system's own writes are in
// appendlog_unix.cpp and appendlog_win.cpp.
#include "appendlog.h"

#include <QCoreApplication>

Status AppendLog::open(const QString &path, int stopHandle)
{
    if (const QString why = opened(path, stopHandle); !why.isEmpty())
        return Failure{why};
    return {};
}

Status AppendLog::append(const QByteArray &line)
{
    QString why;
    if (!isOpen()) {
        why = QCoreApplication::translate("AppendLog", "it is not open");
    } else if (!m_file) {
        why = appendToStream(line);
    } else if (!m_lineEndOwed) {
        why = appendToFile(line);
    } else {
        // Every other line waits for the first, which ends the cut-short line.
        const std::lock_guard hold(m_firstLine);
        why = appendToFile(m_lineEndOwed ? '\n' + line : line);
        if (why.isEmpty())
            m_lineEndOwed = false;
    }
    if (!why.isEmpty())
        return Failure{why};
    return {};
}
