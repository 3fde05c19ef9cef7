// SPDX-License-Identifier: GPL-3.0-or-later
// The board emulator on any bytes, in any chunks, at any times, with any fault switched on:
// time never runs backwards, it never answers more than was asked (plus the one injected
// extra), counts exactly the bytes that are no command, and falls idle in the end.
#include "engine.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    size_t at = 0;
    auto next = [&]() -> quint8 { return at < size ? data[at++] : 0; };  // zeros past the end
    BoardConfig cfg = *BoardConfig::forChip(next() % 3 == 0 ? "none" : next() % 2 ? "89c51" : "89c52");
    const quint8 flags = next();
    cfg.paced = flags & 1;
    cfg.programmingTime = flags & 2;
    int *faults[] = {&cfg.silentAfter, &cfg.strayByte, &cfg.doubleReply, &cfg.dropReply, &cfg.strayAfter,
                     &cfg.vanishAfter};
    for (int i = 0; i < 6; ++i)
        *faults[i] = flags & (4 << i) ? next() % 16 : -1;
    BoardEngine e(cfg);
    qint64 now = 0;
    int asked = 0, notCommands = 0;  // asked: R, S and the data byte after W
    bool dataByte = false;
    QByteArray replies;
    while (at < size) {
        QByteArray bytes;
        for (int n = next() % 9; n > 0 && at < size; --n)
            bytes.append(char(next()));
        for (char c : e.vanished() ? QByteArray() : bytes) {
            asked += dataByte || c == 'R' || c == 'S';
            notCommands += !dataByte && !QByteArray("ZIEW1RS").contains(c);
            dataByte = !dataByte && c == 'W';
        }
        e.receive(bytes, now);
        if (e.nextEventNs() >= 0 && e.nextEventNs() < now)
            __builtin_trap();
        now += qint64(next()) * 100000;
        replies += e.takeDue(now);
    }
    replies += e.takeDue(now + (qint64(1) << 40));
    const int extra = (cfg.strayByte >= 0) + (cfg.doubleReply > 0) + (cfg.strayAfter > 0);
    if (e.nextEventNs() != -1 || replies.size() > asked + extra || e.memory().size() != cfg.size ||
        (!e.vanished() && e.unexpected().size() != notCommands))
        __builtin_trap();
    return 0;
}
