// SPDX-License-Identifier: GPL-3.0-or-later
// The programmer board's command set. The board keeps an address counter, so no address
// is ever sent: "Z" sets it to 0, "I" moves it on. With no framing on the line, byte
// counts and time are the only evidence that a reply answers its request: a read or a
// write goes out only when nothing is waiting, waits with a deadline for exactly the
// bytes it asks for, and anything more ends it as out of step.
#pragma once

#include "result.h"
#include "seriallink.h"

#include <QByteArray>
#include <QDeadlineTimer>

class BoardCommands {
public:
    explicit BoardCommands(SerialLink &link) : m_link(link) {}
    SerialLink &link() { return m_link; }

    // Commands without a reply. "Z" starts every command that reads: what an earlier
    // command left on the line when it ended in the middle of an exchange is taken away
    // first (that end has been told by then).
    Status resetAddress();
    Status nextAddress() { return m_link.send(QByteArrayLiteral("I")); }
    Status eraseChip() { return m_link.send(QByteArrayLiteral("E")); }
    Status programLockBit() { return m_link.send(QByteArrayLiteral("1")); }

    // "SISIS": the signature bytes at the counter and the two addresses after it. Waits
    // until three bytes are in or the deadline passes; a late or short reply is not a
    // failure here, the caller judges what came (what was waiting counts with it). Fails
    // only when the port is lost. Whatever comes after it is taken away by the next "Z".
    Result<QByteArray> readSignature(QDeadlineTimer deadline);

    // "RI": the byte at the counter, then the counter moves on.
    Result<QByteArray> readNext();
    // "RIRIRIRI": four bytes in one command string.
    Result<QByteArray> readFour();
    // The counter moved on by `count` (1 to 256): "I" for each address but the last, then
    // "RI", whose one byte of reply (the byte at that last address) shows the board went
    // along. Far fewer bytes on the line than writing each address.
    Result<QByteArray> stepPast(int count);
    // "W", then the data byte as a send of its own; the reply is the byte read back.
    Result<QByteArray> writeByte(quint8 data);
    // The line must stay quiet for timeouts::quiet: a byte that comes meanwhile means
    // each reply may have answered the request before it (Failure::OutOfStep).
    Status expectQuiet();

    // First byte of a reply; a reply that is empty stands for the byte 00.
    static quint8 firstByte(const QByteArray &reply)
    {
        return reply.isEmpty() ? 0 : quint8(reply.at(0));
    }

private:
    Status lineClear();
    Result<QByteArray> awaitReply(int expected);
    Failure outOfStep(int extra);
    SerialLink &m_link;
    bool m_leftovers = false;  // an exchange ended before its reply was taken whole
};
