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

QString chipName(const ChipInfo &chip)
{
    return QStringLiteral("AT") + QString::fromLatin1(chip.name).toUpper();
}

ChipCheck checkChip(const IdentifyOutcome &id, const ChipInfo *wanted, QString *why)
{
    if (socketEmpty(id.reply)) {
        // A short reply is told in hex: its raw bytes would be control characters.
        *why = id.reply.isEmpty()
                   ? QObject::tr("No chip in the socket, or no board on the port (no reply to the signature read)")
               : id.reply.size() < 3
                   ? QObject::tr("No chip in the socket, or no board on the port (%1 of the 3 signature bytes came: %2)")
                         .arg(id.reply.size())
                         .arg(QString::fromLatin1(id.reply.toHex(' ').toUpper()))
                   : QObject::tr("No chip in the socket (signature %1)").arg(id.signature);
        return ChipCheck::NoChip;
    }
    if (!id.chip) {
        *why = QObject::tr("Device not present or defective (signature %1)").arg(id.signature);
        return ChipCheck::UnknownChip;
    }
    if (wanted && wanted != id.chip) {
        *why = QObject::tr("The chip is an %1 (signature %2), not the %3 asked for")
                   .arg(chipName(*id.chip), id.signature, chipName(*wanted));
        return ChipCheck::OtherChip;
    }
    why->clear();
    return ChipCheck::Fine;
}

namespace {
const QString kParagraph = QStringLiteral("\r\n\r\n");
}

QString confirmationText(const QString &explanation)
{
    const QString question = QStringLiteral("Are you sure ?");
    return explanation.isEmpty() ? question : explanation + kParagraph + question;
}

QString lockBitsExplanation(int bit)
{
    const QString protection =
        QStringLiteral("* MOVC instructions executed from external program memory are disabled") +
        QStringLiteral(" from fetching code bytes from internal memory, /EA is sampled and") +
        QStringLiteral(" latched on reset, and further programming of the Flash memory is disabled.");
    if (bit <= 1)
        return protection;
    if (bit == 2)
        return protection + kParagraph + QStringLiteral("* Verify is also disabled.");
    return protection + kParagraph + QStringLiteral("* Verify is disabled.") + kParagraph +
           QStringLiteral("* External execution is disabled.");
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
