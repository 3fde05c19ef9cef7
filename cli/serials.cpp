// SPDX-License-Identifier: GPL-3.0-or-later
// voralith-cli --serial: the options read into the line's settings; the line checks the
// counter and gives each chip its number.
#include "cli.h"

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
    if (!m_p.isSet(m_o.store) && (!m_p.isSet(m_o.serialFile) || m_p.value(m_o.serialFile).isEmpty())) {
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
    m_settings.serial = place.value();
    m_settings.serialFile = m_p.value(m_o.serialFile);
    m_settings.serialStart = start;
    m_settings.serialStep = step;
    return Success;
}

