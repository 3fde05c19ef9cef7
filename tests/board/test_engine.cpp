// The board emulator's core on a clock of its own: flash and lock-bit semantics, the address
// counter, line and programming times, and each injected fault.
#include "emulatedport.h"
#include "engine.h"
#include "boardcommands.h"
#include "seriallink.h"

#include <QElapsedTimer>
#include <QTest>

namespace {
constexpr qint64 ms = 1000000;

// Drives an engine on a simulated clock: each send arrives a second after the last, so
// every reply and every hold is over when the replies are taken.
struct Bench {
    BoardEngine e;
    qint64 now = 0;
    explicit Bench(BoardConfig cfg = {}) : e(std::move(cfg)) {}
    QByteArray send(const QByteArray &bytes)
    {
        e.receive(bytes, now);
        now += 1000 * ms;
        return e.takeDue(now);
    }
};

QByteArray at(int address, const QByteArray &commands)
{
    return "Z" + QByteArray(address, 'I') + commands;
}

BoardConfig withImage(const QByteArray &hex)
{
    BoardConfig cfg;
    cfg.image = QByteArray::fromHex(hex);
    return cfg;
}
}  // namespace

class TestEngine : public QObject {
    Q_OBJECT
private slots:
    void flashOnlyClearsBits_data()
    {
        QTest::addColumn<quint8>("before");
        QTest::addColumn<quint8>("data");
        QTest::addColumn<quint8>("after");
        QTest::newRow("erased takes any byte") << quint8(0xFF) << quint8(0x3C) << quint8(0x3C);
        QTest::newRow("erased takes 00") << quint8(0xFF) << quint8(0x00) << quint8(0x00);
        QTest::newRow("set bits stay cleared") << quint8(0x3C) << quint8(0xC3) << quint8(0x00);
        QTest::newRow("partly overlapping") << quint8(0xF0) << quint8(0x3C) << quint8(0x30);
        QTest::newRow("FF changes nothing") << quint8(0xA5) << quint8(0xFF) << quint8(0xA5);
        QTest::newRow("same byte again") << quint8(0x5A) << quint8(0x5A) << quint8(0x5A);
    }
    void flashOnlyClearsBits()
    {
        QFETCH(quint8, before);
        QFETCH(quint8, data);
        QFETCH(quint8, after);
        BoardConfig cfg;
        cfg.image = QByteArray(0x1A2, char(0xFF)) + QByteArray(1, char(before));
        Bench b(cfg);
        // The reply to W is what the chip holds afterwards, not the byte sent.
        QCOMPARE(b.send(at(0x1A2, "W") + char(data)), QByteArray(1, char(after)));
        QCOMPARE(b.send(at(0x1A2, "R")), QByteArray(1, char(after)));
        QCOMPARE(quint8(b.e.memory().at(0x1A2)), after);
        QCOMPARE(b.e.memory().count(char(0xFF)), after == 0xFF ? 8192 : 8191);
        QVERIFY(b.e.unexpected().isEmpty());
    }

    void eraseGivesAllFFAndClearsLockBits()
    {
        Bench b(withImage("0011223344"));
        b.send("11");
        QCOMPARE(b.e.lockBits(), 2);
        QCOMPARE(b.send("E"), QByteArray());  // no reply: it would be taken for the next one
        QCOMPARE(b.e.memory(), QByteArray(8192, char(0xFF)));
        QCOMPARE(b.e.lockBits(), 0);
        QCOMPARE(b.send(at(3, "W\x42")), QByteArray("\x42"));
    }

