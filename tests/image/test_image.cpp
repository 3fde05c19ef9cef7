// SPDX-License-Identifier: GPL-3.0-or-later
// Images in and out of files: Intel HEX against binutils' objcopy, every refusal with its
// line, the files 8051 toolchains write, and the listing's rows.
#include "image.h"
#include "listing.h"
#include "testfiles.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {
// One record with its checksum: rec("0100000002") is ":0100000002FD\n".
QByteArray rec(const char *body)
{
    quint8 sum = 0;
    for (char c : QByteArray::fromHex(body))
        sum += quint8(c);
    return ':' + QByteArray(body) + QByteArray(1, char(quint8(-sum))).toHex().toUpper() + '\n';
}
bool objcopy(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("objcopy"), args);
    return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}
}  // namespace

class TestImage : public QObject {
    Q_OBJECT
private slots:
    // The file written, read back by us and by objcopy; also with its line ends replaced in
    // turn by those of `ends`, and `after` following the end record, as other tools write it.
    void roundTripAgainstObjcopy_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<QByteArrayList>("ends");
        QTest::addColumn<QByteArray>("after");
        for (int n : {0, 1, 15, 16, 17, 4096, 8192})
            QTest::addRow("%d", n) << n << QByteArrayList{"\r\n"} << QByteArray();
        QTest::newRow("CR") << 40 << QByteArrayList{"\r"} << QByteArray();
        QTest::newRow("CR, LF, CR LF mixed") << 40 << QByteArrayList{"\r", "\n", "\r\n"} << QByteArray();
        QTest::newRow("Ctrl+Z after the end") << 40 << QByteArrayList{"\r\n"} << QByteArray("\x1A");
        QTest::newRow("Ctrl+Z on the end's line") << 40 << QByteArrayList{"\n"} << QByteArray(" \x1A\r\n\t\n");
    }
    void roundTripAgainstObjcopy()
    {
        QFETCH(int, length);
        QFETCH(QByteArrayList, ends);
        QFETCH(QByteArray, after);
        QTemporaryDir dir;
        const QByteArray data = pattern(length);
        const QString bin = writeFile(dir.filePath("in.bin"), data);
        QString ours = dir.filePath("ours.hex");
        QVERIFY(saveImage(loadImage(bin).value(), ours, ImageFormat::IntelHex).ok());
        if (ends != QByteArrayList{"\r\n"} || !after.isEmpty()) {
            QByteArray text;
            const QByteArrayList lines = readAll(ours).split('\n');
            for (int i = 0; i + 1 < lines.size(); ++i)
                text += lines[i].chopped(1) + (i + 2 == lines.size() ? after : ends[i % ends.size()]);
            ours = writeFile(dir.filePath("other.txt"), text);  // HEX told by its content
        }
        const auto back = loadImage(ours);
        QVERIFY2(back.ok(), qPrintable(back.message()));
        QCOMPARE(back.value().bytes, data);
        QCOMPARE(back.value().format, ImageFormat::IntelHex);
        if (length == 0) {  // objcopy refuses an empty file either way
            QCOMPARE(readAll(ours), QByteArray(":00000001FF\r\n"));
            return;
        }
        if (QStandardPaths::findExecutable(QStringLiteral("objcopy")).isEmpty())
            QSKIP("objcopy (binutils) is not installed");
        QVERIFY(objcopy({"-I", "ihex", "-O", "binary", ours, dir.filePath("theirs.bin")}));
        QCOMPARE(readAll(dir.filePath("theirs.bin")), data);
        QVERIFY(objcopy({"-I", "binary", "-O", "ihex", bin, dir.filePath("theirs.hex")}));
        if (ours.endsWith(".hex"))
            QCOMPARE(readAll(ours), readAll(dir.filePath("theirs.hex")));
        QCOMPARE(loadImage(dir.filePath("theirs.hex")).value().bytes, data);
    }

    // A file as a toolchain or a user leaves it: the bytes taken, or the refusal told.
    void load_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("kind");  // -1: taken, as HEX unless named .bin
        QTest::addColumn<QVariant>("expected");  // the bytes, or the message
        const QByteArray end = ":00000001FF\n", one = rec("0100000002");
        const QByteArray sixteen = QByteArray::fromHex("000102030405060708090A0B0C0D0E0F");
        const QByteArray full = rec("10000000000102030405060708090A0B0C0D0E0F");
        // Past 8K is too long, told as such by the window; anything else is refused.
        auto bad = [](const char *tag, const QByteArray &text, const QString &message) {
            const QString m = "t.hex, line " + message;
            QTest::newRow(tag) << "t.hex" << text << int(m.contains("beyond") ? Failure::TooLong : Failure::Refused)
                               << QVariant(m);
        };
        auto good = [](const char *tag, const char *name, const QByteArray &text, const QByteArray &bytes) {
            QTest::newRow(tag) << name << text << -1 << QVariant(bytes);
        };
        bad("checksum", one + ":0100010003FC\n" + end, "2: the checksum is FCh, the record needs FBh.");
        bad("no colon", one + "0100010003FB\n" + end, "2: the line does not start with ':'.");
        bad("odd digits", ":0100000002FD0\n" + end, "1: an odd number of hex digits.");
        bad("not hex", "\n:01000000G2FD\n" + end, "2: 'G' is not a hex digit.");
        bad("length field", ":0200000002FC\n" + end, "1: the length field says 2 data bytes, the line holds 1.");
        bad("too short", ":000000\n" + end, "1: the line is too short for a record.");
        bad("unknown type", rec("0000000A") + end, "1: unknown record type 0A.");
        bad("address record size", rec("0100000400") + end,
            "1: a record of type 04 (extended linear address) holds 1 data byte, and that type needs 2.");
        bad("end record with data", rec("02000001AABB"),
            "1: a record of type 01 (end of file) holds 2 data bytes, and that type needs none.");
        const QString beyond = ": data at address 2000h, beyond the 8192 bytes of the largest chip.";
        bad("at 8192", one + rec("01200000AA") + end, "2" + beyond);
        bad("record across 8192", rec("041FFE0001020304") + end, "1" + beyond);
        bad("segment", rec("020000020200") + rec("0100000055") + end, "2" + beyond);
        bad("linear", rec("020000040001") + rec("0100000055") + end,
            "2: data at address 10000h, beyond the 8192 bytes of the largest chip.");
        bad("two values", rec("0200100011AA") + "\n" + rec("0100110022") + end,
            "3: address 11h is given 22h here and AAh on line 1.");
        bad("no end record", "\n" + one + " \n\n", "2: the file ends after this line without an end-of-file record "
                                                  "(:00000001FF).");
        QTest::newRow("empty") << "t.hex" << QByteArray() << int(Failure::Refused)
                               << QVariant("t.hex: the file is empty, and an Intel HEX file holds at least its "
                                           "end-of-file record (:00000001FF).");
        bad("after end", end + "\n" + one, "3: a record after the end-of-file record of line 1.");
        bad("Ctrl+Z twice", one + end + "\x1A\r\n\x1A",
            "4: a second Ctrl+Z (1Ah) after the end-of-file record of line 2.");
        bad("text after Ctrl+Z", one + ":00000001FF\x1A\n\nDone.\n", "4: text after the end-of-file record of line 2.");
        bad("Ctrl+Z before the end", one + "\x1A",
            "2: a Ctrl+Z (1Ah), which may only follow the end-of-file record (:00000001FF).");
        bad("CR, CR LF and LF each end one line", one.chopped(1) + "\r\r\n\n:0100010003FC\r" + end,
            "4: the checksum is FCh, the record needs FBh.");
        bad("raw bytes named .hex", QByteArray("\x02\x00\x30", 3), "1: the line does not start with ':'.");
        QTest::newRow("binary of 8193") << "big.bin" << QByteArray(8193, 'x') << int(Failure::TooLong)
            << QVariant("big.bin is too long: 8193 bytes, and the largest chip holds 8192.");
        const QByteArray records = rec("020000040000") + rec("0400000300000000") + rec("0400000500000000");
        good("04, 03 and 05 records, short last record", "a.hex", records + full + rec("03001000AABBCC") + end,
             sixteen + QByteArray::fromHex("AABBCC"));
        good("lower case, LF", "a.ihx", full.toLower() + ":00000001ff\n", sixteen);
        good("out of address order", "a.hex", rec("02001000AABB") + full + end, sixteen + QByteArray::fromHex("AABB"));
        good("gap is FF", "a.IHEX", rec("0100000011") + rec("0100040022") + end, QByteArray::fromHex("11FFFFFF22"));
        good("segment within 8K", "a.hex", rec("020000020100") + rec("0100000033") + end,
             QByteArray(0x1000, char(0xFF)) + QByteArray::fromHex("33"));
        good("blanks around", "a.hex", "\r\n" + full.chopped(1) + "  \t\r\n\r\n" + end + " \r\n", sixteen);
        good("last address", "a.hex", rec("011FFF0099") + end, QByteArray(8191, char(0xFF)) + '\x99');
        good("HEX text under another name", "prog.txt", "\n " + full + end, sixteen);
        good("the same, Ctrl+Z after its end", "prog.txt", full + end + "\x1A", sixteen);
        good("':' then raw bytes", "prog.bin", QByteArray(":\x00\x01\xFF", 4), QByteArray(":\x00\x01\xFF", 4));
        good("binary of 8192", "full.bin", QByteArray(8192, 'x'), QByteArray(8192, 'x'));
    }
    void load()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, text);
        QFETCH(int, kind);
        QFETCH(QVariant, expected);
        QTemporaryDir dir;
        const auto r = loadImage(writeFile(dir.filePath(name), text));
        if (kind >= 0) {
            QCOMPARE(r.message(), expected.toString());
            QCOMPARE(int(r.failure().kind), kind);
            return;
        }
        QVERIFY2(r.ok(), qPrintable(r.message()));
        QCOMPARE(r.value().bytes, expected.toByteArray());
        QCOMPARE(r.value().format, name.endsWith(".bin") ? ImageFormat::Binary : ImageFormat::IntelHex);
    }

    // The listing as the file holds it: rows of 38 characters, CR LF after every complete
    // row, the final row always written and blank past the image's last byte.
    void listing_data()
    {
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<int>("size");
        QTest::addColumn<QByteArray>("tail");
        QTest::newRow("worked example") << QByteArray::fromHex("0200307581 07E4F5 417E20217D5A0DFF 4D5A9000") << 118
                                        << QByteArray("0000  02 00 30 75 81 07 E4 F5 ..0u....\r\n"
                                                      "0008  41 7E 20 21 7D 5A 0D FF A...}Z..\r\n"
                                                      "0010  4D 5A 90 00             MZ..    ");
        QTest::newRow("empty") << QByteArray() << 38 << "0000" + QByteArray(34, ' ');
        QTest::newRow("the character column's edges") << QByteArray::fromHex("000F10202122 7D7E 7FFF") << 78
                                                       << QByteArray("0000  00 0F 10 20 21 22 7D 7E .....\"}.\r\n"
                                                                     "0008  7F FF                   ..      ");
        QTest::newRow("8192") << pattern(8192) << 40998 << "E7 F4 ........\r\n2000" + QByteArray(34, ' ');
    }
    void listing()
    {
        QFETCH(QByteArray, image);
        QFETCH(int, size);
        QFETCH(QByteArray, tail);
        int rows = 0;
        const QByteArray text = listing::format(image, [&] { ++rows; });
        QCOMPARE(text.size(), size);
        QCOMPARE(text.right(tail.size()), tail);
        QCOMPARE(rows, int(image.size() / 8));
    }
};

QTEST_GUILESS_MAIN(TestImage)
#include "test_image.moc"
