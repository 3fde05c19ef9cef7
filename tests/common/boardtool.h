// SPDX-License-Identifier: GPL-3.0-or-later
// voralith-board (VORALITH_BOARD_PATH) started as the run command starts it, strict: a
// byte it received that is no command of the board fails the test. With VORALITH_CLI_PATH,
// a voralith-cli that holds a device meanwhile.
#pragma once

#include <QDeadlineTimer>
#include <QProcess>
#include <QStringList>
#include <QTest>

struct BoardTool {
    static constexpr int unexpectedBytes = 3;  // its exit status under --strict
    QProcess proc;
    QString path;  // what the tool printed; empty if it printed nothing in time
    explicit BoardTool(const QStringList &args)
    {
        proc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        proc.start(QStringLiteral(VORALITH_BOARD_PATH), QStringList{QStringLiteral("--strict")} + args);
        QByteArray out;
        const QDeadlineTimer limit(10000);
        while (!out.contains('\n') && !limit.hasExpired() && proc.state() != QProcess::NotRunning)
            out += proc.waitForReadyRead(200) ? proc.readAllStandardOutput() : QByteArray();
        if (out.endsWith('\n') && out.count('\n') == 1)
            path = QString::fromLocal8Bit(out.chopped(1));
    }
    ~BoardTool()
    {
        if (proc.state() != QProcess::NotRunning && terminate() == unexpectedBytes)
            QTest::qFail("voralith-board received bytes that are no command of the board", __FILE__, __LINE__);
        if (proc.state() != QProcess::NotRunning) {
            proc.kill();
            proc.waitForFinished(5000);
        }
    }
    // Ends the tool as the run command does; its exit status, -1 if it did not end well.
    int terminate()
    {
        proc.terminate();
        return proc.waitForFinished(5000) && proc.exitStatus() == QProcess::NormalExit ? proc.exitCode() : -1;
    }
};

#ifdef VORALITH_CLI_PATH
// voralith-cli reading the chip through `device`, which it holds while it reads (on a board
// with --paced, for many seconds); killed at the end, as a command killed mid-way.
struct HoldingRead {
    QProcess proc;
    HoldingRead(const QString &device, const QString &into)
    {
        proc.setReadChannel(QProcess::StandardError);
        proc.start(QStringLiteral(VORALITH_CLI_PATH), {QStringLiteral("--port"), device, QStringLiteral("read"), into});
        QByteArray err;
        const QDeadlineTimer limit(10000);
        while (!err.contains("Read...") && !limit.hasExpired() && proc.state() != QProcess::NotRunning)
            err += proc.waitForReadyRead(200) ? proc.readAllStandardError() : QByteArray();
    }
    ~HoldingRead() { kill(); }
    void kill()
    {
        proc.kill();
        proc.waitForFinished(5000);
    }
};
#endif
