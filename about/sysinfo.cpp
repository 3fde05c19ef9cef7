// SPDX-License-Identifier: GPL-3.0-or-later
// The rules of the system-information look-up that do not depend on the platform, so
// that every build tests them.
#include "sysinfo.h"

namespace {
constexpr quint32 kRegSz = 1;  // REG_SZ
}

QString registryValueText(const QByteArray &buffer, quint32 returnedSize, quint32 type, bool *isText)
{
    const bool text = type == kRegSz;
    if (isText)
        *isText = text;
    if (!text)
        return {};
    // A size beyond the buffer would be a broken reply; never read past what is there.
    QByteArray cut = buffer.left(qMin<qsizetype>(returnedSize, buffer.size()));
    if (cut.endsWith('\0'))
        cut.chop(1);
    return QString::fromLocal8Bit(cut);
}

std::optional<QString> msinfoPath(const RegistryReader &read, const FileTest &fileExists)
{
    if (const auto path = read(QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO"), QStringLiteral("PATH")))
        return *path;
    const auto folder = read(QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location"), QStringLiteral("MSINFO"));
    if (!folder)
        return std::nullopt;
    const QString candidate = *folder + QStringLiteral("\\MSINFO32.EXE");
    if (!fileExists(candidate))
        return std::nullopt;
    return candidate;
}

QStringList systemMonitorNames()
{
    // GNOME, KDE (new and old), Xfce, LXQt/LXDE, then the stand-alone hardware viewers.
    return {QStringLiteral("gnome-system-monitor"), QStringLiteral("plasma-systemmonitor"),
            QStringLiteral("ksysguard"),            QStringLiteral("xfce4-taskmanager"),
            QStringLiteral("lxqt-taskmanager"),     QStringLiteral("lxtask"),
            QStringLiteral("mate-system-monitor"),  QStringLiteral("hardinfo"),
            QStringLiteral("lshw-gtk")};
}

std::optional<QString> firstProgramFound(const QStringList &names,
                                         const std::function<QString(const QString &name)> &find)
{
    for (const QString &name : names) {
        const QString path = find(name);
        if (!path.isEmpty())
            return path;
    }
    return std::nullopt;
}
