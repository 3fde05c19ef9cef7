// SPDX-License-Identifier: GPL-3.0-or-later
// voralith-cli --serial: the options read, what is checked before any site starts, and the
// number each site takes for its chip.
#include "cli.h"
#include "wholechip.h"

#include <algorithm>

int Cli::setUpSerial()
{
    if (!m_p.isSet(m_o.serial)) {
        if (m_p.isSet(m_o.serialFile) || m_p.isSet(m_o.serialStart) || m_p.isSet(m_o.serialStep)) {
            m_t.failure(QStringLiteral("voralith-cli: --serial-file, --serial-start and --serial-step go with --serial."));
            return Usage;
        }
        return Success;
    }
    const Result<SerialPlace> place = parseSerialPlace(m_p.value(m_o.serial));
    if (!place) {
        m_t.failure(QStringLiteral("voralith-cli: ") + place.message());
        return Usage;
    }
    if (!m_p.isSet(m_o.serialFile) || m_p.value(m_o.serialFile).isEmpty()) {
        m_t.failure(QStringLiteral("voralith-cli: --serial needs --serial-file FILE, the file that holds the next "
                                   "number."));
        return Usage;
    }
    // Digits only: no sign, no spaces, no other base.
    auto whole = [this](const QCommandLineOption &option, quint64 fallback, quint64 least, quint64 *value) {
        const QString text = m_p.value(option);
        bool ok = !m_p.isSet(option) ||
                  (!text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) { return c.isDigit(); }));
        *value = m_p.isSet(option) && ok ? text.toULongLong(&ok) : fallback;
        if (ok && *value >= least)
            return true;
        m_t.failure(QStringLiteral("voralith-cli: --%1 takes a whole number from %2 up, not \"%3\".")
                        .arg(option.names().constFirst())
                        .arg(least)
                        .arg(text));
        return false;
    };
    quint64 start = 1, step = 1;
    if (!whole(m_o.serialStart, 1, 0, &start) || !whole(m_o.serialStep, 1, 1, &step))
        return Usage;
    m_serialPlace = place.value();
    m_counter = std::make_unique<SerialCounter>(m_p.value(m_o.serialFile), start, step);
    return Success;
}

int Cli::checkSerial(const Image &image)
{
    if (!m_serialPlace)
        return Success;
    const SerialPlace &place = *m_serialPlace;
    const int room = m_wanted ? m_wanted->size : maxImageSize;
    if (place.end() > room) {
        return fileFailure(place.beyond(room, m_wanted ? QStringLiteral("the ") + chipName(*m_wanted)
                                                       : QStringLiteral("the largest chip")));
    }
    if (const int at = dataAt(image.bytes, place); at >= 0) {
        return fileFailure(QStringLiteral("%1 holds data at %2h, where the serial number goes (%3h to %4h): the "
                                          "number is put only where the image is erased (FF).")
                               .arg(image.path, QString::number(at, 16).toUpper(),
                                    QString::number(place.address, 16).toUpper(),
                                    QString::number(place.end() - 1, 16).toUpper()));
    }
    if (Status s = m_counter->prepare(place, int(m_ports.size())); !s)
        return fileFailure(s.message());
    return Success;
}

Status Cli::takeSerial(const QString &site, int round, std::optional<quint64> *taken)
{
    if (m_serialFailed || m_logFailed)
        return Failure{QStringLiteral("No serial number was taken: the run is stopping.")};
    const Result<quint64> number = m_counter->take(*m_serialPlace);
    if (!number) {
        m_serialFailed = true;
        return number.failure();
    }
    *taken = number.value();
    if (const QString why = m_r.serial(site, round, number.value()); !why.isEmpty()) {
        logFailed(why);
        return Failure{QStringLiteral("Serial number %1 is spent, but the log cannot record it: the chip is not "
                                      "written without its record.")
                           .arg(number.value())};
    }
    return {};
}
