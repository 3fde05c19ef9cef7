// SPDX-License-Identifier: GPL-3.0-or-later
// Work folder: creation with owner-only permissions and the lock against a second copy.
#include "workfolder.h"

#include "deviceidentity.h"
#include "image.h"

#include <QCryptographicHash>
#include <QObject>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

QString WorkFolder::defaultLocation()
{
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/Quorvale/Voralith");
}

Result<std::shared_ptr<WorkFolder>> WorkFolder::acquire()
{
    return acquireAt(defaultLocation());
}

Result<std::shared_ptr<WorkFolder>> WorkFolder::acquireAt(const QString &folder)
{
    const QFileInfo info(folder);
    if (info.isSymLink())
        return Failure{QObject::tr("The work folder %1 is a symbolic link; Voralith does not use it. Remove the "
                                   "link and start Voralith again.")
                           .arg(folder)};
    if (!QDir().mkpath(folder))
        return Failure{QObject::tr("The work folder %1 cannot be created.").arg(folder)};
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    std::shared_ptr<WorkFolder> wf(new WorkFolder(QFileInfo(folder).absoluteFilePath()));
    wf->m_lock = std::make_unique<QLockFile>(wf->m_path + QStringLiteral("/voralith.lock"));
    // A lock left by a copy that crashed is taken over; QLockFile checks that its process is gone.
    wf->m_lock->setStaleLockTime(0);
    if (!wf->m_lock->tryLock(0)) {
        qint64 pid = 0;
        QString host, app;
        wf->m_lock->getLockInfo(&pid, &host, &app);
        if (wf->m_lock->error() == QLockFile::LockFailedError)
            return Failure{QObject::tr("Another copy of Voralith is already running (process %1). Its image "
                                       "buffer is in %2, and a second copy would overwrite it.\n\nUse the copy "
                                       "that is open, or close it first.")
                               .arg(pid)
                               .arg(wf->m_path)};
        return Failure{QObject::tr("The work folder %1 cannot be locked.").arg(wf->m_path)};
    }
    return wf;
}

QString WorkFolder::bufferPath() const
{
    return m_path + QStringLiteral("/buffer.bin");
}

QString WorkFolder::listingPath() const
{
    return m_path + QStringLiteral("/tempfile.$$$");
}

QStringList WorkFolder::removeFiles() const
{
    QStringList failed;
    for (const QString &p : {listingPath(), bufferPath()}) {
        const QFileInfo fi(p);
        if ((fi.exists() || fi.isSymLink()) && !QFile::remove(p))
            failed << p;
    }
    return failed;
}

namespace {
const QLatin1String kChangePrefix("unfinished-");

// A record: the operation, when it started (UTC), the device as the user gave it, and the
// device's identity, which every name of it shares.
struct Record {
    QString path;
    UnfinishedChange change;
    QString identity;
};

// One file per device, named after a digest of its identity (which may hold '/').
QString changeFile(const QString &folder, const QString &identity)
{
    const QByteArray digest = QCryptographicHash::hash(identity.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    return folder + QLatin1Char('/') + kChangePrefix + QString::fromLatin1(digest);
}

// The records in `folder`; those of `device` only, when given.
QList<Record> records(const QString &folder, const QString &device)
{
    const QString identity = device.isEmpty() ? QString() : DeviceIdentity::of(device).key();
    QList<Record> out;
    const QStringList names = QDir(folder).entryList(QDir::Files);
    for (const QString &name : names) {
        if (!name.startsWith(kChangePrefix))
            continue;
        QFile f(folder + QLatin1Char('/') + name);
        if (!f.open(QIODevice::ReadOnly) || f.size() > 4096)
            continue;
        const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
        if (lines.size() < 3)
            continue;
        // A record without an identity is from a version that kept the name only.
        const QString itsIdentity = lines.size() > 3 ? lines[3] : QString();
        if (!device.isEmpty() && lines[2] != device && (itsIdentity.isEmpty() || itsIdentity != identity))
            continue;
        out.append({f.fileName(), {lines[2], lines[0], QDateTime::fromString(lines[1], Qt::ISODate)}, itsIdentity});
    }
    return out;
}
}  // namespace

Result<ChipChange> ChipChange::begin(const QString &folder, const QString &device, const QString &operation)
{
    const QString identity = DeviceIdentity::of(device).key();
    const QString path = changeFile(folder, identity);
    QString why;
    if (!QFileInfo(folder).isDir() && QDir().mkpath(folder))
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (!QFileInfo(folder).isDir()) {
        why = QObject::tr("it cannot be created");
    } else {
        const QString record = QStringLiteral("%1\n%2\n%3\n%4\n")
                                   .arg(operation, QDateTime::currentDateTimeUtc().toString(Qt::ISODate), device,
                                        identity);
        if (Status s = writeFileSafely(path, record.toUtf8()); !s) {
            // The words after "PATH cannot be written: ", without the full stop.
            const QString prefix = path + QStringLiteral(" cannot be written: ");
            why = s.message();
            if (why.startsWith(prefix) && why.endsWith(QLatin1Char('.')))
                why = why.mid(prefix.size()).chopped(1);
        }
    }
    if (!why.isEmpty())
        return Failure{QObject::tr("Nothing was sent: the note of this chip change cannot be kept in the work folder "
                                   "%1 (%2). Without it, a change that broke off could not be told later. Make room "
                                   "on its disk, or make the folder writable, then try again.")
                           .arg(folder, why)};
    // Records of the same device under another name, or by an identity it no longer has,
    // are replaced by this one.
    for (const Record &r : records(folder, device)) {
        if (r.path != path)
            QFile::remove(r.path);
    }
    return ChipChange(path);
}

void ChipChange::completed()
{
    if (!m_path.isEmpty())
        QFile::remove(m_path);
}

QList<UnfinishedChange> unfinishedChanges(const QString &folder, const QString &device)
{
    QList<UnfinishedChange> out;
    for (const Record &r : records(folder, device))
        out.append(r.change);
    std::sort(out.begin(), out.end(), [](const auto &a, const auto &b) { return a.started < b.started; });
    return out;
}

QString halfWrittenWarning(const UnfinishedChange &change, const QString &eraseCommand)
{
    const QString when = change.started.isValid()
                             ? change.started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd hh:mm"))
                             : QObject::tr("an unknown time");
    return QObject::tr("A %1 on %2, started %3, did not finish, so the chip there may be half-written. Erase it "
                       "(%4), then write again.")
        .arg(change.operation, change.device, when, eraseCommand);
}
