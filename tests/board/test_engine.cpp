// The board emulator's core on a clock of its own, where the operations' tests would not
// show a fault: flash and lock-bit rules, line and programming times, and what each
// injected fault does on the wire.
#include "engine.h"

#include <QMap>
#include <QTest>

namespace {
constexpr qint64 ms = 1000000;

// Sends `bytes` at `now` and takes every reply once it is all over (a second later).
QByteArray exchange(BoardEngine &e, const QByteArray &bytes, qint64 &now)
{
    e.receive(bytes, now);
    now += 1000 * ms;
    return e.takeDue(now);
}
}  // namespace

class TestEngine : public QObject {
    Q_OBJECT
private slots:
    // Commands over a chip holding 5A at address 1; the reply to the last command, the
    // byte then held at address 1, and what counts as no command of the board.
    void flashAndLockBits_data()
    {
        QTest::addColumn<QByteArray>("commands");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<quint8>("held");
        QTest::addColumn<QByteArray>("unexpected");
        const QByteArray w = "ZIW";  // write at address 1; the data byte follows
        QTest::newRow("a byte that only clears bits") << w + "\x4A" << QByteArray("\x4A") << quint8(0x4A) << QByteArray();
        QTest::newRow("bits are never set again") << w + "\xA5" << QByteArray(1, 0) << quint8(0x00) << QByteArray();
        QTest::newRow("FF changes nothing") << w + "\xFF" << QByteArray("\x5A") << quint8(0x5A) << QByteArray();
        QTest::newRow("erase: all FF again") << "E" + w + "\x3C" << QByteArray("\x3C") << quint8(0x3C) << QByteArray();
        QTest::newRow("lock bit 1: no more programming") << "1" + w + '\0' << QByteArray("\x5A") << quint8(0x5A)
                                                         << QByteArray();
        QTest::newRow("lock bit 2: no verify either") << QByteArray("11ZIR") << QByteArray("\xFF") << quint8(0x5A)
                                                      << QByteArray();
        QTest::newRow("erase clears the lock bits") << "111E" + w + "\x3C" << QByteArray("\x3C") << quint8(0x3C)
                                                    << QByteArray();
        QTest::newRow("R does not move on, I does") << QByteArray("ZRRIR") << QByteArray::fromHex("11115A")
                                                    << quint8(0x5A) << QByteArray();
        QTest::newRow("stray characters") << QByteArray("Zx\nIR") << QByteArray::fromHex("5A") << quint8(0x5A)
                                          << QByteArray("x\n");
    }
    void flashAndLockBits()
    {
        QFETCH(QByteArray, commands);
        QFETCH(QByteArray, reply);
        QFETCH(quint8, held);
        QFETCH(QByteArray, unexpected);
        BoardConfig cfg;
        cfg.image = QByteArray::fromHex("115A");
        BoardEngine e(cfg);
        qint64 now = 0;
        QCOMPARE(exchange(e, commands, now).right(reply.size()), reply);
        QCOMPARE(quint8(e.memory().at(1)), held);
        QCOMPARE(e.unexpected(), unexpected);
    }

    // When each reply byte reaches the host at 9600 baud, in byte times from the start, and
    // how long programming holds the next command (its reply comes only after).
    void timing_data()
    {
        QTest::addColumn<bool>("programmingTime");
        QTest::addColumn<QByteArray>("commands");
        QTest::addColumn<QList<qint64>>("due");
        const qint64 b = BoardEngine::byteTimeNs;
        QTest::newRow("four reads queue on the line") << false << QByteArray("RIRIRIRI")
                                                      << QList<qint64>{2 * b, 4 * b, 6 * b, 8 * b};
        QTest::newRow("W and data") << false << QByteArray("W\x3C") << QList<qint64>{3 * b};
        QTest::newRow("byte write holds the read") << true << QByteArray("W\x3CR")
                                                   << QList<qint64>{2 * b + BoardEngine::writeTimeNs + b,
                                                                    2 * b + BoardEngine::writeTimeNs + 2 * b};
        QTest::newRow("erase holds the read") << true << QByteArray("ER")
                                              << QList<qint64>{b + BoardEngine::eraseTimeNs + b};
        QTest::newRow("lock bit holds the read") << true << QByteArray("1R")
                                                 << QList<qint64>{b + BoardEngine::lockTimeNs + b};
    }
    void timing()
    {
        QFETCH(bool, programmingTime);
        QFETCH(QByteArray, commands);
        QFETCH(QList<qint64>, due);
        BoardConfig cfg;
        cfg.paced = true;
        cfg.programmingTime = programmingTime;
        BoardEngine e(cfg);
        e.receive(commands, 0);
        for (qint64 t : due) {
            QCOMPARE(e.takeDue(t - 1000), QByteArray());
            QVERIFY(e.nextEventNs() <= t);
            QCOMPARE(e.takeDue(t).size(), 1);
        }
        QCOMPARE(e.takeDue(100 * ms), QByteArray());
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
        BoardConfig cfg;
        cfg.image = QByteArray::fromHex("112233");
        const QMap<QString, int *> field{{"silent", &cfg.silentAfter}, {"stray", &cfg.strayByte},
                                         {"double", &cfg.doubleReply}, {"strayAfter", &cfg.strayAfter},
                                         {"drop", &cfg.dropReply},
                                         {"wrong", &cfg.wrongAddress}, {"vanish", &cfg.vanishAfter}};
        if (!fault.isEmpty())
            *field.value(fault) = n;
        cfg.wrongValue = 0xEE;
        BoardEngine e(cfg);
        qint64 now = 0;
        QCOMPARE(exchange(e, "ZRIRIRI", now), reply);
        QCOMPARE(e.vanished(), gone);
        if (gone) {  // nothing reaches a board that is gone, and nothing comes back
            QCOMPARE(exchange(e, "ZRI", now), QByteArray());
            QCOMPARE(e.nextEventNs(), qint64(-1));
        }
    }
};

QTEST_GUILESS_MAIN(TestEngine)
#include "test_engine.moc"