    void lockBits_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("bits");
        QTest::addColumn<QByteArray>("readBack");  // reply to R at address 1 (holds 22)
        QTest::newRow("none") << 0 << 0 << QByteArray("\x22");
        QTest::newRow("bit 1: no more programming") << 1 << 1 << QByteArray("\x22");
        QTest::newRow("bit 2: no verify either") << 2 << 2 << QByteArray("\xFF");
        QTest::newRow("bit 3") << 3 << 3 << QByteArray("\xFF");
        QTest::newRow("a fourth changes nothing") << 4 << 3 << QByteArray("\xFF");
    }
    void lockBits()
    {
        QFETCH(int, count);
        QFETCH(int, bits);
        QFETCH(QByteArray, readBack);
        Bench b(withImage("1122"));
        QCOMPARE(b.send(QByteArray(count, '1')), QByteArray());
        QCOMPARE(b.e.lockBits(), bits);
        QCOMPARE(b.send(at(1, "R")), readBack);
        // A locked chip refuses writes: the byte stays as it was.
        b.send(at(1, "W") + '\x00');
        QCOMPARE(quint8(b.e.memory().at(1)), quint8(bits > 0 ? 0x22 : 0x00));
    }

    void addressCounter_data()
    {
        QTest::addColumn<QString>("chip");
        QTest::addColumn<QByteArray>("commands");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("R does not move on") << "89c52" << QByteArray("ZRR") << QByteArray::fromHex("A0A0");
        QTest::newRow("RI moves on") << "89c52" << QByteArray("ZRIRIRI") << QByteArray::fromHex("A0A1A2");
        QTest::newRow("Z starts again") << "89c52" << QByteArray("ZIIRZR") << QByteArray::fromHex("A2A0");
        QTest::newRow("I alone") << "89c52" << at(3, "R") << QByteArray::fromHex("A3");
        QTest::newRow("last address 89C52") << "89c52" << at(8191, "R") << QByteArray::fromHex("FF");
        QTest::newRow("89C51 wraps at 4096") << "89c51" << at(4096, "R") << QByteArray::fromHex("A0");
        QTest::newRow("89C52 wraps at 8192") << "89c52" << at(8193, "R") << QByteArray::fromHex("A1");
    }
    void addressCounter()
    {
        QFETCH(QString, chip);
        QFETCH(QByteArray, commands);
        QFETCH(QByteArray, reply);
        BoardConfig cfg = *BoardConfig::forChip(chip);
        cfg.image = QByteArray::fromHex("A0A1A2A3");
        Bench b(cfg);
        QCOMPARE(b.send(commands), reply);
        QVERIFY(b.e.unexpected().isEmpty());
    }

    void signature_data()
    {
        QTest::addColumn<QString>("chip");
        QTest::addColumn<QByteArray>("custom");
        QTest::addColumn<int>("size");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("89C51") << "89c51" << QByteArray() << 4096 << QByteArray::fromHex("1E51FF");
        QTest::newRow("89C52") << "89c52" << QByteArray() << 8192 << QByteArray::fromHex("1E52FF");
        QTest::newRow("AT89C52 spelled out") << "AT89C52" << QByteArray() << 8192 << QByteArray::fromHex("1E52FF");
        QTest::newRow("any signature") << "89c52" << QByteArray::fromHex("1E0705") << 8192
                                       << QByteArray::fromHex("1E0705");
        QTest::newRow("no chip") << "none" << QByteArray() << 8192 << QByteArray::fromHex("FFFFFF");
    }
    void signature()
    {
        QFETCH(QString, chip);
        QFETCH(QByteArray, custom);
        QFETCH(int, size);
        QFETCH(QByteArray, reply);
        auto cfg = BoardConfig::forChip(chip);
        QVERIFY(cfg);
        QCOMPARE(cfg->size, size);
        if (!custom.isEmpty())
            cfg->signature = custom;
        Bench b(*cfg);
        QCOMPARE(b.send(at(48, "SISIS")), reply);
        QCOMPARE(b.e.address(), 50);
        // Away from 30h there is no signature.
        QCOMPARE(b.send("ZS"), QByteArray("\xFF"));
        QCOMPARE(b.e.memory().size(), size);
    }

    void noChipReadsFFAndKeepsNothing()
    {
        BoardConfig cfg = *BoardConfig::forChip("none");
        cfg.image = QByteArray::fromHex("0102");
        Bench b(cfg);
        QCOMPARE(b.send(QByteArray("ZRIW\0", 5)), QByteArray::fromHex("FFFF"));
    }

    void unexpectedBytesAreRecorded()
    {
        Bench b(withImage("77"));
        // A data byte after W is never a command, whatever its value.
        QCOMPARE(b.send("Zx\nRW"), QByteArray("\x77"));
        QCOMPARE(b.send("R"), QByteArray("R"));  // programmed (77h & 52h), no read
        QCOMPARE(b.e.unexpected(), QByteArray("x\n"));
        QCOMPARE(b.e.receivedLog(), QByteArray("Zx\nRWR"));
    }

    void pacedReplyTimes_data()
    {
        QTest::addColumn<QByteArray>("commands");
        QTest::addColumn<QList<int>>("byteTimes");  // when each reply byte is in, in byte times
        // The reply leaves after the command's last byte is in and takes a byte time itself.
        QTest::newRow("RI") << QByteArray("RI") << QList<int>{2};
        QTest::newRow("W and data") << QByteArray("W\x3C") << QList<int>{3};
        QTest::newRow("four reads queue on the line") << QByteArray("RIRIRIRI") << QList<int>{2, 4, 6, 8};
        QTest::newRow("signature") << QByteArray("SISIS") << QList<int>{2, 4, 6};
    }
    void pacedReplyTimes()
    {
        QFETCH(QByteArray, commands);
        QFETCH(QList<int>, byteTimes);
        BoardConfig cfg;
        cfg.paced = true;
        BoardEngine e(cfg);
        e.receive(commands, 0);
        for (int n : byteTimes) {
            const qint64 due = n * BoardEngine::byteTimeNs;
            QCOMPARE(e.takeDue(due - 1000), QByteArray());
            QCOMPARE(e.nextEventNs() <= due, true);
            QCOMPARE(e.takeDue(due).size(), 1);
        }
        QCOMPARE(e.takeDue(100 * ms), QByteArray());
    }

    void programmingTimeHoldsLaterCommands_data()
    {
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<qint64>("holdNs");
        QTest::newRow("byte write") << QByteArray("W\0", 2) << BoardEngine::writeTimeNs;
        QTest::newRow("chip erase") << QByteArray("E") << BoardEngine::eraseTimeNs;
        QTest::newRow("lock bit") << QByteArray("1") << BoardEngine::lockTimeNs;
    }
    void programmingTimeHoldsLaterCommands()
    {
        QFETCH(QByteArray, first);
        QFETCH(qint64, holdNs);
        BoardConfig cfg = withImage("5A");
        cfg.programmingTime = true;
        BoardEngine e(cfg);
        // Sent at once, as the program does: the read must wait for the programming.
        e.receive(first + "ZR", 0);
        const QByteArray early = e.takeDue(holdNs - 1000);
        QCOMPARE(early, QByteArray());
        QVERIFY(e.nextEventNs() >= holdNs);
        const QByteArray all = early + e.takeDue(holdNs + ms);
        QCOMPARE(all.size(), first.startsWith('W') ? 2 : 1);
        // What was programmed is what the held read sees.
        const quint8 expect = first == "E" ? 0xFF : (first == "1" ? 0x5A : 0x00);
        QCOMPARE(quint8(all.back()), expect);
    }

    void faults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("n");
        QTest::addColumn<QByteArray>("reply");  // to "ZRIRIRI" over 11 22 33
        QTest::addColumn<bool>("gone");
        QTest::newRow("none") << "" << 0 << QByteArray::fromHex("112233") << false;
        QTest::newRow("silent from the start") << "silent" << 0 << QByteArray() << false;
        QTest::newRow("silent after 2") << "silent" << 2 << QByteArray::fromHex("1122") << false;
        QTest::newRow("stray byte") << "stray" << 0x55 << QByteArray::fromHex("55112233") << false;
        QTest::newRow("stray 00") << "stray" << 0x00 << QByteArray::fromHex("00112233") << false;
        QTest::newRow("second reply doubled") << "double" << 2 << QByteArray::fromHex("11222233") << false;
        QTest::newRow("stray byte after reply 2") << "strayAfter" << 2 << QByteArray::fromHex("11225533") << false;
        QTest::newRow("second reply dropped") << "drop" << 2 << QByteArray::fromHex("1133") << false;
        QTest::newRow("wrong byte at 1") << "wrong" << 1 << QByteArray::fromHex("11EE33") << false;
        QTest::newRow("vanish after 2") << "vanish" << 2 << QByteArray::fromHex("1122") << true;
        QTest::newRow("vanish at once") << "vanish" << 0 << QByteArray() << true;
    }
    void faults()
    {
        QFETCH(QString, fault);
        QFETCH(int, n);
        QFETCH(QByteArray, reply);
        QFETCH(bool, gone);
        BoardConfig cfg = withImage("112233");
        if (fault == "silent")
            cfg.silentAfter = n;
        else if (fault == "stray")
            cfg.strayByte = n;
        else if (fault == "double")
            cfg.doubleReply = n;
        else if (fault == "strayAfter")
            cfg.strayAfter = n;
        else if (fault == "drop")
            cfg.dropReply = n;
        else if (fault == "wrong")
            cfg.wrongAddress = n, cfg.wrongValue = 0xEE;
        else if (fault == "vanish")
            cfg.vanishAfter = n;
        Bench b(cfg);
        QCOMPARE(b.send("ZRIRIRI"), reply);
        QCOMPARE(b.e.vanished(), gone);
        if (gone) {
            // Nothing reaches a board that is gone, and nothing comes back.
            QCOMPARE(b.send("ZRI"), QByteArray());
            QCOMPARE(b.e.nextEventNs(), qint64(-1));
        }
    }

};

QTEST_GUILESS_MAIN(TestEngine)
#include "test_engine.moc"
