// The serial link and the board command set against the in-process emulator: what goes
// on the wire, how replies are taken, and that every wait ends.
#include "boardcommands.h"
#include "emurig.h"
#include "ptyserver.h"
#include "seriallink.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

namespace {
struct Rig {
    EmuRig rig;
    std::shared_ptr<BoardEngine> engine;
    SerialLink link;
    explicit Rig(BoardConfig cfg = {}) : engine(rig.add(PortMap::defaultDevice(2), cfg))
    {
        link.setOpener(rig.opener());
        link.open();
    }
    EmulatedPort *port() const { return rig.port; }
};
}  // namespace

class TestLink : public QObject {
    Q_OBJECT
private slots:
    void commandStringIsOneWrite()
    {
        Rig r;
        BoardCommands b(r.link);
        QVERIFY(b.resetAddress());
        auto sig = b.readSignature(QDeadlineTimer(1000));
        QVERIFY(sig.ok());
        QCOMPARE(r.port()->writes(), (QList<QByteArray>{"Z", "SISIS"}));
        auto w = b.writeByte(0x3C);
        QVERIFY(w.ok());
        QCOMPARE(r.port()->writes().mid(2), (QList<QByteArray>{"W", QByteArray("\x3C", 1)}));
        QCOMPARE(quint8(w.value().at(0)), quint8(0x3C));
        QVERIFY(r.engine->unexpected().isEmpty());
    }

    void strayByteCountsWithTheSignature()
    {
        BoardConfig cfg;
        cfg.strayByte = 0x55;
        Rig r(cfg);
        BoardCommands b(r.link);
        b.resetAddress();
        r.link.send(QByteArray(48, 'I'));
        auto sig = b.readSignature(QDeadlineTimer(1000));
        QVERIFY(sig.ok());
        QCOMPARE(sig.value(), QByteArray::fromHex("551E52FF"));
    }

    void emptyReplyIsZero() { QCOMPARE(BoardCommands::firstByte(QByteArray()), quint8(0)); }

    void vanishingPortEndsWait()
    {
        BoardConfig cfg;
        cfg.vanishAfter = 2;
        Rig r(cfg);
        BoardCommands b(r.link);
        QSignalSpy lost(&r.link, &SerialLink::portLost);
        QVERIFY(b.readNext().ok());
        // The second reply is the last one before the port goes.
        auto second = b.readNext();
        QVERIFY(second.ok() || second.failure().kind == Failure::PortLost);
        QElapsedTimer t;
        t.start();
        auto third = b.readNext();
        QVERIFY(!third.ok());
        QCOMPARE(third.failure().kind, Failure::PortLost);
        QVERIFY(t.elapsed() < 1000);
        QCOMPARE(lost.count(), 1);
        QVERIFY(!r.link.isOpen());
    }

    void openingAsksForLowLatency()
    {
        // A pseudo-terminal has no low-latency flag: the request is refused, and the port
        // carries the exchange all the same.
        PtyServer server(std::make_shared<BoardEngine>());
        QVERIFY(server.start().ok());
        SerialLink link;
        link.portMap().mapForThisRun(2, server.path());
        link.setPortNumber(2);
        QVERIFY(link.open().ok());
#ifdef Q_OS_LINUX
        QCOMPARE(link.lowLatency(), portsystem::LowLatency::Refused);
#endif
        BoardCommands b(link);
        QVERIFY(b.resetAddress().ok());
        const auto reply = b.readNext();
        QVERIFY(reply.ok());
        QCOMPARE(reply.value(), QByteArray(1, char(0xFF)));
    }

    void portMappingParses()
    {
        int n = 0;
        QString dev;
        QVERIFY(parsePortMapping("2=/dev/pts/4", &n, &dev));
        QCOMPARE(n, 2);
        QCOMPARE(dev, QString("/dev/pts/4"));
        QVERIFY(parsePortMapping("Com3=/dev/ttyUSB0", &n, &dev));
        QCOMPARE(n, 3);
        QVERIFY(!parsePortMapping("x=/dev/a", &n, &dev));
        QVERIFY(!parsePortMapping("0=/dev/a", &n, &dev));
        QCOMPARE(PortMap::defaultDevice(2), QString("/dev/ttyS1"));
    }

    void missingDeviceIsExplained()
    {
        SerialLink link;
        link.portMap().mapForThisRun(3, "/dev/voralith-no-such-port");
        link.setPortNumber(3);
        Status s = link.open();
        QVERIFY(!s.ok());
        QVERIFY2(s.message().contains("Com3") && s.message().contains("does not exist"), qPrintable(s.message()));
    }
};

QTEST_GUILESS_MAIN(TestLink)
#include "test_link.moc"
