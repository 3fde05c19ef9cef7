// SPDX-License-Identifier: GPL-3.0-or-later
// The programmer board as real hardware behaves, without any I/O: bytes from the host go
// in with the time they arrive, reply bytes come out when their time has come. Used in
// process by the tests and benchmarks, and behind a pseudo-terminal by voralith-board.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <deque>
#include <optional>

struct BoardConfig {
    // Chip in the socket: its signature (at addresses 30h..32h) and flash size.
    // An empty signature means no chip: the board then reads FF everywhere.
    QByteArray signature = QByteArray::fromHex("1E52FF");
    int size = 8192;
    QByteArray image;  // initial flash content from address 0; the rest is erased (FF)

    bool paced = false;          // 9600 baud each way: about 1.04 ms per byte
    bool programmingTime = false;  // hold later commands while a byte, an erase or a lock bit is programmed

    // Injected faults; -1 switches one off. Replies are counted from 1.
    int silentAfter = -1;   // answer this many replies, then nothing (0: silent from the start)
    int strayByte = -1;     // one unasked byte waiting before the first command
    int strayAfter = -1;    // one unasked byte (strayValue) follows this reply on the line
    quint8 strayValue = 0x55;
    int doubleReply = -1;   // this reply is sent twice
    int lateMs = 0;         // a stray after a reply, or a reply's second copy, follows it this late
    int dropReply = -1;     // this reply is never sent
    int wrongAddress = -1;  // reads and read-backs at this address give wrongValue
    quint8 wrongValue = 0x00;
    int vanishAfter = -1;   // the port disappears after this many replies (0: at the first byte)
    int slowReply = -1;     // this reply leaves slowMs late; later ones queue behind it
    int slowMs = 0;

    // Chip presets: "89c51", "89c52", "none".
    static std::optional<BoardConfig> forChip(const QString &name);
};

class BoardEngine {
public:
    static constexpr qint64 byteTimeNs = 1041667;       // ten bits at 9600 baud
    static constexpr qint64 writeTimeNs = 1200000;      // one byte programmed and read back
    static constexpr qint64 eraseTimeNs = 20000000;     // chip erase
    static constexpr qint64 lockTimeNs = 1200000;       // one lock bit

    explicit BoardEngine(BoardConfig config = {});

    // Bytes written by the host at time nowNs (any monotonic clock, in nanoseconds).
    void receive(const QByteArray &bytes, qint64 nowNs);
    // Reply bytes that have reached the host by nowNs.
    QByteArray takeDue(qint64 nowNs);
    // When something next happens (a byte handled or delivered), or -1 when idle.
    qint64 nextEventNs() const;
    // The port has vanished (injected fault): nothing more goes either way.
    bool vanished() const { return m_vanished; }
    // The faults are over, as when a board is plugged back in: no more are injected, and
    // the board answers again. Bytes already on their way still arrive.
    void heal();

    // What the board holds, for tests and for saving on exit.
    const QByteArray &memory() const { return m_mem; }
    // Bytes that are no command of the board; a test that sees any has sent a wrong byte.
    const QByteArray &unexpected() const { return m_unexpected; }

private:
    void process(qint64 t, char c);
    void reply(qint64 t, quint8 value);
    quint8 readAt(int address) const;
    void advance(qint64 nowNs);

    BoardConfig m_cfg;
    QByteArray m_mem;
    int m_addr = 0;
    int m_lock = 0;
    bool m_awaitData = false;
    bool m_vanished = false;
    bool m_silent = false;
    int m_replies = 0;
    qint64 m_lastInNs = -1;   // when the last host byte finished arriving
    qint64 m_busyUntil = 0;   // programming in progress until then
    qint64 m_lineFreeNs = 0;  // the line to the host is busy until then
    std::deque<std::pair<qint64, char>> m_in;   // arrival time, byte
    std::deque<std::pair<qint64, char>> m_out;  // delivery time, byte
    QByteArray m_unexpected;
};
