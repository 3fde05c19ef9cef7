// SPDX-License-Identifier: GPL-3.0-or-later
// Work folder: creation with owner-only permissions and the lock against a second copy.
#include "workfolder.h"

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

// One file per device, named after a digest of its path (a path holds '/').
QString changeFile(const QString &folder, const QString &device)
{
    const QByteArray digest = QCryptographicHash::hash(device.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    return folder + QLatin1Char('/') + kChangePrefix + QString::fromLatin1(digest);
}
}  // namespace

ChipChange::ChipChange(const QString &folder, const QString &device, const QString &operation)
    : m_path(changeFile(folder, device))
{
    if (!QFileInfo::exists(folder) && QDir().mkpath(folder))
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString record = QStringLiteral("%1\n%2\n%3\n")
                               .arg(operation, QDateTime::currentDateTimeUtc().toString(Qt::ISODate), device);
    // A record that cannot be written does not hold the operation up; it only means that
    // an early end could not be recalled later.
    m_recorded = writeFileSafely(m_path, record.toUtf8()).ok();
}

void ChipChange::completed()
{
    QFile::remove(m_path);
}

QList<UnfinishedChange> unfinishedChanges(const QString &folder, const QString &device)
{
    QList<UnfinishedChange> out;
    const QStringList names = QDir(folder).entryList(QDir::Files);
    for (const QString &name : names) {
        if (!name.startsWith(kChangePrefix))
            continue;
        QFile f(folder + QLatin1Char('/') + name);
        if (!f.open(QIODevice::ReadOnly) || f.size() > 4096)
            continue;
        const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
        if (lines.size() < 3 || (!device.isEmpty() && lines[2] != device))
            continue;
        out.append({lines[2], lines[0], QDateTime::fromString(lines[1], Qt::ISODate)});
    }
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
