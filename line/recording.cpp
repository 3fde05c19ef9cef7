// SPDX-License-Identifier: GPL-3.0-or-later
// What a run records of each command for its events and its log: its start, and one result
// line per site and chip with the facts of its outcome.
#include "site.h"
#include "wording.h"

#include <QJsonArray>

namespace {
QString forLine(QString text)
{
    return text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
}

// The keys every result starts with, in their order.
JsonLine resultHead(const QString &site, int round, const QString &command, const QString &result, int status,
                    const QByteArray &signature, const ChipInfo *chip, qint64 durationMs)
{
    return JsonLine()
        .add("site", site)
        .add("round", round)
        .add("command", command)
        .add("result", result)
        .add("status", status)
        .add("signature", signature.size() == 3 ? QJsonValue(QString::fromLatin1(signature.toHex().toUpper()))
                                                : QJsonValue())
        .add("chip", chip ? QJsonValue(QStringLiteral("AT") + QLatin1String(chip->name)) : QJsonValue())
        .add("duration_ms", durationMs);
}

// A failure told before any outcome (a refused file, a port that would not open): the step
// in hand, if any, and what was told.
JsonLine &addUnexplained(JsonLine &line, const std::optional<Step> &step, const QString &message)
{
    return line.add("step", step ? QJsonValue(jsonStep(*step)) : QJsonValue())
        .add("address", QJsonValue())
        .add("message", forLine(message));
}

// --serial: the number the chip was given, or null keys when none was taken.
JsonLine &addSerial(JsonLine &line, const SerialPlace &place, const std::optional<quint64> &serial)
{
    if (!serial)
        return line.add("serial", QJsonValue()).add("serial_bytes", QJsonValue());
    return line.number("serial", *serial).add("serial_bytes", QString::fromLatin1(place.bytes(*serial)->toHex().toUpper()));
}
}  // namespace

void Line::start(const JsonLine &extra)
{
    QStringList sites;
    for (const SitePort &port : m_settings.ports)
        sites << port.name;
    JsonLine serial;
    LineStore *store = m_settings.store;
    if (m_settings.serial) {
        serial.add("address", jsonHex(m_settings.serial->address))
            .add("size", m_settings.serial->size)
            .add("format", m_settings.serial->formatName())
            .add("file", store ? QJsonValue() : QJsonValue(m_counter->path()))
            .number("start", m_counter->start())
            .number("step", store ? store->counterStep() : m_counter->step());
        if (store)
            serial.add("counter", store->counter());
    }
    // The store as shown, its password masked.
    JsonLine more;
    if (store)
        more.add("store", JsonLine().add("connection", store->shownName()).add("station", store->station()));
    m_records.start(m_settings.command, sites, m_image.path.isEmpty() ? JsonLine() : imageObject(m_image.path, m_image.bytes),
                    serial, more.append(extra));
}

void Line::recordUnstarted(int status, const QString &message)
{
    for (int i = 0; i < m_settings.ports.size(); ++i) {
        const SitePort &port = m_settings.ports.at(i);
        JsonLine line = resultHead(port.name, 1, m_settings.command, QStringLiteral("failed"), status, {}, nullptr, 0);
        addUnexplained(line, std::nullopt, message);
        if (m_settings.serial)
            addSerial(line, *m_settings.serial, std::nullopt);
        if (Status s = m_records.result(line, i, 1, QStringLiteral("failed")); !s)
            logFailed(s.failure().message);
    }
}

void Line::logFailed(const QString &why)
{
    m_logFailed = true;
    // The store's own words: it names itself and what it keeps.
    if (why.startsWith(QLatin1String("the store "))) {
        m_teller.failure(m_settings.speaker + why + QStringLiteral(". No more chips are worked on without their record."));
        return;
    }
    std::call_once(m_logFailureTold, [&] {
        m_teller.failure(m_settings.speaker + QStringLiteral("the log %1 cannot be written: %2. No more chips are worked on "
                                                             "without their record.")
                                                  .arg(m_records.logPath(), why));
    });
}

JsonLine Site::resultHead(const QString &result, int status, const Outcome &o) const
{
    return ::resultHead(m_name, m_round, m_line.settings().command, result, status,
                        o.signature.isEmpty() ? m_id.signature : o.signature, o.chip ? o.chip : m_id.chip,
                        m_roundTime.elapsed());
}

void Site::put(JsonLine line, const QString &result)
{
    m_recorded = true;
    m_result = result;
    if (const int bits = m_line.settings().lockBits)
        line.add("lock", result == QLatin1String("passed") ? QJsonValue(bits) : QJsonValue());
    JsonLine image;
    if (const auto &place = m_line.settings().serial) {
        addSerial(line, *place, m_serial);
        // The sums of what went into this chip, its number in.
        if (m_serial && !m_chipImage.isEmpty())
            image = imageObject(m_line.imagePath(), m_chipImage);
    }
    if (Status s = m_line.records().result(line, m_index, m_round, result, image); !s)
        m_line.logFailed(s.failure().message);
}

void Site::record(const Outcome &o, int status, const JsonLine &extra)
{
    if (m_recorded)
        return;
    // An empty socket is "empty" where it is no failure (--repeat awaits the next chip).
    const QString result = o.ok() ? QStringLiteral("passed")
                           : o.kind == Outcome::NoChip && status == Success ? QStringLiteral("empty")
                                                                            : QStringLiteral("failed");
    JsonLine line = resultHead(result, status, o);
    if (!o.ok()) {
        // A link failure gives the address where the operation stopped.
        const int address = o.address >= 0 ? o.address : o.failure.address;
        line.add("step", jsonStep(o.step))
            .add("address", address >= 0 ? QJsonValue(jsonHex(address)) : QJsonValue())
            .add("message", forLine(wording::text(o, Audience::Shell)));
        if (o.kind == Outcome::Difference || o.kind == Outcome::WrongByte)
            line.add("expected", jsonHex(o.expected, 2)).add("read", jsonHex(o.read, 2));
        else if (o.kind == Outcome::DataFound)
            line.add("read", jsonHex(o.read, 2));
    }
    line.append(extra);
    put(line, result);
}

void Site::recordFailure(int status)
{
    if (m_recorded || status == Success)
        return;
    Outcome none;
    none.kind = Outcome::LinkFailure;
    JsonLine line = resultHead(QStringLiteral("failed"), status, none);
    put(addUnexplained(line, m_step, m_lastFailure), QStringLiteral("failed"));
}
