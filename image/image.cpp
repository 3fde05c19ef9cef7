// SPDX-License-Identifier: GPL-3.0-or-later
// Loading and saving images, and the safe file write that every file of the program goes through.
#include "image.h"

#include "intelhex.h"
#include "outputfile.h"

#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <QSaveFile>

#include <optional>

namespace {
// The most of a file that is ever read: a HEX text of a full chip is about 23 KB, and one
// that needs more than this cannot describe 8 KB without repeating itself at length.
constexpr qint64 maxFileRead = 4 * 1024 * 1024;

QString shortWriteReason(const QFileDevice &f)
{
    // A short write sets no error of its own.
    return f.error() == QFileDevice::NoError ? QObject::tr("the disk is full or the file is too large")
                                             : f.errorString();
}

Result<QByteArray> readWhole(const QString &path, qint64 limit)
{
    const QFileInfo fi(path);
    if (!fi.exists())
        return Failure{QObject::tr("The file %1 does not exist.").arg(path)};
    if (!fi.isFile())
        return Failure{QObject::tr("%1 is not a file.").arg(path)};
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return Failure{QObject::tr("The image file %1 cannot be read: %2.").arg(path, f.errorString())};
    QByteArray data = f.read(limit + 1);
    if (f.error() != QFileDevice::NoError)
        return Failure{QObject::tr("The image file %1 cannot be read: %2.").arg(path, f.errorString())};
    return data;
}
}  // namespace

ImageFormat formatForName(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QLatin1String("hex") || suffix == QLatin1String("ihx") || suffix == QLatin1String("ihex")
               ? ImageFormat::IntelHex
               : ImageFormat::Binary;
}

namespace {
Result<Image> load(const QString &path, std::optional<ImageFormat> given)
{
    auto content = readWhole(path, maxFileRead);
    if (!content)
        return content.failure();
    Image image;
    image.path = path;
    const QByteArray &data = content.value();
    const QString name = QFileInfo(path).fileName();
    const bool hex = given ? *given == ImageFormat::IntelHex
                           : formatForName(path) == ImageFormat::IntelHex || intelhex::looksLikeHex(data);
    if (hex) {
        image.format = ImageFormat::IntelHex;
        if (data.size() > maxFileRead)
            return Failure{QObject::tr("%1 is too large for an Intel HEX file of at most %2 bytes.")
                               .arg(name)
                               .arg(maxImageSize),
                           Failure::TooLong};
        const intelhex::Parsed parsed = intelhex::parse(data, maxImageSize);
        if (!parsed.reason.isEmpty())
            return Failure{parsed.line ? QObject::tr("%1, line %2: %3.").arg(name).arg(parsed.line).arg(parsed.reason)
                                       : QObject::tr("%1: %2.").arg(name, parsed.reason),
                           parsed.tooLong ? Failure::TooLong : Failure::Refused};
        image.bytes = parsed.bytes;
        return image;
    }
    if (data.size() > maxImageSize)
        return Failure{QObject::tr("%1 is too long: %2 bytes, and the largest chip holds %3.")
                           .arg(name)
                           .arg(QFileInfo(path).size())
                           .arg(maxImageSize),
                       Failure::TooLong};
    image.bytes = data;
    return image;
}
}  // namespace

Result<Image> loadImage(const QString &path)
{
    return load(path, std::nullopt);
}

Result<Image> loadImage(const QString &path, ImageFormat format)
{
    return load(path, format);
}

Status requireData(const Image &image)
{
    if (!image.bytes.isEmpty())
        return {};
    return Failure{QObject::tr("%1 holds no data: nothing to write.").arg(image.path), Failure::Refused};
}

bool sameFile(const QString &a, const QString &b)
{
    const QFileInfo fa(a), fb(b);
    if (!fa.exists() || !fb.exists())
        return false;
    return fa.canonicalFilePath() == fb.canonicalFilePath();
}

Status saveImage(const Image &image, const QString &path, ImageFormat format)
{
    if (!image.path.isEmpty() && sameFile(image.path, path))
        return {};
    if (format == image.format && !image.path.isEmpty()) {
        // The file as it is, not as it was understood: a copy keeps its comments and layout.
        auto content = readWhole(image.path, maxFileRead);
        if (!content)
            return content.failure();
        return writeOutput(path, content.value());
    }
    return writeOutput(path, encodeImage(image.bytes, format));
}

QByteArray encodeImage(const QByteArray &bytes, ImageFormat format)
{
    return format == ImageFormat::IntelHex ? intelhex::format(bytes) : bytes;
}

Status writeFileSafely(const QString &path, const QByteArray &data)
{
    // QSaveFile writes to a link's target; a link standing at the path is removed instead.
    if (QFileInfo(path).isSymLink() && !QFile::remove(path))
        return Failure{QObject::tr("%1 cannot be written: it is a link that cannot be removed.").arg(path)};
    QSaveFile out(path);
    // Unbuffered, so that a short write (a full disk) shows in write()'s count: a
    // buffered QSaveFile can commit a truncated file without a word.
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return Failure{QObject::tr("%1 cannot be written: %2.").arg(path, out.errorString())};
    if (out.write(data) != data.size()) {
        const QString why = shortWriteReason(out);
        out.cancelWriting();
        return Failure{QObject::tr("%1 cannot be written: %2.").arg(path, why)};
    }
    if (!out.commit())
        return Failure{QObject::tr("%1 cannot be written: %2.").arg(path, out.errorString())};
    return {};
}
