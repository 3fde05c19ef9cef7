// The system-information look-up: the value-text rules of a registry read, the choice of
// the tool's path from the registry values, and the system monitors looked for on PATH.
#include "sysinfo.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>

namespace {
constexpr quint32 kRegSz = 1, kRegExpandSz = 2, kRegBinary = 3, kRegDword = 4;

const QString kPathKey = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO");
const QString kFolderKey = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location");

// A 1024-byte query buffer, all NUL, with `bytes` at its start.
QByteArray buffer(const QByteArray &bytes)
{
    QByteArray b(1024, '\0');
    b.replace(0, bytes.size(), bytes);
    return b;
}

// Registry values under HKEY_LOCAL_MACHINE, keyed "key|value"; records every read.
struct FakeRegistry {
    QMap<QString, QString> values;
    QStringList reads;
    RegistryReader reader()
    {
        return [this](const QString &key, const QString &value) -> std::optional<QString> {
            const QString k = key + QLatin1Char('|') + value;
            reads << k;
            if (!values.contains(k))
                return std::nullopt;
            return values.value(k);
        };
    }
};
}  // namespace

class TestSysInfo : public QObject {
    Q_OBJECT
private slots:
    void valueText_data()
    {
        QTest::addColumn<QByteArray>("buffer");
        QTest::addColumn<quint32>("returned");
        QTest::addColumn<quint32>("type");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("isText");

        const QByteArray tool("C:\\Tools\\msinfo32.exe");
        const auto n = quint32(tool.size());
        QTest::newRow("terminating NUL dropped") << buffer(tool) << n + 1 << kRegSz << QString::fromLatin1(tool) << true;
        QTest::newRow("no NUL: text as returned") << buffer(tool) << n << kRegSz << QString::fromLatin1(tool) << true;
        QTest::newRow("cut to the returned size, not the buffer's")
            << buffer(tool + QByteArray("\0stale bytes", 12)) << n + 1 << kRegSz << QString::fromLatin1(tool) << true;
        QTest::newRow("only one NUL dropped")
            << buffer(tool) << n + 2 << kRegSz << QString::fromLatin1(tool + QByteArray(1, '\0')) << true;
        QTest::newRow("empty value") << buffer({}) << 1u << kRegSz << QString() << true;
        QTest::newRow("nothing returned") << buffer({}) << 0u << kRegSz << QString() << true;
        QTest::newRow("size beyond the buffer") << QByteArray("C:\\a") << 4000u << kRegSz << QStringLiteral("C:\\a")
                                                << true;
        QTest::newRow("expandable string is not text") << buffer(tool) << n + 1 << kRegExpandSz << QString() << false;
        QTest::newRow("number is not text") << buffer(QByteArray("\x05\0\0\0", 4)) << 4u << kRegDword << QString()
                                            << false;
        QTest::newRow("binary is not text") << buffer(tool) << n << kRegBinary << QString() << false;
    }
    void valueText()
    {
        QFETCH(QByteArray, buffer);
        QFETCH(quint32, returned);
        QFETCH(quint32, type);
        QFETCH(QString, text);
        QFETCH(bool, isText);
        bool gotText = !isText;
        QCOMPARE(registryValueText(buffer, returned, type, &gotText), text);
        QCOMPARE(gotText, isText);
    }

    void toolPath_data()
    {
        QTest::addColumn<QString>("pathValue");     // null: no "PATH" value
        QTest::addColumn<QString>("folderValue");   // null: no "MSINFO" value
        QTest::addColumn<QStringList>("files");     // files that exist
        QTest::addColumn<QString>("expected");      // null: no tool
        QTest::addColumn<QStringList>("reads");
        QTest::addColumn<QStringList>("fileTests");

        const QString p = kPathKey + "|PATH", f = kFolderKey + "|MSINFO";
        QTest::newRow("PATH value taken as it stands, no file test")
            << "C:\\Program Files\\Common Files\\Microsoft Shared\\MSInfo\\msinfo32.exe" << "C:\\Other"
            << QStringList() << "C:\\Program Files\\Common Files\\Microsoft Shared\\MSInfo\\msinfo32.exe"
            << QStringList{p} << QStringList();
        QTest::newRow("PATH value empty (not text) still wins") << "" << "C:\\Other" << QStringList() << ""
                                                                << QStringList{p} << QStringList();
        QTest::newRow("folder holding the tool") << QString() << "C:\\Shared\\MSInfo"
                                                 << QStringList{"C:\\Shared\\MSInfo\\MSINFO32.EXE"}
                                                 << "C:\\Shared\\MSInfo\\MSINFO32.EXE" << QStringList{p, f}
                                                 << QStringList{"C:\\Shared\\MSInfo\\MSINFO32.EXE"};
        QTest::newRow("folder without the tool") << QString() << "C:\\Shared\\MSInfo" << QStringList{"C:\\x.exe"}
                                                 << QString() << QStringList{p, f}
                                                 << QStringList{"C:\\Shared\\MSInfo\\MSINFO32.EXE"};
        QTest::newRow("neither value") << QString() << QString() << QStringList() << QString() << QStringList{p, f}
                                       << QStringList();
    }
    void toolPath()
    {
        QFETCH(QString, pathValue);
        QFETCH(QString, folderValue);
        QFETCH(QStringList, files);
        QFETCH(QString, expected);
        QFETCH(QStringList, reads);
        QFETCH(QStringList, fileTests);

        FakeRegistry registry;
        if (!pathValue.isNull())
            registry.values.insert(kPathKey + "|PATH", pathValue);
        if (!folderValue.isNull())
            registry.values.insert(kFolderKey + "|MSINFO", folderValue);
        QStringList tested;
        const auto path = msinfoPath(registry.reader(), [&](const QString &file) {
            tested << file;
            return files.contains(file);
        });
        QCOMPARE(path.has_value(), !expected.isNull());
        if (path)
            QCOMPARE(*path, expected);
        QCOMPARE(registry.reads, reads);
        QCOMPARE(tested, fileTests);
    }

#ifndef Q_OS_WIN
    // The real look-up, with PATH pointing at a folder we control.
    void monitorFoundOnPath()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QByteArray savedPath = qgetenv("PATH");
        auto restore = qScopeGuard([&] { qputenv("PATH", savedPath); });
        qputenv("PATH", QFile::encodeName(dir.path()));
        QVERIFY(!findSystemInfoTool());

        // A file of the right name that cannot be run is no tool.
        const QString name = systemMonitorNames().last();
        QFile plain(dir.filePath(name));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.write("#!/bin/sh\n");
        plain.close();
        QVERIFY(!findSystemInfoTool());

        QVERIFY(plain.setPermissions(plain.permissions() | QFile::ExeOwner));
        QCOMPARE(findSystemInfoTool().value_or(QString()), dir.filePath(name));
    }
#endif
};

QTEST_GUILESS_MAIN(TestSysInfo)
#include "test_sysinfo.moc"
