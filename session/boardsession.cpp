// SPDX-License-Identifier: GPL-3.0-or-later
// The session of one board: each command opens the port if it must, runs the core's
// exchange and keeps the note of a change around it.
#include "boardsession.h"

#include "identify.h"
#include "wholechip.h"

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

void setDataFound(Outcome &out, const BlankFound &f)
{
    out.kind = Outcome::DataFound;
    out.address = f.address;
    out.read = f.value;
}

void setDifference(Outcome &out, const Difference &d)
{
    out.kind = Outcome::Difference;
    out.address = d.address;
    out.expected = d.expected;
    out.read = d.read;
}

Progress sink(const ProgressFor &progressFor, Step step)
{
    return progressFor ? progressFor(step) : Progress{};
}

namespace {
Outcome begun(Operation operation, Step step, const ChipInfo *chip)
{
    Outcome out;
    out.operation = operation;
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
    switch (checkChip(id, wanted)) {
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
    Outcome out = begun(Operation::Identify, Step::Identify, nullptr);
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

Outcome BoardSession::blankCheck(const ProgressFor &progressFor)
{
    Outcome out = begun(Operation::BlankCheck, Step::BlankCheck, m_chip);
    if (Status s = open(); !s)
        return ended(out, Outcome::NotOpened, s.failure());
    BlankFound found;
    const auto blank = ::blankCheck(m_board, m_chip ? m_chip->size : 0, sink(progressFor, Step::BlankCheck), &found);
    if (!blank)
        return ended(out, Outcome::LinkFailure, blank.failure());
    if (!blank.value()) {
        setDataFound(out, found);
        return out;
    }
    return out;
}

Outcome BoardSession::read(const ProgressFor &progressFor)
{
    Outcome out = begun(Operation::Read, Step::Read, m_chip);
    if (Status s = open(); !s)
        return ended(out, Outcome::NotOpened, s.failure());
    auto data = readDevice(m_board, m_chip ? m_chip->size : 0, sink(progressFor, Step::Read));
    if (!data)
        return ended(out, Outcome::LinkFailure, data.failure());
    out.data = std::move(data.value());
    return out;
}

Outcome BoardSession::verify(const QByteArray &image, const ProgressFor &progressFor)
{
    Outcome out = begun(Operation::Verify, Step::Verify, m_chip);
    if (Status s = open(); !s)
        return ended(out, Outcome::NotOpened, s.failure());
    const auto result = verifyDevice(m_board, image, sink(progressFor, Step::Verify));
    if (!result)
        return ended(out, Outcome::LinkFailure, result.failure());
    if (const auto &d = result.value())
        setDifference(out, *d);
    return out;
}

std::optional<Outcome> BoardSession::beginChange(Operation operation, const QString &noteName,
                                                 std::optional<ChipChange> *change)
{
    const Step step = operation == Operation::Write  ? Step::Write
                      : operation == Operation::Lock ? Step::Lock
                                                     : Step::Erase;
    Outcome out = begun(operation, step, m_chip);
    if (Status s = open(); !s)
        return ended(out, Outcome::NotOpened, s.failure());
    auto note = ChipChange::begin(m_workFolder, m_link.devicePath(), noteName);
    if (!note)
        return ended(out, Outcome::NoteRefused, note.failure());
    change->emplace(std::move(note.value()));
    return std::nullopt;
}

Outcome BoardSession::write(const QByteArray &image, const ProgressFor &progressFor,
                            const std::function<void(const Mismatch &)> &onMismatch, int paddedFrom)
{
    std::optional<ChipChange> change;
    if (auto refused = beginChange(Operation::Write, QStringLiteral("Write"), &change))
        return *refused;
    Outcome out = begun(Operation::Write, Step::Write, m_chip);
    std::optional<Mismatch> first;
    const auto written = writeDevice(m_board, image, m_chip ? m_chip->size : 0, sink(progressFor, Step::Write), [&](const Mismatch &m) {
        if (!first)
            first = m;
        if (onMismatch)
            onMismatch(m);
    }, paddedFrom);
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
    if (auto refused = beginChange(Operation::Erase, QStringLiteral("Chip Erase"), &change))
        return *refused;
    Outcome out = begun(Operation::Erase, Step::Erase, m_chip);
    if (Status s = eraseDevice(m_board); !s)
        return ended(out, Outcome::LinkFailure, s.failure());
    change->completed();
    return out;
}

Outcome BoardSession::lock(int bits)
{
    std::optional<ChipChange> change;
    if (auto refused = beginChange(Operation::Lock, QStringLiteral("lock bit programming"), &change))
        return *refused;
    Outcome out = begun(Operation::Lock, Step::Lock, m_chip);
    out.lockBits = bits;
    if (Status s = lockDevice(m_board, bits); !s)
        return ended(out, Outcome::LinkFailure, s.failure());
    change->completed();
    return out;
}
