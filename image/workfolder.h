// The per-user work folder that holds the buffer file and the listing file. A drive root
// is not writable for a normal user and a shared /tmp is unsafe, so they live in
// $XDG_DATA_HOME/Quorvale/Voralith (owner-only), locked by the running copy of the program.
#pragma once

#include "result.h"

#include <QLockFile>
#include <QString>
#include <memory>

class WorkFolder {
public:
    // Creates the folder (owner-only permissions) and takes its lock. Fails with a plain
    // message when another running copy holds it, or the folder cannot be made.
    static Result<std::shared_ptr<WorkFolder>> acquire();
    // Same, in a folder of the caller's choice (tests).
    static Result<std::shared_ptr<WorkFolder>> acquireAt(const QString &folder);
    static QString defaultLocation();

    QString path() const { return m_path; }
    QString bufferPath() const;   // "buffer.bin": what a device read fills
    QString listingPath() const;  // "tempfile.$$$": the hex listing loaded into the view

    // Shut-down: delete the listing and buffer files if they exist. Returns the paths that
    // exist but could not be deleted.
    QStringList removeFiles() const;

private:
    explicit WorkFolder(QString path) : m_path(std::move(path)) {}
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
};
