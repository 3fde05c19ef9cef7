// voralith-board end to end: the built tool started as the run command starts it, its
// printed device opened through the serial link, and its options checked by what they do.
#include "boardcommands.h"
#include "seriallink.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {
const QString tool = QStringLiteral(VORALITH_BOARD_PATH);

// The tool running; path is what it printed, empty if it printed nothing in time.
struct Board {
    QProcess proc;
    QString path;
    explicit Board(const QStringList &args)
    {
        proc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        proc.start(tool, args);
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
    ~Board()
    {
        if (proc.state() != QProcess::NotRunning) {
            proc.kill();
            proc.waitForFinished(5000);
        }
    }
    // Ends the tool as the run command does; its exit status.
    int terminate()
    {
        proc.terminate();
        if (!proc.waitForFinished(5000))
            return -1;
        return proc.exitStatus() == QProcess::NormalExit ? proc.exitCode() : -1;
    }
};

struct Host {
    SerialLink link;
    BoardCommands board{link};
    explicit Host(const QString &device)
    {
        link.portMap().mapForThisRun(2, device);
        link.setPortNumber(2);
    }
};

QByteArray fileContent(const QString &name)
{
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
}
}  // namespace

class TestBoardTool : public QObject {
    Q_OBJECT
private slots:
    void commandsOverARealPty()
    {
        QTemporaryDir dir;
        const QString save = dir.filePath("memory.bin");
        const QString log = dir.filePath("received.log");
        Board b({"--save", save, "--log", log});
        QVERIFY2(!b.path.isEmpty(), "voralith-board printed no path");
        QVERIFY(b.path.startsWith("/dev/"));

        Host h(b.path);
        QVERIFY2(h.link.open(), qPrintable(b.path));
        QVERIFY(h.board.resetAddress());
        for (int i = 0; i < 48; ++i)
            QVERIFY(h.board.nextAddress());
        auto sig = h.board.readSignature(QDeadlineTimer(1000));
        QVERIFY(sig.ok());
        QCOMPARE(sig.value(), QByteArray::fromHex("1E52FF"));

        QVERIFY(h.board.resetAddress());
        for (int i = 0; i < 3; ++i) {
            auto r = h.board.readNext();
            QVERIFY2(r.ok(), qPrintable(r.message()));
            QCOMPARE(r.value(), QByteArray("\xFF"));  // erased
        }
        auto w = h.board.writeByte(0x3C);
        QVERIFY2(w.ok(), qPrintable(w.message()));
        QCOMPARE(w.value(), QByteArray("\x3C"));
        h.link.close();

        QCOMPARE(b.terminate(), 0);
        QByteArray expectMem(8192, char(0xFF));
        expectMem[3] = 0x3C;
        QCOMPARE(fileContent(save), expectMem);
        QCOMPARE(fileContent(log), "Z" + QByteArray(48, 'I') + "SISIS" + "ZRIRIRIW\x3C");
        QVERIFY(!QFileInfo::exists(b.path));
    }

