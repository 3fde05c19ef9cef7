// voralith-board end to end: the built tool started as the run command starts it, its
// printed device opened through the serial link, and its options checked by what they do.
#include "boardcommands.h"
#include "boardtool.h"
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

using Board = BoardTool;

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
        Board b({"--stray-byte", "55", "--wrong-byte", "1=EE", "--double-reply", "3", "--stray-after", "4"});
        Host h(b.path);
        QVERIFY(h.link.open());
        // The stray byte waits before the first command; reply 3 comes twice and an
        // unasked 55h follows reply 4.
        h.link.send("ZRIRIRIRIRI");
        QTest::qWait(100);
        QCOMPARE(h.link.takeReceived(), QByteArray::fromHex("55FFEEFFFFFF55FF"));
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

};

QTEST_GUILESS_MAIN(TestBoardTool)
#include "test_boardtool.moc"
