// SPDX-License-Identifier: GPL-3.0-or-later
// The main window offscreen on emulated boards: start-up and shut-down, the busy guard,
// ports, Identify, settings and ports a user may get wrong, work files kept from harm.
#include "boardtool.h"
#include "listing.h"
#include "timeouts.h"
#include "windowfixture.h"
#include "windowstyle.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>
#include <QTimer>
#include <QToolButton>

// The paint events a widget gets.
struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject *, QEvent *e) override
    {
        paints += e->type() == QEvent::Paint;
        return false;
    }
};

class TestForm1 : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        QDir(storedSettings()->fileName()).removeRecursively();
        QFile::remove(storedSettings()->fileName());
    }

    // Each row starts from an identified AT89C52, then the board is swapped for the row's.
    void identify_data()
    {
        QTest::addColumn<BoardConfig>("board");
        QTest::addColumn<QString>("signature");  // as Text4 shows it
        QTest::addColumn<QString>("caption");    // empty: not recognised
        QTest::addColumn<int>("size");
        QTest::newRow("89C51") << chip("89c51") << "1E 51 FF" << "Device : Atmel 89C51 (Vpp=12V)" << 4096;
        QTest::newRow("1E 51 05: no leading zero")
            << chip("89c52", [](BoardConfig &c) { c.signature = QByteArray::fromHex("1E5105"); }) << "1E 51 5" << ""
            << 0;
        QTest::newRow("no chip") << chip("none") << "FF FF FF" << "" << 0;
    }
    void identify()
    {
        QFETCH(BoardConfig, board);
        QFETCH(QString, signature);
        QFETCH(QString, caption);
        QFETCH(int, size);
        WindowFixture t;
        Form1 &w = *t.w;
        QVERIFY(QFontInfo(w.Text1->font()).fixedPitch());  // the listing's columns line up
        QCOMPARE(t.group(), QString("disabled"));        // only Identify at start
        w.IdentifyDevice_Click();
        QCOMPARE(t.sent(), "Z" + QByteArray(48, 'I') + "SISIS");
        QCOMPARE(t.rig.port->writes().size(), 50);  // one write each, "SISIS" as one
        QCOMPARE(w.Label4->text() + " " + t.group(), QString("Device : Atmel 89C52 (Vpp=12V) enabled"));
        t.board() = BoardEngine(board);
        w.mnuIdentifyDevice->trigger();  // the menu item is the same command
        QCOMPARE(w.Text4->text(), signature);
        QCOMPARE(w.Label4->text(), caption.isEmpty() ? QString("Device : [unknown]") : caption);
        QCOMPARE(w.chip() ? w.chip()->size : 0, size);
        QCOMPARE(t.group(), QString(size ? "enabled" : "disabled"));
        QCOMPARE(t.prompts.texts(), size ? QStringList() : QStringList{"Device not present or defective."});
        if (!size)
            QVERIFY(t.prompts.shown[0].title == "Identification" && t.prompts.shown[0].icon == Prompter::Critical);
    }

    // The settings (a value, or the file's bytes): port opened and checked, told, and kept.
    void startupPort_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("device");
        QTest::addColumn<int>("checked");
        QTest::addColumn<QString>("told");
        const QString unusable = "cannot be read as a whole, so it is left as it is";
        QTest::newRow("nothing stored") << QVariant() << "/dev/ttyS1" << 2 << "";
        QTest::newRow("5: no item, port 5") << QVariant("5") << "/dev/ttyS4" << 0 << "";
        QTest::newRow("' 3': a number, no item") << QVariant(" 3") << "/dev/ttyS2" << 0 << "";
        for (const char *bad : {"abc", "", "0", "-1", "+3", "99999"})
            QTest::addRow("'%s'", bad) << QVariant(bad) << "/dev/ttyS1" << 2 << "";
        QTest::newRow("10000 digits") << QVariant(QString(10000, '9')) << "/dev/ttyS1" << 2 << "";
        QTest::newRow("9: no such port") << QVariant("9") << "/dev/ttyS8" << 0 << "does not exist";
        QTest::newRow("settings file not valid") << QVariant(QByteArray("[Parameters]\nCommPort=3\n\xff\xfe\n"))
                                                 << "/dev/ttyS2" << 3 << unusable;
        QTest::newRow("settings file not readable") << QVariant(QByteArray("<dir>")) << "/dev/ttyS1" << 2 << unusable;
    }
    void startupPort()
    {
        QFETCH(QVariant, stored);
        QFETCH(QString, device);
        QFETCH(int, checked);
        QFETCH(QString, told);
        const QString conf = storedSettings()->fileName();
        const bool file = stored.typeId() == QMetaType::QByteArray, folder = stored.toByteArray() == "<dir>";
        QDir().mkpath(folder ? conf : QFileInfo(conf).path());
        if (file && !folder)
            writeFile(conf, stored.toByteArray());
        else if (stored.isValid() && !file)
            storedSettings()->setValue("Parameters/CommPort", stored);
        WindowFixture t({}, {1, 2, 3, 4, 5});
        Form1 &w = *t.w;
        QCOMPARE(t.rig.opened, QStringList{device});
        QCOMPARE(t.checkedCom(), checked);
        w.tellStartupProblem();
        w.tellStartupProblem();  // told once
        QCOMPARE(t.prompts.shown.size(), int(!told.isEmpty()));
        QVERIFY2(t.prompts.texts().value(0).contains(told), qPrintable(t.prompts.texts().value(0)));
        w.IdentifyDevice_Click();
        QCOMPARE(t.group(), QString(w.MSComm1.isOpen() ? "enabled" : "disabled"));
        QVERIFY(w.ready());
        // A settings file that could not be read is left as it was; a bad value is replaced.
        QVERIFY(w.close());
        const QString now = storedSettings()->value("Parameters/CommPort").toString();
        if (file)
            QCOMPARE(QFileInfo(conf).isDir() ? QByteArray("<dir>") : readAll(conf), stored.toByteArray());
        else
            QCOMPARE(now, QString::number(w.MSComm1.portNumber()));
    }

    // Com2 mapped to no serial port, or to one a voralith-cli holds under another name: told
    // at start, Identify fails; voralith-cli exits 3.
    void notASerialPort_data()
    {
        QTest::addColumn<QString>("device");  // "DIR", "FILE", "HELD": made in a temporary folder
        QTest::addColumn<QString>("says");     // %1: the holder's process number
        QTest::newRow("missing") << "/dev/voralith-no-such-port" << "does not exist";
        QTest::newRow("held by a voralith-cli") << "HELD"
                                                << "is in use by another program, process %1 (voralith-cli). Close "
                                                   "that program, then";
        QTest::newRow("a folder") << "DIR" << "cannot be opened";
        QTest::newRow("a plain file") << "FILE" << "cannot be opened";
        QTest::newRow("/dev/null") << "/dev/null" << "cannot be opened";
    }
    void notASerialPort()
    {
        QFETCH(QString, device);
        QFETCH(QString, says);
        QTemporaryDir dir;
        std::unique_ptr<BoardTool> board;
        std::unique_ptr<HoldingRead> holder;
        if (device == "HELD") {
            board = std::make_unique<BoardTool>(QStringList{"--paced", "--link", dir.filePath("board")});
            holder = std::make_unique<HoldingRead>(board->path, dir.filePath("out.bin"));
            device = dir.filePath("other");
            QVERIFY(QFile::link(QFile::symLinkTarget(board->path), device));
            says = says.arg(holder->proc.processId());
        }
        device = device == "DIR" ? dir.path() : device == "FILE" ? dir.filePath("plain") : device;
        QVERIFY(!device.endsWith("plain") || QFile(device).open(QIODevice::WriteOnly));
        storedSettings()->setValue("Ports/Com2", device);
        WindowFixture t({}, {}, true);
        t.w->tellStartupProblem();
        t.w->IdentifyDevice_Click();
        const QString told = t.prompts.texts().value(0);
        QVERIFY2(told.contains("Com2 (" + device + ")") && told.contains(says), qPrintable(told));
        QCOMPARE(t.prompts.texts().value(1), QString("Device not present or defective."));
        QVERIFY(t.w->ready() && !t.w->MSComm1.isOpen());
        const CliRun cli = runCli({"identify"});
        QCOMPARE(cli.exit, 3);
        QVERIFY2(cli.err.contains(device) && cli.err.contains(says), qPrintable(cli.err));
    }

    // Boards on Com2 and Com3; `drop`: Com2's board is gone before the last choice.
    void portSwitch_data()
    {
        QTest::addColumn<QList<int>>("choices");
        QTest::addColumn<bool>("drop");
        QTest::addColumn<QStringList>("opened");  // after /dev/ttyS1 at start
        QTest::addColumn<int>("port");
        QTest::newRow("Com3") << QList<int>{3} << false << QStringList{"/dev/ttyS2"} << 3;
        QTest::newRow("the same port: closed and reopened")
            << QList<int>{3, 3} << false << QStringList{"/dev/ttyS2", "/dev/ttyS2"} << 3;
        QTest::newRow("missing port: back on the previous, silently")
            << QList<int>{3, 4} << false << QStringList{"/dev/ttyS2", "/dev/ttyS3", "/dev/ttyS2"} << 3;
        QTest::newRow("previous port gone too: told") << QList<int>{4} << true
                                                      << QStringList{"/dev/ttyS3", "/dev/ttyS1"} << 2;
    }
    void portSwitch()
    {
        QFETCH(QList<int>, choices);
        QFETCH(bool, drop);
        QFETCH(QStringList, opened);
        QFETCH(int, port);
        WindowFixture t({}, {2, 3});
        if (drop)
            t.rig.boards.remove(WindowFixture::device(2));
        for (int c : choices)
            QList<QAction *>{t.w->mnuCom1, t.w->mnuCom2, t.w->mnuCom3, t.w->mnuCom4}[c - 1]->trigger();
        QCOMPARE(t.rig.opened, QStringList{"/dev/ttyS1"} + opened);
        QCOMPARE(t.w->MSComm1.portNumber(), port);
        QCOMPARE(t.w->MSComm1.isOpen(), !drop);
        QCOMPARE(t.checkedCom(), port);
        QCOMPARE(t.prompts.texts().filter("no serial port is open now").size(), int(drop));
        QCOMPARE(t.prompts.shown.size(), int(drop));
        QVERIFY(!storedSettings()->contains("Parameters/CommPort"));  // written only at shut-down
    }

    // Com2 stored, Com3 chosen, the two work files present; then the window ends.
    void ending_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("shutDown");  // port saved, files deleted
        QTest::newRow("closed") << "close" << true;
        QTest::newRow("File, Exit: neither") << "exit" << false;
        QTest::newRow("closed during Identify, clicked meanwhile") << "busy" << true;
    }
    void ending()
    {
        QFETCH(QString, how);
        QFETCH(bool, shutDown);
        storedSettings()->setValue("Parameters/CommPort", "2");
        WindowFixture t({}, {2, 3});
        Form1 &w = *t.w;
        w.show();
        w.mnuCom3->trigger();
        const QStringList files{w.work().bufferPath(), w.work().listingPath()};
        for (const QString &f : files)
            writeFile(f, "x");
        if (how == "busy") {
            t.board(3) = BoardEngine(chip("89c52", [](BoardConfig &c) { c.silentAfter = 0; }));
            QTimer::singleShot(0, &w, [&] {
                w.IdentifyDevice->click();  // the busy guard: nothing, no port switch either
                w.mnuOpen->trigger();
                w.mnuCom2->trigger();
                QVERIFY(t.prompts.openDialogs.isEmpty() && t.checkedCom() == 3 && !w.close());
            });
            QElapsedTimer clock;
            clock.start();
            w.IdentifyDevice_Click();
            QVERIFY(clock.elapsed() < timeouts::identify.count());  // stopped, not timed out
            QCOMPARE(t.sent(), "Z" + QByteArray(48, 'I') + "SISIS");
            QTRY_VERIFY(!w.isVisible());
            QVERIFY(t.prompts.shown.isEmpty());  // no message while the window closes
        } else {
            if (how == "exit")
                w.mnuExit->trigger();
            QCOMPARE(t.exits, int(how == "exit"));
            QVERIFY(w.close());  // after Exit the window goes with the program, without the shut-down
        }
        QCOMPARE(storedSettings()->value("Parameters/CommPort").toString(), QString(shutDown ? "3" : "2"));
        for (const QString &f : files)
            QCOMPARE(QFile::exists(f), !shutDown);
        QVERIFY(!shutDown || !w.MSComm1.isOpen());
    }

    // Read over an earlier buffer: links at the work files replaced, never followed; a full
    // disk keeps the earlier image.
    void readKeepsFiles_data()
    {
        QTest::addColumn<int>("limit");  // file size limit during the Read
        QTest::addColumn<QString>("told");
        QTest::newRow("links planted at the work files") << 0 << "";
        QTest::newRow("the disk fills") << 6000 << "The chip was read, but the buffer file was not written. %1 cannot "
                                                   "be written: the disk is full or the file is too large.";
    }
    void readKeepsFiles()
    {
        QFETCH(int, limit);
        QFETCH(QString, told);
        WindowFixture t(chip("89c51", [](BoardConfig &c) { c.image = pattern(4096); }));
        t.identify();
        t.w->ReadData_Click();
        const QString buffer = t.w->work().bufferPath(), list = t.w->work().listingPath();
        const QByteArray listing = readAll(list);
        t.board() = BoardEngine(chip("89c52", [](BoardConfig &c) { c.image = pattern(8192, 3); }));
        t.identify();
        const QString victim = t.file("victim", "keep me");
        for (const QString &p : {buffer, list})
            QVERIFY(limit || (QFile::remove(p) && QFile::link(victim, p)));
        {
            FileSizeLimit cap(limit);
            t.w->ReadData_Click();
        }
        QVERIFY(t.w->ready() && readAll(victim) == "keep me");
        QCOMPARE(t.prompts.texts(), told.isEmpty() ? QStringList() : QStringList{told.arg(buffer)});
        QCOMPARE(t.w->fileName(), buffer);
        QCOMPARE(t.w->Text3->text(), told.isEmpty() ? "8192" : "4096");
        QCOMPARE(readAll(buffer), told.isEmpty() ? pattern(8192, 3) : pattern(4096));
        QCOMPARE(readAll(list), told.isEmpty() ? listing::format(pattern(8192, 3)) : listing);
        QVERIFY(!QFileInfo(buffer).isSymLink() && !QFileInfo(list).isSymLink());
        if (limit) {  // voralith-cli reading into a file on the same disk
            BoardTool b({"--chip", "89c52"});
            FileSizeLimit cap(limit);
            const CliRun cli = runCli({"--port", b.path, "read", victim});
            QVERIFY2(cli.exit == 2 && cli.err.contains("the disk is full"), qPrintable(cli.err));
            QCOMPARE(readAll(victim), "keep me");
        }
    }

    // The work folder of a running window (owner-only), and what a second start is refused on.
    void workFolderRefused_data()
    {
        QTest::addColumn<QString>("at");
        QTest::addColumn<QString>("told");
        QTest::newRow("a second copy") << "work" << "Another copy of Voralith is already running";
        QTest::newRow("cannot be created") << "plain/work" << "The work folder %1 cannot be created.";
        QTest::newRow("a symbolic link") << "link" << "The work folder %1 is a symbolic link";
    }
    void workFolderRefused()
    {
        QFETCH(QString, at);
        QFETCH(QString, told);
        WindowFixture first;
        first.openImage(pattern(100));
        QCOMPARE(QFileInfo(first.w->work().path()).permissions() & (QFile::ReadOther | QFile::ReadGroup), 0);
        first.file("plain", "x");
        QFile::link(first.w->work().path(), first.dir.filePath("link"));
        const auto second = WorkFolder::acquireAt(first.dir.filePath(at));
        QVERIFY2(!second.ok() && second.message().startsWith(told.replace("%1", first.dir.filePath(at))),
                 qPrintable(second.message()));
        QCOMPARE(readAll(first.w->work().listingPath()), listing::format(pattern(100)));
    }

    // The progress bar as a Read drives it, a byte at a time, each step a frame later: what
    // the screen holds after each step is the bar drawn afresh at that value, and the bar
    // is drawn again only when its edge moves a pixel.
    void progressBar_data()
    {
        QTest::addColumn<QString>("style");
        QTest::addColumn<Qt::LayoutDirection>("direction");
        QTest::addColumn<int>("size");  // bytes of the run
        QTest::addColumn<int>("step");  // bytes a frame
        QTest::newRow("Fusion, AT89C52, a third of a pixel a frame") << "Fusion" << Qt::LeftToRight << 8192 << 9;
        QTest::newRow("Fusion, right to left, AT89C51, 3 pixels") << "Fusion" << Qt::RightToLeft << 4096 << 40;
        QTest::newRow("Windows chunks, AT89C51, 2 pixels") << "Windows" << Qt::LeftToRight << 4096 << 27;
        QTest::newRow("Windows chunks, right to left, AT89C52, half a pixel")
            << "Windows" << Qt::RightToLeft << 8192 << 13;
    }
    void progressBar()
    {
        QFETCH(QString, style);
        QFETCH(Qt::LayoutDirection, direction);
        QFETCH(int, size);
        QFETCH(int, step);
        std::unique_ptr<QStyle> look(QStyleFactory::create(style));
        QVERIFY(look);
        ScaledProgressBar bar;
        bar.setStyle(look.get());
        bar.setLayoutDirection(direction);
        bar.setFixedSize(313, 17);  // the window's
        bar.setMaximumValue(size);
        bar.setCurrentValue(1);
        bar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bar));
        QTest::qWait(50);
        PaintCounter counter;
        bar.installEventFilter(&counter);
        const auto shown = [&] {
            return bar.screen()->grabWindow(bar.winId()).toImage().convertToFormat(QImage::Format_RGB32);
        };
        const int frames = 16;
        int byte = 1, paints = 0;
        for (int i = 0; i < frames; ++i) {
            bar.setCurrentValue(byte += step);
            QTest::qWait(ScaledProgressBar::frameMs + 4);
            paints += std::exchange(counter.paints, 0);
            QCOMPARE(shown(), bar.grab().toImage().convertToFormat(QImage::Format_RGB32));
            counter.paints = 0;  // grab() draws the bar too
        }
        const int pixels = (frames * step * bar.width() + size - 1) / size;
        QVERIFY2(paints <= std::min(frames, pixels + 1), qPrintable(QString::number(paints)));
        bar.setCurrentValue(size);
        QTest::qWait(ScaledProgressBar::frameMs + 4);
        QCOMPARE(shown(), bar.grab().toImage().convertToFormat(QImage::Format_RGB32));

        // It looks as Qt's own bar at the same value.
        for (int at : {size / 3, size}) {
            bar.setCurrentValue(at);
            QProgressBar plain;
            plain.setStyle(look.get());
            plain.setLayoutDirection(direction);
            plain.setFixedSize(bar.size());
            plain.setTextVisible(false);
            plain.setRange(bar.minimum(), bar.maximum());
            plain.setValue(bar.value());
            QCOMPARE(bar.grab().toImage(), plain.grab().toImage());
        }
    }

    // In the program's look a menu bar too narrow for its menus still shows its overflow
    // arrow, read when it is drawn.
    void overflowArrow()
    {
        setUpLook(*static_cast<QApplication *>(QCoreApplication::instance()));
        QMenuBar bar;
        for (const char *title : {"&File", "&Actions", "&Comm port", "&?"})
            bar.addMenu(QString::fromLatin1(title));
        bar.resize(60, 30);
        bar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bar));
        const auto *arrow = bar.findChild<QToolButton *>();
        QVERIFY(arrow && arrow->isVisible());
        QVERIFY(!arrow->icon().pixmap(16, 16).isNull());
    }
};

QTEST_MAIN(TestForm1)
#include "test_form1.moc"
