// SPDX-License-Identifier: GPL-3.0-or-later
// What voralith-cli records of each command for --json and --log: its start, and one
// result line per chip with the facts of its outcome.
#include "cli.h"
#include "wording.h"

void Cli::begin(const JsonLine &image)
{
    QStringList sites;
    if (m_deviceCommand || (m_command->needsPort && m_p.isSet(m_o.port)))
        sites << site();
    m_r.start(QString::fromLatin1(m_command->name), sites, image);
}

JsonLine Cli::resultHead(const QString &result, int status, const Outcome &o) const
{
    const QByteArray signature = o.signature.isEmpty() ? m_id.signature : o.signature;
    const ChipInfo *chip = o.chip ? o.chip : m_id.chip;
    return JsonLine()
        .add("site", site())
        .add("round", m_round)
        .add("command", QString::fromLatin1(m_command->name))
        .add("result", result)
        .add("status", status)
        .add("signature", signature.size() == 3 ? QJsonValue(QString::fromLatin1(signature.toHex().toUpper()))
                                                : QJsonValue())
        .add("chip", chip ? QJsonValue(QStringLiteral("AT") + QLatin1String(chip->name)) : QJsonValue())
        .add("duration_ms", m_roundTime.elapsed());
}

void Cli::record(const Outcome &o, int status, const JsonLine &extra)
{
    if (m_recorded)
        return;
    m_recorded = true;
    const QString result = o.ok() ? QStringLiteral("passed")
                           : o.kind == Outcome::NoChip ? QStringLiteral("empty")
                                                       : QStringLiteral("failed");
    JsonLine line = resultHead(result, status, o);
    if (!o.ok()) {
        // A link failure gives the address where the operation stopped.
        const int address = o.address >= 0 ? o.address : o.failure.address;
        line.add("step", jsonStep(o.step))
            .add("address", address >= 0 ? QJsonValue(jsonHex(address)) : QJsonValue())
            .add("message", wording::text(o, Audience::Shell).replace(QLatin1String("\r\n"), QLatin1String("\n")));
        if (o.kind == Outcome::Difference || o.kind == Outcome::WrongByte)
            line.add("expected", jsonHex(o.expected, 2)).add("read", jsonHex(o.read, 2));
    }
    line.append(extra);
    if (const QString why = m_r.result(line, result); !why.isEmpty()) {
        m_logFailed = true;
        m_t.failure(QStringLiteral("voralith-cli: the log %1 cannot be written: %2. No more chips are worked on "
                                   "without their record.")
                        .arg(m_p.value(m_o.log), why));
    }
}

void Cli::recordFailure(int status)
{
    begin();
    Outcome none;
    none.kind = Outcome::LinkFailure;
    none.step = m_step.value_or(Step::Identify);
    JsonLine line = resultHead(QStringLiteral("failed"), status, none);
    line.add("step", m_step ? QJsonValue(jsonStep(*m_step)) : QJsonValue())
        .add("address", QJsonValue())
        .add("message", QString(m_t.lastFailure()).replace(QLatin1String("\r\n"), QLatin1String("\n")));
    m_recorded = true;
    if (const QString why = m_r.result(line, QStringLiteral("failed")); !why.isEmpty()) {
        m_logFailed = true;
        m_t.failure(QStringLiteral("voralith-cli: the log %1 cannot be written: %2.").arg(m_p.value(m_o.log), why));
    }
}
