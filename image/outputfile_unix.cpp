// SPDX-License-Identifier: GPL-3.0-or-later
// Output files on Linux and other Unix systems: links followed by hand, so that a loop or
// a link into /proc is told for what it is.
#include "outputfile.h"

#include "image.h"

#include <QFile>
#include <QObject>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The kernel gives up after 40 links in a row; so do we, and call it a loop.
constexpr int maxLinks = 40;

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The standard streams by their names: written through the descriptor the program already
// has, so that an image can be piped whoever runs it.
int standardStream(const QString &path)
{
    static const char *const out[] = {"-", "/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"};
    static const char *const err[] = {"/dev/stderr", "/dev/fd/2", "/proc/self/fd/2"};
    for (const char *n : out)
        if (path == QLatin1String(n))
            return STDOUT_FILENO;
    for (const char *n : err)
        if (path == QLatin1String(n))
            return STDERR_FILENO;
    return -1;
}

struct Destination {
    enum Kind { Stream, Direct, Replace } kind = Replace;
    QByteArray path;  // Direct and Replace: the file itself, every link followed
    int fd = -1;      // Stream
};

QByteArray folderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
}

Result<Destination> resolve(const QString &given)
{
    if (given.isEmpty())
        return Failure{QObject::tr("No file name was given."), Failure::Refused};
    if (const int fd = standardStream(given); fd >= 0)
        return Destination{Destination::Stream, {}, fd};
    QByteArray path = QFile::encodeName(given);
    for (int links = 0;; ++links) {
        // A descriptor's link in /proc leads to a pipe or a terminal as often as to a
        // file: the kernel follows it when it is opened.
        if (path.startsWith("/proc/") || path.startsWith("/dev/fd/"))
            return Destination{Destination::Direct, path};
        struct stat st {};
        if (::lstat(path.constData(), &st) != 0) {
            if (errno == ENOENT)
                return Destination{Destination::Replace, path};
            return Failure{QObject::tr("%1 cannot be written: %2.").arg(given, systemError(errno)), Failure::Refused};
        }
        if (S_ISLNK(st.st_mode)) {
            if (links == maxLinks)
                return Failure{QObject::tr("%1 cannot be written: it is a link that leads round in a loop.").arg(given),
                               Failure::Refused};
            char target[PATH_MAX];
            const ssize_t n = ::readlink(path.constData(), target, sizeof target - 1);
            if (n < 0)
                return Failure{QObject::tr("%1 cannot be written: %2.").arg(given, systemError(errno)),
                               Failure::Refused};
            const QByteArray next(target, n);
            path = next.startsWith('/') ? next : folderOf(path) + '/' + next;
            continue;
        }
        if (S_ISDIR(st.st_mode))
            return Failure{QObject::tr("%1 cannot be written: it is a folder.").arg(given), Failure::Refused};
        return Destination{S_ISREG(st.st_mode) ? Destination::Replace : Destination::Direct, path};
    }
}

Status writeAll(int fd, const QByteArray &data, const QString &given)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Failure{QObject::tr("%1 cannot be written: %2.")
                               .arg(given, n < 0 ? systemError(errno) : QObject::tr("nothing more was taken")),
                           Failure::Error};
        done += n;
    }
    return {};
}

}  // namespace

bool isStandardOutput(const QString &path)
{
    return standardStream(path) == STDOUT_FILENO;
}

Status checkOutput(const QString &path)
{
    const auto d = resolve(path);
    if (!d)
        return d.failure();
    const Destination &dest = d.value();
    switch (dest.kind) {
    case Destination::Stream:
        return {};
    case Destination::Direct:
        if (::access(dest.path.constData(), W_OK) != 0)
            return Failure{QObject::tr("%1 cannot be written: %2.").arg(path, systemError(errno)), Failure::Refused};
        return {};
    case Destination::Replace: {
        const QByteArray folder = folderOf(dest.path);
        struct stat st {};
        if (::stat(folder.constData(), &st) != 0)
            return Failure{QObject::tr("%1 cannot be written: its folder %2 does not exist.")
                               .arg(path, QFile::decodeName(folder)),
                           Failure::Refused};
        if (!S_ISDIR(st.st_mode) || ::access(folder.constData(), W_OK | X_OK) != 0)
            return Failure{QObject::tr("%1 cannot be written: its folder %2 cannot be written in.")
                               .arg(path, QFile::decodeName(folder)),
                           Failure::Refused};
        return {};
    }
    }
    return {};
}

Status writeOutput(const QString &path, const QByteArray &data)
{
    const auto d = resolve(path);
    if (!d)
        return d.failure();
    const Destination &dest = d.value();
    if (dest.kind == Destination::Stream) {
        std::fflush(nullptr);  // what the program printed before goes first
        return writeAll(dest.fd, data, path);
    }
    if (dest.kind == Destination::Replace)
        return writeFileSafely(QFile::decodeName(dest.path), data);
    const int fd = ::open(dest.path.constData(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return Failure{QObject::tr("%1 cannot be written: %2.").arg(path, systemError(errno)), Failure::Error};
    // A regular file reached through /proc is written from its start, as a new file would be.
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::ftruncate(fd, 0) != 0) {
        const int e = errno;
        ::close(fd);
        return Failure{QObject::tr("%1 cannot be written: %2.").arg(path, systemError(e)), Failure::Error};
    }
    Status written = writeAll(fd, data, path);
    if (::close(fd) != 0 && written)
        written = Failure{QObject::tr("%1 cannot be written: %2.").arg(path, systemError(errno)), Failure::Error};
    return written;
}
