// SPDX-License-Identifier: GPL-3.0-or-later
// Serves a board engine on a pseudo-terminal, so that the program (or any serial tool)
// opens the emulated board by a device path exactly as it opens a real port.
#pragma once

#include "engine.h"
#include "result.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

class QSocketNotifier;

class PtyServer : public QObject {
    Q_OBJECT
public:
    // After an injected vanish, the last replies get this long to reach the host before
    // the device goes: closing the master throws away what the host has not read yet.
    static constexpr int vanishGraceMs = 50;

    explicit PtyServer(std::shared_ptr<BoardEngine> engine, QObject *parent = nullptr);
    ~PtyServer() override;

    // Opens the pseudo-terminal and, when linkPath is given, points a symbolic link there
    // (an existing link is replaced; any other file in the way is an error). When this
    // returns success the board answers whatever is sent to path().
    Status start(const QString &linkPath = QString());
    // Closes the device and removes the link; a host that has it open sees it vanish.
    void stop();

    bool isServing() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }
    QString linkPath() const { return m_linkPath; }  // absolute, empty without a link
    QString path() const { return m_linkPath.isEmpty() ? m_slavePath : m_linkPath; }
    BoardEngine &engine() { return *m_engine; }

signals:
    void received(const QByteArray &bytes);  // every byte the host sent, as it came
    void vanished();                         // the injected vanish has taken the device away

private:
    void onReadable();
    void onWritable();
    void pump();
    void flushOut();
    void scheduleNext();
    void stopTimer();
    Status makeLink(const QString &linkPath);
    void removeLink();

    std::shared_ptr<BoardEngine> m_engine;
    int m_master = -1;
    int m_slave = -1;  // held open so the master never sees a hang-up between two clients
    QString m_slavePath;
    QString m_linkPath;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    // When the next reply is due. Paced replies are due a fraction of a millisecond
    // apart, finer than a QTimer counts, so Linux uses a timer descriptor instead.
    QTimer m_timer;
    int m_timerFd = -1;
    QSocketNotifier *m_timerNotifier = nullptr;
    QElapsedTimer m_clock;
    QByteArray m_pending;  // due replies the pseudo-terminal has not taken yet
    bool m_vanishing = false;
};
