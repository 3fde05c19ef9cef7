// SPDX-License-Identifier: GPL-3.0-or-later
// The board emulator's command handling on any bytes, in any chunks and at any times, with
// any fault switched on: it never answers more than was asked (plus the one injected extra),
// counts exactly the bytes that are no command, and falls idle once everything is due.
#include "engine.h"

#include <cstdint>
#include <cstdlib>

namespace {
// Reads the input front to back; past its end, zeros.
struct Input {
    const uint8_t *p;
    size_t n;
    quint8 byte()
    {
        if (!n)
            return 0;
        --n;
        return *p++;
    }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Input in{data, size};
    BoardConfig cfg = *BoardConfig::forChip(in.byte() % 3 == 0 ? "none" : in.byte() % 2 ? "89c51" : "89c52");
    const quint8 flags = in.byte();
    cfg.paced = flags & 1;
    cfg.programmingTime = flags & 2;
    auto fault = [&](quint8 bit) { return (flags & bit) ? int(in.byte() % 16) : -1; };
    cfg.silentAfter = fault(4);
    cfg.strayByte = fault(8);
    cfg.doubleReply = fault(16);
    cfg.dropReply = fault(32);
    cfg.strayAfter = fault(64);
    cfg.vanishAfter = fault(128);
    const int memorySize = cfg.size;

    BoardEngine e(cfg);
    qint64 now = 0;
    qint64 delivered = -1;
    int asked = 0;        // bytes that ask for a reply: R, S, and the data byte after W
    int notCommands = 0;  // bytes the board does not know
    bool awaitingData = false;
    QByteArray replies;
    while (in.n) {
        const int chunk = in.byte() % 9;
        QByteArray bytes;
        for (int i = 0; i < chunk && in.n; ++i)
            bytes.append(char(in.byte()));
        if (!e.vanished()) {
            for (char c : bytes) {
                if (awaitingData) {
                    awaitingData = false;
                    ++asked;
                } else if (c == 'W') {
                    awaitingData = true;
                } else if (c == 'R' || c == 'S') {
                    ++asked;
                } else if (!QByteArray("ZIE1").contains(c)) {
                    ++notCommands;
                }
            }
        }
        e.receive(bytes, now);
        now += qint64(in.byte()) * 100000;
        const qint64 next = e.nextEventNs();
        if (next >= 0 && next < delivered)
            std::abort();  // time never runs backwards
        replies += e.takeDue(now);
        delivered = now;
    }
    // Everything still pending comes due; then nothing is left to happen.
    replies += e.takeDue(now + (qint64(1) << 40));
    if (e.nextEventNs() != -1)
        std::abort();
    const int extra = (cfg.strayByte >= 0) + (cfg.doubleReply > 0) + (cfg.strayAfter > 0);
    if (replies.size() > asked + extra || e.memory().size() != memorySize)
        std::abort();
    if (!e.vanished() && e.unexpected().size() != notCommands)
        std::abort();
    return 0;
}
