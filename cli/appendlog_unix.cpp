// SPDX-License-Identifier: GPL-3.0-or-later
// The chip log on POSIX: O_APPEND, so that each line's one write lands whole at the end even
// with other writers; fsync before the next chip.
#include "appendlog.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}
}  // namespace

AppendLog::~AppendLog()
{
    close();
}

bool AppendLog::isOpen() const
{
    return m_fd >= 0;
}

void AppendLog::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

QString AppendLog::open(const QString &path)
{
    close();
    do
        m_fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    while (m_fd < 0 && errno == EINTR);
    return m_fd < 0 ? systemError(errno) : QString();
}

QString AppendLog::append(const QByteArray &line)
{
    if (m_fd < 0)
        return systemError(EBADF);
    // A line that would cross the file size this process may write would be cut short: it
    // is not begun.
    rlimit cap{};
    struct stat st {};
    if (::getrlimit(RLIMIT_FSIZE, &cap) == 0 && cap.rlim_cur != RLIM_INFINITY && ::fstat(m_fd, &st) == 0 &&
        rlim_t(st.st_size) + rlim_t(line.size()) > cap.rlim_cur)
        return systemError(EFBIG);
    ssize_t written;
    do
        written = ::write(m_fd, line.constData(), size_t(line.size()));
    while (written < 0 && errno == EINTR);
    // A line cut short is not written again: a second write could land after another
    // process's line and tear both.
    if (written < 0)
        return systemError(errno);
    if (written != line.size())
        return systemError(ENOSPC);
    int synced;
    do
        synced = ::fsync(m_fd);
    while (synced != 0 && errno == EINTR);
    return synced != 0 ? systemError(errno) : QString();
}
