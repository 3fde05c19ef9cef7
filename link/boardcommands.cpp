// SPDX-License-Identifier: GPL-3.0-or-later
// Board commands and the one exchange every answered command goes through.
#include "boardcommands.h"

#include "timeouts.h"

#include <QObject>

namespace {
Failure waitFailure(SerialLink &link, SerialLink::WaitEnd end)
{
    switch (end) {
    case SerialLink::WaitEnd::Stopped:
        return Failure{link.stopReason(), Failure::Stopped};
    case SerialLink::WaitEnd::PortLost:
        return link.lossFailure();
    case SerialLink::WaitEnd::TimedOut:
        return Failure{QObject::tr("the board did not answer within %1 seconds")
                           .arg(timeouts::reply.count() / 1000.0),
                       Failure::TimedOut};
    case SerialLink::WaitEnd::Arrived:
        break;
    }
    return Failure{};
}
}  // namespace

Status BoardCommands::resetAddress()
{
    if (m_leftovers) {
        m_link.takeReceived();
        m_leftovers = false;
    }
    return m_link.send(QByteArrayLiteral("Z"));
}

Failure BoardCommands::outOfStep(int extra)
{
    // What is still on its way is let in and dropped, so that the next command starts
    // in step; a board that never stops sending is left after the reply limit.
    const QDeadlineTimer limit(timeouts::reply.value());
    do
        m_link.takeReceived();
    while (!limit.hasExpired() && m_link.waitFor(1, timeouts::quiet) == SerialLink::WaitEnd::Arrived);
    m_leftovers = true;
    const QString bytes = extra == 1 ? QObject::tr("1 byte") : QObject::tr("%1 bytes").arg(extra);
    return Failure{QObject::tr("the board sent %1 more than was asked").arg(bytes), Failure::OutOfStep};
}

Status BoardCommands::lineClear()
{
    if (const int waiting = m_link.countReceived(); waiting > 0)
        return outOfStep(waiting);
    return {};
}

Result<QByteArray> BoardCommands::awaitReply(int expected)
{
    const auto end = m_link.waitFor(expected, timeouts::reply);
    if (end != SerialLink::WaitEnd::Arrived) {
        m_leftovers = true;
        return waitFailure(m_link, end);
    }
    const QByteArray reply = m_link.takeReceived();
    if (reply.size() > expected)
        return outOfStep(int(reply.size()) - expected);
    return reply;
}

Status BoardCommands::expectQuiet()
{
    const auto end = m_link.waitFor(1, timeouts::quiet);
    if (end == SerialLink::WaitEnd::TimedOut)
        return {};
    if (end == SerialLink::WaitEnd::Arrived)
        return outOfStep(m_link.countReceived());
    m_leftovers = true;
    return waitFailure(m_link, end);
}

Result<QByteArray> BoardCommands::readSignature(QDeadlineTimer deadline)
{
    if (Status s = m_link.send(QByteArrayLiteral("SISIS")); !s)
        return s.failure();
    const auto end = m_link.waitUntil(3, deadline);
    // A byte that comes after the signature was taken (the rest of a short reply, a late
    // copy) answers no request: the next command takes it away instead of counting it.
    m_leftovers = true;
    if (end == SerialLink::WaitEnd::PortLost || end == SerialLink::WaitEnd::Stopped)
        return waitFailure(m_link, end);
    return m_link.takeReceived();
}

Result<QByteArray> BoardCommands::readNext()
{
    if (Status s = lineClear(); !s)
        return s.failure();
    if (Status s = m_link.send(QByteArrayLiteral("RI")); !s)
        return s.failure();
    return awaitReply(1);
}

Result<QByteArray> BoardCommands::readFour()
{
    if (Status s = lineClear(); !s)
        return s.failure();
    if (Status s = m_link.send(QByteArrayLiteral("RIRIRIRI")); !s)
        return s.failure();
    return awaitReply(4);
}

Result<QByteArray> BoardCommands::stepPast(int count)
{
    if (Status s = lineClear(); !s)
        return s.failure();
    if (Status s = m_link.send(QByteArray(count - 1, 'I') + "RI"); !s)
        return s.failure();
    return awaitReply(1);
}

Result<QByteArray> BoardCommands::writeByte(quint8 data)
{
    if (Status s = lineClear(); !s)
        return s.failure();
    if (Status s = m_link.send(QByteArrayLiteral("W")); !s)
        return s.failure();
    if (Status s = m_link.send(QByteArray(1, char(data))); !s)
        return s.failure();
    return awaitReply(1);
}
