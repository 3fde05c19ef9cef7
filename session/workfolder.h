// SPDX-License-Identifier: GPL-3.0-or-later
// The per-user work folder that holds the buffer file and the listing file. A drive root
// is not writable for a normal user and a shared /tmp is unsafe, so they live in
// $XDG_DATA_HOME/Quorvale/Voralith (owner-only), locked by the running copy of the program.
#pragma once

#include "result.h"

#include <QDateTime>
#include <QList>
#include <QLockFile>
#include <QString>
#include <memory>
#include <utility>

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

// A chip-changing operation (a Write, a Chip Erase, lock bits, a program run) in progress on
// one device. Its record is a file in the work folder, written before the first byte goes
// out and removed once the operation has completed. A record left behind (the operation
// ended early: out of time, port lost, out of step, stopped, or the program was killed)
// means that the chip on that device may be half-written. One record per device, whatever
// name it was given by: the next change on the device replaces it, and removes it when that
// one completes. The window and the command line share the folder, so either one learns
// what the other left.
class ChipChange {
public:
    // Writes the record in `folder` (made if missing); `device` is the port's device as the
    // user gave it, `operation` names the change for the user ("Write", "Chip Erase"). A
    // failure (the folder full or not writable) says why and where: the change must not be
    // started, since an early end could not be told later.
    static Result<ChipChange> begin(const QString &folder, const QString &device, const QString &operation);
    ChipChange(ChipChange &&other) noexcept : m_path(std::exchange(other.m_path, QString())) {}
    ChipChange &operator=(ChipChange &&) = delete;
    ChipChange(const ChipChange &) = delete;
    ChipChange &operator=(const ChipChange &) = delete;
    // Without completed(), the record stays.
    ~ChipChange() = default;
    void completed();

private:
    explicit ChipChange(QString path) : m_path(std::move(path)) {}
    QString m_path;
};

struct UnfinishedChange {
    QString device;
    QString operation;
    QDateTime started;
};
// The records left behind in `folder`, oldest first; only those of `device` when given:
// made under any name of the same device, or under this very name.
QList<UnfinishedChange> unfinishedChanges(const QString &folder, const QString &device = {});
// What the user is told of one: that the chip may be half-written, and what to do;
// `eraseCommand` names the erase as the user gives it ("Chip Erase" in the window).
QString halfWrittenWarning(const UnfinishedChange &change, const QString &eraseCommand = QStringLiteral("Chip Erase"));
