// SPDX-License-Identifier: GPL-3.0-or-later
// Chip erase and lock bits over the board's command set, and the judgement of a signature.
#include "wholechip.h"

#include <QObject>

namespace {
// The board answers neither "E" nor "1": the only evidence of a failure is a port that is
// not open, refuses the byte, or is lost while the byte is still on its way out.
Status sendCommand(BoardCommands &board, const QString &operation, const std::function<Status()> &send)
{
    SerialLink &link = board.link();
    Status sent = send();
    if (sent) {
        link.drain();
        if (!link.isOpen())
            sent = link.lossFailure();
    }
    if (sent)
        return {};
    return Failure{QObject::tr("%1 was not carried out: %2.\n\nCheck the cable and the serial adapter; the port is "
                               "opened again at the next command.")
                       .arg(operation, sent.failure().message),
                   sent.failure().kind};
}

}  // namespace

ChipCheck checkChip(const IdentifyOutcome &id, const ChipInfo *wanted)
{
    if (socketEmpty(id.reply))
        return ChipCheck::NoChip;
    if (!id.chip)
        return ChipCheck::UnknownChip;
    if (wanted && wanted != id.chip)
        return ChipCheck::OtherChip;
    return ChipCheck::Fine;
}

Status eraseDevice(BoardCommands &board)
{
    return sendCommand(board, QObject::tr("Chip erase"), [&] { return board.eraseChip(); });
}

Status lockDevice(BoardCommands &board, int bits)
{
    return sendCommand(board, QObject::tr("Lock-bit programming"), [&]() -> Status {
        for (int i = 0; i < bits; ++i) {
            if (Status s = board.programLockBit(); !s)
                return s;
        }
        return {};
    });
}

bool boardSaysEmpty(const QByteArray &reply)
{
    return reply == QByteArray(3, char(0xFF));
}

bool socketEmpty(const QByteArray &reply)
{
    return reply.size() < 3 || reply == QByteArray(3, char(0xFF)) || reply == QByteArray(3, '\0');
}
