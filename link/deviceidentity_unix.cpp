// SPDX-License-Identifier: GPL-3.0-or-later
// Device identity and the hold on Linux and other Unix systems. The hold is flock() on the
// open descriptor: the kernel drops it when the last descriptor closes, so it never outlives
// its process, and /proc/locks names the process that took it.
#include "deviceidentity.h"

#include <QFile>
#include <QSerialPort>
#include <QFileInfo>
#include <QObject>

#include <cerrno>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

DeviceIdentity DeviceIdentity::of(const QString &name)
{
    // The serial port takes a name that is no path ("ttyUSB0") to be one in /dev.
    const bool path = name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1String("./")) ||
                      name.startsWith(QLatin1String("../"));
    const QFileInfo fi(path ? name : QStringLiteral("/dev/") + name);
    DeviceIdentity id;
    const QString real = fi.canonicalFilePath();
    id.path = real.isEmpty() ? fi.absoluteFilePath() : real;
    struct stat st {};
    if (!real.isEmpty() && ::stat(QFile::encodeName(real).constData(), &st) == 0 && S_ISCHR(st.st_mode))
        id.number = quint64(st.st_rdev);
    return id;
}

bool isLinkLoop(const QString &name)
{
    struct stat st {};
    return ::stat(QFile::encodeName(name).constData(), &st) != 0 && errno == ELOOP;
}

QString processText(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    QString name;
    if (comm.open(QIODevice::ReadOnly))
        name = QString::fromLocal8Bit(comm.readAll()).trimmed();
    return name.isEmpty() ? QObject::tr("process %1").arg(pid) : QObject::tr("process %1 (%2)").arg(pid).arg(name);
}

namespace devicehold {

bool take(QSerialPort &port)
{
    const int fd = int(port.handle());
    int r;
    do
        r = ::flock(fd, LOCK_EX | LOCK_NB);
    while (r != 0 && errno == EINTR);
    // A file system without such locks leaves the device usable, only unguarded.
    if (r != 0 && errno == EWOULDBLOCK)
        return false;
#ifdef TIOCNXCL
    ::ioctl(fd, TIOCNXCL);
#endif
    return true;
}

QString holder(const DeviceIdentity &device)
{
    // A lock is listed by the file it is on: the device node's file system and inode.
    struct stat st {};
    if (::stat(QFile::encodeName(device.path).constData(), &st) != 0)
        return {};
    const QByteArray node = QByteArray::number(major(st.st_dev), 16).rightJustified(2, '0') + ':' +
                            QByteArray::number(minor(st.st_dev), 16).rightJustified(2, '0') + ':' +
                            QByteArray::number(quint64(st.st_ino));
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return {};
    // "1: FLOCK  ADVISORY  WRITE 1234 00:1a:3 0 EOF"; one waiting for it has "->" after the number.
    for (const QByteArray &line : locks.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() >= 6 && f[1] == "FLOCK" && f[5] == node)
            return processText(f[4].toLongLong());
    }
    return {};
}

}  // namespace devicehold
