// SPDX-License-Identifier: GPL-3.0-or-later
// Chip erase, lock bits and program over the board's command set.
#include "program.h"

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

bool socketEmpty(const QByteArray &reply)
{
    return reply.size() < 3 || reply == QByteArray(3, char(0xFF)) || reply == QByteArray(3, '\0');
}

QString stepName(ProgramStep step)
{
    switch (step) {
    case ProgramStep::Identify:
        return QObject::tr("Identify");
    case ProgramStep::Erase:
        return QObject::tr("Erase");
    case ProgramStep::BlankCheck:
        return QObject::tr("Blank check");
    case ProgramStep::Write:
        return QObject::tr("Write");
    case ProgramStep::Verify:
        return QObject::tr("Verify");
    }
    return {};
}

ProgramOutcome programDevice(BoardCommands &board, const QByteArray &image, const ProgramOptions &options,
                             const std::function<Progress(ProgramStep)> &progressFor)
{
    ProgramOutcome out;
    auto start = [&](ProgramStep step) {
        out.step = step;
        return progressFor ? progressFor(step) : Progress{};
    };
    auto end = [&](ProgramOutcome::End why, const QString &message) {
        out.end = why;
        out.message = message;
        return out;
    };
    auto lost = [&](const Failure &f) {
        out.linkFailure = f.kind;
        return end(ProgramOutcome::LinkFailure, f.message);
    };
    const QString nothing = QObject::tr("nothing was written.");

    start(ProgramStep::Identify);
    out.id = identifyDevice(board);
    if (out.id.failure)
        return lost(Failure{QObject::tr("Identify stopped: %1.").arg(out.id.failure->message), out.id.failure->kind});
    QString why;
    switch (checkChip(out.id, options.chip, &why)) {
    case ChipCheck::NoChip:
        return end(ProgramOutcome::NoChip, QObject::tr("%1: %2").arg(why, nothing));
    case ChipCheck::UnknownChip:
        return end(ProgramOutcome::UnknownChip, QObject::tr("%1: %2").arg(why, nothing));
    case ChipCheck::OtherChip:
        return end(ProgramOutcome::OtherChip, QObject::tr("%1: %2").arg(why, nothing));
    case ChipCheck::Fine:
        break;
    }
    const ChipInfo *chip = out.id.chip;
    if (image.size() > chip->size)
        return end(ProgramOutcome::TooLong, QObject::tr("The image holds %1 bytes, more than the %2's %3: %4")
                                                .arg(image.size())
                                                .arg(chipName(*chip))
                                                .arg(chip->size)
                                                .arg(nothing));

    if (options.erase) {
        start(ProgramStep::Erase);
        if (Status s = eraseDevice(board); !s)
            return lost(s.failure());
    }

    int dataAt = 0;
    const auto blank = blankCheck(board, chip->size, start(ProgramStep::BlankCheck), &dataAt);
    if (!blank)
        return lost(blank.failure());
    if (!blank.value()) {
        const QString where = QObject::tr("Blank check: Device contains data in %1h to %2h")
                                  .arg(hexNumber(dataAt), hexNumber(dataAt + 3));
        return end(ProgramOutcome::DataFound,
                   options.erase ? QObject::tr("%1 after the erase: the chip did not erase.").arg(where)
                                 : QObject::tr("%1: %2 Erase the chip first.").arg(where, nothing));
    }

    const Progress writing = start(ProgramStep::Write);
    writing.maximum(image.size());
    std::optional<Mismatch> first;
    const auto written = writeDevice(board, image, chip->size, writing, [&](const Mismatch &m) {
        if (!first)
            first = m;
    });
    if (!written)
        return lost(written.failure());
    if (first)
        return end(ProgramOutcome::WrongByte,
                   QObject::tr("Write: %1 read back wrong, the first at %2h (written %3h, read %4h).")
                       .arg(written.value().mismatches == 1
                                ? QObject::tr("1 byte")
                                : QObject::tr("%1 bytes").arg(written.value().mismatches),
                            hexNumber(first->address), hexNumber(first->written), hexNumber(first->read)));

    const Progress verifying = start(ProgramStep::Verify);
    verifying.maximum(image.size() + 1);
    const auto verified = verifyDevice(board, image, verifying);
    if (!verified)
        return lost(verified.failure());
    if (const auto &d = verified.value())
        return end(ProgramOutcome::Difference, QObject::tr("Verify: the chip differs from the image at %1h (expected "
                                                           "%2h, read %3h).")
                                                   .arg(hexNumber(d->address), hexNumber(d->expected),
                                                        hexNumber(d->read)));
    return out;
}
