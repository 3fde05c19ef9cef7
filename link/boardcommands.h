// The programmer board's command set. The board keeps an address counter, so no address
// is ever sent: "Z" sets it to 0, "I" moves it on. Every command that the board answers
// goes through one exchange that waits, with a deadline, for the number of reply bytes
// expected; the reply is whatever was waiting then, taken whole.
#pragma once

#include "result.h"
#include "seriallink.h"

#include <QByteArray>
#include <QDeadlineTimer>

class BoardCommands {
public:
    explicit BoardCommands(SerialLink &link) : m_link(link) {}
    SerialLink &link() { return m_link; }

    // Commands without a reply.
    Status resetAddress() { return m_link.send(QByteArrayLiteral("Z")); }
    Status nextAddress() { return m_link.send(QByteArrayLiteral("I")); }
    Status eraseChip() { return m_link.send(QByteArrayLiteral("E")); }
    Status programLockBit() { return m_link.send(QByteArrayLiteral("1")); }

    // "SISIS": the signature bytes at the counter and the two addresses after it. Waits
    // until three bytes are in or the deadline passes; a late or short reply is not a
    // failure here, the caller judges what came. Fails only when the port is lost.
    Result<QByteArray> readSignature(QDeadlineTimer deadline);

    // "RI": the byte at the counter, then the counter moves on.
    Result<QByteArray> readNext();
    // "RIRIRIRI": four bytes in one command string.
    Result<QByteArray> readFour();
    // "W", then the data byte as a send of its own; the reply is the byte read back.
    Result<QByteArray> writeByte(quint8 data);

    // First byte of a reply; a reply that is empty stands for the byte 00.
    static quint8 firstByte(const QByteArray &reply)
    {
        return reply.isEmpty() ? 0 : quint8(reply.at(0));
    }

private:
    Result<QByteArray> awaitReply(int expected);
    SerialLink &m_link;
};
