// Open, Save, a dropped file and the listing as the window shows them.
#include "emurig.h"
#include "fakeprompter.h"
#include "form1.h"
#include "listing.h"

#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QUrl>
#include <QTemporaryDir>
#include <QTest>

namespace {
QByteArray readAll(const QString &p)
{
    QFile f(p);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}
QString writeFile(const QString &p, const QByteArray &data)
{
    QFile f(p);
    f.open(QIODevice::WriteOnly);
    f.write(data);
    return p;
}
QByteArray bytes(int n, int seed = 1)
{
    QByteArray d(n, 0);
    for (int i = 0; i < n; ++i)
        d[i] = char(i * seed + 5);
    return d;
}

struct Window {
    QTemporaryDir dir;
    FakePrompter prompts;
    EmuRig rig;
    std::unique_ptr<Form1> w;
    Window()
    {
        rig.add("/dev/ttyS1");
        Form1::Deps d;
        d.work = WorkFolder::acquireAt(dir.filePath("work")).value();
        d.prompter = &prompts;
        d.opener = rig.opener();
        w = std::make_unique<Form1>(d);
    }
    QString file(const QString &name, const QByteArray &data) { return writeFile(dir.filePath(name), data); }
    // `data` as Intel HEX in a file called `name`.
    QString hexFile(const QString &name, const QByteArray &data)
    {
        if (!saveImage(Image{data}, dir.filePath(name), ImageFormat::IntelHex))
            qFatal("the HEX file could not be written");
        return dir.filePath(name);
    }
    // A file dragged from a file manager and let go over the listing, which passes it on.
    void drop(const QString &path)
    {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(path)});
        QWidget *over = w->Text1->viewport();
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(over, &enter);
        if (!enter.isAccepted())
            return;
        QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(over, &dropped);
    }
    bool open(const QString &path)
    {
        prompts.openPaths.enqueue(path);
        w->mnuOpen_Click();
        return w->Ready;
    }
};
}  // namespace

