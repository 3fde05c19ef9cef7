// SPDX-License-Identifier: GPL-3.0-or-later
// Identify device: the exchange and the signature text.
#include "identify.h"

#include "timeouts.h"

QString signatureText(const QByteArray &reply)
{
    if (reply.size() < 3)
        return QString::fromLatin1(reply);
    auto hex = [](char c) { return QString::number(quint8(c), 16).toUpper(); };
    return hex(reply.front()) + QLatin1Char(' ') + hex(reply.at(reply.size() - 2)) + QLatin1Char(' ') +
           hex(reply.back());
}

IdentifyOutcome identifyDevice(BoardCommands &board, const std::function<void()> &beforeEachStep)
{
    // The limit runs from the start of the command on a monotonic clock.
    const QDeadlineTimer deadline(timeouts::identify.value());
    IdentifyOutcome out;
    auto fail = [&](const Failure &f) {
        out.failure = f;
        return out;
    };
    if (Status s = board.resetAddress(); !s)
        return fail(s.failure());
    for (int i = 0; i < 0x30; ++i) {
        if (beforeEachStep)
            beforeEachStep();
        if (Status s = board.nextAddress(); !s)
            return fail(s.failure());
    }
    auto reply = board.readSignature(deadline);
    if (!reply)
        return fail(reply.failure());
    out.reply = reply.value();
    out.signature = signatureText(out.reply);
    out.chip = chipForSignature(out.signature);
    return out;
}