    void linkIsPrintedAndRemovedOnExit()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("board-link");
        Board b({"--link", link, "--chip", "89c51"});
        QCOMPARE(b.path, QFileInfo(link).absoluteFilePath());
        QVERIFY(QFileInfo(link).isSymLink());
        Host h(b.path);
        QVERIFY(h.link.open());
        QVERIFY(h.board.resetAddress());
        h.link.send(QByteArray(48, 'I'));
        auto sig = h.board.readSignature(QDeadlineTimer(1000));
        QCOMPARE(sig.value(), QByteArray::fromHex("1E51FF"));
        QCOMPARE(b.terminate(), 0);
        QVERIFY(!QFileInfo(link).isSymLink());
    }

    void imageAndSignatureOptions()
    {
        QTemporaryDir dir;
        const QString image = dir.filePath("in.bin");
        QFile f(image);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray::fromHex("0102030405"));
        f.close();
        Board b({"--image", image, "--signature", "1E0705", "--size", "2048"});
        QVERIFY(!b.path.isEmpty());
        Host h(b.path);
        QVERIFY(h.link.open());
        QVERIFY(h.board.resetAddress());
        QCOMPARE(h.board.readFour().value(), QByteArray::fromHex("01020304"));
        h.link.send("Z" + QByteArray(48, 'I'));
        QCOMPARE(h.board.readSignature(QDeadlineTimer(1000)).value(), QByteArray::fromHex("1E0705"));
        // 2048 bytes: address 800h is address 0 again.
        h.link.send("Z" + QByteArray(2048, 'I'));
        QCOMPARE(h.board.readNext().value(), QByteArray("\x01"));
    }

    void faultsOverThePty()
    {
        Board b({"--stray-byte", "55", "--wrong-byte", "1=EE", "--double-reply", "3"});
        Host h(b.path);
        QVERIFY(h.link.open());
        QVERIFY(h.board.resetAddress());
        // The stray byte is taken as the first byte of the first reply; the real reply
        // follows it.
        auto r = h.board.readNext();
        QCOMPARE(BoardCommands::firstByte(r.value()), quint8(0x55));
        QTest::qWait(50);
        QCOMPARE(r.value() + h.link.takeReceived(), QByteArray("\x55\xFF"));
        QCOMPARE(h.board.readNext().value(), QByteArray("\xEE"));
        // Reply 3 comes twice.
        auto doubled = h.board.readNext();
        QTest::qWait(50);
        QCOMPARE(doubled.value() + h.link.takeReceived(), QByteArray("\xFF\xFF"));
    }

    void vanishEndsTheWaitWithALostPort()
    {
        Board b({"--vanish-after", "1"});
        Host h(b.path);
        QVERIFY(h.link.open());
        QVERIFY(h.board.resetAddress());
        QVERIFY(h.board.readNext().ok());
        QElapsedTimer t;
        t.start();
        auto second = h.board.readNext();
        QVERIFY(!second.ok());
        QCOMPARE(second.failure().kind, Failure::PortLost);
        QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
        QVERIFY(!h.link.isOpen());
        // Gone, but still running until told to stop, and it stops cleanly.
        QCOMPARE(b.proc.state(), QProcess::Running);
        QCOMPARE(b.terminate(), 0);
    }

    void silentBoardTimesOut()
    {
        Board b({"--silent-after", "0"});
        Host h(b.path);
        QVERIFY(h.link.open());
        QElapsedTimer t;
        t.start();
        auto r = h.board.readNext();
        QVERIFY(!r.ok());
        QCOMPARE(r.failure().kind, Failure::TimedOut);
        QVERIFY(t.elapsed() >= 1900 && t.elapsed() < 5000);
        QVERIFY(h.link.isOpen());
    }

    void interruptSavesToo()
    {
        QTemporaryDir dir;
        Board b({"--save", dir.filePath("m.bin"), "--chip", "89c51"});
        QVERIFY(!b.path.isEmpty());
        ::kill(pid_t(b.proc.processId()), SIGINT);
        QVERIFY(b.proc.waitForFinished(5000));
        QCOMPARE(b.proc.exitCode(), 0);
        QCOMPARE(fileContent(dir.filePath("m.bin")), QByteArray(4096, char(0xFF)));
    }

    void badOptionsAreRefused_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("unknown chip") << QStringList{"--chip", "8051"};
        QTest::newRow("short signature") << QStringList{"--signature", "1E52"};
        QTest::newRow("signature not hex") << QStringList{"--signature", "1E52GG"};
        QTest::newRow("signature without chip") << QStringList{"--chip", "none", "--signature", "1E52FF"};
        QTest::newRow("size 0") << QStringList{"--size", "0"};
        QTest::newRow("size too big") << QStringList{"--size", "65537"};
        QTest::newRow("count not a number") << QStringList{"--silent-after", "x"};
        QTest::newRow("negative count") << QStringList{"--vanish-after", "-1"};
        QTest::newRow("reply 0 cannot be doubled") << QStringList{"--double-reply", "0"};
        QTest::newRow("stray byte too big") << QStringList{"--stray-byte", "100"};
        QTest::newRow("wrong byte without value") << QStringList{"--wrong-byte", "1A2"};
        QTest::newRow("wrong byte beyond the chip") << QStringList{"--chip", "89c51", "--wrong-byte", "1000=00"};
        QTest::newRow("missing image") << QStringList{"--image", "/nonexistent/in.bin"};
        QTest::newRow("unknown option") << QStringList{"--frobnicate"};
        QTest::newRow("stray argument") << QStringList{"extra"};
    }
    void badOptionsAreRefused()
    {
        QFETCH(QStringList, args);
        QProcess p;
        p.start(tool, args);
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 2);
        QCOMPARE(p.readAllStandardOutput(), QByteArray());  // no path: nothing to connect to
        QVERIFY(p.readAllStandardError().startsWith("voralith-board: "));
    }

    void imageLargerThanChipIsRefused()
    {
        QTemporaryDir dir;
        QFile f(dir.filePath("big.bin"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4097, 0));
        f.close();
        QProcess p;
        p.start(tool, {"--chip", "89c51", "--image", f.fileName()});
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(p.readAllStandardError().contains("4097"));
    }
};

QTEST_GUILESS_MAIN(TestBoardTool)
#include "test_boardtool.moc"
