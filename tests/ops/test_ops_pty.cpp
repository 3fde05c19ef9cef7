// The device operations end to end over a real pseudo-terminal served by voralith-board:
// every byte value through the line discipline, and the board's memory as saved.
#include "operations.h"

#include "boardtool.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

// All 256 byte values, CR, LF, XON, XOFF and the control characters included.
QByteArray everyValue(int n)
{
    QByteArray d(n, 0);
    for (int i = 0; i < n; ++i)
        d[i] = char(i & 0xFF);
    return d;
}
}  // namespace

class TestOpsPty : public QObject {
    Q_OBJECT
private slots:
    void writeVerifyReadOverAPseudoTerminal()
    {
        QTemporaryDir dir;
        const QString saved = dir.filePath("memory.bin");
        QByteArray image = everyValue(4096);
        {
            BoardTool b({"--chip", "89c51", "--save", saved});
            QVERIFY2(!b.path.isEmpty(), "the board tool printed no device");
            SerialLink link;
            link.portMap().mapForThisRun(2, b.path);
            link.setPortNumber(2);
            QVERIFY(link.open().ok());
            BoardCommands board(link);

            auto blank = blankCheck(board, 4096, {});
            QVERIFY(blank.ok() && blank.value());
            QList<Mismatch> mismatches;
            auto w = writeDevice(board, image, 4096, {}, [&](const Mismatch &m) { mismatches << m; });
            QVERIFY2(w.ok(), qPrintable(w.message()));
            QCOMPARE(w.value().written, 4096);
            QVERIFY(mismatches.isEmpty());
            auto v = verifyDevice(board, image, {});
            QVERIFY(v.ok() && !v.value().has_value());
            auto r = readDevice(board, 4096, {});
            QVERIFY(r.ok());
            QCOMPARE(r.value(), image);
            auto again = blankCheck(board, 4096, {});
            QVERIFY(again.ok() && !again.value());
            link.close();
        }
        QFile f(saved);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), image);
    }

    void silentBoardOverAPseudoTerminal()
    {
        BoardTool b({"--silent-after", "100"});
        SerialLink link;
        link.portMap().mapForThisRun(2, b.path);
        link.setPortNumber(2);
        QVERIFY(link.open().ok());
        BoardCommands board(link);
        QElapsedTimer t;
        t.start();
        auto r = readDevice(board, 8192, {});
        QVERIFY(!r.ok());
        QCOMPARE(r.failure().kind, Failure::TimedOut);
        QVERIFY(r.failure().message.contains("address 64h"));
        QVERIFY(t.elapsed() < 4000);
    }
};

QTEST_GUILESS_MAIN(TestOpsPty)
#include "test_ops_pty.moc"
