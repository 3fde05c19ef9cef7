// SPDX-License-Identifier: GPL-3.0-or-later
// The port finder on Linux and other Unix systems. A device counts as held when this
// program's hold is on it, when a lock file names it with a process that still runs (the
// convention of Qt's serial port and of terminal programs), or when one of the processes
// this user may look into has it open (/proc/PID/fd; all processes for root).
#include "portscan.h"

#include "deviceidentity.h"
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
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

bool processRuns(qint64 pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
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

// A process that has the device open. The master side of a pseudo-terminal is its other
// end (the board emulator holds it, and the terminal too): such a process is not one.
QString openedBy(const DeviceIdentity &device)
{
    if (!device.number)
        return {};
    bool index = false;
    const QString ptyIndex = device.path.startsWith(QLatin1String("/dev/pts/")) ? device.path.mid(9) : QString();
    ptyIndex.toInt(&index);
    const QString self = QString::number(::getpid());
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : pids) {
        bool numeric = false;
        pid.toLongLong(&numeric);
        if (!numeric || pid == self)
            continue;
        const QString fdDir = QStringLiteral("/proc/") + pid + QStringLiteral("/fd");
        bool opened = false, otherEnd = false;
        // Folders of other users' processes are not readable: those stay unseen.
        for (const QString &fd : QDir(fdDir).entryList(QDir::System | QDir::NoDotAndDotDot)) {
            struct stat st {};
            if (::stat(QFile::encodeName(fdDir + QLatin1Char('/') + fd).constData(), &st) != 0 || !S_ISCHR(st.st_mode))
                continue;
            if (quint64(st.st_rdev) == device.number) {
                opened = true;
            } else if (index && major(st.st_rdev) == 5 && minor(st.st_rdev) == 2) {
                // A master (/dev/ptmx) tells its terminal's number as "tty-index".
                QFile info(QStringLiteral("/proc/%1/fdinfo/%2").arg(pid, fd));
                if (info.open(QIODevice::ReadOnly)) {
                    for (const QByteArray &line : info.readAll().split('\n'))
                        if (line.startsWith("tty-index:") && line.mid(10).trimmed() == ptyIndex.toLatin1())
                            otherEnd = true;
                }
            }
        }
        if (opened && !otherEnd)
            return processText(pid.toLongLong());
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
    // This program's hold first: it names the holder whatever name it opened the device by.
    const DeviceIdentity identity = DeviceIdentity::of(d.device);
    d.heldBy = devicehold::holder(identity);
    if (d.heldBy.isEmpty())
        d.heldBy = lockHolder(QStringList{d.device} + aliases);
    if (d.heldBy.isEmpty())
        d.heldBy = openedBy(identity);
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
    auto keyOf = [](const QString &p) { return QFileInfo::exists(p) ? DeviceIdentity::of(p).key() : QString(); };
    QMultiHash<QString, QString> namesOf;
    for (const QString &p : paths)
        namesOf.insert(keyOf(p), p);
    QList<SerialDevice> out;
    QSet<QString> listed;
    for (const QString &p : paths) {
        const QString key = keyOf(p);
        if (!key.isEmpty()) {
            if (listed.contains(key))
                continue;
            listed.insert(key);
        }
        out << describe(p, key.isEmpty() ? QStringList() : namesOf.values(key));
    }
    return out;
}
