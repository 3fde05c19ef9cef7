// SPDX-License-Identifier: GPL-3.0-or-later
// In-process serial device over the board engine.
#include "emulatedport.h"

#include <cstring>

EmulatedPort::EmulatedPort(std::shared_ptr<BoardEngine> engine, QObject *parent)
    : QIODevice(parent), m_engine(std::move(engine))
{
    m_clock.start();
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &EmulatedPort::pump);
    // A stray byte waiting on the line is there as soon as the port opens.
    QTimer::singleShot(0, this, &EmulatedPort::pump);
}

qint64 EmulatedPort::readData(char *data, qint64 maxSize)
{
    const qint64 n = std::min<qint64>(maxSize, m_rx.size());
    std::memcpy(data, m_rx.constData(), size_t(n));
    m_rx.remove(0, int(n));
    return n;
}

qint64 EmulatedPort::writeData(const char *data, qint64 size)
{
    if (m_engine->vanished())
        return -1;
    const QByteArray bytes(data, int(size));
    m_writes.append(bytes);
    m_engine->receive(bytes, m_clock.nsecsElapsed());
    // Replies never arrive inside the write call: a real port delivers them later.
    if (!m_timer.isActive())
        m_timer.start(0);
    return size;
}

void EmulatedPort::pump()
{
    if (!isOpen())
        return;
    const QByteArray due = m_engine->takeDue(m_clock.nsecsElapsed());
    if (!due.isEmpty()) {
        m_rx.append(due);
        emit readyRead();
    }
    if (m_engine->vanished() && m_engine->nextEventNs() < 0) {
        setErrorString(tr("the device has vanished"));
        close();
        return;
    }
    const qint64 next = m_engine->nextEventNs();
    if (next >= 0) {
        const qint64 waitNs = next - m_clock.nsecsElapsed();
        m_timer.start(int(std::max<qint64>(0, (waitNs + 999999) / 1000000)));
    }
}
