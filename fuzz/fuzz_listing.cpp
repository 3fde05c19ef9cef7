// SPDX-License-Identifier: GPL-3.0-or-later
// The hex listing of any image: one row per eight bytes plus the final one, every row the
// same width, and each row's cells and characters the bytes at its address.
#include "listing.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    int rows = 0;
    const QByteArray text = listing::format(bytes, [&rows] { ++rows; });
    const int full = int(size) / listing::bytesPerRow;
    if (rows != full || text.size() != full * (listing::rowWidth + 2) + listing::rowWidth)
        std::abort();
    static const char hex[] = "0123456789ABCDEF";
    for (int r = 0; r <= full; ++r) {
        const char *row = text.constData() + r * (listing::rowWidth + 2);
        const QByteArray address = QByteArray::number((r * listing::bytesPerRow) & 0xFFFF, 16).toUpper();
        if (QByteArray(row, 4) != address.rightJustified(4, '0'))
            std::abort();
        for (int i = 0; i < listing::bytesPerRow; ++i) {
            const int at = r * listing::bytesPerRow + i;
            const char *cell = row + 6 + 3 * i;
            const char shown = row[30 + i];
            if (at >= int(size)) {
                if (cell[0] != ' ' || cell[1] != ' ' || shown != ' ')
                    std::abort();
                continue;
            }
            const auto b = quint8(data[at]);
            if (cell[0] != hex[b >> 4] || cell[1] != hex[b & 0xF] || cell[2] != ' ')
                std::abort();
            if (shown != ((b > 0x21 && b < 0x7E) ? char(b) : '.'))
                std::abort();
        }
        if (r < full && (row[listing::rowWidth] != '\r' || row[listing::rowWidth + 1] != '\n'))
            std::abort();
    }
    return 0;
}
