// SPDX-License-Identifier: GPL-3.0-or-later
// A counter file replaced durably on POSIX: links followed to the file itself, then write,
// fsync, rename, fsync of the folder; the folder's flock keeps two programs from taking the
// same number.
#include "serialnumber.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
// The kernel gives up after 40 links in a row; so do we, and call it a loop.
constexpr int maxLinks = 40;

QString tr(const char *text)
{
    return QCoreApplication::translate("SerialNumber", text);
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QByteArray folderOf(const QString &path)
{
    return QFile::encodeName(QFileInfo(path).absolutePath());
}

bool inGroup(gid_t group)
{
    if (::getegid() == group)
        return true;
    const int count = ::getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(std::size_t(count), 0);
    const int got = ::getgroups(count, groups.data());
    return got > 0 && std::find(groups.begin(), groups.begin() + got, group) != groups.begin() + got;
}
}  // namespace

namespace durable {

Result<QString> followLinks(const QString &path)
{
    QByteArray at = QFile::encodeName(path);
    for (int links = 0;; ++links) {
        struct stat st {};
        if (::lstat(at.constData(), &st) != 0) {
            // Not there yet: it is made here (a missing folder is told by the lock).
            if (errno == ENOENT)
                return QFile::decodeName(at);
            return Failure{systemError(errno)};
        }
        if (S_ISLNK(st.st_mode)) {
            if (links == maxLinks)
                return Failure{tr("it is a link that leads round in a loop")};
            char target[PATH_MAX];
            const ssize_t n = ::readlink(at.constData(), target, sizeof target - 1);
            if (n < 0)
                return Failure{systemError(errno)};
            const QByteArray next(target, n);
            const qsizetype slash = at.lastIndexOf('/');
            at = next.startsWith('/') || slash < 0 ? next : at.left(slash + 1) + next;
            continue;
        }
        if (S_ISDIR(st.st_mode))
            return Failure{tr("it is a folder")};
        if (!S_ISREG(st.st_mode))
            return Failure{tr("it is no regular file")};
        return QFile::decodeName(at);
    }
}

QString temporaryFor(const QString &path)
{
    return path + QStringLiteral(".tmp");
}

Status removeTemporary(const QString &path)
{
    const QByteArray temporary = QFile::encodeName(temporaryFor(path));
    if (::unlink(temporary.constData()) == 0 || errno == ENOENT)
        return {};
    const int error = errno;
    struct stat st {};
    if (::lstat(temporary.constData(), &st) == 0 && S_ISDIR(st.st_mode))
        return Failure{tr("the name of its temporary file, %1, is taken by a folder").arg(temporaryFor(path))};
    return Failure{tr("its temporary file %1 cannot be removed: %2").arg(temporaryFor(path), systemError(error))};
}

Status mayWrite(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    const QString mode = QString::number(st.st_mode & 07777, 8);
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return Failure{tr("it is read-only (mode %1)").arg(mode)};
    if (::geteuid() == 0)
        return {};
    // The class the user falls in decides, as the kernel's own check does.
    const mode_t mine = ::geteuid() == st.st_uid ? S_IWUSR : inGroup(st.st_gid) ? S_IWGRP : S_IWOTH;
    if (st.st_mode & mine)
        return {};
    return Failure{tr("it is read-only for this user (mode %1)").arg(mode)};
}

Status replace(const QString &path, const QByteArray &data)
{
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temporary = QFile::encodeName(temporaryFor(path));
    struct stat old {};
    const bool keep = ::stat(target.constData(), &old) == 0 && S_ISREG(old.st_mode);
    // Anything at the temporary's name is a leftover (this runs under the folder's lock),
    // and a new file made there is never written through a link someone put in its place.
    ::unlink(temporary.constData());
    int fd;
    do
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return Failure{systemError(errno)};
    ssize_t written;
    do
        written = ::write(fd, data.constData(), size_t(data.size()));
    while (written < 0 && errno == EINTR);
    int error = written < 0 ? errno : written != data.size() ? ENOSPC : 0;
    if (!error && keep) {
        // The owner first, since a change of owner may clear the mode's set-id bits. Only
        // root may give a file away: anyone else keeps at least the group, where allowed.
        if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
            [[maybe_unused]] const int groupKept = ::fchown(fd, uid_t(-1), old.st_gid);
        }
        if (::fchmod(fd, old.st_mode & 07777) != 0)
            error = errno;
    }
    if (!error && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && !error)
        error = errno;
    if (error) {
        ::unlink(temporary.constData());
        return Failure{systemError(error)};
    }
    if (::rename(temporary.constData(), target.constData()) != 0) {
        const int renameError = errno;
        ::unlink(temporary.constData());
        return Failure{systemError(renameError)};
    }
    // The rename is on the disk only once the folder is.
    const int folder = ::open(folderOf(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return Failure{systemError(errno)};
    const int synced = ::fsync(folder) == 0 ? 0 : errno;
    ::close(folder);
    if (synced)
        return Failure{systemError(synced)};
    return {};
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
