// SPDX-License-Identifier: GPL-3.0-or-later
// The board emulator where the operations' tests would not show a fault: flash and lock-bit
// rules, and voralith-board with the options no other test uses.
#include "boardtool.h"
#include "engine.h"
#include "testfiles.h"
#include "seriallink.h"
#include "timeouts.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

namespace {
// `commands` sent to the device as Com2; what came once `count` bytes are in or time is up.
QByteArray exchange(SerialLink &link, const QString &device, const QByteArray &commands, int count)
{
    link.portMap().mapForThisRun(2, device);
    link.setPortNumber(2);
    if (!link.open() || !link.send(commands))
        return "(not sent)";
    link.waitFor(count, timeouts::reply);
    return link.takeReceived();
}
}  // namespace

class TestBoard : public QObject {
    Q_OBJECT
private slots:
    // Commands over a chip holding 5A at address 1: the reply to the last, and what address 1 holds.
    void flashAndLockBits_data()
    {
        QTest::addColumn<QByteArray>("commands");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("held");
        const QByteArray w = "ZIW";  // write at address 1; the data byte follows
        QTest::newRow("a byte that only clears bits") << w + "\x4A" << QByteArray("\x4A") << 0x4A;
        QTest::newRow("bits are never set again") << w + "\xA5" << QByteArray(1, 0) << 0x00;
        QTest::newRow("erase: all FF again") << "E" + w + "\x3C" << QByteArray("\x3C") << 0x3C;
        QTest::newRow("lock bit 1: no programming") << "1" + w + '\0' << QByteArray("\x5A") << 0x5A;
        QTest::newRow("lock bit 2: no verify") << QByteArray("11ZIR") << QByteArray("\xFF") << 0x5A;
        QTest::newRow("erase clears lock bits") << "111E" + w + "\x3C" << QByteArray("\x3C") << 0x3C;
        QTest::newRow("R does not move on, I does") << QByteArray("ZRRIR") << QByteArray::fromHex("11115A") << 0x5A;
    }
    void flashAndLockBits()
    {
        QFETCH(QByteArray, commands);
        QFETCH(QByteArray, reply);
        QFETCH(int, held);
        BoardConfig cfg;
        cfg.image = QByteArray::fromHex("115A");
        BoardEngine e(cfg);
        e.receive(commands, 0);
        QCOMPARE(e.takeDue(1000000000).right(reply.size()), reply);
        QCOMPARE(quint8(e.memory().at(1)), quint8(held));
    }

    // The device behind a link, what the board received, and its memory saved on exit.
    void lifetimeOverARealPty()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("board-link"), save = dir.filePath("memory.bin"),
                      log = dir.filePath("received.log");
        const QByteArray commands = "Z" + QByteArray(48, 'I') + "SISISZRIRIRIW\x3C";
        QString device;
        {
            BoardTool b({"--chip", "89c51", "--link", link, "--save", save, "--log", log});
            QCOMPARE(b.path, QFileInfo(link).absoluteFilePath());
            device = QFileInfo(link).symLinkTarget();
            QVERIFY2(device.startsWith("/dev/"), qPrintable(device));
            SerialLink host;
            QCOMPARE(exchange(host, b.path, commands, 7), QByteArray::fromHex("1E51FFFFFFFF3C"));
            host.close();
            QCOMPARE(b.terminate(), 0);
        }
        QByteArray memory(4096, char(0xFF));
        memory[3] = 0x3C;
        QCOMPARE(readAll(save), memory);
        QCOMPARE(readAll(log), commands);
        QVERIFY(!QFileInfo(link).isSymLink());
        QVERIFY(!QFileInfo::exists(device));
    }

    // Every board over the image 01 02 03 04 05.
    void options_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("commands");
        QTest::addColumn<QByteArray>("reply");
        const QByteArray sig = "Z" + QByteArray(48, 'I') + "SISIS", three = "ZRIRIRI";
        QTest::newRow("no chip") << QStringList{"--chip", "none"} << sig << QByteArray::fromHex("FFFFFF");
        QTest::newRow("signature") << QStringList{"--signature", "1E0705"} << sig << QByteArray::fromHex("1E0705");
        QTest::newRow("stray byte") << QStringList{"--stray-byte", "55"} << three << QByteArray::fromHex("55010203");
        QTest::newRow("drop reply") << QStringList{"--drop-reply", "2"} << three << QByteArray::fromHex("0103");
        QTest::newRow("vanish") << QStringList{"--vanish-after", "1"} << three << QByteArray::fromHex("01");
    }
    void options()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, commands);
        QFETCH(QByteArray, reply);
        QTemporaryDir dir;
        const QString image = writeFile(dir.filePath("in.bin"), QByteArray::fromHex("0102030405"));
        BoardTool b(args + QStringList{"--image", image});
        SerialLink host;
        QCOMPARE(exchange(host, b.path, commands, reply.size()), reply);
        if (args.contains("--vanish-after")) {
            // The wait ends on the loss, not at its limit; the tool runs on and stops cleanly.
            QCOMPARE(host.waitFor(1, timeouts::reply), SerialLink::WaitEnd::PortLost);
            QVERIFY(!host.isOpen());
            QCOMPARE(b.terminate(), 0);
        }
    }
};

QTEST_GUILESS_MAIN(TestBoard)
#include "test_board.moc"
