// SPDX-License-Identifier: GPL-3.0-or-later
// Length, 16-bit sum and CRC-32 of an image.
#include "checksums.h"

#include <QObject>

#include <zlib.h>

ImageSums imageSums(const QByteArray &bytes)
{
    ImageSums s;
    s.length = bytes.size();
    for (char c : bytes)
        s.sum = quint16(s.sum + quint8(c));
    s.crc32 = quint32(::crc32(::crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef *>(bytes.constData()),
                              uInt(bytes.size())));
    return s;
}

QString sumsText(const ImageSums &sums)
{
    auto hex = [](quint32 v, int digits) { return QString::number(v, 16).toUpper().rightJustified(digits, u'0'); };
    const QString length = sums.length == 1 ? QObject::tr("1 byte") : QObject::tr("%1 bytes").arg(sums.length);
    return QObject::tr("%1, sum 0x%2, CRC-32 0x%3").arg(length, hex(sums.sum, 4), hex(sums.crc32, 8));
}
