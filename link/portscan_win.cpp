// SPDX-License-Identifier: GPL-3.0-or-later
// The port finder on Windows: the COM ports present. Windows keeps no lock files and
// tells who holds a port only to an open, which is not made here, so "held" stays unknown.
#include "portscan.h"

#include "portmap.h"

namespace {
// The system gives a port as \\.\COM3; the settings and --port name it COM3, and the
// same port must not be listed twice, once of them as missing.
QString portName(const QString &path)
{
    return path.startsWith(QLatin1String("\\\\.\\")) ? path.mid(4) : path;
}
}  // namespace

QList<SerialDevice> serialDevices(const QStringList &extra)
{
    QStringList present;
    for (const QString &p : PortMap::presentDevices())
        present << portName(p);
    QStringList paths = present;
    for (const QString &e : extra) {
        if (!paths.contains(e, Qt::CaseInsensitive))
            paths << e;
    }
    QList<SerialDevice> out;
    for (const QString &p : paths) {
        SerialDevice d;
        d.path = p;
        if (present.contains(p, Qt::CaseInsensitive)) {
            d.device = p;
            d.mayOpen = true;
        }
        out << d;
    }
    return out;
}
