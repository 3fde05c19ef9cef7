// SPDX-License-Identifier: GPL-3.0-or-later
// The limits in force: the standard values, or those a test run gives in VORALITH_LIMITS.
#include "timeouts.h"

#include <QByteArray>
#include <QHash>
#include <QList>

namespace {
QHash<QByteArray, qint64> givenLimits()
{
    QHash<QByteArray, qint64> given;
    for (const QByteArray &item : qgetenv("VORALITH_LIMITS").split(',')) {
        const QList<QByteArray> pair = item.trimmed().split('=');
        bool ok = false;
        const qint64 ms = pair.size() == 2 ? pair[1].toLongLong(&ok) : 0;
        if (ok && ms > 0)
            given.insert(pair[0], ms);
    }
    return given;
}
}  // namespace

std::chrono::milliseconds timeouts::Limit::value() const
{
    // Asked for at every reply: without the variable this is one test.
    static const QHash<QByteArray, qint64> given = givenLimits();
    if (given.isEmpty())
        return m_standard;
    return std::chrono::milliseconds(given.value(QByteArray(m_name), m_standard.count()));
}
