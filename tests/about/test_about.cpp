// The About window offscreen (one window however often it is asked for, closing destroys
// it, System Info with the tool's start and the message box replaced), and the rules of
// the system-information look-up.
#include "frmabout.h"
#include "sysinfo.h"

#include <QApplication>
#include <QLabel>
#include <QMap>
#include <QPointer>
#include <QPushButton>
#include <QTest>

class TestAbout : public QObject {
    Q_OBJECT
    std::unique_ptr<QWidget> main;

    frmAbout *show()
    {
        frmAbout::showAbout(main.get());
        return frmAbout::openWindow();
    }

private slots:
    void init()
    {
        main = std::make_unique<QWidget>();
        main->show();
        frmAbout::setDeps({});
    }
    void cleanup()
    {
        main.reset();  // takes any About window with it
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!frmAbout::openWindow());
    }

    void oneWindowHoweverOftenOpened()
    {
        QPointer<frmAbout> first = show();
        QCOMPARE(first->windowTitle(), QStringLiteral("About Voralith"));
        QCOMPARE(first->lblVersion->text(), QStringLiteral("Versione 1.0.5"));
        for (int i = 0; i < 3; ++i)
            QCOMPARE(show(), first.data());
        int shown = 0;
        for (QWidget *w : QApplication::topLevelWidgets())
            shown += qobject_cast<frmAbout *>(w) && w->isVisible();
        QCOMPARE(shown, 1);
        // The main window stays usable meanwhile.
        QVERIFY(!first->isModal() && !QApplication::activeModalWidget());
    }

    // However it is closed, the window is unloaded: the next About builds it afresh, even
    // when asked for before the old one is deleted.
    void closingDestroys_data()
    {
        QTest::addColumn<int>("how");
        QTest::newRow("OK") << 0;
        QTest::newRow("Escape") << 1;
        QTest::newRow("close box") << 2;
    }
    void closingDestroys()
    {
        QFETCH(int, how);
        QPointer<frmAbout> first = show();
        first->lblDescription->setText(QStringLiteral("changed"));
        if (how == 0)
            QTest::mouseClick(first->cmdOK, Qt::LeftButton);
        else if (how == 1)
            QTest::keyClick(first, Qt::Key_Escape);
        else
            first->close();
        QPointer<frmAbout> second = show();
        QVERIFY(second && second != first);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!first && second);
        QCOMPARE(second->lblDescription->text(), QStringLiteral("Voralith"));
    }

    void systemInfo_data()
    {
        QTest::addColumn<QString>("tool");  // null: none found
        QTest::addColumn<bool>("starts");
        QTest::newRow("found and started") << "/usr/bin/gnome-system-monitor" << true;
        QTest::newRow("found, start fails") << "C:\\gone\\msinfo32.exe" << false;
        QTest::newRow("nothing found") << QString() << true;
    }
    void systemInfo()
    {
        QFETCH(QString, tool);
        QFETCH(bool, starts);
        QStringList started, told;
        frmAbout::Deps d;
        d.findTool = [tool]() { return tool.isNull() ? std::nullopt : std::optional<QString>(tool); };
        d.startTool = [&](const QString &path) {
            started << path;
            return starts;
        };
        d.tell = [&](QWidget *, const QString &title, const QString &text) { told << title << text; };
        frmAbout::setDeps(d);
        frmAbout *w = show();
        QTest::mouseClick(w->cmdSysInfo, Qt::LeftButton);
        QCOMPARE(started, tool.isNull() ? QStringList() : QStringList{tool});
        const QStringList message{"Voralith", "Le informazioni sul sistema non sono disponibili in questa fase"};
        QCOMPARE(told, tool.isNull() || !starts ? message : QStringList());
        QCOMPARE(frmAbout::openWindow(), w);  // the About window stays open either way
    }

    // A registry value read into a 1024-byte buffer: cut to the size returned, less one NUL.
    void registryValueText_data()
    {
        QTest::addColumn<QByteArray>("held");  // at the buffer's start, the rest NUL
        QTest::addColumn<quint32>("returned");
        QTest::addColumn<quint32>("type");     // 1: text, 2: expandable text
        QTest::addColumn<QString>("text");     // null: not text
        const QByteArray tool("C:\\Tools\\msinfo32.exe");
        const auto n = quint32(tool.size());
        QTest::newRow("terminating NUL dropped") << tool << n + 1 << 1u << QString(tool);
        QTest::newRow("no NUL: as returned") << tool << n << 1u << QString(tool);
        QTest::newRow("cut to the size returned") << tool + QByteArray("\0stale", 6) << n + 1 << 1u << QString(tool);
        QTest::newRow("only one NUL dropped") << tool << n + 2 << 1u << QString(tool + QByteArray(1, '\0'));
        QTest::newRow("expandable text is not text") << tool << n + 1 << 2u << QString();
    }
    void registryValueText()
    {
        QFETCH(QByteArray, held);
        QFETCH(quint32, returned);
        QFETCH(quint32, type);
        QFETCH(QString, text);
        QByteArray buffer(1024, '\0');
        buffer.replace(0, held.size(), held);
        bool isText = text.isNull();
        QCOMPARE(::registryValueText(buffer, returned, type, &isText), text);
        QCOMPARE(isText, !text.isNull());
    }

    // The file test is made only on the folder's candidate: a PATH value is taken as it stands.
    void toolPath_data()
    {
        QTest::addColumn<QString>("pathValue");    // null: no "PATH" value
        QTest::addColumn<QString>("folderValue");  // null: no "MSINFO" value
        QTest::addColumn<QString>("present");      // the one file that exists
        QTest::addColumn<QString>("expected");     // null: no tool
        const QString tool = "C:\\Shared\\MSInfo\\MSINFO32.EXE";
        QTest::newRow("PATH value first") << "C:\\x\\msinfo32.exe" << "C:\\Shared\\MSInfo" << tool
                                          << "C:\\x\\msinfo32.exe";
        QTest::newRow("PATH value empty still wins") << "" << "C:\\Shared\\MSInfo" << tool << "";
        QTest::newRow("folder holding the tool") << QString() << "C:\\Shared\\MSInfo" << tool << tool;
        QTest::newRow("folder without the tool") << QString() << "C:\\Shared\\MSInfo" << "C:\\x.exe" << QString();
        QTest::newRow("neither value") << QString() << QString() << tool << QString();
    }
    void toolPath()
    {
        QFETCH(QString, pathValue);
        QFETCH(QString, folderValue);
        QFETCH(QString, present);
        QFETCH(QString, expected);
        QMap<QString, QString> values;
        if (!pathValue.isNull())
            values.insert("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO|PATH", pathValue);
        if (!folderValue.isNull())
            values.insert("SOFTWARE\\Microsoft\\Shared Tools Location|MSINFO", folderValue);
        const auto path = msinfoPath(
            [&](const QString &key, const QString &value) -> std::optional<QString> {
                const QString k = key + '|' + value;
                return values.contains(k) ? std::optional(values.value(k)) : std::nullopt;
            },
            [&](const QString &file) { return file == present; });
        QCOMPARE(path.value_or(QString()), expected);
        QCOMPARE(path.has_value(), !expected.isNull());
    }
};

QTEST_MAIN(TestAbout)
#include "test_about.moc"
