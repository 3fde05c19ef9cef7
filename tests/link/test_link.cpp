// The serial link on what the user may name as a port: the --com mapping as typed, devices
// that are no serial port (refused at once, the message naming the port), and a
// pseudo-terminal, which refuses the low-latency request and carries the exchange.
#include "boardcommands.h"
#include "ptyserver.h"
#include "seriallink.h"

#include <QTemporaryDir>
#include <QTest>

class TestLink : public QObject {
    Q_OBJECT
private slots:
    void portMapping_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("number");  // 0: refused
        QTest::addColumn<QString>("device");
        QTest::newRow("N=DEVICE") << "2=/dev/pts/4" << 2 << "/dev/pts/4";
        QTest::newRow("ComN=DEVICE") << "Com3=/dev/ttyUSB0" << 3 << "/dev/ttyUSB0";
        QTest::newRow("'=' in the device") << "com255=/dev/a=b" << 255 << "/dev/a=b";
        QTest::newRow("no number") << "x=/dev/a" << 0 << "";
        QTest::newRow("0") << "0=/dev/a" << 0 << "";
        QTest::newRow("256") << "256=/dev/a" << 0 << "";
        QTest::newRow("no device") << "3=" << 0 << "";
        QTest::newRow("no '='") << "3" << 0 << "";
        QTest::newRow("a line end (found by fuzzing)") << "6=t\n" << 0 << "";
    }
    void portMapping()
    {
        QFETCH(QString, text);
        QFETCH(int, number);
        QFETCH(QString, device);
        int n = 0;
        QString dev;
        QCOMPARE(parsePortMapping(text, &n, &dev), number != 0);
        QCOMPARE(n, number);
        QCOMPARE(dev, device);
    }

    void notASerialPort_data()
    {
        QTest::addColumn<QString>("device");  // "DIR", "FILE": made in a temporary folder
        QTest::addColumn<QString>("says");
        QTest::newRow("missing") << "/dev/voralith-no-such-port" << "does not exist";
        QTest::newRow("a folder") << "DIR" << "cannot be opened";
        QTest::newRow("a plain file") << "FILE" << "cannot be opened";
        QTest::newRow("/dev/null") << "/dev/null" << "cannot be opened";
    }
    void notASerialPort()
    {
        QFETCH(QString, device);
        QFETCH(QString, says);
        QTemporaryDir dir;
        if (device == "DIR")
            device = dir.path();
        if (device == "FILE") {
            device = dir.filePath("plain");
            QFile f(device);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        SerialLink link;
        link.portMap().mapForThisRun(3, device);
        link.setPortNumber(3);
        const Status s = link.open();
        QVERIFY(!s.ok() && !link.isOpen());
        QVERIFY2(s.message().contains("Com3") && s.message().contains(device) && s.message().contains(says),
                 qPrintable(s.message()));
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
};

QTEST_GUILESS_MAIN(TestLink)
#include "test_link.moc"
