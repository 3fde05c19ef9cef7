// SPDX-License-Identifier: GPL-3.0-or-later
// A counter file replaced durably on POSIX: write, fsync, rename, fsync of the folder; the
// folder's flock keeps two programs from taking the same number.
#include "serialnumber.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {
QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QByteArray folderOf(const QString &path)
{
    return QFile::encodeName(QFileInfo(path).absolutePath());
}
}  // namespace

namespace durable {

QString temporaryFor(const QString &path)
{
    return path + QStringLiteral(".tmp");
}

QString replace(const QString &path, const QByteArray &data)
{
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temporary = QFile::encodeName(temporaryFor(path));
    int fd;
    do
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return systemError(errno);
    ssize_t written;
    do
        written = ::write(fd, data.constData(), size_t(data.size()));
    while (written < 0 && errno == EINTR);
    const int writeError = written < 0 ? errno : written != data.size() ? ENOSPC : 0;
    const int syncError = writeError ? 0 : (::fsync(fd) == 0 ? 0 : errno);
    const int closeError = ::close(fd) == 0 ? 0 : errno;
    if (const int error = writeError ? writeError : syncError ? syncError : closeError) {
        ::unlink(temporary.constData());
        return systemError(error);
    }
    if (::rename(temporary.constData(), target.constData()) != 0) {
        const int error = errno;
        ::unlink(temporary.constData());
        return systemError(error);
    }
    // The rename is on the disk only once the folder is.
    const int folder = ::open(folderOf(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return systemError(errno);
    const int synced = ::fsync(folder) == 0 ? 0 : errno;
    ::close(folder);
    return synced ? systemError(synced) : QString();
}

FolderLock::FolderLock(const QString &path)
{
    const int fd = ::open(folderOf(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        m_error = systemError(errno);
        return;
    }
    int locked;
    do
        locked = ::flock(fd, LOCK_EX);
    while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        m_error = systemError(errno);
        ::close(fd);
        return;
    }
    m_handle = fd;
}

FolderLock::~FolderLock()
{
    if (m_handle >= 0)
        ::close(int(m_handle));
}

}  // namespace durable
