// SPDX-License-Identifier: GPL-3.0-or-later
// A job: one INI file that says what a lot is (the image and its CRC-32, the chip, the serial
// numbers, the log, the lot's size, the lock bits, the boards), so that every station and
// every run of it programs the same thing. Its keys are voralith-cli's long options.
#pragma once

#include "result.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <optional>

struct Job {
    QString path;  // the job file as given
    QString name;  // its name without folder and suffix, for captions
    // Each option the job sets, in the file's order, as the option takes it: paths made
    // relative to the job's folder resolved, a flag "true" (flags set false are left out),
    // `port` once for each device it lists.
    QList<QPair<QString, QString>> options;
    QString image;                 // the image file, resolved
    std::optional<quint32> crc32;  // what the image must give, when the job says
    QString value(const QString &key) const;
    bool sets(const QString &key) const;
};

// The keys a job may hold besides the options: the image and its CRC-32.
// `flags` are the options that take no value; `keys` every option a job may set.
struct JobKeys {
    QStringList flags;
    QStringList keys;
};

// The job at `path`, checked: one section [job], known keys only, each value of its form,
// the image present. Refused with the key and the reason.
Result<Job> loadJob(const QString &path, const JobKeys &known);

// "fw.hex has CRC-32 1A2B3C4D, the job expects 0F0E0D0C: nothing was programmed.", or
// nothing when the image is the job's.
Status checkJobImage(const Job &job, const QString &imagePath, quint32 crc32);
