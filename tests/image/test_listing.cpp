// The listing file byte for byte and image sizes at the row boundaries.
#include "listing.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {
QByteArray readAll(const QString &p)
{
    QFile f(p);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}
void writeFile(const QString &p, const QByteArray &data)
{
    QFile f(p);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(data);
}
QByteArray pattern(int n)
{
    QByteArray d(n, 0);
    for (int i = 0; i < n; ++i)
        d[i] = char(i * 7 + 3);
    return d;
}
}  // namespace

class TestListing : public QObject {
    Q_OBJECT
private slots:
    void workedExample()
    {
        QTemporaryDir dir;
        const QString list = dir.filePath("tempfile.$$$");
        const Image image{QByteArray::fromHex("0200307581 07E4F5 417E20217D5A0DFF 4D5A9000"), "EX.BIN"};
        int rows = 0;
        QVERIFY(listing::write(image, list, [&] { ++rows; }).ok());
        QCOMPARE(rows, 2);
        QCOMPARE(readAll(list), QByteArray("0000  02 00 30 75 81 07 E4 F5 ..0u....\r\n"
                                           "0008  41 7E 20 21 7D 5A 0D FF A...}Z..\r\n"
                                           "0010  4D 5A 90 00             MZ..    "));
    }

    void lengths_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("completeRows");
        QTest::addColumn<QByteArray>("finalAddress");
        QTest::newRow("0") << 0 << 0 << QByteArray("0000");
        QTest::newRow("1") << 1 << 0 << QByteArray("0000");
        QTest::newRow("7") << 7 << 0 << QByteArray("0000");
        QTest::newRow("8") << 8 << 1 << QByteArray("0008");
        QTest::newRow("9") << 9 << 1 << QByteArray("0008");
        QTest::newRow("20") << 20 << 2 << QByteArray("0010");
        QTest::newRow("4096") << 4096 << 512 << QByteArray("1000");
        QTest::newRow("8192") << 8192 << 1024 << QByteArray("2000");
    }
    void lengths()
    {
        QFETCH(int, length);
        QFETCH(int, completeRows);
        QFETCH(QByteArray, finalAddress);
        const QByteArray data = pattern(length);
        const QByteArray text = listing::format(data);
        const QList<QByteArray> rows = text.split('\n');
        QCOMPARE(rows.size(), completeRows + 1);
        QCOMPARE(text.size(), (completeRows + 1) * 38 + completeRows * 2);
        for (int i = 0; i < completeRows; ++i)
            QVERIFY(rows[i].endsWith('\r') && rows[i].size() == 39);
        const QByteArray last = rows.last();
        QCOMPARE(last.size(), 38);
        QVERIFY(last.startsWith(finalAddress + "  "));
        // The final row shows exactly the bytes past the last complete row, nothing else.
        const int rest = length % 8;
        for (int i = 0; i < 8; ++i) {
            const QByteArray cell = last.mid(6 + 3 * i, 2);
            if (i < rest)
                QCOMPARE(cell, data.mid(completeRows * 8 + i, 1).toHex().toUpper());
            else
                QCOMPARE(cell, QByteArray("  "));
        }
        QCOMPARE(last.mid(30 + rest), QByteArray(8 - rest, ' '));
        if (length == 8192)
            QCOMPARE(text.size(), 40998);
    }

    void characterColumn_data()
    {
        QTest::addColumn<int>("byte");
        QTest::addColumn<QByteArray>("cell");
        QTest::addColumn<char>("shown");
        QTest::newRow("00") << 0x00 << QByteArray("00") << '.';
        QTest::newRow("0F") << 0x0F << QByteArray("0F") << '.';
        QTest::newRow("10") << 0x10 << QByteArray("10") << '.';
        QTest::newRow("space") << 0x20 << QByteArray("20") << '.';
        QTest::newRow("21") << 0x21 << QByteArray("21") << '.';
        QTest::newRow("22") << 0x22 << QByteArray("22") << '"';
        QTest::newRow("7D") << 0x7D << QByteArray("7D") << '}';
        QTest::newRow("7E") << 0x7E << QByteArray("7E") << '.';
        QTest::newRow("7F") << 0x7F << QByteArray("7F") << '.';
        QTest::newRow("FF") << 0xFF << QByteArray("FF") << '.';
    }
    void characterColumn()
    {
        QFETCH(int, byte);
        QFETCH(QByteArray, cell);
        QFETCH(char, shown);
        const quint8 b[8] = {quint8(byte), quint8(byte), quint8(byte), quint8(byte),
                             quint8(byte), quint8(byte), quint8(byte), quint8(byte)};
        const QByteArray row = listing::formatRow(0x1FF8, b, 8);
        QCOMPARE(row.left(6), QByteArray("1FF8  "));
        QCOMPARE(row.mid(6, 3), cell + ' ');
        QCOMPARE(row.mid(30), QByteArray(8, shown));
    }

    void secondListingReplacesFirst()
    {
        QTemporaryDir dir;
        const QString list = dir.filePath("tempfile.$$$");
        QVERIFY(listing::write(Image{pattern(100)}, list).ok());
        QVERIFY(listing::write(Image{pattern(3)}, list).ok());
        QCOMPARE(readAll(list), listing::format(pattern(3)));
        // A listing file that cannot be created is named in the failure.
        writeFile(dir.filePath("a.bin"), "x");
        auto noList = listing::write(Image{pattern(3)}, dir.filePath("a.bin/tempfile.$$$"));
        QVERIFY(!noList.ok() && noList.message().contains("tempfile.$$$"));
    }
};

QTEST_GUILESS_MAIN(TestListing)
#include "test_listing.moc"
