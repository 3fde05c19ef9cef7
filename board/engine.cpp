// SPDX-License-Identifier: GPL-3.0-or-later
// Board emulator core: an address counter over a flash array, with the line and
// programming times of real hardware when asked, and the faults a real setup shows.
#include "engine.h"

#include "chips.h"

#include <algorithm>

std::optional<BoardConfig> BoardConfig::forChip(const QString &name)
{
    BoardConfig c;
    const QString n = name.toLower().remove(QStringLiteral("at"));
    if (const ChipInfo *chip = chipForName(n)) {
        c.signature = QByteArray::fromHex(chip->signature);
        c.size = chip->size;
    } else if (n == QLatin1String("none")) {
        c.signature.clear();
        c.size = 8192;
    } else {
        return std::nullopt;
    }
    return c;
}

BoardEngine::BoardEngine(BoardConfig config) : m_cfg(std::move(config))
{
    m_mem = QByteArray(std::max(1, m_cfg.size), char(0xFF));
    const int n = std::min<int>(m_cfg.image.size(), m_mem.size());
    std::copy_n(m_cfg.image.constData(), n, m_mem.data());
    m_silent = m_cfg.silentAfter == 0;
    if (m_cfg.strayByte >= 0)
        m_out.emplace_back(0, char(m_cfg.strayByte));
}

void BoardEngine::heal()
{
    for (int *fault : {&m_cfg.silentAfter, &m_cfg.strayAfter, &m_cfg.doubleReply, &m_cfg.dropReply,
                       &m_cfg.wrongAddress, &m_cfg.vanishAfter, &m_cfg.slowReply})
        *fault = -1;
    m_silent = false;
    m_vanished = false;
}

void BoardEngine::receive(const QByteArray &bytes, qint64 nowNs)
{
    if (m_vanished)
        return;
    for (char c : bytes) {
        qint64 t = nowNs;
        if (m_cfg.paced)
            t = std::max(nowNs, m_lastInNs) + byteTimeNs;
        m_lastInNs = t;
        m_in.emplace_back(t, c);
    }
}

qint64 BoardEngine::nextEventNs() const
{
    qint64 next = -1;
    if (!m_in.empty())
        next = std::max(m_in.front().first, m_busyUntil);
    if (!m_out.empty())
        next = next < 0 ? m_out.front().first : std::min(next, m_out.front().first);
    return next;
}

void BoardEngine::advance(qint64 nowNs)
{
    if (m_vanished)
        m_in.clear();  // nothing reaches a board that is gone
    while (!m_in.empty() && !m_vanished) {
        const qint64 t = std::max(m_in.front().first, m_busyUntil);
        if (t > nowNs)
            break;
        const char c = m_in.front().second;
        m_in.pop_front();
        process(t, c);
    }
}

QByteArray BoardEngine::takeDue(qint64 nowNs)
{
    advance(nowNs);
    QByteArray due;
    while (!m_out.empty() && m_out.front().first <= nowNs) {
        due.append(m_out.front().second);
        m_out.pop_front();
    }
    return due;
}

quint8 BoardEngine::readAt(int address) const
{
    if (m_cfg.signature.isEmpty())
        return 0xFF;
    if (address == m_cfg.wrongAddress)
        return m_cfg.wrongValue;
    // Lock bit 2 disables verify: the chip no longer gives its code away.
    if (m_lock >= 2)
        return 0xFF;
    return quint8(m_mem.at(address % m_mem.size()));
}

void BoardEngine::reply(qint64 t, quint8 value)
{
    if (m_silent || m_vanished)
        return;
    ++m_replies;
    const bool drop = m_replies == m_cfg.dropReply;
    const int copies = drop ? 0 : (m_replies == m_cfg.doubleReply ? 2 : 1);
    const qint64 due = t + (m_replies == m_cfg.slowReply ? m_cfg.slowMs * 1000000LL : 0);
    auto send = [&](char byte, qint64 from) {
        qint64 at = from;
        if (m_cfg.paced) {
            at = std::max(from, m_lineFreeNs) + byteTimeNs;
            m_lineFreeNs = at;
        }
        m_out.emplace_back(at, byte);
    };
    const qint64 late = due + m_cfg.lateMs * 1000000LL;
    for (int i = 0; i < copies; ++i)
        send(char(value), i == 0 ? due : late);
    if (m_replies == m_cfg.strayAfter)
        send(char(m_cfg.strayValue), late);
    if (m_replies == m_cfg.silentAfter)
        m_silent = true;
    if (m_replies == m_cfg.vanishAfter) {
        m_vanished = true;
        m_in.clear();
    }
}

void BoardEngine::process(qint64 t, char c)
{
    // Gone after no reply at all: the first byte from the host finds no board.
    if (m_cfg.vanishAfter == 0) {
        m_vanished = true;
        m_in.clear();
        return;
    }
    if (m_awaitData) {
        m_awaitData = false;
        const int a = m_addr % m_mem.size();
        // Flash can only clear bits until the chip is erased; a locked chip refuses writes.
        if (!m_cfg.signature.isEmpty() && m_lock == 0)
            m_mem[a] = char(quint8(m_mem.at(a)) & quint8(c));
        qint64 done = t;
        if (m_cfg.programmingTime) {
            done = t + writeTimeNs;
            m_busyUntil = done;
        }
        reply(done, readAt(a));
        return;
    }
    switch (c) {
    case 'Z':
        m_addr = 0;
        break;
    case 'I':
        m_addr = (m_addr + 1) & 0xFFFF;
        break;
    case 'R':
        reply(t, readAt(m_addr % m_mem.size()));
        break;
    case 'S': {
        const int i = m_addr - 0x30;
        quint8 v = 0xFF;
        if (!m_cfg.signature.isEmpty() && i >= 0 && i < m_cfg.signature.size())
            v = quint8(m_cfg.signature.at(i));
        reply(t, v);
        break;
    }
    case 'W':
        m_awaitData = true;
        break;
    case 'E':
        if (!m_cfg.signature.isEmpty()) {
            m_mem.fill(char(0xFF));
            m_lock = 0;
        }
        if (m_cfg.programmingTime)
            m_busyUntil = t + eraseTimeNs;
        break;
    case '1':
        if (!m_cfg.signature.isEmpty() && m_lock < 3)
            ++m_lock;
        if (m_cfg.programmingTime)
            m_busyUntil = t + lockTimeNs;
        break;
    default:
        m_unexpected.append(c);
        break;
    }
}
