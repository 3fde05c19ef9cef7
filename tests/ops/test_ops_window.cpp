// SPDX-License-Identifier: GPL-3.0-or-later
// The device commands as the window runs them: each command against each fault of a board
// or a line (what is told, under which title and icon, the state after, nothing lost, the
// next command sound and its exact bytes), then the questions and a stop by the user.
#include "faults.h"
#include "operations.h"
#include "windowfixture.h"

#include <QTest>
#include <QTimer>

using namespace faults;
Q_DECLARE_METATYPE(faults::Op)

namespace {
const char *const kTitles[] = {"Identification", "Blank Check", "Read Data", "Write Data", "Write Data",
                               "Erase Chip",     "Program Lock Bit 1"};

bool asks(Op op) { return op == Write || op == Erase || op == Lock; }

void run(WindowFixture &fx, Op op)
{
    if (asks(op))
        fx.prompts.answers.enqueue(Prompter::Ok);
    switch (op) {
    case Identify: return fx.w->IdentifyDevice_Click();
    case Blank: return fx.w->BlankCheck_Click();
    case Read: return fx.w->ReadData_Click();
    case Verify: return fx.w->Verify_Click();
    case Write: return fx.w->WriteData_Click();
    case Erase: return fx.w->ChipErase_Click();
    default: return fx.w->mnuLockBit1_Click();
    }
}

// What the window must tell, as patterns, each with its icon.
using Told = QList<QPair<QString, int>>;
Told expected(Op op, const Case &c)
{
    const QString halfWritten = ".* The chip may be half-written: erase it \\(Chip Erase\\), then write again\\.";
    const QString wrong = hexNumber(quint8(image().at(wrongAt)));
    switch (op == Identify && c.seen != Fine ? NoChip : c.seen) {
    case Fine:
        return op == Blank    ? Told{{"^Device is erased\\.$", Prompter::Information}}
               : op == Verify ? Told{{"^Equal\\.$", Prompter::NoIcon}}
               : op == Write  ? Told{{"^Device was succesfully programmed\\.$", Prompter::Information}}
                              : Told{};
    case Differs:
        return op == Blank    ? Told{{"^Device contains data\\.$", Prompter::Warning}}
               : op == Verify ? Told{{"^It isn't the same : 20 h expexted " + wrong + "h read 0h$", Prompter::NoIcon}}
               : op == Write  ? Told{{"^Error in 20h : write " + wrong + "h read 0h$", Prompter::NoIcon},
                                    {"^Some errors are occurred\\.$", Prompter::Critical}}
                              : Told{};
    case NoChip: return {{"^Device not present or defective\\.$", Prompter::Critical}};
    default: {
        const QString then = op == Write                ? halfWritten
                             : c.seen != OutOfStep       ? QString()
                             : op == Read               ? " Nothing was stored: read again\\."
                             : op == Verify ? " No difference is reported, since none could be trusted: verify again\\."
                                            : " The check gives no verdict: run it again\\.";
        return {{endPattern(op, c) + then, Prompter::Critical}};
    }
    }
}

// The messages shown from `from` on match `told`, all under the command's title.
void checkTold(const WindowFixture &fx, qsizetype from, const Told &told, Op op)
{
    const QList<ShownMessage> shown = fx.prompts.shown.mid(from);
    QCOMPARE(shown.size(), told.size());
    for (int i = 0; i < told.size(); ++i) {
        QVERIFY2(QRegularExpression(told[i].first).match(shown[i].text).hasMatch(), qPrintable(shown[i].text));
        QCOMPARE(int(shown[i].icon), told[i].second);
        QCOMPARE(shown[i].title, QString::fromLatin1(kTitles[op]));
    }
}
}  // namespace

class TestOpsWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { useShortLimits(); }

    void faults_data()
    {
        QTest::addColumn<Op>("op");
        QTest::addColumn<int>("fault");
        for (Op op : {Identify, Blank, Read, Verify, Write, Erase, Lock})
            for (int f = 0; f < FaultCount; ++f)
                QTest::addRow("%s, %s", opNames[op], faultNames[f]) << op << f;
    }
    void faults()
    {
        QFETCH(Op, op);
        QFETCH(int, fault);
        const Case c = make(op, Fault(fault), false);
        const QByteArray content = faults::content(op), image = faults::image();
        WindowFixture fx(chip("89c51", [&](BoardConfig &b) { b.image = content; }));
        fx.identify();
        // A buffer read before, a copy saved of it, and the image in hand.
        run(fx, Read);
        const QString saved = fx.dir.filePath("saved.hex");
        fx.prompts.savePaths.enqueue(saved);
        fx.w->mnuSave_Click();
        const QString in = fx.openImage(image);
        const QString listed = fx.w->Text1->toPlainText();
        QVERIFY2(fx.prompts.shown.isEmpty(), qPrintable(fx.prompts.texts().join(" | ")));

        BoardConfig faulty = c.board;
        faulty.image = content;
        fx.board() = BoardEngine(faulty);  // plugged in anew: what it sends first is waiting
        fx.w->MSComm1.close();
        QVERIFY(fx.w->ensurePort());
        QCoreApplication::processEvents();
        run(fx, op);
        checkTold(fx, asks(op), expected(op, c), op);
        QVERIFY(fx.w->ready() && fx.w->Text1->isVisibleTo(fx.w.get()) && fx.w->ProgressBar1->currentValue() == 1.0);
        // Nothing lost: a read is kept only when it is whole and sound.
        const bool readKept = op == Read && (c.seen == Fine || c.seen == Differs);
        const QByteArray asRead = c.seen == Differs ? QByteArray(content).replace(wrongAt, 1, "\0", 1) : content;
        QCOMPARE(readAll(fx.w->work().bufferPath()), readKept ? asRead : content);
        QCOMPARE(fx.w->fileName(), readKept ? fx.w->work().bufferPath() : in);
        if (!readKept)
            QCOMPARE(fx.w->Text1->toPlainText(), listed);
        QCOMPARE(readAll(in), image);
        QCOMPARE(readAll(saved), readAll(fx.hexFile("expected.hex", content)));

        // Once the board has sent what it had on its way (meanwhile the user reads the
        // message), it is sound again: the same command works and sends its exact bytes.
        QTRY_VERIFY(fx.board().nextEventNs() < 0);
        fx.board().heal();
        fx.prompts.shown.clear();
        QVERIFY(fx.w->ensurePort());
        if (op == Write && c.seen != Fine && c.seen != Differs) {  // told at the next Identify, once
            fx.w->IdentifyDevice_Click();
            fx.w->IdentifyDevice_Click();
            checkTold(fx, 0, {{"^A Write on /dev/ttyS1, started .+, did not finish, so the chip there may be half-written\\. "
                               "Erase it \\(Chip Erase\\), then write again\\.$", Prompter::Warning}}, Identify);
            fx.prompts.shown.clear();
        }
        fx.markWire();
        run(fx, op);
        checkTold(fx, asks(op), expected(op, Case{}), op);
        QCOMPARE(fx.wire(), wire(op, readAll(fx.w->fileName()).left(imageSize)));
    }

    // The questions before a command changes the chip: Cancel sends nothing, OK sends it,
    // unless the work folder cannot keep the note of the change.
    void questions_data()
    {
        QTest::addColumn<int>("item");  // Write, Chip Erase, lock bits 1, 2, 3, all
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("wire");
        const QString p = "* MOVC instructions executed from external program memory are disabled from fetching "
                          "code bytes from internal memory, /EA is sampled and latched on reset, and further "
                          "programming of the Flash memory is disabled.\r\n\r\n";
        const QString all = p + "* Verify is disabled.\r\n\r\n* External execution is disabled.\r\n\r\nAre you sure ?";
        QTest::newRow("Write") << 0 << "Write Data" << "Are you sure ?" << wire(Write, image());
        QTest::newRow("Chip Erase") << 1 << "Erase Chip" << "Are you sure ?" << QByteArray("E");
        QTest::newRow("lock bit 1") << 2 << "Program Lock Bit 1" << p + "Are you sure ?" << QByteArray("1");
        QTest::newRow("lock bit 2") << 3 << "Program Lock Bit 1" << p + "* Verify is also disabled.\r\n\r\nAre you sure ?"
                                    << QByteArray("1");
        QTest::newRow("lock bit 3") << 4 << "Program Lock Bit 1" << all << QByteArray("1");
        QTest::newRow("all lock bits") << 5 << "Program Lock Bit 1" << all << QByteArray("111");
    }
    void questions()
    {
        QFETCH(int, item);
        QFETCH(QString, title);
        QFETCH(QString, text);
        QFETCH(QByteArray, wire);
        WindowFixture fx(chip("89c51"));
        fx.identify();
        fx.openImage(image());
        fx.markWire();
        QAction *a = QList<QAction *>{fx.w->mnuWriteData, fx.w->mnuChipErase, fx.w->mnuLockBit1,
                                      fx.w->mnuLockBit2,  fx.w->mnuLockBit3,  fx.w->mnuAllLockBits}[item];
        a->trigger();  // Cancel is preselected
        QCOMPARE(fx.wire(), QByteArray());
        fx.prompts.answers.enqueue(Prompter::Ok);
        a->trigger();
        QCOMPARE(fx.wire(), wire);
        for (const ShownMessage &m : fx.prompts.shown.mid(0, 2))
            QCOMPARE(std::tuple(m.title, m.text, int(m.buttons), int(m.icon), int(m.preselected)),
                     std::tuple(title, text, int(Prompter::OkCancel), int(Prompter::Warning), int(Prompter::Cancel)));
        QVERIFY(fx.w->ready());

        // A work folder that cannot keep the note of the change (its disk full): nothing is sent.
        fx.markWire();
        fx.prompts.shown.clear();
        fx.prompts.answers.enqueue(Prompter::Ok);
        {
            FileSizeLimit full(1);
            a->trigger();
        }
        QCOMPARE(fx.wire(), QByteArray());
        QCOMPARE(fx.prompts.shown.size(), 2);
        const ShownMessage &m = fx.prompts.shown[1];
        QCOMPARE(std::tuple(m.title, int(m.icon)), std::tuple(title, int(Prompter::Critical)));
        QVERIFY2(m.text.startsWith("Nothing was sent: the note of this chip change cannot be kept in the work folder " +
                                   fx.w->work().path() + " (the disk is full or the file is too large)."),
                 qPrintable(m.text));
        QVERIFY(fx.w->ready());
    }

    // The user acts while a command runs, at its first pass of events: Escape stops it,
    // the other commands are turned away, closing the window ends it first.
    void interruptions_data()
    {
        QTest::addColumn<Op>("op");
        QTest::addColumn<QString>("act");
        QTest::addColumn<QString>("told");  // the messages after any question
        QTest::newRow("Escape stops a Read") << Read << "escape" << "^Read stopped by the user at address 0h\\.$";
        QTest::newRow("Escape stops a Write") << Write << "escape"
                                              << "^Write stopped by the user at address 0h\\. The chip may be "
                                                 "half-written: erase it \\(Chip Erase\\), then write again\\.$";
        QTest::newRow("clicks during a Blank check") << Blank << "click" << "^Device is erased\\.$";
        QTest::newRow("closing during a Verify") << Verify << "close" << "^$";
    }
    void interruptions()
    {
        QFETCH(Op, op);
        QFETCH(QString, act);
        QFETCH(QString, told);
        WindowFixture fx(chip("89c51", [&](BoardConfig &b) { b.image = content(op); }));
        fx.identify();
        fx.openImage(image());
        fx.w->show();
        QVERIFY(QTest::qWaitForWindowActive(fx.w.get()));
        fx.markWire();
        QTimer::singleShot(0, fx.w.get(), [&] {
            if (act == "escape")
                QTest::keyClick(fx.w.get(), Qt::Key_Escape);
            else if (act == "close")
                fx.w->close();
            for (QPushButton *b : {fx.w->IdentifyDevice, fx.w->BlankCheck, fx.w->ReadData, fx.w->Verify,
                                   fx.w->WriteData, fx.w->ChipErase})
                b->click();
            fx.w->mnuOpen->trigger();
            fx.w->mnuLockBit1->trigger();
        });
        run(fx, op);
        const QString shown = fx.prompts.texts().mid(asks(op)).join('|');
        QVERIFY2(QRegularExpression(told).match(shown).hasMatch(), qPrintable(shown));
        QCOMPARE(fx.prompts.openDialogs.size(), 1);  // the Open before
        if (act == "click")
            QCOMPARE(fx.wire(), wire(op, image()));
        else
            QVERIFY(fx.wire().size() < wire(op, image()).size());
        QVERIFY(!QFile::exists(fx.w->work().bufferPath()));
        QTRY_COMPARE(fx.w->isVisible(), act != "close");
        if (op != Write)
            return;
        fx.w.reset();  // the next start tells that the chip may be half-written
        Form1::Deps d{WorkFolder::acquireAt(fx.dir.filePath("work")).value(), &fx.prompts, fx.rig.opener()};
        Form1 next(d);
        next.tellStartupProblem();
        QCOMPARE(fx.prompts.shown.last().title, QString("Voralith"));
        QVERIFY(fx.prompts.shown.last().text.startsWith("A Write on /dev/ttyS1, started "));
    }
};

QTEST_MAIN(TestOpsWindow)
#include "test_ops_window.moc"
