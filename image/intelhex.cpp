// SPDX-License-Identifier: GPL-3.0-or-later
// Intel HEX records: a line is ':', then length, address (2 bytes), type, data and a
// checksum that makes the sum of all its bytes 0 modulo 256.
#include "intelhex.h"

#include <QCoreApplication>
#include <QList>

namespace intelhex {
namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("intelhex", text);
}

QString hex(quint64 v)
{
    return QString::number(v, 16).toUpper();
}

int digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool blank(char c)
{
    return c == ' ' || c == '\t';
}

constexpr char ctrlZ = '\x1A';  // the end of a text file to DOS, which its tools wrote after the last line

QByteArray trimmed(QByteArray line)
{
    while (!line.isEmpty() && blank(line.back()))
        line.chop(1);
    while (!line.isEmpty() && blank(line.front()))
        line.remove(0, 1);
    return line;
}

// How a character that should be a hex digit is named in a refusal.
QString shown(char c)
{
    const auto u = quint8(c);
    return u >= 0x20 && u < 0x7F ? QStringLiteral("'%1'").arg(QChar(c)) : tr("the byte %1h").arg(hex(u));
}

QString twoDigits(int type)
{
    return QString::number(type, 16).toUpper().rightJustified(2, QLatin1Char('0'));
}

// One line's record as bytes (length, address, type, data, checksum) in `rec`, or why it is none.
QString decode(const QByteArray &line, QByteArray &rec)
{
    if (line[0] != ':')
        return tr("the line does not start with ':'");
    const QByteArray digits = line.mid(1);
    for (char c : digits)
        if (digit(c) < 0)
            return tr("%1 is not a hex digit").arg(shown(c));
    if (digits.size() % 2)
        return tr("an odd number of hex digits");
    rec = QByteArray(digits.size() / 2, 0);
    for (int i = 0; i < rec.size(); ++i)
        rec[i] = char(digit(digits[2 * i]) << 4 | digit(digits[2 * i + 1]));
    const auto *r = reinterpret_cast<const quint8 *>(rec.constData());
    if (rec.size() < 5)
        return tr("the line is too short for a record");
    const int count = r[0];
    if (rec.size() != count + 5)
        return tr("the length field says %1 data bytes, the line holds %2").arg(count).arg(rec.size() - 5);
    quint8 sum = 0;
    for (int i = 0; i < rec.size() - 1; ++i)
        sum += r[i];
    const quint8 needed = quint8(-sum);
    if (r[rec.size() - 1] != needed)
        return tr("the checksum is %1h, the record needs %2h").arg(hex(r[rec.size() - 1]), hex(needed));
    return {};
}

}  // namespace

