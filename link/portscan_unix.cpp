// SPDX-License-Identifier: GPL-3.0-or-later
// The port finder on Linux and other Unix systems. A device counts as held when a lock
// file names it with a process that still runs (the convention of Qt's serial port and
// of terminal programs), or when one of the processes this user may look into has it open
// (/proc/PID/fd; all processes for root).
#include "portscan.h"

#include "portmap.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMultiHash>
#include <QSet>

#include <cerrno>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

namespace {

bool processRuns(qint64 pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

QString processText(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    QString name;
    if (comm.open(QIODevice::ReadOnly))
        name = QString::fromLocal8Bit(comm.readAll()).trimmed();
    return name.isEmpty() ? QObject::tr("process %1").arg(pid) : QObject::tr("process %1 (%2)").arg(pid).arg(name);
}

// Lock files are named after the device as it was opened: "LCK..ttyUSB0", and for a path
// below /dev/ its rest with "/" as "_" ("LCK..serial_by-id_usb-...").
QString lockHolder(const QStringList &names)
{
    static const char *const dirs[] = {"/var/lock", "/run/lock", "/etc/locks", "/var/spool/locks",
                                       "/var/spool/uucp"};
    QStringList folders;
    for (const char *d : dirs)
        folders << QString::fromLatin1(d);
    folders << QDir::tempPath();
    QSet<QString> seen;
    for (const QString &folder : folders) {
        const QString real = QFileInfo(folder).canonicalFilePath();
        if (real.isEmpty() || seen.contains(real))
            continue;
        seen.insert(real);
        for (QString name : names) {
            if (name.startsWith(QLatin1String("/dev/")))
                name.remove(0, 5);
            name.replace(QLatin1Char('/'), QLatin1Char('_'));
            QFile lock(real + QStringLiteral("/LCK..") + name);
            if (!lock.open(QIODevice::ReadOnly))
                continue;
            // The first line holds the process number as text (padded or not).
            bool ok = false;
            const qint64 pid = QString::fromLatin1(lock.readLine(64)).trimmed().toLongLong(&ok);
            if (ok && processRuns(pid) && pid != ::getpid())
                return processText(pid);
        }
    }
    return {};
}

QString openedBy(const QString &device)
{
    const QString self = QString::number(::getpid());
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : pids) {
        bool numeric = false;
        pid.toLongLong(&numeric);
        if (!numeric || pid == self)
            continue;
        const QString fdDir = QStringLiteral("/proc/") + pid + QStringLiteral("/fd");
        // Folders of other users' processes are not readable: those stay unseen.
        for (const QString &fd : QDir(fdDir).entryList(QDir::System | QDir::NoDotAndDotDot)) {
            if (QFile::symLinkTarget(fdDir + QLatin1Char('/') + fd) == device)
                return processText(pid.toLongLong());
        }
    }
    return {};
}

// The user belongs to `group` by the group database, though this session was started
// before: joining takes effect at the next login.
bool groupPending(const QString &group)
{
    const struct group *g = ::getgrnam(group.toLocal8Bit().constData());
    const struct passwd *pw = ::getpwuid(::getuid());
    if (!g || !pw)
        return false;
    bool listed = pw->pw_gid == g->gr_gid;
    for (char **m = g->gr_mem; m && *m && !listed; ++m)
        listed = qstrcmp(*m, pw->pw_name) == 0;
    if (!listed)
        return false;
    gid_t groups[256];
    const int n = ::getgroups(256, groups);
    for (int i = 0; i < n; ++i)
        if (groups[i] == g->gr_gid)
            return false;
    return ::getegid() != g->gr_gid;
}

SerialDevice describe(const QString &path, const QStringList &aliases)
{
    SerialDevice d;
    d.path = path;
    const QFileInfo fi(path);
    d.device = fi.exists() ? fi.canonicalFilePath() : QString();
    if (d.device.isEmpty())
        return d;
    d.mayOpen = ::access(QFile::encodeName(d.device).constData(), R_OK | W_OK) == 0;
    d.group = QFileInfo(d.device).group();
    if (!d.mayOpen)
        d.groupPending = groupPending(d.group);
    d.heldBy = lockHolder(QStringList{d.device} + aliases);
    if (d.heldBy.isEmpty())
        d.heldBy = openedBy(d.device);
    return d;
}

}  // namespace

QList<SerialDevice> serialDevices(const QStringList &extra)
{
    QStringList paths = PortMap::presentDevices();
    for (const QString &e : extra) {
        if (!paths.contains(e))
            paths << e;
    }
    // Every name that leads to the same device, so that a lock taken under any of them counts.
    QMultiHash<QString, QString> namesOf;
    for (const QString &p : paths)
        namesOf.insert(QFileInfo(p).canonicalFilePath(), p);
    QList<SerialDevice> out;
    QSet<QString> listed;
    for (const QString &p : paths) {
        const QString real = QFileInfo(p).canonicalFilePath();
        if (!real.isEmpty()) {
            if (listed.contains(real))
                continue;
            listed.insert(real);
        }
        out << describe(p, real.isEmpty() ? QStringList() : namesOf.values(real));
    }
    return out;
}

QString heldMeans()
{
    return QObject::tr("a lock file of a running process in /var/lock (or /run/lock), or a process of yours "
                       "(any process, for root) that has the device open; nothing is opened to find out");
}
