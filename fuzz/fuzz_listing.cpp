// SPDX-License-Identifier: GPL-3.0-or-later
// The hex listing of any image: a row per eight bytes and the final one, all of one width,
// each with its address, and cells and characters that give back the bytes.
#include "listing.h"

#include <QList>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    int complete = 0;
    const QList<QByteArray> rows = listing::format(bytes, [&] { ++complete; }).split('\n');
    QByteArray cells, shown;
    for (qsizetype r = 0; r < rows.size(); ++r) {
        const QByteArray &row = rows[r];
        if (row.size() != listing::rowWidth + (r < complete) || row.left(4).toInt(nullptr, 16) != (r * 8 & 0xFFFF))
            __builtin_trap();
        cells += QByteArray::fromHex(row.mid(6, 24));
        shown += row.mid(30, 8).trimmed();
    }
    if (complete != rows.size() - 1 || complete != bytes.size() / 8 || cells != bytes || shown.size() != bytes.size())
        __builtin_trap();
    for (qsizetype i = 0; i < bytes.size(); ++i)
        if (shown[i] != (quint8(bytes[i]) > 0x21 && quint8(bytes[i]) < 0x7E ? bytes[i] : '.'))
            __builtin_trap();
    return 0;
}
