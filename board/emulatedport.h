// SPDX-License-Identifier: GPL-3.0-or-later
// The board emulator as a QIODevice in this process: what the serial link writes goes to
// the engine, replies arrive later through the event loop with readyRead, as from a port.
#pragma once

#include "engine.h"

#include <QElapsedTimer>
#include <QIODevice>
#include <QList>
#include <QTimer>
#include <memory>

class EmulatedPort : public QIODevice {
    Q_OBJECT
public:
    // The engine is shared so that a test can look at the board after the link is gone.
    explicit EmulatedPort(std::shared_ptr<BoardEngine> engine, QObject *parent = nullptr);

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return m_rx.size() + QIODevice::bytesAvailable(); }

    // Every write the host made, one entry per call: a command string is one write.
    const QList<QByteArray> &writes() const { return m_writes; }
    BoardEngine &engine() { return *m_engine; }

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;

private:
    void pump();
    std::shared_ptr<BoardEngine> m_engine;
    QElapsedTimer m_clock;
    QTimer m_timer;
    QByteArray m_rx;
    QList<QByteArray> m_writes;
};
