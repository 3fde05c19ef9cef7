// SPDX-License-Identifier: GPL-3.0-or-later
// Finding the operating system's system-information tool: on Windows through the
// registry, elsewhere a system monitor the desktop offers. sysinfo_win.cpp and
// sysinfo_unix.cpp hold the platform sides; sysinfo.cpp the rules both build on.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// The full path of the tool, or nothing when this machine offers none.
std::optional<QString> findSystemInfoTool();

// The text of a registry value read into `buffer`: cut to the size the query returned,
// less one terminating NUL. Only string values (REG_SZ) are text; any other type gives an
// empty text and *isText false (the read itself still counts as a success).
QString registryValueText(const QByteArray &buffer, quint32 returnedSize, quint32 type, bool *isText = nullptr);

// One value under HKEY_LOCAL_MACHINE as text, or nothing when the key or value cannot be read.
using RegistryReader = std::function<std::optional<QString>(const QString &keyName, const QString &valueName)>;
using FileTest = std::function<bool(const QString &path)>;

// The tool's path from what its setup records: the "PATH" value names the program and is
// taken as it stands; failing that, the "MSINFO" value names a folder that must hold
// MSINFO32.EXE.
std::optional<QString> msinfoPath(const RegistryReader &read, const FileTest &fileExists);

// The system monitors looked for outside Windows, in order of preference.
QStringList systemMonitorNames();
// The path of the first of `names` that `find` locates (an empty path: not there).
std::optional<QString> firstProgramFound(const QStringList &names,
                                         const std::function<QString(const QString &name)> &find);
