// SPDX-License-Identifier: GPL-3.0-or-later
// The chip log on POSIX: O_APPEND, so that each line's one write lands whole at the end even
// with other writers; fsync before the next chip. A pipe is written without blocking, so
// that a reader that stops reading holds the program only until a stop.
#include "appendlog.h"


#include <QCoreApplication>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString tr(const char *text)
{
    return QCoreApplication::translate("AppendLog", text);
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Whether the regular file `fd` is open on ends with a line end (an empty one does). Read
// through a descriptor of its own, since the log's may only write; a file that cannot be
// read is taken as whole.
bool endsWithLineEnd(const QByteArray &path, int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size == 0)
        return true;
    const int reader = ::open(path.constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (reader < 0)
        return true;
    struct stat same {};
    char last = '\n';
    if (::fstat(reader, &same) == 0 && same.st_dev == st.st_dev && same.st_ino == st.st_ino &&
        ::pread(reader, &last, 1, same.st_size - 1) != 1)
        last = '\n';
    ::close(reader);
    return last == '\n';
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

QString AppendLog::opened(const QString &path, int stopHandle)
{
    m_stopHandle = stopHandle;
    close();
    m_warning.clear();
    m_lineEndOwed = false;
    const QByteArray name = QFile::encodeName(path);
    // Without O_NONBLOCK a named pipe's open waits for a reader, for ever and deaf to a stop.
    do
        m_fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0666);
    while (m_fd < 0 && errno == EINTR);
    if (m_fd < 0) {
        const int error = errno;
        struct stat st {};
        if (error == ENXIO && ::stat(name.constData(), &st) == 0 && S_ISFIFO(st.st_mode))
            return tr("no program reads the named pipe");
        return systemError(error);
    }
    struct stat st {};
    m_file = ::fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode);
    if (m_file && !endsWithLineEnd(name, m_fd)) {
        m_lineEndOwed = true;
        m_warning = tr("the log %1 does not end with a line end (its last line was cut short); this run's lines "
                       "begin on a line of their own.")
                        .arg(path);
    }
    return {};
}

QString AppendLog::appendToFile(const QByteArray &line)
{
    struct stat before {};
    if (::fstat(m_fd, &before) != 0)
        return systemError(errno);
    // A line that would cross the file size this process may write would be cut short: it
    // is not begun. A disk that fills mid-line cannot be foreseen; that line is cut back.
    rlimit cap{};
    if (::getrlimit(RLIMIT_FSIZE, &cap) == 0 && cap.rlim_cur != RLIM_INFINITY &&
        rlim_t(before.st_size) + rlim_t(line.size()) > cap.rlim_cur)
        return systemError(EFBIG);
    ssize_t written;
    do
        written = ::write(m_fd, line.constData(), size_t(line.size()));
    while (written < 0 && errno == EINTR);
    if (written < 0)
        return systemError(errno);
    if (written != line.size()) {
        // A line cut short is not finished by a second write, which could land after another
        // writer's line and tear both; it is taken back instead. Only while the file is the
        // length this write left it: another writer's line after it (O_APPEND puts each at
        // the end) would go with it, and one that came in between makes the length unknown.
        struct stat after {};
        if (::fstat(m_fd, &after) == 0 && after.st_size == before.st_size + written &&
            ::ftruncate(m_fd, before.st_size) == 0)
            ::fsync(m_fd);
        return systemError(ENOSPC);
    }
    int synced;
    do
        synced = ::fsync(m_fd);
    while (synced != 0 && errno == EINTR);
    return synced != 0 ? systemError(errno) : QString();
}

QString AppendLog::appendToStream(const QByteArray &line)
{
    // A pipe takes a line this short in one write; a terminal may take part of it, and the
    // rest follows before another thread's line.
    const std::lock_guard hold(m_stream);
    qsizetype done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(m_fd, line.constData() + done, size_t(line.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
            return n < 0 ? systemError(errno) : tr("nothing more was taken");
        // The reader is behind: wait for room, or for a stop, whichever comes first. An end
        // of the reader wakes the wait too, and the next write tells it (EPIPE).
        pollfd waits[2] = {{m_fd, POLLOUT, 0}, {m_stopHandle, POLLIN, 0}};
        int ready;
        do
            ready = ::poll(waits, 2, -1);
        while (ready < 0 && errno == EINTR);
        if (ready < 0)
            return systemError(errno);
        if (waits[1].revents & POLLIN)
            return tr("stopped while waiting for the program that reads it");
    }
    return {};
}
