// The emulator served on a real pseudo-terminal and opened by the serial link as a serial
// port: the bytes arrive unchanged, the port can be closed and opened again, the link
// path is made and removed, and an injected vanish shows as a lost port.
#include "boardcommands.h"
#include "ptyserver.h"
#include "seriallink.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {
struct PtyRig {
    std::shared_ptr<BoardEngine> engine;
    PtyServer server;
    SerialLink link;
    BoardCommands board{link};
    explicit PtyRig(BoardConfig cfg = {}, const QString &linkPath = {})
        : engine(std::make_shared<BoardEngine>(std::move(cfg))), server(engine)
    {
        ok = server.start(linkPath);
        link.portMap().mapForThisRun(2, server.path());
        link.setPortNumber(2);
    }
    Status ok;
};
}  // namespace

class TestPtyServer : public QObject {
    Q_OBJECT
private slots:
    void identifyExchangeOverThePort()
    {
        PtyRig r;
        QVERIFY2(r.ok, qPrintable(r.ok.message()));
        QVERIFY(r.server.slavePath().startsWith("/dev/"));
        QVERIFY2(r.link.open(), qPrintable(r.link.devicePath()));
        QSignalSpy received(&r.server, &PtyServer::received);
        QVERIFY(r.board.resetAddress());
        for (int i = 0; i < 48; ++i)
            QVERIFY(r.board.nextAddress());
        auto sig = r.board.readSignature(QDeadlineTimer(1000));
        QVERIFY(sig.ok());
        QCOMPARE(sig.value(), QByteArray::fromHex("1E52FF"));
        QByteArray all;
        for (const auto &args : received)
            all += args.at(0).toByteArray();
        QCOMPARE(all, "Z" + QByteArray(48, 'I') + "SISIS");
        QVERIFY(r.engine->unexpected().isEmpty());
    }

    // Every byte value, including those a terminal would translate (CR, LF, XON, XOFF,
    // DEL, Ctrl-C), goes through as it is, both ways.
    void everyByteValuePassesUnchanged()
    {
        PtyRig r;
        QVERIFY(r.link.open());
        QVERIFY(r.board.resetAddress());
        for (int v = 0; v < 256; ++v) {
            auto w = r.board.writeByte(quint8(v));
            QVERIFY2(w.ok(), qPrintable(w.message()));
            QCOMPARE(w.value(), QByteArray(1, char(v)));
            QVERIFY(r.board.nextAddress());
        }
        for (int v = 0; v < 256; ++v)
            QCOMPARE(quint8(r.engine->memory().at(v)), quint8(v));
        QVERIFY(r.engine->unexpected().isEmpty());
    }

    void portOpensAgainAfterClose()
    {
        BoardConfig cfg;
        cfg.image = QByteArray::fromHex("A5");
        PtyRig r(cfg);
        for (int round = 0; round < 3; ++round) {
            QVERIFY2(r.link.open(), qPrintable(QString("round %1").arg(round)));
            QVERIFY(r.board.resetAddress());
            auto b = r.board.readNext();
            QVERIFY2(b.ok(), qPrintable(b.message()));
            QCOMPARE(b.value(), QByteArray("\xA5"));
            r.link.close();
        }
    }

    void strayByteWaitsForTheHost()
    {
        BoardConfig cfg;
        cfg.strayByte = 0x0D;
        cfg.image = QByteArray::fromHex("A5");
        PtyRig r(cfg);
        QTest::qWait(20);
        QVERIFY(r.link.open());
        QVERIFY(r.board.resetAddress());
        auto b = r.board.readNext();
        QVERIFY(b.ok());
        QCOMPARE(b.value().left(1), QByteArray("\x0D"));
        QVERIFY(r.engine->unexpected().isEmpty());  // not echoed back as a command
    }

    void fullSpeedReadIsQuick()
    {
        PtyRig r;
        QVERIFY(r.link.open());
        QVERIFY(r.board.resetAddress());
        QElapsedTimer t;
        t.start();
        for (int a = 0; a < 8192; ++a) {
            auto b = r.board.readNext();
            QVERIFY2(b.ok(), qPrintable(QString("address %1: %2").arg(a, 0, 16).arg(b.message())));
        }
        QVERIFY2(t.elapsed() < 5000, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(r.engine->address(), 8192);
    }

    void pacedWriteTakesLineTime()
    {
        BoardConfig cfg;
        cfg.paced = true;
        PtyRig r(cfg);
        QVERIFY(r.link.open());
        QElapsedTimer t;
        t.start();
        auto w = r.board.writeByte(0x11);
        const qint64 took = t.nsecsElapsed();
        QVERIFY(w.ok());
        // Two bytes in, one out: about 3.1 ms; the timer may add a millisecond or so.
        QVERIFY2(took >= 3 * BoardEngine::byteTimeNs && took < 60000000, qPrintable(QString::number(took)));
    }

    void linkIsMadeReplacedAndRemoved()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("board-link");
        QVERIFY(QFile::link("/nonexistent-old-target", path));
        {
            PtyRig r({}, path);
            QVERIFY2(r.ok, qPrintable(r.ok.message()));
            QCOMPARE(r.server.path(), QFileInfo(path).absoluteFilePath());
            QCOMPARE(QFile::symLinkTarget(path), r.server.slavePath());
            QVERIFY(r.link.open());
            QVERIFY(r.board.resetAddress());
            QVERIFY(r.board.readNext().ok());
        }
        QVERIFY(!QFileInfo(path).isSymLink());
        QVERIFY(!QFileInfo::exists(path));
    }

    void fileInTheWayIsLeftAlone()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("board-link");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("keep me");
        f.close();
        PtyRig r({}, path);
        QVERIFY(!r.ok);
        QVERIFY2(r.ok.message().contains("not a symbolic link"), qPrintable(r.ok.message()));
        QVERIFY(!r.server.isServing());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("keep me"));
    }

    void vanishShowsAsLostPort()
    {
        QTemporaryDir dir;
        BoardConfig cfg;
        cfg.vanishAfter = 1;
        PtyRig r(cfg, dir.filePath("board-link"));
        QVERIFY(r.link.open());
        QSignalSpy vanished(&r.server, &PtyServer::vanished);
        QSignalSpy lost(&r.link, &SerialLink::portLost);
        QVERIFY(r.board.resetAddress());
        auto first = r.board.readNext();
        QVERIFY2(first.ok(), qPrintable(first.message()));
        QElapsedTimer t;
        t.start();
        auto second = r.board.readNext();
        QVERIFY(!second.ok());
        QCOMPARE(second.failure().kind, Failure::PortLost);
        QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(lost.count(), 1);
        QVERIFY(vanished.count() == 1 || vanished.wait(1000));
        QVERIFY(!r.server.isServing());
        QVERIFY(!QFileInfo(dir.filePath("board-link")).isSymLink());
        // The device is gone for good: it cannot be opened again.
        QVERIFY(!r.link.open());
    }
};

QTEST_GUILESS_MAIN(TestPtyServer)
#include "test_ptyserver.moc"
