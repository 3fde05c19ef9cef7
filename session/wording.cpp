// SPDX-License-Identifier: GPL-3.0-or-later
// The sentences of the outcomes. Some keep a wording users know from the first versions of
// the program, odd spelling included ("succesfully", "expexted", "are occurred"): scripts
// and habits look for them as they are.
#include "wording.h"

#include "identify.h"
#include "wholechip.h"

#include <QObject>

namespace wording {
namespace {
QString tr(const char *text)
{
    return QObject::tr(text);
}
QString h(int value)
{
    return hexNumber(value);
}

// A command's own result, as both front ends show it.
QString done(const Outcome &o, Audience audience)
{
    const bool shell = audience == Audience::Shell;
    switch (o.operation) {
    case Operation::Identify:
        return o.chip ? QString::fromLatin1(o.chip->signature) + QLatin1Char('\n') + QString::fromLatin1(o.chip->caption)
                      : QString();
    case Operation::BlankCheck:
        return QStringLiteral("Device is erased.");
    case Operation::Verify:
        return QStringLiteral("Equal.");
    case Operation::Write:
        return QStringLiteral("Device was succesfully programmed.");  // kept as users know it
    case Operation::Erase:
        return shell ? tr("Chip erase sent.") : QString();
    case Operation::Lock:
        if (!shell)
            return {};
        return o.lockBits == 1 ? tr("Lock bit 1 sent.") : tr("Lock bits 1 to %1 sent.").arg(o.lockBits);
    case Operation::Program:
        if (o.lockBits == 1)
            return tr("programmed, verified and locked with lock bit 1 (%1).").arg(chipName(*o.chip));
        if (o.lockBits > 1)
            return tr("programmed, verified and locked with lock bits 1 to %1 (%2).").arg(o.lockBits).arg(chipName(*o.chip));
        return tr("programmed and verified (%1).").arg(chipName(*o.chip));
    case Operation::Read:
        return {};
    }
    return {};
}

// Why program stopped where it did, with what that means for the chip.
QString programEnd(const Outcome &o, Audience audience)
{
    const QString nothing = tr("nothing was written.");
    switch (o.kind) {
    case Outcome::NoChip:
    case Outcome::UnknownChip:
    case Outcome::OtherChip:
        return tr("%1: %2").arg(judgement(o), nothing);
    case Outcome::TooLong:
        return tr("The image holds %1 bytes, more than the %2's %3: %4")
            .arg(o.imageSize)
            .arg(chipName(*o.chip))
            .arg(o.chip->size)
            .arg(nothing);
    case Outcome::DataFound: {
        const QString where =
            tr("Blank check: Device contains data at %1h (read %2h)").arg(h(o.address), h(o.read));
        return o.erased ? tr("%1 after the erase: the chip did not erase.").arg(where)
                        : tr("%1: %2 Erase the chip first.").arg(where, nothing);
    }
    case Outcome::WrongByte:
        return tr("Write: %1 read back wrong, the first at %2h (written %3h, read %4h).")
            .arg(o.wrongBytes == 1 ? tr("1 byte") : tr("%1 bytes").arg(o.wrongBytes), h(o.address), h(o.expected),
                 h(o.read));
    case Outcome::Difference:
        return tr("Verify: the chip differs from the image at %1h (expected %2h, read %3h).")
            .arg(h(o.address), h(o.expected), h(o.read));
    default:
        return failure(o.failure, audience);
    }
}
}  // namespace

QString eraseCommand(Audience audience)
{
    return audience == Audience::Shell ? QStringLiteral("voralith-cli erase") : QStringLiteral("Chip Erase");
}

QString failure(const Failure &f, Audience audience)
{
    const bool shell = audience == Audience::Shell;
    const QString port = portLabel(f.port);
    QString text = f.message;
    if (f.halfWritten)
        text += QLatin1Char(' ') +
                tr("The chip may be half-written: erase it (%1), then write again.").arg(eraseCommand(audience));
    if (f.kind == Failure::NoSuchPort)
        text += QStringLiteral("\n\n") +
                (shell ? tr("Give the board's device with --port DEVICE (voralith-cli ports lists them), or set "
                            "%1=DEVICE in the section [Ports] of the settings file and give --port %1.")
                             .arg(port)
                       : tr("Choose another port in the Comm port menu. To point %1 at a device, start the program "
                            "with --com %2=DEVICE, or set %1=DEVICE in the section [Ports] of the settings file.")
                             .arg(port)
                             .arg(f.port));
    if (f.kind == Failure::PortInUse)
        text += QLatin1Char(' ') +
                (shell ? tr("Close that program, then run the command again.")
                       : tr("Close that program, then choose %1 again in the Comm port menu.").arg(port));
    return text + f.hint;
}

QString judgement(const Outcome &o)
{
    const QByteArray &reply = o.signature;
    const QString signature = signatureText(reply);
    if (socketEmpty(reply)) {
        // A short reply is told in hex: its raw bytes would be control characters.
        if (reply.isEmpty())
            return tr("No chip in the socket, or no board on the port (no reply to the signature read)");
        if (reply.size() < 3)
            return tr("No chip in the socket, or no board on the port (%1 of the 3 signature bytes came: %2)")
                .arg(reply.size())
                .arg(QString::fromLatin1(reply.toHex(' ').toUpper()));
        return tr("No chip in the socket (signature %1)").arg(signature);
    }
    if (!o.chip)
        return tr("Device not present or defective (signature %1)").arg(signature);
    if (o.wanted && o.wanted != o.chip)
        return tr("The chip is an %1 (signature %2), not the %3 asked for")
            .arg(chipName(*o.chip), signature, chipName(*o.wanted));
    return {};
}

QString portRefusal(const PortRequest &r)
{
    switch (r.refusal) {
    case PortRequest::None: break;
    case PortRequest::ComOutOfRange: return tr("--port ComN takes N from 1 to 255, not \"%1\".").arg(r.given);
    case PortRequest::EmptyName: return tr("--port needs a device or ComN; the name given is empty.");
    case PortRequest::NoMapping: return tr("voralith: --com takes N=DEVICE (N from 1 to 255), not \"%1\"").arg(r.given);
    case PortRequest::NoPortNumber:
        return tr("--com takes a port number from 1 to 255, or N=DEVICE, not \"%1\".").arg(r.given);
    }
    return {};
}

QString chipName(const ChipInfo &chip)
{
    return QStringLiteral("AT") + QString::fromLatin1(chip.name).toUpper();
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

QString text(const Outcome &o, Audience audience)
{
    const bool shell = audience == Audience::Shell;
    if (o.kind == Outcome::Done)
        return done(o, audience);
    // The window tells every identification that found no chip to work on alike.
    if (!shell && o.operation == Operation::Identify)
        return QStringLiteral("Device not present or defective.");
    if (o.kind == Outcome::NotOpened || o.kind == Outcome::NoteRefused || o.kind == Outcome::Withheld)
        return failure(o.failure, audience);
    if (o.kind == Outcome::LinkFailure && o.step == Step::Identify)
        return !shell                           ? QStringLiteral("Device not present or defective.")
               : o.failure.kind == Failure::Stopped ? tr("Identify %1.").arg(o.failure.message)
                                                    : tr("Identify stopped: %1.").arg(o.failure.message);
    if (o.operation == Operation::Program)
        return programEnd(o, audience);
    switch (o.kind) {
    case Outcome::NoChip:
    case Outcome::UnknownChip:
    case Outcome::OtherChip:
        return shell ? judgement(o) + QLatin1Char('.') : QStringLiteral("Device not present or defective.");
    case Outcome::DataFound:
        return shell ? tr("Device contains data at %1h (read %2h).").arg(h(o.address), h(o.read))
                     : QStringLiteral("Device contains data.");
    case Outcome::WrongByte:
        return QStringLiteral("Some errors are occurred.");  // kept as users know it
    case Outcome::Difference:
        // kept as users know it
        return QStringLiteral("It isn't the same : %1 h expexted %2h read %3h").arg(h(o.address), h(o.expected), h(o.read));
    default:
        return failure(o.failure, audience);
    }
}

QString halfWritten(const UnfinishedChange &change, Audience audience)
{
    return halfWrittenWarning(change, eraseCommand(audience));
}

QString wrongByte(const Mismatch &m)
{
    return QStringLiteral("Error in %1h : write %2h read %3h").arg(h(m.address), h(m.written), h(m.read));
}

QString tooLong(const QString &path, qsizetype size, const ChipInfo &chip)
{
    return tr("%1 holds %2 bytes, more than the %3's %4: nothing was done.")
        .arg(path)
        .arg(size)
        .arg(chipName(chip))
        .arg(chip.size);
}
}  // namespace wording
