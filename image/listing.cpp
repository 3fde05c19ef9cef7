// Hex listing rows and the listing file.
#include "listing.h"

#include "imagefiles.h"

#include <QFile>
#include <QSaveFile>

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

Result<qint64> write(const QString &imagePath, const QString &listingPath, const std::function<void()> &afterRow)
{
    auto image = imagefiles::readImage(imagePath);
    if (!image)
        return image.failure();
    // The listing file is the program's own: a link planted at its path is removed, not
    // followed (QSaveFile would write to the link's target).
    imagefiles::dropLink(listingPath);
    QSaveFile out(listingPath);
    // Unbuffered, so that a short write (a full disk) shows in write()'s count: a
    // buffered QSaveFile can commit a truncated file without a word.
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return Failure{QObject::tr("The listing file %1 cannot be created: %2.").arg(listingPath, out.errorString())};
    const QByteArray text = format(image.value(), afterRow);
    if (out.write(text) != text.size()) {
        const QString why = imagefiles::shortWriteReason(out);
        out.cancelWriting();
        return Failure{QObject::tr("The listing file %1 cannot be written: %2.").arg(listingPath, why)};
    }
    if (!out.commit())
        return Failure{QObject::tr("The listing file %1 cannot be written: %2.").arg(listingPath, out.errorString())};
    return qint64(image.value().size());
}

}  // namespace listing
