// voralith-board started as the run command starts it: the device path it prints once
// it answers, and a clean stop. Tests define VORALITH_BOARD_PATH to the built tool. It
// runs strict: a byte it received that is no command of the board fails the test.
#pragma once

#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <QTest>

struct BoardTool {
    QProcess proc;
    QString path;  // what the tool printed; empty if it printed nothing in time
    explicit BoardTool(const QStringList &args)
    {
        proc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        proc.start(QStringLiteral(VORALITH_BOARD_PATH), QStringList{QStringLiteral("--strict")} + args);
        QByteArray out;
        QElapsedTimer t;
        t.start();
        while (!out.contains('\n') && t.elapsed() < 10000 && proc.state() != QProcess::NotRunning) {
            proc.waitForReadyRead(200);
            out += proc.readAllStandardOutput();
        }
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
    static constexpr int unexpectedBytes = 3;  // its exit status under --strict
    // Ends the tool as the run command does; its exit status, -1 if it did not end well.
    int terminate()
    {
        proc.terminate();
        if (!proc.waitForFinished(5000))
            return -1;
        return proc.exitStatus() == QProcess::NormalExit ? proc.exitCode() : -1;
    }
};
