// SPDX-License-Identifier: GPL-3.0-or-later
// The figures a user compares an image by: its length, the 16-bit sum of its bytes and
// its CRC-32 (zlib's, the one most tools print).
#pragma once

#include <QByteArray>
#include <QString>

struct ImageSums {
    qsizetype length = 0;
    quint16 sum = 0;    // the bytes added up, modulo 65536
    quint32 crc32 = 0;  // zlib's crc32(), as `crc32 FILE` and most toolchains print it
};

ImageSums imageSums(const QByteArray &bytes);
// "300 bytes, sum 0x8E9A, CRC-32 0x1C291CA3"
QString sumsText(const ImageSums &sums);
