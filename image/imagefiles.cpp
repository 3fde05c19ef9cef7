// Image files: measure, read, compare and copy safely.
#include "imagefiles.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace imagefiles {

QString shortWriteReason(const QFileDevice &f)
{
    // A short write sets no error of its own.
    return f.error() == QFileDevice::NoError ? QObject::tr("the disk is full or the file is too large")
                                             : f.errorString();
}

Result<qint64> sizeOf(const QString &path)
{
    const QFileInfo fi(path);
    if (!fi.exists())
        return Failure{QObject::tr("The file %1 does not exist.").arg(path)};
    if (!fi.isFile())
        return Failure{QObject::tr("%1 is not a file.").arg(path)};
    return fi.size();
}

Result<QByteArray> readImage(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return Failure{QObject::tr("The image file %1 cannot be read: %2.").arg(path, f.errorString())};
    // Reading one byte past the limit tells a file that grew from one that did not.
    QByteArray data = f.read(maxImageSize * 4);
    if (f.error() != QFileDevice::NoError)
        return Failure{QObject::tr("The image file %1 cannot be read: %2.").arg(path, f.errorString())};
    return data;
}

bool sameFile(const QString &a, const QString &b)
{
    const QFileInfo fa(a), fb(b);
    if (!fa.exists() || !fb.exists())
        return false;
    return fa.canonicalFilePath() == fb.canonicalFilePath();
}

Status saveCopy(const QString &source, const QString &destination)
{
    if (sameFile(source, destination))
        return {};
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return Failure{QObject::tr("the image %1 cannot be read: %2").arg(source, in.errorString())};
    const QByteArray data = in.readAll();
    if (in.error() != QFileDevice::NoError)
        return Failure{QObject::tr("the image %1 cannot be read: %2").arg(source, in.errorString())};
    QSaveFile out(destination);
    // Unbuffered, so that a short write (a full disk) shows in write()'s count: a
    // buffered QSaveFile can commit a truncated file without a word.
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return Failure{QObject::tr("%1 cannot be written: %2").arg(destination, out.errorString())};
    if (out.write(data) != data.size()) {
        const QString why = shortWriteReason(out);
        out.cancelWriting();
        return Failure{QObject::tr("%1 cannot be written: %2").arg(destination, why)};
    }
    if (!out.commit())
        return Failure{QObject::tr("%1 cannot be written: %2").arg(destination, out.errorString())};
    return {};
}

void dropLink(const QString &path)
{
    if (QFileInfo(path).isSymLink())
        QFile::remove(path);
}

}  // namespace imagefiles
