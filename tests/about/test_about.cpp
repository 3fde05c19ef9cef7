// SPDX-License-Identifier: GPL-3.0-or-later
// The About window offscreen, System Info with the tool's start and the message box
// replaced, and the rules of the system-information look-up.
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

    // One window, not modal; System Info starts the tool or says it cannot; however it is
    // closed, the next About builds it afresh, even before the old one is deleted.
    void window_data()
    {
        QTest::addColumn<int>("how");       // closed by 0: OK, 1: Escape, 2: the close box
        QTest::addColumn<QString>("tool");  // null: none found
        QTest::addColumn<bool>("starts");
        QTest::newRow("tool started, OK") << 0 << "/usr/bin/gnome-system-monitor" << true;
        QTest::newRow("tool does not start, Escape") << 1 << "C:\\gone\\msinfo32.exe" << false;
        QTest::newRow("no tool, close box") << 2 << QString() << true;
    }
    void window()
    {
        QFETCH(int, how);
        QFETCH(QString, tool);
        QFETCH(bool, starts);
        QStringList started, told;
        frmAbout::Deps d;
        d.findTool = [tool]() { return tool.isNull() ? std::nullopt : std::optional<QString>(tool); };
        d.startTool = [&](const QString &path) { return started << path, starts; };
        d.tell = [&](QWidget *, const QString &title, const QString &text) { told << title << text; };
        frmAbout::setDeps(d);
        QPointer<frmAbout> first = show();
        QCOMPARE(first->windowTitle() + first->lblVersion->text(), QString("About VoralithVersione 1.0.5"));
        QVERIFY(!first->isModal() && !QApplication::activeModalWidget());
        QTest::mouseClick(first->cmdSysInfo, Qt::LeftButton);
        QCOMPARE(started, tool.isNull() ? QStringList() : QStringList{tool});
        const QStringList message{"Voralith", "Le informazioni sul sistema non sono disponibili in questa fase"};
        QCOMPARE(told, tool.isNull() || !starts ? message : QStringList());
        QCOMPARE(show(), first.data());
        first->lblDescription->setText("changed");
        if (how == 0)
            QTest::mouseClick(first->cmdOK, Qt::LeftButton);
        else if (how == 1)
            QTest::keyClick(first, Qt::Key_Escape);
        else
            first->close();
        QPointer<frmAbout> second = show();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!first && second);
        QCOMPARE(second->lblDescription->text(), QString("Voralith"));
    }

    // A registry value in a 1024-byte buffer: cut to the size returned, less one NUL. The
    // tool: the PATH value as it stands, else the MSINFO folder's MSINFO32.EXE if there.
    void systemInfoLookUp_data()
    {
        QTest::addColumn<QByteArray>("held");      // the value's bytes in the buffer, the rest NUL
        QTest::addColumn<int>("extra");            // returned size beyond `held`
        QTest::addColumn<QString>("pathValue");    // null: no "PATH" value; else the text read
        QTest::addColumn<QString>("folderValue");  // null: no "MSINFO" value
        QTest::addColumn<QString>("expected");     // null: no text, no tool
        const QByteArray tool("C:\\x\\msinfo32.exe");
        const QString folder = "C:\\Shared\\MSInfo", inFolder = folder + "\\MSINFO32.EXE";
        QTest::newRow("PATH value first") << tool << 1 << "" << folder << QString(tool);
        QTest::newRow("stale bytes cut") << tool + QByteArray("\0stale", 6) << -5 << "" << QString() << QString(tool);
        QTest::newRow("only one NUL dropped") << tool << 2 << "" << QString() << QString(tool + QByteArray(1, '\0'));
        QTest::newRow("PATH value empty still wins") << QByteArray() << 1 << "" << folder << "";
        QTest::newRow("folder holding the tool") << tool << 1 << QString() << folder << inFolder;
    }
    void systemInfoLookUp()
    {
        QFETCH(QByteArray, held);
        QFETCH(int, extra);
        QFETCH(QString, pathValue);
        QFETCH(QString, folderValue);
        QFETCH(QString, expected);
        bool isText = false;
        const QString text = registryValueText(held + QByteArray(1024 - held.size(), '\0'),
                                               quint32(held.size() + extra), 1, &isText);
        QVERIFY(isText && registryValueText(held, quint32(held.size()), 2, &isText).isEmpty() && !isText);
        QMap<QString, QString> values;
        if (!pathValue.isNull())
            values.insert("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO|PATH", text);
        if (!folderValue.isNull())
            values.insert("SOFTWARE\\Microsoft\\Shared Tools Location|MSINFO", folderValue);
        const auto path = msinfoPath(
            [&](const QString &key, const QString &value) -> std::optional<QString> {
                const QString k = key + '|' + value;
                return values.contains(k) ? std::optional(values.value(k)) : std::nullopt;
            },
            [](const QString &file) { return file == "C:\\Shared\\MSInfo\\MSINFO32.EXE"; });
        QCOMPARE(path.value_or(QString()), expected);
        QCOMPARE(path.has_value(), !expected.isNull());
    }
};

QTEST_MAIN(TestAbout)
#include "test_about.moc"
