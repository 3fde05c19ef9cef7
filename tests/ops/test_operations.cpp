// The device operations' exchanges against the emulated board: the exact bytes on the
// wire, the replies as taken, and a clean end on a silent or misbehaving board.
#include "emurig.h"
#include "identify.h"
#include "operations.h"

#include <QElapsedTimer>
#include <optional>
#include <QTest>

namespace {
struct Rig {
    EmuRig rig;
    SerialLink link;
    BoardCommands board{link};
    std::shared_ptr<BoardEngine> engine;
    explicit Rig(BoardConfig cfg)
    {
        engine = rig.add("/dev/ttyS1", cfg);
        link.setOpener(rig.opener());
        if (!link.open())
            qFatal("the emulated port did not open");
    }
    // Every byte sent, as written (the board may not have handled the last ones yet).
    QByteArray wire() const { return rig.port ? rig.port->writes().join() : QByteArray(); }
};

BoardConfig chip(const char *name, const QByteArray &image = {})
{
    BoardConfig c = *BoardConfig::forChip(name);
    c.image = image;
    return c;
}

QByteArray pattern(int n)
{
    QByteArray d(n, 0);
    for (int i = 0; i < n; ++i)
        d[i] = char((i * 31 + 7) & 0xFF);
    return d;
}

QByteArray repeat(const QByteArray &unit, int n)
{
    QByteArray out;
    for (int i = 0; i < n; ++i)
        out += unit;
    return out;
}
}  // namespace

class TestOperations : public QObject {
    Q_OBJECT
private slots:
    void readWire_data()
    {
        // Every chip of the table, as the emulator presents it.
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("size");
        for (const ChipInfo &c : knownChips)
            QTest::newRow(c.name) << QString::fromLatin1(c.name) << c.size;
    }
    void readWire()
    {
        QFETCH(QString, name);
        QFETCH(int, size);
        {
            Rig r(chip(name.toLatin1()));
            const IdentifyOutcome id = identifyDevice(r.board);
            QVERIFY(id.chip);
            QCOMPARE(id.chip->name, chipForName(name)->name);
            QCOMPARE(r.engine->memory().size(), size);
        }
        const QByteArray content = pattern(size);
        Rig r(chip(name.toLatin1(), content));
        double top = 0;
        auto data = readDevice(r.board, size, Progress{[&](double m) { top = m; }, {}});
        QVERIFY(data.ok());
        QCOMPARE(data.value(), content);
        QCOMPARE(top, double(size));
        QCOMPARE(r.wire(), "Z" + repeat("RI", size));  // 1 + 2N bytes
        QCOMPARE(r.rig.port->writes().size(), 1 + size);  // each "RI" is one write
        QVERIFY(r.engine->unexpected().isEmpty());
    }

    // Replies out of step never end in a result: a stray byte or a doubled reply, taken
    // together with a reply or arriving late on its own (paced), ends the operation with
    // its own message, and the next command is in step again.
    void outOfStep_data()
    {
        QTest::addColumn<QString>("op");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("n");
        QTest::addColumn<bool>("paced");
        QTest::addColumn<int>("address");  // -1: depends on when the late byte comes
        QTest::newRow("read, stray byte before the first request") << "Read" << "stray" << 0xAA << false << 0;
        QTest::newRow("read, stray byte with reply 20") << "Read" << "strayAfter" << 20 << false << 0x13;
        QTest::newRow("read, late stray byte after reply 20") << "Read" << "strayAfter" << 20 << true << -1;
        QTest::newRow("read, reply 20 doubled together") << "Read" << "double" << 20 << false << 0x13;
        QTest::newRow("read, reply 20 doubled late") << "Read" << "double" << 20 << true << -1;
        QTest::newRow("read, last reply doubled late") << "Read" << "double" << 64 << true << 0x3F;
        QTest::newRow("verify, late stray byte") << "Verify" << "strayAfter" << 20 << true << -1;
        QTest::newRow("verify, reply 20 doubled together") << "Verify" << "double" << 20 << false << 0x13;
        QTest::newRow("write, late stray byte") << "Write" << "strayAfter" << 20 << true << -1;
        QTest::newRow("write, last reply doubled late") << "Write" << "double" << 64 << true << 0x3F;
        QTest::newRow("blank check, late stray byte") << "Blank check" << "strayAfter" << 8 << true << -1;
        QTest::newRow("blank check, reply 9 doubled together") << "Blank check" << "double" << 9 << false << 8;
    }
    void outOfStep()
    {
        QFETCH(QString, op);
        QFETCH(QString, fault);
        QFETCH(int, n);
        QFETCH(bool, paced);
        QFETCH(int, address);
        const int size = 64;
        const QByteArray content = pattern(size);
        BoardConfig c = chip("89c52", op == "Write" || op == "Blank check" ? QByteArray() : content);
        c.paced = paced;
        (fault == "stray" ? c.strayByte : fault == "strayAfter" ? c.strayAfter : c.doubleReply) = n;
        Rig r(c);
        std::optional<Failure> f;
        if (op == "Read") {
            if (auto x = readDevice(r.board, size, {}); !x)
                f = x.failure();
        } else if (op == "Verify") {
            if (auto x = verifyDevice(r.board, content, {}); !x)
                f = x.failure();
        } else if (op == "Write") {
            if (auto x = writeDevice(r.board, content, size, {}, [](const Mismatch &) { QFAIL("a mismatch box"); }); !x)
                f = x.failure();
        } else if (auto x = blankCheck(r.board, size, {}); !x) {
            f = x.failure();
        }
        QVERIFY2(f.has_value(), "ended as if the replies were in step");
        QCOMPARE(f->kind, Failure::OutOfStep);
        QVERIFY2(f->message.startsWith(op + " stopped at address ") &&
                     f->message.contains(" more than was asked, so its replies are out of step. "),
                 qPrintable(f->message));
        if (address >= 0)
            QVERIFY2(f->message.startsWith(op + " stopped at address " + hexNumber(address) + "h: "),
                     qPrintable(f->message));
        if (op == "Write")
            QVERIFY(f->message.contains("The chip may be half-written: erase it (Chip Erase), then write again."));
        // The next command starts in step.
        auto again = readDevice(r.board, size, {});
        QVERIFY2(again.ok(), qPrintable(again.message()));
        QCOMPARE(again.value(), r.engine->memory().left(size));
    }

