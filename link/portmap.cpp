// Port numbers to device paths, and the list of serial devices shown when a port is missing.
#include "portmap.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QSettings>

QString PortMap::deviceFor(int number) const
{
    if (auto it = m_runOnly.find(number); it != m_runOnly.end())
        return it.value();
    QSettings settings(QStringLiteral("Quorvale"), QStringLiteral("Quorvale"));
    const QString stored = settings.value(QStringLiteral("Ports/Com%1").arg(number)).toString();
    return stored.isEmpty() ? defaultDevice(number) : stored;
}

void PortMap::mapForThisRun(int number, const QString &device)
{
    m_runOnly.insert(number, device);
}

QString PortMap::defaultDevice(int number)
{
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(number);
#else
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
#endif
}

QStringList PortMap::presentDevices()
{
    QStringList out;
    QStringList targets;
    const QFileInfoList byId = QDir(QStringLiteral("/dev/serial/by-id"))
                                   .entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &fi : byId) {
        out << fi.absoluteFilePath();
        targets << fi.canonicalFilePath();
    }
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        const QString path = info.systemLocation();
        if (!targets.contains(QFileInfo(path).canonicalFilePath()) && !out.contains(path))
            out << path;
    }
    return out;
}

bool parsePortMapping(const QString &text, int *number, QString *device)
{
    static const QRegularExpression form(QStringLiteral("^(?:[Cc][Oo][Mm])?([0-9]{1,3})=(.+)$"));
    const auto m = form.match(text);
    if (!m.hasMatch())
        return false;
    const int n = m.captured(1).toInt();
    if (n < 1 || n > 255)
        return false;
    *number = n;
    *device = m.captured(2);
    return true;
}
