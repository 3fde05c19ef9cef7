// SPDX-License-Identifier: GPL-3.0-or-later
// Port numbers to device paths, the options that name a port, and the list of serial devices
// shown when a port is missing.
#include "portmap.h"

#include "settingsname.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QSettings>

#include <algorithm>

QString PortMap::deviceFor(int number) const
{
    if (auto it = m_runOnly.find(number); it != m_runOnly.end())
        return it.value();
    QSettings settings(QString::fromLatin1(kSettingsOrganisation), QString::fromLatin1(kSettingsApplication));
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

QMap<int, QString> PortMap::storedMappings()
{
    QMap<int, QString> out;
    QSettings settings(QString::fromLatin1(kSettingsOrganisation), QString::fromLatin1(kSettingsApplication));
    settings.beginGroup(QStringLiteral("Ports"));
    for (const QString &k : settings.childKeys()) {
        bool numeric = false;
        const int n = k.startsWith(QLatin1String("Com")) ? k.mid(3).toInt(&numeric) : 0;
        const QString device = settings.value(k).toString();
        if (numeric && n >= 1 && n <= 255 && !device.isEmpty())
            out.insert(n, device);
    }
    return out;
}

int portFromSetting(const QString &text, bool *valid)
{
    bool ok = false;
    const QString t = text.trimmed();
    int n = 0;
    const bool digits = !t.isEmpty() && t.size() <= 5 &&
                        std::all_of(t.begin(), t.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    if (digits)
        n = t.toInt(&ok);
    *valid = ok && n >= 1 && n <= 255;
    return *valid ? n : 2;
}

bool parsePortMapping(const QString &text, int *number, QString *device)
{
    // "N=DEVICE" or "ComN=DEVICE" (any case), N one to three digits. Read by hand: a
    // regular expression here would bring its library into every start of the program.
    QStringView rest(text);
    if (rest.startsWith(QLatin1String("com"), Qt::CaseInsensitive))
        rest = rest.mid(3);
    qsizetype digits = 0;
    while (digits < rest.size() && digits < 4 && rest.at(digits) >= QLatin1Char('0') &&
           rest.at(digits) <= QLatin1Char('9'))
        ++digits;
    if (digits < 1 || digits > 3 || digits >= rest.size() || rest.at(digits) != QLatin1Char('='))
        return false;
    const QStringView path = rest.mid(digits + 1);
    if (path.isEmpty() || path.contains(QLatin1Char('\n')))
        return false;
    const int n = rest.left(digits).toInt();
    if (n < 1 || n > 255)
        return false;
    *number = n;
    *device = path.toString();
    return true;
}

namespace {

// "ComN" in any case with one to three digits, N whatever they say; -1 when it is not that form.
int comNumber(const QString &text)
{
    if (text.size() < 4 || text.size() > 6 || !text.startsWith(QLatin1String("com"), Qt::CaseInsensitive))
        return -1;
    const QStringView digits = QStringView(text).mid(3);
    if (!std::all_of(digits.begin(), digits.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return -1;
    return digits.toInt();
}

PortRequest portRequest(const QString &text)
{
    if (const int n = comNumber(text); n >= 0) {
        if (n < 1 || n > 255)
            return {0, {}, PortRequest::ComOutOfRange, text};
        return {n};
    }
    if (text.isEmpty())
        return {0, {}, PortRequest::EmptyName, text};
    const QFileInfo fi(text);
    const bool path = text.contains(QLatin1Char('/')) || fi.exists() || fi.isSymLink();
    return {0, path ? fi.absoluteFilePath() : text};
}

}  // namespace

PortRequest parsePortOption(PortOption option, const QString &text)
{
    if (option == PortOption::CliPort)
        return portRequest(text);
    PortRequest r;
    if (parsePortMapping(text, &r.number, &r.device))
        return r;
    if (option == PortOption::WindowCom)
        return {0, {}, PortRequest::NoMapping, text};
    // A bare number as QString::toInt reads one: a sign and spaces around it are taken.
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || n < 1 || n > 255)
        return {0, {}, PortRequest::NoPortNumber, text};
    return {n};
}