    void emptyReplyIsZero()
    {
        QVERIFY(replyEquals(QByteArray(), 0x00));
        QVERIFY(!replyEquals(QByteArray(), 0x01));
        QVERIFY(replyEquals(QByteArray(1, '\0'), 0x00));
        QCOMPARE(BoardCommands::firstByte(QByteArray()), quint8(0));
    }

    void blankCheckGroups_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("dataAt");  // -1: erased
        QTest::addColumn<int>("groups");
        QTest::addColumn<bool>("blank");
        QTest::newRow("erased 89C51") << "89c51" << -1 << 1024 << true;
        QTest::newRow("erased 89C52") << "89c52" << -1 << 2048 << true;
        QTest::newRow("last byte 89C51") << "89c51" << 0x0FFF << 1024 << false;
        QTest::newRow("last byte 89C52") << "89c52" << 0x1FFF << 2048 << false;
        QTest::newRow("first byte") << "89c52" << 0 << 1 << false;
        QTest::newRow("a 00 in group 3") << "89c52" << 10 << 3 << false;
    }
    void blankCheckGroups()
    {
        QFETCH(QString, name);
        QFETCH(int, dataAt);
        QFETCH(int, groups);
        QFETCH(bool, blank);
        BoardConfig c = chip(name.toLatin1());
        if (dataAt >= 0) {
            c.image = QByteArray(dataAt + 1, char(0xFF));
            c.image[dataAt] = 0x00;
        }
        Rig r(c);
        int last = 0;
        auto result = blankCheck(r.board, c.size, Progress{{}, [&](double v) { last = int(v); }});
        QVERIFY(result.ok());
        QCOMPARE(result.value(), blank);
        QCOMPARE(r.wire(), "Z" + repeat("RIRIRIRI", groups));
        QCOMPARE(last, groups);
    }

    void verify()
    {
        QByteArray chipData = pattern(8192);
        QByteArray image = chipData.left(1000);
        Rig equal(chip("89c52", chipData));
        auto same = verifyDevice(equal.board, image, {});
        QVERIFY(same.ok() && !same.value().has_value());
        QCOMPARE(equal.wire(), "Z" + repeat("RI", 1000));  // only the image's length

        // The worked example: 3C expected at 1A2, 00 on the chip.
        image = chipData.left(0x400);
        image[0x1A2] = 0x3C;
        chipData[0x1A2] = 0x00;
        Rig diff(chip("89c52", chipData));
        auto d = verifyDevice(diff.board, image, {});
        QVERIFY(d.ok() && d.value().has_value());
        QCOMPARE(d.value()->address, 0x1A2);
        QCOMPARE(d.value()->expected, quint8(0x3C));
        QCOMPARE(d.value()->read, quint8(0x00));
        QCOMPARE(diff.wire(), "Z" + repeat("RI", 0x1A2 + 1));

        // Empty image: nothing asked.
        Rig none(chip("89c52"));
        auto e = verifyDevice(none.board, QByteArray(), {});
        QVERIFY(e.ok() && !e.value().has_value());
        QCOMPARE(none.wire(), QByteArray("Z"));
    }

    void writeWire()
    {
        const QByteArray image = pattern(100);
        Rig r(chip("89c52"));
        int progressEnd = 0;
        auto w = writeDevice(r.board, image, 8192, Progress{{}, [&](double v) { progressEnd = int(v); }}, {});
        QVERIFY(w.ok());
        QCOMPARE(w.value().written, 100);
        QCOMPARE(w.value().mismatches, 0);
        QByteArray expected("Z");
        for (char b : image)
            expected += QByteArray("W") + b + "I";
        QCOMPARE(r.wire(), expected);  // 1 + 3n
        QCOMPARE(r.engine->memory().left(100), image);
        QCOMPARE(progressEnd, 100);
        // "W" and the data byte are separate writes.
        QCOMPARE(r.rig.port->writes().mid(1, 3), (QList<QByteArray>{"W", image.left(1), "I"}));
    }

    void writeLongerAndShorterThanChip()
    {
        Rig r(chip("89c51"));
        auto w = writeDevice(r.board, pattern(8192), 4096, {}, {});
        QVERIFY(w.ok());
        QCOMPARE(w.value().written, 4096);
        QCOMPARE(r.wire().size(), 1 + 3 * 4096);
        QCOMPARE(r.engine->memory(), pattern(4096));

        BoardConfig c = chip("89c52", QByteArray(8192, char(0x0F)));
        Rig shorter(c);
        auto s = writeDevice(shorter.board, QByteArray(10, char(0x0F)), 8192, {}, {});
        QVERIFY(s.ok());
        QCOMPARE(shorter.engine->memory().mid(10), QByteArray(8182, char(0x0F)));  // untouched above the image
    }

    void mismatchContinuesTheWrite()
    {
        // The chip holds 00 at 2: flash cannot set bits again, so 3C reads back as 00.
        QByteArray held(8192, char(0xFF));
        held[2] = 0x00;
        Rig r(chip("89c52", held));
        QList<Mismatch> seen;
        QByteArray image = QByteArray::fromHex("11223C4455");
        auto w = writeDevice(r.board, image, 8192, {}, [&](const Mismatch &m) {
            seen << m;
            QCOMPARE(r.wire().right(2), QByteArray("W<"));  // "I" not yet sent while the box is open
        });
        QVERIFY(w.ok());
        QCOMPARE(w.value().written, 5);
        QCOMPARE(w.value().mismatches, 1);
        QCOMPARE(seen.size(), 1);
        QCOMPARE(seen[0].address, 2);
        QCOMPARE(seen[0].written, quint8(0x3C));
        QCOMPARE(seen[0].read, quint8(0x00));
        QCOMPARE(r.engine->memory().left(5), QByteArray::fromHex("1122004455"));
    }

    void silentBoardEndsCleanly_data()
    {
        QTest::addColumn<QString>("op");
        QTest::newRow("read") << "read";
        QTest::newRow("write") << "write";
        QTest::newRow("verify") << "verify";
        QTest::newRow("blank") << "blank";
    }
    void silentBoardEndsCleanly()
    {
        QFETCH(QString, op);
        BoardConfig c = chip("89c52", QByteArray(8192, char(0xFF)));
        c.silentAfter = 40;  // goes quiet in the middle
        Rig r(c);
        Failure f;
        const QByteArray image(8192, char(0xFF));
        if (op == "read") {
            auto x = readDevice(r.board, 8192, {});
            QVERIFY(!x.ok());
            f = x.failure();
        } else if (op == "write") {
            auto x = writeDevice(r.board, image, 8192, {}, {});
            QVERIFY(!x.ok());
            f = x.failure();
        } else if (op == "verify") {
            auto x = verifyDevice(r.board, image, {});
            QVERIFY(!x.ok());
            f = x.failure();
        } else {
            auto x = blankCheck(r.board, 8192, {});
            QVERIFY(!x.ok());
            f = x.failure();
        }
        QCOMPARE(f.kind, Failure::TimedOut);
        const QString where = "address 28h";  // the 41st byte
        QVERIFY2(f.message.contains(where) && f.message.contains("did not answer") && f.message.contains("Com2"),
                 qPrintable(f.message));
    }

    void vanishingPortEndsAtOnce()
    {
        BoardConfig c = chip("89c52");
        c.vanishAfter = 100;
        Rig r(c);
        QElapsedTimer t;
        t.start();
        auto x = readDevice(r.board, 8192, {});
        QVERIFY(!x.ok());
        QCOMPARE(x.failure().kind, Failure::PortLost);
        QVERIFY(t.elapsed() < 1500);
        QVERIFY(!r.link.isOpen());
    }
};

QTEST_GUILESS_MAIN(TestOperations)
#include "test_operations.moc"
