// SPDX-License-Identifier: GPL-3.0-or-later
// Serial numbers: their place and formats, and the counter they are taken from.
#include "serialnumber.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <limits>

namespace {
QString tr(const char *text)
{
    return QCoreApplication::translate("SerialNumber", text);
}

quint64 power10(int digits)
{
    quint64 p = 1;
    for (int i = 0; i < digits; ++i)
        p *= 10;
    return p;
}
}  // namespace

QString SerialPlace::formatName() const
{
    switch (format) {
    case BigEndian: return QStringLiteral("be");
    case LittleEndian: return QStringLiteral("le");
    case Bcd: return QStringLiteral("bcd");
    case Ascii: return QStringLiteral("ascii");
    }
    return {};
}

quint64 SerialPlace::largest() const
{
    constexpr quint64 all = std::numeric_limits<quint64>::max();
    switch (format) {
    case BigEndian:
    case LittleEndian:
        return size >= 8 ? all : (quint64(1) << (8 * size)) - 1;
    case Bcd:
        return power10(2 * size) - 1;
    case Ascii:
        // Twenty digits hold every number a counter can reach.
        return size >= 20 ? all : power10(size) - 1;
    }
    return 0;
}

std::optional<QByteArray> SerialPlace::bytes(quint64 number) const
{
    if (number > largest())
        return std::nullopt;
    QByteArray out(size, '\0');
    switch (format) {
    case BigEndian:
    case LittleEndian:
        for (int i = 0; i < size; ++i) {
            out[format == LittleEndian ? i : size - 1 - i] = char(number & 0xFF);
            number >>= 8;
        }
        break;
    case Bcd:
        for (int i = size - 1; i >= 0; --i) {
            const int low = int(number % 10);
            number /= 10;
            out[i] = char(((number % 10) << 4) | low);
            number /= 10;
        }
        break;
    case Ascii:
        out = QByteArray::number(number).rightJustified(size, '0');
        break;
    }
    return out;
}

QString SerialPlace::tooLarge(quint64 number) const
{
    const QString room = format == Ascii ? (size == 1 ? tr("1 digit") : tr("%1 digits").arg(size))
                                         : (size == 1 ? tr("1 byte") : tr("%1 bytes").arg(size));
    return tr("The serial number %1 does not fit %2 as %3 (at most %4).")
        .arg(number)
        .arg(room, formatName())
        .arg(largest());
}

QString SerialPlace::beyond(int room, const QString &whose) const
{
    return tr("The serial number at %1h to %2h lies beyond the %3 bytes of %4.")
        .arg(QString::number(address, 16).toUpper(), QString::number(end() - 1, 16).toUpper())
        .arg(room)
        .arg(whose);
}

Result<SerialPlace> parseSerialPlace(const QString &text)
{
    const QString usage =
        tr("--serial takes ADDR:SIZE[:FORMAT] (ADDR in hex; FORMAT be, le, bcd or ascii), e.g. 1FFC:4; not \"%1\".")
            .arg(text);
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() < 2 || parts.size() > 3)
        return Failure{usage};
    SerialPlace place;
    bool ok = false;
    place.address = parts[0].toInt(&ok, 16);
    if (!ok || parts[0].startsWith(QLatin1Char('-')) || parts[0].startsWith(QLatin1Char('+')) || place.address < 0)
        return Failure{usage};
    place.size = parts[1].toInt(&ok, 10);
    if (!ok || parts[1].startsWith(QLatin1Char('+')))
        return Failure{usage};
    const QString format = parts.value(2, QStringLiteral("be")).toLower();
    static const std::pair<const char *, SerialPlace::Format> formats[] = {
        {"be", SerialPlace::BigEndian}, {"le", SerialPlace::LittleEndian}, {"bcd", SerialPlace::Bcd},
        {"ascii", SerialPlace::Ascii}};
    const auto found = std::find_if(std::begin(formats), std::end(formats),
                                    [&](const auto &f) { return format == QLatin1String(f.first); });
    if (found == std::end(formats))
        return Failure{usage};
    place.format = found->second;
    const int most = place.format == SerialPlace::Ascii ? 20 : 8;
    if (place.size < 1 || place.size > most)
        return Failure{tr("--serial: be, le and bcd take 1 to 8 bytes, ascii 1 to 20 digits; not %1.").arg(parts[1])};
    return place;
}

QByteArray withSerial(QByteArray image, const SerialPlace &place, const QByteArray &bytes)
{
    if (image.size() < place.end())
        image.append(QByteArray(place.end() - image.size(), char(0xFF)));
    image.replace(place.address, place.size, bytes);
    return image;
}

