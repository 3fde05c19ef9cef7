// SPDX-License-Identifier: GPL-3.0-or-later
// System information on Windows: the tool's path as its setup recorded it in the registry.
#include "sysinfo.h"

#include <QFileInfo>

#include <windows.h>

namespace {
// Reads one registry value as text. Read access only: a normal user is refused a key of
// HKEY_LOCAL_MACHINE opened for all access, and System Info would never start for them.
bool GetKeyValue(HKEY KeyRoot, const QString &KeyName, const QString &SubKeyRef, QString &KeyVal)
{
    KeyVal.clear();
    HKEY key = nullptr;
    if (RegOpenKeyExA(KeyRoot, KeyName.toLocal8Bit().constData(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    // A value longer than the buffer fails the query (ERROR_MORE_DATA) and so the look-up.
    QByteArray buffer(1024, '\0');
    DWORD size = DWORD(buffer.size());
    DWORD type = 0;
    const LONG rc = RegQueryValueExA(key, SubKeyRef.toLocal8Bit().constData(), nullptr, &type,
                                     reinterpret_cast<LPBYTE>(buffer.data()), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS)
        return false;
    KeyVal = registryValueText(buffer, quint32(size), quint32(type));
    return true;
}
}  // namespace

std::optional<QString> findSystemInfoTool()
{
    const RegistryReader read = [](const QString &keyName, const QString &valueName) -> std::optional<QString> {
        QString value;
        if (!GetKeyValue(HKEY_LOCAL_MACHINE, keyName, valueName, value))
            return std::nullopt;
        return value;
    };
    return msinfoPath(read, [](const QString &path) { return QFileInfo(path).isFile(); });
}
