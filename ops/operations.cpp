// SPDX-License-Identifier: GPL-3.0-or-later
// Blank check, Read, Verify and Write over the board's command set.
#include "operations.h"

#include <QObject>

QString hexNumber(int value)
{
    return QString::number(value, 16).toUpper();
}

bool replyEquals(const QByteArray &reply, quint8 expected)
{
    if (reply.isEmpty())
        return expected == 0;
    return reply.size() == 1 && quint8(reply.at(0)) == expected;
}

Failure operationFailure(const QString &operation, int address, const Failure &why, const QString &port,
                         const QString &consequence)
{
    const QString where = hexNumber(address) + QLatin1Char('h');
    const QString then = consequence.isEmpty() ? QString() : QLatin1Char(' ') + consequence;
    switch (why.kind) {
    case Failure::Stopped:
        return Failure{QObject::tr("%1 %2 at address %3.").arg(operation, why.message, where) + then, why.kind};
    case Failure::PortLost:
        return Failure{QObject::tr("%1 stopped at address %2: %3.").arg(operation, where, why.message) + then, why.kind,
                       QObject::tr("\n\nCheck the cable and the serial adapter; the port is opened again at the "
                                   "next command.")};
    case Failure::OutOfStep:
        return Failure{QObject::tr("%1 stopped at address %2: %3, so its replies are out of step.")
                               .arg(operation, where, why.message) +
                           then,
                       why.kind,
                       QObject::tr("\n\nIf this happens again, check the cable, and that no other program uses %1.")
                           .arg(port)};
    default:
        return Failure{QObject::tr("%1 stopped at address %2: %3.").arg(operation, where, why.message) + then, why.kind,
                       QObject::tr("\n\nCheck that the board is powered, that its cable is connected, and that %1 "
                                   "is the board's port.")
                           .arg(port)};
    }
}

namespace {
// What an early end means, by operation. A Write that ends early, for whatever reason,
// leaves the chip partly programmed (said where it is shown: the erase is named as each
// front end gives it); the others change nothing, but replies out of step leave no result
// that could be trusted.
QString consequenceOf(const char *operation, const Failure &why)
{
    const QLatin1String op(operation);
    if (why.kind != Failure::OutOfStep || op == QLatin1String("Write"))
        return {};
    if (op == QLatin1String("Read"))
        return QObject::tr("Nothing was stored: read again.");
    if (op == QLatin1String("Verify"))
        return QObject::tr("No difference is reported, since none could be trusted: verify again.");
    return QObject::tr("The check gives no verdict: run it again.");
}

Failure fail(BoardCommands &board, const char *operation, int address, const Failure &why);

// A stop the progress sink asked for, told as one asked of the link.
Failure stopped(BoardCommands &board, const char *operation, int address)
{
    return fail(board, operation, address, Failure{board.link().stopReason(), Failure::Stopped});
}

Failure fail(BoardCommands &board, const char *operation, int address, const Failure &why)
{
    Failure f = operationFailure(QObject::tr(operation), address, why, board.link().portName(),
                                 consequenceOf(operation, why));
    f.halfWritten = QLatin1String(operation) == QLatin1String("Write");
    f.address = address;
    return f;
}
}  // namespace

Result<bool> blankCheck(BoardCommands &board, int chipSize, const Progress &progress, BlankFound *found)
{
    if (Status s = board.resetAddress(); !s)
        return fail(board, "Blank check", 0, s.failure());
    const int groups = chipSize / 4;
    for (int g = 1; g <= groups; ++g) {
        if (!progress((g - 1) * 4, groups * 4))
            return stopped(board, "Blank check", (g - 1) * 4);
        auto reply = board.readFour();
        if (!reply)
            return fail(board, "Blank check", (g - 1) * 4, reply.failure());
        if (reply.value() != QByteArray(4, char(0xFF))) {
            if (Status q = board.expectQuiet(); !q)
                return fail(board, "Blank check", (g - 1) * 4, q.failure());
            if (found) {
                const QByteArray &four = reply.value();
                qsizetype i = 0;
                while (i < four.size() - 1 && quint8(four.at(i)) == 0xFF)
                    ++i;
                *found = {int((g - 1) * 4 + i), quint8(four.at(i))};
            }
            return false;
        }
    }
    if (groups > 0) {
        if (Status q = board.expectQuiet(); !q)
            return fail(board, "Blank check", (groups - 1) * 4, q.failure());
    }
    return true;
}

