// SPDX-License-Identifier: GPL-3.0-or-later
// The job's keys turned into the line's settings, with the refusals a station adds.
#include "stationjob.h"

#include <QSysInfo>

#include "chips.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

namespace {
QString tr(const char *text)
{
    return QCoreApplication::translate("StationJob", text);
}
}  // namespace

JobKeys stationJobKeys()
{
    JobKeys keys;
    keys.flags = QStringList{QStringLiteral("yes"), QStringLiteral("quiet"), QStringLiteral("no-erase"),
                             QStringLiteral("repeat"), QStringLiteral("json")};
    keys.keys = keys.flags + QStringList{QStringLiteral("port"),        QStringLiteral("com"),
                                         QStringLiteral("format"),      QStringLiteral("chip"),
                                         QStringLiteral("log"),         QStringLiteral("serial"),
                                         QStringLiteral("serial-file"), QStringLiteral("serial-start"),
                                         QStringLiteral("serial-step"), QStringLiteral("lock"),
                                         QStringLiteral("count"),       QStringLiteral("store"),
                                         QStringLiteral("station"),     QStringLiteral("serial-counter")};
    return keys;
}

Status reloadImage(StationJob &s)
{
    const QString &path = s.job.image;
    Result<Image> image = s.job.value(QStringLiteral("format")).isEmpty()
                              ? loadImage(path)
                              : loadImage(path, s.job.value(QStringLiteral("format")) == QLatin1String("hex")
                                                    ? ImageFormat::IntelHex
                                                    : ImageFormat::Binary);
    if (!image)
        return image.failure();
    if (Status data = requireData(image.value()); !data)
        return data;
    const ImageSums sums = imageSums(image.value().bytes);
    if (Status same = checkJobImage(s.job, path, sums.crc32); !same)
        return same;
    s.image = image.value();
    s.sums = sums;
    return {};
}

Result<StationJob> openStationJob(const QString &path)
{
    Result<Job> loaded = loadJob(path, stationJobKeys());
    if (!loaded)
        return loaded.failure();
    StationJob s;
    s.job = loaded.value();
    const Job &job = s.job;
    // A lot is checked against its image's CRC-32; without one any file would be programmed.
    if (!job.crc32)
        return Failure{tr("The job %1 gives no crc32: the station programs a lot only against the CRC-32 of its "
                          "image (add crc32= with the CRC-32 voralith-cli list prints).")
                           .arg(path),
                       Failure::Refused};
    // Its numbers come from the store, as voralith-cli --job takes them: a counter file beside
    // it would be a second counter.
    if (job.sets(QStringLiteral("store"))) {
        if (job.sets(QStringLiteral("serial-file")))
            return Failure{tr("The job %1 names a store and a serial-file: with a store the serial numbers come from "
                              "it; leave out serial-file.")
                               .arg(path)};
        StoreOptions o;
        o.connection = job.value(QStringLiteral("store"));
        o.station = job.sets(QStringLiteral("station")) ? job.value(QStringLiteral("station")) : QSysInfo::machineHostName();
        if (job.sets(QStringLiteral("serial"))) {
            o.counter = job.sets(QStringLiteral("serial-counter")) ? job.value(QStringLiteral("serial-counter")) : job.name;
            o.startGiven = job.sets(QStringLiteral("serial-start"));
            o.stepGiven = job.sets(QStringLiteral("serial-step"));
            o.start = o.startGiven ? job.value(QStringLiteral("serial-start")).toULongLong() : 1;
            o.step = o.stepGiven ? job.value(QStringLiteral("serial-step")).toULongLong() : 1;
            if (o.start > kStoreLargest || o.step > kStoreLargest)
                return Failure{tr("The job %1: the store holds numbers up to %2; serial-start and serial-step must not "
                                  "pass it.")
                                   .arg(path)
                                   .arg(kStoreLargest)};
        }
        s.store = o;
    }
    if (Status image = reloadImage(s); !image)
        return image.failure();

    LineSettings &l = s.settings;
    l.wanted = job.sets(QStringLiteral("chip")) ? chipForName(job.value(QStringLiteral("chip"))) : nullptr;
    l.erase = !job.sets(QStringLiteral("no-erase"));
    l.repeat = true;
    l.lockBits = job.value(QStringLiteral("lock")).toInt();
    if (job.sets(QStringLiteral("count"))) {
        bool ok = false;
        l.lot = job.value(QStringLiteral("count")).toInt(&ok);
        if (!ok)
            return Failure{tr("The job %1, key \"count\": %2 chips is more than a lot may hold.")
                               .arg(path, job.value(QStringLiteral("count")))};
    }
    const bool serialKeys = job.sets(QStringLiteral("serial-file")) || job.sets(QStringLiteral("serial-start")) ||
                            job.sets(QStringLiteral("serial-step"));
    if (job.sets(QStringLiteral("serial"))) {
        l.serial = parseSerialPlace(job.value(QStringLiteral("serial"))).value();
        if (!job.sets(QStringLiteral("serial-file")) && !s.store)
            return Failure{tr("The job %1 sets serial but no serial-file, the file that holds the next number.").arg(path)};
        l.serialFile = job.value(QStringLiteral("serial-file"));
        if (job.sets(QStringLiteral("serial-start")))
            l.serialStart = job.value(QStringLiteral("serial-start")).toULongLong();
        if (job.sets(QStringLiteral("serial-step")))
            l.serialStep = job.value(QStringLiteral("serial-step")).toULongLong();
    } else if (serialKeys) {
        return Failure{tr("The job %1: serial-file, serial-start and serial-step go with serial.").arg(path)};
    }
    s.logPath = job.value(QStringLiteral("log"));
    s.com = job.value(QStringLiteral("com"));
    for (const auto &[key, value] : job.options)
        if (key == QLatin1String("port"))
            s.ports << value;
    return s;
}

QString nextSerial(const StationJob &job)
{
    if (!job.settings.serial || job.store)
        return {};
    QFile file(job.settings.serialFile);
    if (!file.exists())
        return QString::number(job.settings.serialStart);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = file.read(32).trimmed();
    bool ok = false;
    const quint64 n = text.toULongLong(&ok);
    return ok ? QString::number(n) : QString();
}