int dataAt(const QByteArray &image, const SerialPlace &place)
{
    for (int a = place.address; a < place.end() && a < image.size(); ++a) {
        if (quint8(image.at(a)) != 0xFF)
            return a;
    }
    return -1;
}

Result<quint64> SerialCounter::readNumber(const QString &path) const
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Failure{tr("The serial number file %1 cannot be read: %2.").arg(m_path, file.errorString())};
    const QByteArray text = file.read(64);
    QByteArray digits = text;
    if (digits.endsWith("\r\n"))
        digits.chop(2);
    else if (digits.endsWith('\n'))
        digits.chop(1);
    const bool form = !digits.isEmpty() && text.size() < 64 && digits.size() != text.size() &&
                      std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!form)
        return Failure{tr("The serial number file %1 must hold one decimal number and a line end; it holds \"%2\".")
                           .arg(m_path, QString::fromLatin1(text.left(40))
                                           .replace(QLatin1Char('\r'), QLatin1String("\\r"))
                                           .replace(QLatin1Char('\n'), QLatin1String("\\n")))};
    bool ok = false;
    const quint64 number = digits.toULongLong(&ok);
    if (!ok)
        return Failure{tr("The serial number file %1 holds %2, beyond the largest number a counter can hold (%3).")
                           .arg(m_path, QString::fromLatin1(digits))
                           .arg(std::numeric_limits<quint64>::max())};
    return number;
}

QString SerialCounter::beyondCounter(quint64 held, quint64 number) const
{
    if (number == held)
        return tr("The serial number file %1 holds %2: the number after it would be beyond any the counter can hold.")
            .arg(m_path)
            .arg(held);
    return tr("The serial number file %1 holds %2: the number after %3 would be beyond any the counter can hold.")
        .arg(m_path)
        .arg(held)
        .arg(number);
}

QString SerialCounter::cannotWrite(const QString &why) const
{
    return tr("The serial number file %1 cannot be written: %2.").arg(m_path, why);
}

Status SerialCounter::prepare(const SerialPlace &place, int chips)
{
    const std::lock_guard hold(m_lock);
    const Result<QString> target = durable::followLinks(m_path);
    if (!target)
        return Failure{cannotWrite(target.message())};
    const QString &file = target.value();
    const durable::FolderLock folder(file);
    if (!folder.error().isEmpty())
        return Failure{cannotWrite(folder.error())};
    // Left by a run that died between writing it and putting it in place: never a number.
    // Safe to remove under the lock, which take() holds for as long as its temporary lives.
    if (Status s = durable::removeTemporary(file); !s)
        return Failure{cannotWrite(s.failure().message)};
    // Made once: a counter that goes while numbers are taken is not begun again, which
    // would give its numbers twice.
    if (!m_prepared && !QFileInfo::exists(file)) {
        if (Status s = durable::replace(file, QByteArray::number(m_start) + '\n'); !s)
            return Failure{cannotWrite(s.failure().message)};
    }
    m_prepared = true;
    if (Status s = durable::mayWrite(file); !s)
        return Failure{cannotWrite(s.failure().message)};
    const Result<quint64> next = readNumber(file);
    if (!next)
        return next.failure();
    // Each number checked before the next is made from it: no sum passes 64 bits.
    quint64 n = next.value();
    for (int i = 0; i < std::max(chips, 1); ++i, n += m_step) {
        if (!place.bytes(n))
            return Failure{place.tooLarge(n)};
        if (n > std::numeric_limits<quint64>::max() - m_step)
            return Failure{beyondCounter(next.value(), n)};
    }
    // The folder must take the next file: found now, not with a chip erased and waiting.
    if (!QFileInfo(QFileInfo(file).absolutePath()).isWritable())
        return Failure{cannotWrite(tr("its folder cannot be written"))};
    return {};
}

Result<quint64> SerialCounter::take(const SerialPlace &place)
{
    const std::lock_guard hold(m_lock);
    const Result<QString> target = durable::followLinks(m_path);
    if (!target)
        return Failure{cannotWrite(target.message())};
    const QString &file = target.value();
    const durable::FolderLock folder(file);
    if (!folder.error().isEmpty())
        return Failure{cannotWrite(folder.error())};
    if (Status s = durable::mayWrite(file); !s)
        return Failure{cannotWrite(s.failure().message)};
    const Result<quint64> number = readNumber(file);
    if (!number)
        return number;
    const quint64 n = number.value();
    if (!place.bytes(n))
        return Failure{place.tooLarge(n)};
    if (n > std::numeric_limits<quint64>::max() - m_step)
        return Failure{beyondCounter(n, n)};
    if (Status s = durable::replace(file, QByteArray::number(n + m_step) + '\n'); !s)
        return Failure{cannotWrite(s.failure().message)};
    return n;
}
