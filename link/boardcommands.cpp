// Board commands and the one exchange every answered command goes through.
#include "boardcommands.h"

#include "timeouts.h"

#include <QObject>

namespace {
Failure waitFailure(SerialLink &link, SerialLink::WaitEnd end)
{
    switch (end) {
    case SerialLink::WaitEnd::Stopped:
        return Failure{QObject::tr("stopped"), Failure::Stopped};
    case SerialLink::WaitEnd::PortLost: {
        const QString why = link.lastLossReason();
        return Failure{why.isEmpty() ? QObject::tr("the serial port %1 was lost").arg(portLabel(link.portNumber()))
                                     : QObject::tr("the serial port %1 was lost (%2)")
                                           .arg(portLabel(link.portNumber()), why),
                       Failure::PortLost};
    }
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

Result<QByteArray> BoardCommands::awaitReply(int expected)
{
    const auto end = m_link.waitFor(expected, timeouts::reply);
    if (end != SerialLink::WaitEnd::Arrived)
        return waitFailure(m_link, end);
    return m_link.takeReceived();
}

Result<QByteArray> BoardCommands::readSignature(QDeadlineTimer deadline)
{
    if (Status s = m_link.send(QByteArrayLiteral("SISIS")); !s)
        return s.failure();
    const auto end = m_link.waitUntil(3, deadline);
    if (end == SerialLink::WaitEnd::PortLost || end == SerialLink::WaitEnd::Stopped)
        return waitFailure(m_link, end);
    return m_link.takeReceived();
}

Result<QByteArray> BoardCommands::readNext()
{
    if (Status s = m_link.send(QByteArrayLiteral("RI")); !s)
        return s.failure();
    return awaitReply(1);
}

Result<QByteArray> BoardCommands::readFour()
{
    if (Status s = m_link.send(QByteArrayLiteral("RIRIRIRI")); !s)
        return s.failure();
    return awaitReply(4);
}

Result<QByteArray> BoardCommands::writeByte(quint8 data)
{
    if (Status s = m_link.send(QByteArrayLiteral("W")); !s)
        return s.failure();
    if (Status s = m_link.send(QByteArray(1, char(data))); !s)
        return s.failure();
    return awaitReply(1);
}
