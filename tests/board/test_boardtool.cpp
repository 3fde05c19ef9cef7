// voralith-board end to end: the built tool started as the run command starts it, its
// printed device opened through the serial link, and its options checked by what they do.
#include "boardtool.h"
#include "seriallink.h"
#include "timeouts.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

namespace {
// The serial link on the tool's device, as Com2.
struct Host {
    SerialLink link;
    explicit Host(const QString &device)
    {
        link.portMap().mapForThisRun(2, device);
        link.setPortNumber(2);
        if (Status s = link.open(); !s)
            qWarning("%s", qPrintable(s.message()));
    }
    // Sends `commands` and takes what came once `count` bytes are in or the reply limit passed.
    QByteArray exchange(const QByteArray &commands, int count)
    {
        if (!link.send(commands))
            return "(not sent)";
        link.waitFor(count, timeouts::reply);
        return link.takeReceived();
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
            Host h(b.path);
            QCOMPARE(h.exchange(commands, 7), QByteArray::fromHex("1E51FFFFFFFF3C"));
            h.link.close();
            QCOMPARE(b.terminate(), 0);
        }
        QByteArray memory(4096, char(0xFF));
        memory[3] = 0x3C;
        QCOMPARE(fileContent(save), memory);
        QCOMPARE(fileContent(log), commands);
        QVERIFY(!QFileInfo(link).isSymLink());
        QVERIFY(!QFileInfo::exists(device));
    }

    // Every board over the image 01 02 03 04 05; no commands: the options are refused.
    void options_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("commands");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("gone");  // the device vanishes after the reply
        const QByteArray sig = "Z" + QByteArray(48, 'I') + "SISIS", three = "ZRIRIRI";
        QTest::newRow("no chip") << QStringList{"--chip", "none"} << sig << QByteArray::fromHex("FFFFFF") << false;
        QTest::newRow("signature") << QStringList{"--signature", "1E0705"} << sig << QByteArray::fromHex("1E0705")
                                   << false;
        QTest::newRow("size: 800h is 0 again") << QStringList{"--size", "2048"} << three + QByteArray(2045, 'I') + "R"
                                               << QByteArray::fromHex("01020301") << false;
        QTest::newRow("stray byte") << QStringList{"--stray-byte", "55"} << three << QByteArray::fromHex("55010203")
                                    << false;
        QTest::newRow("wrong byte") << QStringList{"--wrong-byte", "1=EE"} << three << QByteArray::fromHex("01EE03")
                                    << false;
        QTest::newRow("stray byte after reply 2") << QStringList{"--stray-after", "2"} << three
                                                  << QByteArray::fromHex("01025503") << false;
        QTest::newRow("double reply") << QStringList{"--double-reply", "2"} << three
                                      << QByteArray::fromHex("01020203") << false;
        QTest::newRow("drop reply") << QStringList{"--drop-reply", "2"} << three << QByteArray::fromHex("0103")
                                    << false;
        QTest::newRow("vanish") << QStringList{"--vanish-after", "1"} << three << QByteArray::fromHex("01") << true;
        QTest::newRow("unknown chip") << QStringList{"--chip", "80c31"} << QByteArray() << QByteArray() << false;
        QTest::newRow("wrong byte beyond the chip")
            << QStringList{"--chip", "89c51", "--wrong-byte", "1000=00"} << QByteArray() << QByteArray() << false;
    }
    void options()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, commands);
        QFETCH(QByteArray, reply);
        QFETCH(bool, gone);
        QTemporaryDir dir;
        QFile image(dir.filePath("in.bin"));
        QVERIFY(image.open(QIODevice::WriteOnly) && image.write(QByteArray::fromHex("0102030405")) == 5);
        image.close();
        BoardTool b(args + QStringList{"--image", image.fileName()});
        if (commands.isEmpty()) {
            QVERIFY(b.path.isEmpty());
            QCOMPARE(b.proc.state(), QProcess::NotRunning);
            QCOMPARE(b.proc.exitCode(), 2);
            return;
        }
        Host h(b.path);
        QCOMPARE(h.exchange(commands, reply.size()), reply);
        if (gone) {
            // The wait ends on the loss, not at its limit; the tool runs on and stops cleanly.
            QCOMPARE(h.link.waitFor(1, timeouts::reply), SerialLink::WaitEnd::PortLost);
            QVERIFY(!h.link.isOpen());
            QCOMPARE(b.terminate(), 0);
        }
    }
};

QTEST_GUILESS_MAIN(TestBoardTool)
#include "test_boardtool.moc"
