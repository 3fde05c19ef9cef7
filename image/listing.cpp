// Hex listing rows and the listing file.
#include "listing.h"

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
    return writeFileSafely(listingPath, format(image.bytes, afterRow));
}

}  // namespace listing
