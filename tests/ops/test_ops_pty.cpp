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

    // Over a real line a late byte arrives on its own time: each fault ends the operation
    // out of step, never in a result, and the next command is in step.
    void outOfStepOverAPseudoTerminal_data()
    {
        QTest::addColumn<QString>("op");
        QTest::addColumn<QStringList>("fault");
        QTest::newRow("read, late stray byte after reply 100, paced")
            << "read" << QStringList{"--paced", "--stray-after", "100"};
        QTest::newRow("read, reply 100 doubled") << "read" << QStringList{"--double-reply", "100"};
        QTest::newRow("read, reply 100 doubled, paced") << "read" << QStringList{"--paced", "--double-reply", "100"};
        QTest::newRow("verify, stray byte after reply 100") << "verify" << QStringList{"--stray-after", "100"};
        QTest::newRow("write, stray byte after reply 100") << "write" << QStringList{"--stray-after", "100"};
        QTest::newRow("blank check, stray byte after reply 100") << "blank" << QStringList{"--stray-after", "100"};
    }
    void outOfStepOverAPseudoTerminal()
    {
        QFETCH(QString, op);
        QFETCH(QStringList, fault);
        const int size = 512;
        QTemporaryDir dir;
        const QByteArray image = everyValue(size);
        QFile in(dir.filePath("image.bin"));
        QVERIFY(in.open(QIODevice::WriteOnly) && in.write(image) == size);
        in.close();
        const QString saved = dir.filePath("memory.bin");
        QStringList args = fault + QStringList{"--save", saved};
        if (op != "write" && op != "blank")
            args += {"--image", in.fileName()};
        BoardTool b(args);
        SerialLink link;
        link.portMap().mapForThisRun(2, b.path);
        link.setPortNumber(2);
        QVERIFY(link.open().ok());
        BoardCommands board(link);
        Failure f;
        if (op == "read") {
            auto r = readDevice(board, size, {});
            QVERIFY2(!r.ok(), "a read out of step ended as a success");
            f = r.failure();
        } else if (op == "verify") {
            auto r = verifyDevice(board, image, {});
            QVERIFY2(!r.ok(), "a verify out of step gave a result");
            f = r.failure();
        } else if (op == "write") {
            auto r = writeDevice(board, image, size, {}, {});
            QVERIFY2(!r.ok(), "a write out of step ended as a success");
            f = r.failure();
        } else {
            auto r = blankCheck(board, size, {});
            QVERIFY2(!r.ok(), "a blank check out of step gave a verdict");
            f = r.failure();
        }
        QCOMPARE(f.kind, Failure::OutOfStep);
        QVERIFY2(f.message.contains("so its replies are out of step."), qPrintable(f.message));
        auto again = readDevice(board, size, {});
        QVERIFY2(again.ok(), qPrintable(again.message()));
        link.close();
        QCOMPARE(b.terminate(), 0);
        QFile mem(saved);
        QVERIFY(mem.open(QIODevice::ReadOnly));
        QCOMPARE(again.value(), mem.read(size));
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