Result<QByteArray> readDevice(BoardCommands &board, int chipSize, const Progress &progress)
{
    if (Status s = board.resetAddress(); !s)
        return fail(board, "Read", 0, s.failure());
    if (!progress(0, chipSize))
        return stopped(board, "Read", 0);
    QByteArray data;
    data.reserve(chipSize);
    for (int i = 1; i <= chipSize; ++i) {
        auto reply = board.readNext();
        if (!reply)
            return fail(board, "Read", i - 1, reply.failure());
        data.append(char(BoardCommands::firstByte(reply.value())));
        if (!progress(i, chipSize))
            return stopped(board, "Read", i);
    }
    if (chipSize > 0) {
        if (Status q = board.expectQuiet(); !q)
            return fail(board, "Read", chipSize - 1, q.failure());
    }
    return data;
}

Result<std::optional<Difference>> verifyDevice(BoardCommands &board, const QByteArray &image,
                                               const Progress &progress)
{
    if (Status s = board.resetAddress(); !s)
        return fail(board, "Verify", 0, s.failure());
    if (!progress(0, image.size()))
        return stopped(board, "Verify", 0);
    for (int a = 0; a < image.size(); ++a) {
        auto reply = board.readNext();
        if (!reply)
            return fail(board, "Verify", a, reply.failure());
        const quint8 expected = quint8(image.at(a));
        if (!replyEquals(reply.value(), expected)) {
            if (Status q = board.expectQuiet(); !q)
                return fail(board, "Verify", a, q.failure());
            return std::optional<Difference>(Difference{a, expected, BoardCommands::firstByte(reply.value())});
        }
        if (!progress(a + 1, image.size()))
            return stopped(board, "Verify", a + 1);
    }
    if (!image.isEmpty()) {
        if (Status q = board.expectQuiet(); !q)
            return fail(board, "Verify", int(image.size()) - 1, q.failure());
    }
    return std::optional<Difference>();
}

Result<WriteOutcome> writeDevice(BoardCommands &board, const QByteArray &image, int chipSize,
                                 const Progress &progress, const std::function<void(const Mismatch &)> &onMismatch,
                                 int paddedFrom)
{
    if (Status s = board.resetAddress(); !s)
        return fail(board, "Write", 0, s.failure());
    WriteOutcome out;
    const int n = std::min<int>(image.size(), chipSize);
    int gapEnd = paddedFrom;
    while (gapEnd >= 0 && gapEnd < n && quint8(image.at(gapEnd)) == 0xFF)
        ++gapEnd;
    for (int a = 0; a < n; ++a) {
        if (a == paddedFrom) {
            // A chunk at a time, each closed by a reply, well within one reply's limit.
            while (a < gapEnd) {
                const int step = std::min(256, gapEnd - a);
                if (auto reply = board.stepPast(step); !reply)
                    return fail(board, "Write", a, reply.failure());
                a += step;
                if (!progress(a, image.size()))
                    return stopped(board, "Write", a);
            }
            if (a == n)
                break;
        }
        const quint8 data = quint8(image.at(a));
        auto reply = board.writeByte(data);
        if (!reply)
            return fail(board, "Write", a, reply.failure());
        if (!replyEquals(reply.value(), data)) {
            if (Status q = board.expectQuiet(); !q)
                return fail(board, "Write", a, q.failure());
            ++out.mismatches;
            if (onMismatch)
                onMismatch(Mismatch{a, data, BoardCommands::firstByte(reply.value())});
        }
        if (Status s = board.nextAddress(); !s)
            return fail(board, "Write", a, s.failure());
        ++out.written;
        if (!progress(a + 1, image.size()))
            return stopped(board, "Write", a + 1);
    }
    if (n > 0) {
        if (Status q = board.expectQuiet(); !q)
            return fail(board, "Write", n - 1, q.failure());
    }
    return out;
}