class TestFileCommands : public QObject {
    Q_OBJECT
private slots:
    void openListsTheImage_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("length");
        QTest::addColumn<double>("maximum");
        QTest::newRow("empty") << "image.bin" << 0 << 1.0;
        QTest::newRow("20") << "image.bin" << 20 << 3.5;
        QTest::newRow("4096") << "image.bin" << 4096 << 513.0;
        QTest::newRow("8192 accepted") << "image.bin" << 8192 << 1025.0;
        QTest::newRow("HEX 20") << "image.ihx" << 20 << 3.5;
        QTest::newRow("HEX 8192") << "image.hex" << 8192 << 1025.0;
    }
    void openListsTheImage()
    {
        QFETCH(QString, name);
        QFETCH(int, length);
        QFETCH(double, maximum);
        Window t;
        const QString path = name.endsWith(".bin") ? t.file(name, bytes(length)) : t.hexFile(name, bytes(length));
        int rowsSeen = 0;
        double topSeen = 0;
        // Watch the bar while the listing runs: the maximum, and each row's step.
        QObject::connect(t.w->ProgressBar1, &QProgressBar::valueChanged, [&] {
            topSeen = std::max(topSeen, t.w->ProgressBar1->currentValue());
            ++rowsSeen;
            QCOMPARE(t.w->ProgressBar1->maximumValue(), maximum);
            QVERIFY(!t.w->Text1->isVisibleTo(t.w.get()));
        });
        QVERIFY(t.open(path));
        QCOMPARE(t.w->FileName, path);
        QCOMPARE(t.w->FileLength, length);
        QCOMPARE(t.w->Text2->text(), name.toUpper());
        QCOMPARE(t.w->Text3->text(), QString::number(length));
        QCOMPARE(t.w->Text1->toPlainText().toLatin1(), listing::format(bytes(length)).replace("\r\n", "\n"));
        QCOMPARE(readAll(t.w->work().listingPath()), listing::format(bytes(length)));
        QCOMPARE(t.w->ProgressBar1->currentValue(), 1.0);
        QVERIFY(t.w->Text1->isVisibleTo(t.w.get()));
        if (length >= 8)
            QCOMPARE(topSeen, double(length / 8 + 1));
        QVERIFY(t.prompts.shown.isEmpty());
        QCOMPARE(t.prompts.openDialogs.first().first,
                 QString("File binari (*.*)|*.BIN|Tutti i files (*.*)|*.*|Intel HEX (*.hex *.ihx)|*.hex;*.ihx;*.ihex"));
    }

    void secondListingReplacesTheFirst()
    {
        Window t;
        QVERIFY(t.open(t.file("a.bin", bytes(300))));
        QVERIFY(t.open(t.file("b.bin", bytes(9, 3))));
        QCOMPARE(t.w->Text1->toPlainText().toLatin1(), listing::format(bytes(9, 3)).replace("\r\n", "\n"));
        QCOMPARE(t.w->Text2->text(), QString("B.BIN"));
    }

    void refusedThenCancelled_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("told");
        QTest::newRow("8193 bytes") << "big.bin" << bytes(8193) << "File is too long ( >8K ).";
        QTest::newRow("HEX past 8K") << "big.hex" << QByteArray(":01200000AA35\r\n:00000001FF\r\n")
                                     << "File is too long ( >8K ).";
        QTest::newRow("HEX record after the end") << "bad.hex" << QByteArray(":00000001FF\r\n:0100000002FC\r\n")
                                      << "bad.hex, line 2: a record after the end-of-file record of line 1.";
        QTest::newRow("HEX text, any name") << "bad.txt" << QByteArray("\n:0100000002FC\r\n:00000001FF\r\n")
                                            << "bad.txt, line 2: the checksum is FCh, the record needs FDh.";
    }
    void refusedThenCancelled()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, told);
        Window t;
        QVERIFY(t.open(t.file("good.bin", bytes(16))));
        const QString shown = t.w->Text1->toPlainText();
        t.prompts.openPaths.enqueue(t.file(name, content));
        t.prompts.openPaths.enqueue(QString());  // then Cancel
        t.w->mnuOpen_Click();
        QCOMPARE(t.prompts.shown.size(), 1);
        QCOMPARE(t.prompts.shown[0].text, told);
        QCOMPARE(t.prompts.shown[0].title, QString("Open"));
        QCOMPARE(t.prompts.shown[0].icon, Prompter::NoIcon);
        QCOMPARE(t.prompts.openDialogs.size(), 3);  // the dialog came again after the refusal
        QVERIFY(t.w->FileName.isEmpty());
        QVERIFY(t.w->Ready);
        QCOMPARE(t.w->Text1->toPlainText(), shown);
        QCOMPARE(t.w->Text2->text(), QString("GOOD.BIN"));
        QCOMPARE(t.w->Text3->text(), QString("16"));
        // With no image, Save shows no dialog.
        t.w->mnuSave_Click();
        QCOMPARE(t.prompts.saveDialogs.size(), 0);
    }

    void droppedFileOpens()
    {
        Window t;
        const QString hex = t.hexFile("drop.hex", bytes(30));
        // Not while a command runs.
        t.w->Ready = false;
        t.drop(hex);
        t.w->Ready = true;
        QVERIFY(t.w->FileName.isEmpty());
        t.drop(hex);
        QCOMPARE(t.w->FileName, hex);
        QCOMPARE(t.w->Text2->text(), QString("DROP.HEX"));
        QCOMPARE(t.w->Text1->toPlainText().toLatin1(), listing::format(bytes(30)).replace("\r\n", "\n"));
        // A refused file is told as Open tells it, with no dialog.
        t.drop(t.file("big.bin", bytes(8193)));
        QCOMPARE(t.prompts.texts(), QStringList{"File is too long ( >8K )."});
        QVERIFY(t.prompts.openDialogs.isEmpty());
        QVERIFY(t.w->Ready);
    }

    void openOfAMissingFileSaysWhy()
    {
        Window t;
        QVERIFY(t.open(t.dir.filePath("typed-name.bin")));
        QCOMPARE(t.prompts.shown.size(), 1);
        QVERIFY(t.prompts.shown[0].text.contains("typed-name.bin"));
        QVERIFY(t.w->FileName.isEmpty());
        // Cancel says nothing.
        QVERIFY(t.open(QString()));
        QCOMPARE(t.prompts.shown.size(), 1);
    }

    void saveAnswers()
    {
        Window t;
        const QString image = t.file("img.bin", bytes(777));
        QVERIFY(t.open(image));
        const QString dst = t.file("dst.bin", "old");
        // The save dialog starts from the path chosen last.
        t.prompts.savePaths.enqueue(dst);
        t.prompts.answers.enqueue(Prompter::No);
        t.w->mnuSave_Click();
        QCOMPARE(t.prompts.saveDialogs[0].second, image);
        QCOMPARE(t.prompts.saveDialogs[0].first, QString("File binario (*.*)|*.BIN|Intel HEX (*.hex)|*.hex"));
        QCOMPARE(t.prompts.shown.size(), 1);
        const ShownMessage ask = t.prompts.shown[0];
        QCOMPARE(ask.text, QString("Overwrite ?"));
        QCOMPARE(ask.title, QString("Save"));
        QCOMPARE(ask.buttons, Prompter::YesNo);
        QCOMPARE(ask.preselected, Prompter::Yes);
        QCOMPARE(ask.icon, Prompter::NoIcon);
        QCOMPARE(readAll(dst), QByteArray("old"));
        QVERIFY(t.w->Ready);

        t.prompts.savePaths.enqueue(dst);
        t.prompts.answers.enqueue(Prompter::Yes);
        t.w->mnuSave_Click();
        QCOMPARE(readAll(dst), bytes(777));
        QCOMPARE(t.w->FileName, image);  // the current image stays what it was

        // A new file: no question.
        const QString fresh = t.dir.filePath("fresh.BIN");
        t.prompts.savePaths.enqueue(fresh);
        t.w->mnuSave_Click();
        QCOMPARE(t.prompts.shown.size(), 2);
        QCOMPARE(readAll(fresh), bytes(777));

        // Onto the current image itself: intact, no message beyond the question.
        t.prompts.savePaths.enqueue(image);
        t.prompts.answers.enqueue(Prompter::Yes);
        t.w->mnuSave_Click();
        QCOMPARE(readAll(image), bytes(777));
        QCOMPARE(t.prompts.shown.size(), 3);

        // The name chooses the format: .hex converts, and from HEX .bin converts back.
        t.prompts.savePaths.enqueue(t.dir.filePath("img.hex"));
        t.w->mnuSave_Click();
        const QString hexPath = t.hexFile("expected.hex", bytes(777));
        QCOMPARE(readAll(t.dir.filePath("img.hex")), readAll(hexPath));
        QVERIFY(t.open(t.dir.filePath("img.hex")));
        t.prompts.savePaths.enqueue(t.dir.filePath("back.bin"));
        t.w->mnuSave_Click();
        QCOMPARE(readAll(t.dir.filePath("back.bin")), bytes(777));
        QCOMPARE(t.prompts.shown.size(), 3);
    }

    void failedSaveIsTold()
    {
        Window t;
        QVERIFY(t.open(t.file("img.bin", bytes(64))));
        t.file("plain", "x");
        // A folder that is a plain file cannot take the copy, whoever runs the test.
        t.prompts.savePaths.enqueue(t.dir.filePath("plain/out.bin"));
        t.w->mnuSave_Click();
        QCOMPARE(t.prompts.shown.size(), 1);
        QVERIFY(t.prompts.shown[0].text.startsWith("The image was not saved"));
        QCOMPARE(t.prompts.shown[0].icon, Prompter::Critical);
        QVERIFY(t.w->Ready);
        // The image vanished since it was opened: told too.
        QFile::remove(t.w->FileName);
        t.prompts.savePaths.enqueue(t.dir.filePath("out.bin"));
        t.w->mnuSave_Click();
        QCOMPARE(t.prompts.shown.size(), 2);
        QVERIFY(!QFile::exists(t.dir.filePath("out.bin")));
    }

    void dialogFilters_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<int>("entry");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QStringList>("hidden");
        const QString open = "File binari (*.*)|*.BIN|Tutti i files (*.*)|*.*|Intel HEX (*.hex *.ihx)|*.hex;*.ihx";
        QTest::newRow("binari") << open << 0 << "File binari (*.*)" << QStringList{"prog.bin", "PROG.BIN"}
                                << QStringList{"prog.hex"};
        QTest::newRow("tutti, also without a dot") << open << 1 << "Tutti i files (*.*)"
                                                   << QStringList{"prog.bin", "Makefile"} << QStringList{};
        QTest::newRow("Intel HEX") << open << 2 << "Intel HEX (*.hex *.ihx)"
                                   << QStringList{"prog.hex", "PROG.IHX"} << QStringList{"prog.bin"};
    }
    void dialogFilters()
    {
        QFETCH(QString, filter);
        QFETCH(int, entry);
        QFETCH(QString, description);
        QFETCH(QStringList, shown);
        QFETCH(QStringList, hidden);
        const QString f = dialogNameFilters(filter).value(entry);
        // The description as quoted, then the patterns that the dialog hides.
        QVERIFY(f.startsWith(description + " ("));
        const QStringList patterns = f.mid(description.size() + 2).chopped(1).split(' ');
        auto matches = [&](const QString &name) {
            return std::any_of(patterns.begin(), patterns.end(), [&](const QString &p) { return QDir::match(p, name); });
        };
        for (const QString &name : shown)
            QVERIFY2(matches(name), qPrintable(name));
        for (const QString &name : hidden)
            QVERIFY2(!matches(name), qPrintable(name));
    }
};

QTEST_MAIN(TestFileCommands)
#include "test_file_commands.moc"
