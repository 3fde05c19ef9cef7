// SPDX-License-Identifier: GPL-3.0-or-later
// Output files on Windows: "-" is standard output; every other name is a file, replaced
// safely where its link (a shortcut is no link) leads.
#include "outputfile.h"

#include "image.h"

#include <QFile>
#include <QFileInfo>
#include <QObject>

#include <cstdio>
#include <fcntl.h>
#include <io.h>

bool isStandardOutput(const QString &path)
{
    return path == QLatin1String("-");
}

namespace {
QString target(const QString &path)
{
    const QFileInfo fi(path);
    return fi.isSymLink() ? fi.symLinkTarget() : path;
}
}  // namespace

Status checkOutput(const QString &path)
{
    if (path.isEmpty())
        return Failure{QObject::tr("No file name was given."), Failure::Refused};
    if (isStandardOutput(path))
        return {};
    const QFileInfo fi(target(path));
    if (fi.isDir())
        return Failure{QObject::tr("%1 cannot be written: it is a folder.").arg(path), Failure::Refused};
    const QFileInfo folder(fi.absolutePath());
    if (!folder.isDir())
        return Failure{QObject::tr("%1 cannot be written: its folder %2 does not exist.").arg(path, folder.filePath()),
                       Failure::Refused};
    return {};
}

Status writeOutput(const QString &path, const QByteArray &data)
{
    if (!isStandardOutput(path))
        return writeFileSafely(target(path), data);
    std::fflush(nullptr);
    // Standard output starts in text mode, which turns each LF byte of an image into CR LF:
    // the image goes out as it is, and the texts after it in the mode they had.
    const int mode = ::_setmode(1, _O_BINARY);
    Status written;
    qsizetype done = 0;
    while (done < data.size()) {
        const int n = ::_write(1, data.constData() + done, unsigned(data.size() - done));
        if (n <= 0) {
            written = Failure{QObject::tr("%1 cannot be written.").arg(path), Failure::Error};
            break;
        }
        done += n;
    }
    if (mode != -1)
        ::_setmode(1, mode);
    return written;
}
