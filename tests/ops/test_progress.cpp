// SPDX-License-Identifier: GPL-3.0-or-later
// Each operation's progress in bytes, done of all, from before its first byte; and a sink
// that answers false stops the operation there, told as a stop asked of the link is.
#include "emurig.h"
#include "operations.h"

#include <QTest>

namespace {
enum Op { Blank, Read, Verify, Write };
}
Q_DECLARE_METATYPE(Op)

class TestProgress : public QObject {
    Q_OBJECT
private slots:
    void stops_data()
    {
        QTest::addColumn<Op>("op");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<qint64>("first");   // the first done told
        QTest::addColumn<qint64>("stopAt");  // the sink answers false once done reaches it
        QTest::newRow("blank check") << Blank << qint64(8192) << qint64(0) << qint64(16);
        QTest::newRow("read") << Read << qint64(8192) << qint64(0) << qint64(5);
        QTest::newRow("verify") << Verify << qint64(64) << qint64(0) << qint64(3);
        QTest::newRow("write") << Write << qint64(64) << qint64(1) << qint64(2);
    }
    void stops()
    {
        QFETCH(Op, op);
        QFETCH(qint64, total);
        QFETCH(qint64, stopAt);
        EmuRig rig;
        rig.add(QStringLiteral("/dev/board"), *BoardConfig::forChip(QStringLiteral("89c52")));
        SerialLink link;
        link.setOpener(rig.opener());
        link.setNaming(SerialLink::Naming::ByDevice);
        link.portMap().mapForThisRun(1, QStringLiteral("/dev/board"));
        link.setPortNumber(1);
        QVERIFY(link.open());
        BoardCommands board(link);
        QList<QPair<qint64, qint64>> told;
        const Progress progress{[&](qint64 done, qint64 all) {
            told << qMakePair(done, all);
            return done < stopAt;
        }};
        const QByteArray image(64, '\x5A');
        std::optional<Failure> failure;
        switch (op) {
        case Blank: failure = blankCheck(board, 8192, progress).failure(); break;
        case Read: failure = readDevice(board, 8192, progress).failure(); break;
        case Verify: failure = verifyDevice(board, QByteArray(64, char(0xFF)), progress).failure(); break;
        case Write: failure = writeDevice(board, image, 8192, progress, {}).failure(); break;
        }
        QCOMPARE(failure->kind, Failure::Stopped);
        QCOMPARE(failure->address, int(stopAt));
        const QString where = QString::number(stopAt, 16).toUpper() + QStringLiteral("h.");
        QVERIFY2(failure->message.endsWith(QStringLiteral(" stopped by the user at address ") + where),
                 qPrintable(failure->message));
        QFETCH(qint64, first);
        QCOMPARE(told.first(), qMakePair(first, total));
        QCOMPARE(told.last(), qMakePair(stopAt, total));
        for (qsizetype i = 1; i < told.size(); ++i)
            QVERIFY(told.at(i).first > told.at(i - 1).first);
    }
};

QTEST_GUILESS_MAIN(TestProgress)
#include "test_progress.moc"
