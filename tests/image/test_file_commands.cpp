// Open, Save and the listing as the window shows them.
#include "emurig.h"
#include "fakeprompter.h"
#include "form1.h"
#include "listing.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
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
        QTest::addColumn<int>("length");
        QTest::addColumn<double>("maximum");
        QTest::newRow("empty") << 0 << 1.0;
        QTest::newRow("20") << 20 << 3.5;
        QTest::newRow("4096") << 4096 << 513.0;
        QTest::newRow("8192 accepted") << 8192 << 1025.0;
    }
    void openListsTheImage()
    {
        QFETCH(int, length);
        QFETCH(double, maximum);
        Window t;
        const QString path = t.file("image.bin", bytes(length));
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
        QCOMPARE(t.w->Text2->text(), QString("IMAGE.BIN"));
        QCOMPARE(t.w->Text3->text(), QString::number(length));
        QCOMPARE(t.w->Text1->toPlainText().toLatin1(), listing::format(bytes(length)).replace("\r\n", "\n"));
        QCOMPARE(readAll(t.w->work().listingPath()), listing::format(bytes(length)));
        QCOMPARE(t.w->ProgressBar1->currentValue(), 1.0);
        QVERIFY(t.w->Text1->isVisibleTo(t.w.get()));
        if (length >= 8)
            QCOMPARE(topSeen, double(length / 8 + 1));
        QVERIFY(t.prompts.shown.isEmpty());
        QCOMPARE(t.prompts.openDialogs.first().first, QString("File binari (*.*)|*.BIN|Tutti i files (*.*)|*.*"));
    }

    void secondListingReplacesTheFirst()
    {
        Window t;
        QVERIFY(t.open(t.file("a.bin", bytes(300))));
        QVERIFY(t.open(t.file("b.bin", bytes(9, 3))));
        QCOMPARE(t.w->Text1->toPlainText().toLatin1(), listing::format(bytes(9, 3)).replace("\r\n", "\n"));
        QCOMPARE(t.w->Text2->text(), QString("B.BIN"));
    }

    void tooLongIsRefusedThenCancelled()
    {
        Window t;
        QVERIFY(t.open(t.file("good.bin", bytes(16))));
        const QString shown = t.w->Text1->toPlainText();
        t.prompts.openPaths.enqueue(t.file("big.bin", bytes(8193)));
        t.prompts.openPaths.enqueue(QString());  // then Cancel
        t.w->mnuOpen_Click();
        QCOMPARE(t.prompts.shown.size(), 1);
        QCOMPARE(t.prompts.shown[0].text, QString("File is too long ( >8K )."));
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
        QCOMPARE(t.prompts.saveDialogs[0].first, QString("File binario (*.*)|*.BIN"));
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

    void filterShowsLowerCaseFiles()
    {
        const QStringList f = dialogNameFilters("File binari (*.*)|*.BIN|Tutti i files (*.*)|*.*");
        QCOMPARE(f.size(), 2);
        QVERIFY(f[0].startsWith("File binari (*.*) ("));
        QVERIFY(QDir::match(f[0].mid(f[0].lastIndexOf('(') + 1).chopped(1), "prog.bin"));
        QVERIFY(QDir::match(f[0].mid(f[0].lastIndexOf('(') + 1).chopped(1), "PROG.BIN"));
        QVERIFY(!QDir::match(f[0].mid(f[0].lastIndexOf('(') + 1).chopped(1), "prog.hex"));
        QVERIFY(f[1].startsWith("Tutti i files (*.*) ("));
    }
};

QTEST_MAIN(TestFileCommands)
#include "test_file_commands.moc"
