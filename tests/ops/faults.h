// SPDX-License-Identifier: GPL-3.0-or-later
// The fault suite's rule, for the window's table and the command line's: each command against
// each fault of a board or a line, the reply it hits, and what the user must be told then.
#pragma once

#include "engine.h"
#include "operations.h"
#include "testfiles.h"

#include <QByteArray>
#include <QRegularExpression>

namespace faults {
// Short limits, so that a silent board ends a row at once; set before anything reads them.
constexpr int limitMs = 400;
inline void useShortLimits()
{
    qputenv("VORALITH_LIMITS", QStringLiteral("reply=%1,identify=%1").arg(limitMs).toLatin1());
}

enum Op { Identify, Blank, Read, Verify, Write, Erase, Lock, Program };
inline const char *const opNames[] = {"Identify", "Blank check", "Read", "Verify", "Write", "Chip erase",
                                      "Lock bit 1", "Program"};
constexpr int imageSize = 64;
constexpr int chipSize = 4096;
// The replies each command asks for itself; Program's own Identify included.
constexpr int replies[] = {3, chipSize, chipSize, imageSize, imageSize, 0, 0, 3 + chipSize + 2 * imageSize};

// The image Verify, Write and Program take; the chip (an AT89C51) each command starts from.
inline QByteArray image() { return pattern(imageSize); }
inline QByteArray content(Op op)
{
    return op == Blank || op == Write ? QByteArray(chipSize, char(0xFF)) : pattern(chipSize);
}

// The exact bytes of a sound exchange; Verify reads as many bytes as `image` holds.
inline QByteArray wire(Op op, const QByteArray &image = {}, int size = chipSize)
{
    QByteArray w = "Z";
    switch (op) {
    case Identify: return w + QByteArray(48, 'I') + "SISIS";
    case Blank: return w + QByteArray("RIRIRIRI").repeated(size / 4);
    case Read: return w + QByteArray("RI").repeated(size);
    case Verify: return w + QByteArray("RI").repeated(image.size());
    case Write:
        for (char b : image)
            w += QByteArray("W") + b + "I";
        return w;
    case Erase: return "E";
    default: return "1";
    }
}

// The bytes of a Write of `image` whose addresses from `paddedFrom` up to its next byte that
// is not FF were added as padding: stepped past 256 at a time, each run closed by "RI".
inline QByteArray paddedWrite(const QByteArray &image, int paddedFrom)
{
    int end = paddedFrom;
    while (end < image.size() && quint8(image.at(end)) == 0xFF)
        ++end;
    QByteArray w = wire(Write, image.left(paddedFrom));
    for (int a = paddedFrom; a < end; a += 256)
        w += QByteArray(std::min(256, end - a) - 1, 'I') + "RI";
    return w + wire(Write, image.mid(end)).mid(1);
}

enum Fault {
    SilentStart, SilentFirst, SilentMiddle, SilentLast, StrayBefore, StrayLate, DoubleTogether, DoubleLate,
    Dropped, WrongByte, SlowUnder, SlowOver, Vanish, FaultCount
};
inline const char *const faultNames[] = {
    "silent from the start", "silent after the first reply", "silent after a middle reply",
    "silent before the last reply", "stray byte before the first command", "late stray byte in the middle",
    "middle reply doubled together", "last reply doubled late", "middle reply dropped", "wrong byte at 20h",
    "middle reply just under the limit", "middle reply just over the limit", "port vanishes in the middle"};

// What the user must be told: the outcome of a sound exchange, a difference (a byte given
// wrong at wrongAt), or an end: no answer, replies out of step, the port lost, no chip.
enum Seen { Fine, Differs, NoAnswer, OutOfStep, Lost, NoChip };
constexpr int wrongAt = 0x20;

struct Case {
    BoardConfig board;
    Seen seen = Fine;
    int reply = 0;  // the command's own reply (from 1) whose address is told; 0: one near it
};

// `shell`: on the command line, where every command but identify and program identifies
// first (its own first reply is then the board's fourth), and the port is opened anew.
inline Case make(Op op, Fault f, bool shell)
{
    const int first = shell && op != Identify && op != Program ? 4 : 1;
    const int n = replies[op], mid = n ? n / 2 + 1 : 1, last = n ? n : 1;
    Case c{*BoardConfig::forChip(QStringLiteral("89c51"))};
    BoardConfig &b = c.board;
    auto at = [&](int k) { return first - 1 + k; };
    // At 9600 baud (paced) a late byte comes ahead of the next reply and is taken for it:
    // so are Verify and Write tried; the others get it 20 ms late, with the next reply.
    const bool paced = n == imageSize, late = !paced;
    switch (f) {
    case SilentStart: b.silentAfter = 0; c.seen = first > 1 ? NoChip : NoAnswer; c.reply = 1; break;
    case SilentFirst: b.silentAfter = at(1); c.seen = NoAnswer; c.reply = 2; break;
    case SilentMiddle: b.silentAfter = at(mid); c.seen = NoAnswer; c.reply = mid + 1; break;
    case SilentLast: b.silentAfter = at(last - 1); c.seen = NoAnswer; c.reply = last; break;
    case StrayBefore: b.strayByte = 0xAA; c.seen = shell ? NoChip : OutOfStep; c.reply = 1; break;
    case StrayLate: b.strayAfter = at(mid); b.paced = paced; b.lateMs = 20 * late; c.seen = OutOfStep; break;
    case DoubleTogether: b.doubleReply = at(mid); c.seen = OutOfStep; break;
    case DoubleLate: b.doubleReply = at(last); b.paced = paced; b.lateMs = 20 * late; c.seen = OutOfStep; break;
    case Dropped: b.dropReply = at(mid); c.seen = NoAnswer; c.reply = mid; break;
    case WrongByte: b.wrongAddress = wrongAt; c.seen = Differs; break;
    case SlowUnder: b.slowReply = at(mid); b.slowMs = limitMs - 150; break;
    case SlowOver: b.slowReply = at(mid); b.slowMs = limitMs + 150; c.seen = NoAnswer; c.reply = mid; break;
    case Vanish: b.vanishAfter = at(n ? mid : 0); c.seen = Lost; break;
    case FaultCount: break;
    }
    // Erase and lock bits read nothing: a port that vanishes as they leave cannot be told,
    // since the board never answers them.
    if (n == 0 && c.seen != NoChip)
        c.seen = Fine;
    // Identify tells no reason; its signature text takes the first, next-to-last and last
    // byte, so a doubled reply still names the chip; it reads no flash.
    if (op == Identify || (op == Program && c.reply >= 1 && c.reply <= 3))
        c.seen = c.seen == Fine || c.seen == Differs || f == DoubleTogether || f == DoubleLate ? Fine
                 : c.seen == Lost                                                            ? Lost
                                                                                             : NoChip;
    return c;
}

// The pattern of the message that ends a command early: which step, where, and why.
inline QString endPattern(Op op, const Case &c)
{
    const QString name = op == Program ? QStringLiteral("(Blank check|Write|Verify)") : QString::fromLatin1(opNames[op]);
    const QString where = !c.reply || op == Program ? QStringLiteral("[0-9A-F]+")
                                                    : hexNumber(op == Blank ? (c.reply - 1) / 4 * 4 : c.reply - 1);
    const QString why = c.seen == NoAnswer ? "the board did not answer within " + QString::number(limitMs / 1000.0) + " seconds\\."
                        : c.seen == OutOfStep ? QStringLiteral("the board sent \\d+ bytes? more than was asked, so its "
                                                               "replies are out of step\\.")
                                              : QStringLiteral("the serial port .* was lost");
    return "^" + name + " stopped at address " + where + "h: " + why;
}
}  // namespace faults
