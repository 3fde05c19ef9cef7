// SPDX-License-Identifier: GPL-3.0-or-later
// Job files read with Qt's INI format and checked key by key.
#include "job.h"

#include "serialnumber.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {
QString tr(const char *text)
{
    return QCoreApplication::translate("Job", text);
}

bool allDigits(const QString &text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) { return c.isDigit(); });
}

// Why `value` is no value of `key`, or nothing when it is one. Only the forms are checked
// here; the command line checks the rest as it checks its options.
QString badValue(const QString &key, const QString &value)
{
    auto oneOf = [&](const QStringList &allowed) {
        return allowed.contains(value) ? QString() : tr("it takes %1").arg(allowed.join(tr(" or ")));
    };
    if (key == QLatin1String("chip"))
        return oneOf({QStringLiteral("89c51"), QStringLiteral("89c52")});
    if (key == QLatin1String("format"))
        return oneOf({QStringLiteral("bin"), QStringLiteral("hex")});
    if (key == QLatin1String("lock"))
        return oneOf({QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")});
    if (key == QLatin1String("count") || key == QLatin1String("serial-step"))
        return allDigits(value) && value.toULongLong() > 0 ? QString() : tr("it takes a whole number from 1 up");
    if (key == QLatin1String("serial-start"))
        return allDigits(value) ? QString() : tr("it takes a whole number");
    if (key == QLatin1String("crc32")) {
        bool ok = value.size() == 8;
        value.toUInt(&ok, 16);
        return ok && value.size() == 8 ? QString() : tr("it takes eight hex digits, as list prints the CRC-32");
    }
    if (key == QLatin1String("serial")) {
        const Result<SerialPlace> place = parseSerialPlace(value);
        return place ? QString() : place.message();
    }
    if (value.isEmpty())
        return tr("it is empty");
    return {};
}

QString resolved(const QDir &folder, const QString &path)
{
    return QDir::cleanPath(folder.absoluteFilePath(path));
}
}  // namespace

QString Job::value(const QString &key) const
{
    for (const auto &[k, v] : options) {
        if (k == key)
            return v;
    }
    return {};
}

bool Job::sets(const QString &key) const
{
    return std::any_of(options.begin(), options.end(), [&](const auto &o) { return o.first == key; });
}

Result<Job> loadJob(const QString &path, const JobKeys &known)
{
    const QFileInfo file(path);
    if (!file.isFile())
        return Failure{tr("The job %1 does not exist.").arg(path)};
    if (!file.isReadable())
        return Failure{tr("The job %1 cannot be read.").arg(path)};
    QSettings ini(path, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError)
        return Failure{tr("The job %1 is not an INI file Qt can read.").arg(path)};
    const QStringList groups = ini.childGroups();
    if (!groups.contains(QStringLiteral("job")))
        return Failure{tr("The job %1 has no section [job].").arg(path)};
    for (const QString &group : groups) {
        if (group != QLatin1String("job"))
            return Failure{tr("The job %1 has a section [%2]: a job has one section, [job].").arg(path, group)};
    }
    if (!ini.childKeys().isEmpty())
        return Failure{tr("The job %1 has the key \"%2\" outside its section [job].").arg(path, ini.childKeys().constFirst())};

    Job job;
    job.path = path;
    job.name = file.completeBaseName();
    const QDir folder = file.absoluteDir();
    ini.beginGroup(QStringLiteral("job"));
    // Paths are the job's folder's, wherever it is run from.
    static const QStringList paths{QStringLiteral("image"), QStringLiteral("log"), QStringLiteral("serial-file")};
    for (const QString &key : ini.childKeys()) {
        // Qt's INI format reads "a,b" as a list: a port list, or a value with a comma.
        const QVariant raw = ini.value(key);
        const QString value =
            (raw.typeId() == QMetaType::QStringList ? raw.toStringList().join(QLatin1Char(',')) : raw.toString()).trimmed();
        const QString at = tr("The job %1, key \"%2\"").arg(path, key);
        if (key == QLatin1String("image")) {
            if (value.isEmpty())
                return Failure{tr("%1: it names no image file.").arg(at)};
            job.image = resolved(folder, value);
            if (!QFileInfo(job.image).isFile())
                return Failure{tr("%1: the image %2 does not exist.").arg(at, value)};
            continue;
        }
        if (key != QLatin1String("crc32") && !known.keys.contains(key))
            return Failure{tr("%1: there is no such key (a job takes the long options of voralith-cli without their "
                              "dashes, image and crc32).")
                               .arg(at)};
        if (known.flags.contains(key)) {
            if (value != QLatin1String("true") && value != QLatin1String("false"))
                return Failure{tr("%1: \"%2\" is no value of it: it takes true or false.").arg(at, value)};
            if (value == QLatin1String("true"))
                job.options.append({key, QString()});
            continue;
        }
        if (const QString why = badValue(key, value); !why.isEmpty())
            return Failure{tr("%1: \"%2\" is no value of it: %3.").arg(at, value, why)};
        if (key == QLatin1String("crc32")) {
            job.crc32 = value.toUInt(nullptr, 16);
            continue;
        }
        if (key == QLatin1String("port")) {
            for (const QString &device : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                const QString d = device.trimmed();
                const bool comName = d.startsWith(QLatin1String("com"), Qt::CaseInsensitive) && allDigits(d.mid(3));
                job.options.append({key, comName || QDir::isAbsolutePath(d) ? d : resolved(folder, d)});
            }
            continue;
        }
        job.options.append({key, paths.contains(key) ? resolved(folder, value) : value});
    }
    if (job.image.isEmpty())
        return Failure{tr("The job %1 names no image: a job needs the key image.").arg(path)};
    return job;
}

Status checkJobImage(const Job &job, const QString &imagePath, quint32 crc32)
{
    if (!job.crc32 || *job.crc32 == crc32)
        return {};
    auto hex = [](quint32 v) { return QStringLiteral("%1").arg(v, 8, 16, QLatin1Char('0')).toUpper(); };
    return Failure{tr("%1 has CRC-32 %2, the job expects %3: nothing was programmed.")
                       .arg(QFileInfo(imagePath).fileName(), hex(crc32), hex(*job.crc32))};
}
