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

// The next line of `text` from `at`, blanks trimmed, with `at` moved past its end. A line
// ends at CR, LF or CR LF, whichever the tool that wrote the file used.
QByteArray nextLine(const QByteArray &text, qsizetype &at)
{
    qsizetype stop = at;
    while (stop < text.size() && text[stop] != '\n' && text[stop] != '\r')
        ++stop;
    QByteArray line = trimmed(text.mid(at, stop - at));
    at = stop + (stop + 1 < text.size() && text[stop] == '\r' && text[stop + 1] == '\n' ? 2 : 1);
    return line;
}

// Why a record of this type cannot hold `count` data bytes, or nothing when it can.
QString typeMismatch(int type, int count)
{
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
        return tr("unknown record type %1").arg(twoDigits(type));
    if (type != 0 && count != sizeOfType[type]) {
        const QString holds = count == 1 ? tr("1 data byte") : tr("%1 data bytes").arg(count);
        const QString needs = sizeOfType[type] ? QString::number(sizeOfType[type]) : tr("none");
        return tr("a record of type %1 (%2) holds %3, and that type needs %4")
            .arg(twoDigits(type), tr(nameOfType[type]), holds, needs);
    }
    return {};
}

// A reading line by line: the image so far, the line that gave each address, the address
// base and where the end record was. Each step tells why it refuses the line, or nothing.
class Reader {
public:
    explicit Reader(int limit) : m_limit(limit), m_image(limit, char(0xFF)), m_lineOf(limit, 0) {}

    QString take(int n, const QByteArray &line);
    Parsed refusal(int line, const QString &why) const;
    Parsed result(bool textEmpty) const;

private:
    QString afterEnd(const QByteArray &rest);
    QString apply(int n, const quint8 *r, const QByteArray &rest);
    QString putData(int n, quint64 offset, int count, const quint8 *data);

    int m_limit;
    QByteArray m_image;
    QList<int> m_lineOf;  // the line that gave each address, 0 for none yet
    int m_length = 0;
    quint64 m_base = 0;
    int m_lastLine = 0;  // the last line that held anything
    int m_endLine = 0;   // the line of the end-of-file record, 0 before it
    bool m_ctrlZSeen = false;
    bool m_tooLong = false;
};

// Line `n`, trimmed.
QString Reader::take(int n, const QByteArray &line)
{
    if (line.isEmpty())
        return {};
    if (m_endLine)
        return afterEnd(line);
    if (line[0] == ctrlZ)
        return tr("a Ctrl+Z (1Ah), which may only follow the end-of-file record (:00000001FF)");
    m_lastLine = n;
    QByteArray rec, rest;
    const QString why = decode(line, rec);
    if (!why.isEmpty()) {
        // The end record with the Ctrl+Z straight after it, on the same line.
        const qsizetype z = line.indexOf(ctrlZ);
        if (z < 0 || !decode(trimmed(line.left(z)), rec).isEmpty() || rec[3] != 1)
            return why;
        rest = line.mid(z);
    }
    return apply(n, reinterpret_cast<const quint8 *>(rec.constData()), rest);
}

// What follows the end record may be blank, with one Ctrl+Z; anything else is refused.
QString Reader::afterEnd(const QByteArray &rest)
{
    for (char c : rest) {
        if (blank(c))
            continue;
        if (c == ctrlZ && !m_ctrlZSeen) {
            m_ctrlZSeen = true;
            continue;
        }
        if (c == ':')
            return tr("a record after the end-of-file record of line %1").arg(m_endLine);
        if (c == ctrlZ)
            return tr("a second Ctrl+Z (1Ah) after the end-of-file record of line %1").arg(m_endLine);
        return tr("text after the end-of-file record of line %1").arg(m_endLine);
    }
    return {};
}

// A record whose checksum holds (length, address, type, data), on line `n`; `rest` is what
// followed it on the line.
QString Reader::apply(int n, const quint8 *r, const QByteArray &rest)
{
    const int count = r[0];
    const int type = r[3];
    const quint8 *data = r + 4;
    if (QString why = typeMismatch(type, count); !why.isEmpty())
        return why;
    switch (type) {
    case 0:
        return putData(n, quint64(r[1]) << 8 | r[2], count, data);
    case 1:
        m_endLine = n;
        return afterEnd(rest);
    case 2:
        m_base = (quint64(data[0]) << 8 | data[1]) << 4;
        break;
    case 4:
        m_base = (quint64(data[0]) << 8 | data[1]) << 16;
        break;
    default:  // 03, 05: where execution starts, which a chip's reset vector decides
        break;
    }
    return {};
}

QString Reader::putData(int n, quint64 offset, int count, const quint8 *data)
{
    for (int i = 0; i < count; ++i) {
        const quint64 address = m_base + offset + quint64(i);
        if (address >= quint64(m_limit)) {
            m_tooLong = true;
            return tr("data at address %1h, beyond the %2 bytes of the largest chip").arg(hex(address)).arg(m_limit);
        }
        const int a = int(address);
        if (m_lineOf[a] && m_image[a] != char(data[i]))
            return tr("address %1h is given %2h here and %3h on line %4")
                .arg(hex(a), hex(data[i]), hex(quint8(m_image[a])))
                .arg(m_lineOf[a]);
        m_image[a] = char(data[i]);
        m_lineOf[a] = n;
        m_length = std::max(m_length, a + 1);
    }
    return {};
}

Parsed Reader::refusal(int line, const QString &why) const
{
    Parsed out;
    out.line = line;
    out.reason = why;
    out.tooLong = m_tooLong;
    return out;
}

// Once every line is taken: the image, unless the text held no record or no end record.
Parsed Reader::result(bool textEmpty) const
{
    if (!m_lastLine)
        return refusal(0, textEmpty ? tr("the file is empty, and an Intel HEX file holds at least its "
                                         "end-of-file record (:00000001FF)")
                                    : tr("the file holds only white space, and an Intel HEX file holds at "
                                         "least its end-of-file record (:00000001FF)"));
    if (!m_endLine)
        return refusal(m_lastLine, tr("the file ends after this line without an end-of-file record (:00000001FF)"));
    Parsed out;
    out.bytes = m_image.left(m_length);
    return out;
}

}  // namespace

Parsed parse(const QByteArray &text, int limit)
{
    Reader reader(limit);
    int n = 0;
    for (qsizetype at = 0; at < text.size();) {
        ++n;
        const QString why = reader.take(n, nextLine(text, at));
        if (!why.isEmpty())
            return reader.refusal(n, why);
    }
    return reader.result(text.isEmpty());
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
