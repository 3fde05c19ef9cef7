// SPDX-License-Identifier: GPL-3.0-or-later
// Hex listing rows and the listing file.
#include "listing.h"

#include <QFile>

namespace listing {

QByteArray formatRow(int address, const quint8 *bytes, int count)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray row(rowWidth, ' ');
    char *p = row.data();
    for (int i = 3; i >= 0; --i, address >>= 4)
        p[i] = hex[address & 0xF];
    for (int i = 0; i < count; ++i) {
        const quint8 b = bytes[i];
        p[6 + 3 * i] = hex[b >> 4];
        p[7 + 3 * i] = hex[b & 0xF];
        p[30 + i] = (b > 0x21 && b < 0x7E) ? char(b) : '.';
    }
    return row;
}

QByteArray format(const QByteArray &data, const std::function<void()> &afterRow)
{
    const auto *bytes = reinterpret_cast<const quint8 *>(data.constData());
    const int full = int(data.size()) / bytesPerRow;
    QByteArray out;
    out.reserve((full + 1) * (rowWidth + 2));
    for (int r = 0; r < full; ++r) {
        out += formatRow(r * bytesPerRow, bytes + r * bytesPerRow, bytesPerRow);
        out += "\r\n";
        if (afterRow)
            afterRow();
    }
    out += formatRow(full * bytesPerRow, bytes + full * bytesPerRow, int(data.size()) - full * bytesPerRow);
    return out;
}

Status write(const Image &image, const QString &listingPath, const std::function<void()> &afterRow)
{
    // The listing file is the program's own scratch, rewritten at every listing and read
    // back at once: not the safe file write, whose flush to the disk alone would cost more
    // than the rest of the listing. The old file goes first and the new one is made afresh
    // (a file cut to nothing and written again is flushed on close by some file systems);
    // whatever stands at the path, a planted link included, is removed and never followed.
    QFile::remove(listingPath);
    QFile out(listingPath);
    // Unbuffered, so that a short write (a full disk) shows in write()'s count.
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
        return Failure{QObject::tr("%1 cannot be written: %2.").arg(listingPath, out.errorString())};
    const QByteArray text = format(image.bytes, afterRow);
    if (out.write(text) != text.size()) {
        const QString why = out.error() == QFileDevice::NoError ? QObject::tr("the disk is full") : out.errorString();
        out.close();
        QFile::remove(listingPath);
        return Failure{QObject::tr("%1 cannot be written: %2.").arg(listingPath, why)};
    }
    return {};
}

}  // namespace listing