Parsed parse(const QByteArray &text, int limit)
{
    Parsed out;
    auto refuse = [&out](int line, const QString &why) {
        out.line = line;
        out.reason = why;
        out.bytes.clear();
        return out;
    };
    QByteArray image(limit, char(0xFF));
    QList<int> lineOf(limit, 0);  // the line that gave each address, 0 for none yet
    int length = 0;
    quint64 base = 0;
    int lastLine = 0;  // the last line that held anything
    int endLine = 0;   // the line of the end-of-file record, 0 before it
    bool ctrlZSeen = false;

    // What follows the end record may be blank, with one Ctrl+Z; anything else is refused.
    auto afterEnd = [&](const QByteArray &rest) -> QString {
        for (char c : rest) {
            if (blank(c))
                continue;
            if (c == ctrlZ && !ctrlZSeen) {
                ctrlZSeen = true;
                continue;
            }
            if (c == ':')
                return tr("a record after the end-of-file record of line %1").arg(endLine);
            if (c == ctrlZ)
                return tr("a second Ctrl+Z (1Ah) after the end-of-file record of line %1").arg(endLine);
            return tr("text after the end-of-file record of line %1").arg(endLine);
        }
        return {};
    };

    // A line ends at CR, LF or CR LF, whichever the tool that wrote the file used.
    int n = 0;
    for (qsizetype at = 0; at < text.size();) {
        ++n;
        qsizetype stop = at;
        while (stop < text.size() && text[stop] != '\n' && text[stop] != '\r')
            ++stop;
        QByteArray line = trimmed(text.mid(at, stop - at));
        at = stop + (stop + 1 < text.size() && text[stop] == '\r' && text[stop + 1] == '\n' ? 2 : 1);
        if (line.isEmpty())
            continue;
        if (endLine) {
            const QString why = afterEnd(line);
            if (!why.isEmpty())
                return refuse(n, why);
            continue;
        }
        if (line[0] == ctrlZ)
            return refuse(n, tr("a Ctrl+Z (1Ah), which may only follow the end-of-file record (:00000001FF)"));
        lastLine = n;
        QByteArray rec, rest;
        QString why = decode(line, rec);
        if (!why.isEmpty()) {
            // The end record with the Ctrl+Z straight after it, on the same line.
            const qsizetype z = line.indexOf(ctrlZ);
            if (z < 0 || !decode(trimmed(line.left(z)), rec).isEmpty() || rec[3] != 1)
                return refuse(n, why);
            rest = line.mid(z);
        }
        const auto *r = reinterpret_cast<const quint8 *>(rec.constData());
        const int count = r[0];
        const int type = r[3];
        const quint64 offset = quint64(r[1]) << 8 | r[2];
        const quint8 *data = r + 4;
        static const int sizeOfType[] = {-1, 0, 2, 4, 2, 4};
        static const char *const nameOfType[] = {
            nullptr,
            QT_TRANSLATE_NOOP("intelhex", "end of file"),
            QT_TRANSLATE_NOOP("intelhex", "extended segment address"),
            QT_TRANSLATE_NOOP("intelhex", "start segment address"),
            QT_TRANSLATE_NOOP("intelhex", "extended linear address"),
            QT_TRANSLATE_NOOP("intelhex", "start linear address"),
        };
        if (type > 5)
            return refuse(n, tr("unknown record type %1").arg(twoDigits(type)));
        if (type != 0 && count != sizeOfType[type]) {
            const QString holds = count == 1 ? tr("1 data byte") : tr("%1 data bytes").arg(count);
            const QString needs = sizeOfType[type] ? QString::number(sizeOfType[type]) : tr("none");
            return refuse(n, tr("a record of type %1 (%2) holds %3, and that type needs %4")
                                 .arg(twoDigits(type), tr(nameOfType[type]), holds, needs));
        }
        switch (type) {
        case 0:
            for (int i = 0; i < count; ++i) {
                const quint64 address = base + offset + quint64(i);
                if (address >= quint64(limit)) {
                    out.tooLong = true;
                    return refuse(n, tr("data at address %1h, beyond the %2 bytes of the largest chip")
                                         .arg(hex(address))
                                         .arg(limit));
                }
                const int a = int(address);
                if (lineOf[a] && image[a] != char(data[i]))
                    return refuse(n, tr("address %1h is given %2h here and %3h on line %4")
                                         .arg(hex(a), hex(data[i]), hex(quint8(image[a])))
                                         .arg(lineOf[a]));
                image[a] = char(data[i]);
                lineOf[a] = n;
                length = std::max(length, a + 1);
            }
            break;
        case 1:
            endLine = n;
            why = afterEnd(rest);
            if (!why.isEmpty())
                return refuse(n, why);
            break;
        case 2:
            base = (quint64(data[0]) << 8 | data[1]) << 4;
            break;
        case 4:
            base = (quint64(data[0]) << 8 | data[1]) << 16;
            break;
        default:  // 03, 05: where execution starts, which a chip's reset vector decides
            break;
        }
    }
    if (!lastLine)
        return refuse(0, text.isEmpty() ? tr("the file is empty, and an Intel HEX file holds at least its "
                                             "end-of-file record (:00000001FF)")
                                        : tr("the file holds only white space, and an Intel HEX file holds at "
                                             "least its end-of-file record (:00000001FF)"));
    if (!endLine)
        return refuse(lastLine, tr("the file ends after this line without an end-of-file record (:00000001FF)"));
    out.bytes = image.left(length);
    return out;
}

QByteArray format(const QByteArray &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    QByteArray out;
    auto put = [&out](quint8 b, quint8 &sum) {
        out += digits[b >> 4];
        out += digits[b & 0xF];
        sum += b;
    };
    for (int at = 0; at < bytes.size(); at += 16) {
        const int count = std::min<int>(16, int(bytes.size()) - at);
        quint8 sum = 0;
        out += ':';
        put(quint8(count), sum);
        put(quint8(at >> 8), sum);
        put(quint8(at), sum);
        put(0, sum);
        for (int i = 0; i < count; ++i)
            put(quint8(bytes[at + i]), sum);
        quint8 ignored = 0;
        put(quint8(-sum), ignored);
        out += "\r\n";
    }
    out += ":00000001FF\r\n";
    return out;
}

bool looksLikeHex(const QByteArray &content)
{
    bool seenColon = false;
    for (char c : content) {
        const auto u = quint8(c);
        if (!(u >= 0x20 && u < 0x7F) && c != '\t' && c != '\r' && c != '\n' && c != ctrlZ)
            return false;
        if (!seenColon && !blank(c) && c != '\r' && c != '\n') {
            if (c != ':')
                return false;
            seenColon = true;
        }
    }
    return seenColon;
}

}  // namespace intelhex
