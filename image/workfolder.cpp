// Work folder: creation with owner-only permissions and the lock against a second copy.
#include "workfolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

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
