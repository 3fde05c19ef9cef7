// SPDX-License-Identifier: GPL-3.0-or-later
// Device identity and the hold on Windows. A COM port has one name ("COM3", also written
// "\\.\COM3"), and Windows opens it for one handle only, for every user: that is the hold,
// and it ends with the process. Who holds a port is not told.
#include "deviceidentity.h"

#include <QFileInfo>
#include <QObject>
#include <QSerialPort>

#include <windows.h>

DeviceIdentity DeviceIdentity::of(const QString &name)
{
    DeviceIdentity id;
    id.path = name.startsWith(QLatin1String("\\\\.\\")) ? name.mid(4).toUpper() : name.toUpper();
    return id;
}

bool isLinkLoop(const QString &name)
{
    // A COM port's name is no link; a file link that loops leads nowhere.
    const QFileInfo fi(name);
    return fi.isSymLink() && fi.canonicalFilePath().isEmpty() && QFileInfo(fi.symLinkTarget()).isSymLink();
}

QString processText(qint64 pid)
{
    QString name;
    if (HANDLE h = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid))) {
        wchar_t buf[MAX_PATH];
        DWORD size = MAX_PATH;
        if (::QueryFullProcessImageNameW(h, 0, buf, &size))
            name = QFileInfo(QString::fromWCharArray(buf, int(size))).completeBaseName();
        ::CloseHandle(h);
    }
    return name.isEmpty() ? QObject::tr("process %1").arg(pid) : QObject::tr("process %1 (%2)").arg(pid).arg(name);
}

namespace devicehold {

bool take(QSerialPort &)
{
    return true;
}

QString holder(const DeviceIdentity &)
{
    return {};
}

}  // namespace devicehold
