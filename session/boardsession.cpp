// SPDX-License-Identifier: GPL-3.0-or-later
// The session of one board: each command opens the port if it must, runs the core's
// exchange and keeps the note of a change around it.
#include "boardsession.h"

#include "identify.h"
#include "program.h"

#include <QObject>

QString stepName(Step step)
{
    switch (step) {
    case Step::Identify:
        return QObject::tr("Identify");
    case Step::Erase:
        return QObject::tr("Erase");
    case Step::BlankCheck:
        return QObject::tr("Blank check");
    case Step::Read:
        return QObject::tr("Read");
    case Step::Write:
        return QObject::tr("Write");
    case Step::Verify:
        return QObject::tr("Verify");
    case Step::Lock:
        return QObject::tr("Lock bits");
    }
    return {};
}

void setWrongBytes(Outcome &out, int count, const Mismatch &first)
{
    out.kind = Outcome::WrongByte;
    out.wrongBytes = count;
    out.address = first.address;
    out.expected = first.written;
    out.read = first.read;
}

void setDifference(Outcome &out, const Difference &d)
{
    out.kind = Outcome::Difference;
    out.address = d.address;
    out.expected = d.expected;
    out.read = d.read;
}

namespace {
Outcome begun(Command command, Step step, const ChipInfo *chip)
{
    Outcome out;
    out.command = command;
    out.step = step;
    out.chip = chip;
    return out;
}

Outcome &ended(Outcome &out, Outcome::Kind kind, const Failure &why = {})
{
    out.kind = kind;
    out.failure = why;
    return out;
}
}  // namespace

BoardSession::BoardSession(QString workFolder) : m_workFolder(std::move(workFolder)) {}

QList<UnfinishedChange> BoardSession::unfinishedChanges() const
{
    return ::unfinishedChanges(m_workFolder, m_link.devicePath());
}

void BoardSession::judge(Outcome &out, const IdentifyOutcome &id, const ChipInfo *wanted)
{
    out.signature = id.reply;
    out.chip = id.chip;
    out.wanted = wanted;
    QString why;
    switch (checkChip(id, wanted, &why)) {
    case ChipCheck::NoChip:
        out.kind = Outcome::NoChip;
        break;
    case ChipCheck::UnknownChip:
        out.kind = Outcome::UnknownChip;
        break;
    case ChipCheck::OtherChip:
        out.kind = Outcome::OtherChip;
        break;
    case ChipCheck::Fine:
        out.kind = Outcome::Done;
        break;
    }
}

Outcome BoardSession::identify(const ChipInfo *wanted, const std::function<void()> &beforeEachStep)
{
    Outcome out = begun(Command::Identify, Step::Identify, nullptr);
    m_chip = nullptr;
    if (Status s = open(); !s)
        return ended(out, Outcome::NotOpened, s.failure());
    const IdentifyOutcome id = identifyDevice(m_board, beforeEachStep);
    if (id.failure) {
        out.signature = id.reply;
        return ended(out, Outcome::LinkFailure, *id.failure);
    }
    judge(out, id, wanted);
    if (out.ok())
        m_chip = id.chip;
    return out;
}

Outcome BoardSession::blankCheck(const Progress &progress)
{
    Outcome out = begun(Command::BlankCheck, Step::BlankCheck, m_chip);
    if (Status s = open(); !s)
        return ended(out, Outcome::NotOpened, s.failure());
    int dataAt = 0;
    const auto blank = ::blankCheck(m_board, m_chip ? m_chip->size : 0, progress, &dataAt);
    if (!blank)
        return ended(out, Outcome::LinkFailure, blank.failure());
    if (!blank.value()) {
        out.address = dataAt;
        return ended(out, Outcome::DataFound);
    }
    return out;
}

Outcome BoardSession::read(const Progress &progress)
{
    Outcome out = begun(Command::Read, Step::Read, m_chip);
    if (Status s = open(); !s)
        return ended(out, Outcome::NotOpened, s.failure());
    auto data = readDevice(m_board, m_chip ? m_chip->size : 0, progress);
    if (!data)
        return ended(out, Outcome::LinkFailure, data.failure());
    out.data = std::move(data.value());
    return out;
}

Outcome BoardSession::verify(const QByteArray &image, const Progress &progress)
{
    Outcome out = begun(Command::Verify, Step::Verify, m_chip);
    if (Status s = open(); !s)
        return ended(out, Outcome::NotOpened, s.failure());
    const auto result = verifyDevice(m_board, image, progress);
    if (!result)
        return ended(out, Outcome::LinkFailure, result.failure());
    if (const auto &d = result.value())
        setDifference(out, *d);
    return out;
}

std::optional<Outcome> BoardSession::beginChange(Command command, const QString &operation,
                                                 std::optional<ChipChange> *change)
{
    const Step step = command == Command::Write ? Step::Write : command == Command::Lock ? Step::Lock : Step::Erase;
    Outcome out = begun(command, step, m_chip);
    if (Status s = open(); !s)
        return ended(out, Outcome::NotOpened, s.failure());
    auto begun = ChipChange::begin(m_workFolder, m_link.devicePath(), operation);
    if (!begun)
        return ended(out, Outcome::NoteRefused, begun.failure());
    change->emplace(std::move(begun.value()));
    return std::nullopt;
}

Outcome BoardSession::write(const QByteArray &image, const Progress &progress,
                            const std::function<void(const Mismatch &)> &onMismatch)
{
    std::optional<ChipChange> change;
    if (auto refused = beginChange(Command::Write, QStringLiteral("Write"), &change))
        return *refused;
    Outcome out = begun(Command::Write, Step::Write, m_chip);
    std::optional<Mismatch> first;
    const auto written = writeDevice(m_board, image, m_chip ? m_chip->size : 0, progress, [&](const Mismatch &m) {
        if (!first)
            first = m;
        if (onMismatch)
            onMismatch(m);
    });
    // A Write that broke off keeps its note: the chip may be half-written.
    if (!written)
        return ended(out, Outcome::LinkFailure, written.failure());
    change->completed();
    if (first)
        setWrongBytes(out, written.value().mismatches, *first);
    return out;
}

Outcome BoardSession::erase()
{
    std::optional<ChipChange> change;
    if (auto refused = beginChange(Command::Erase, QStringLiteral("Chip Erase"), &change))
        return *refused;
    Outcome out = begun(Command::Erase, Step::Erase, m_chip);
    if (Status s = eraseDevice(m_board); !s)
        return ended(out, Outcome::LinkFailure, s.failure());
    change->completed();
    return out;
}

Outcome BoardSession::lock(int bits)
{
    std::optional<ChipChange> change;
    if (auto refused = beginChange(Command::Lock, QStringLiteral("lock bit programming"), &change))
        return *refused;
    Outcome out = begun(Command::Lock, Step::Lock, m_chip);
    out.lockBits = bits;
    if (Status s = lockDevice(m_board, bits); !s)
        return ended(out, Outcome::LinkFailure, s.failure());
    change->completed();
    return out;
}
