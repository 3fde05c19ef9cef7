// SPDX-License-Identifier: GPL-3.0-or-later
// The port finder on Windows: the COM ports present. Windows keeps no lock files and
// tells who holds a port only to an open, which is not made here, so "held" stays unknown.
#include "portscan.h"

#include "portmap.h"

QList<SerialDevice> serialDevices(const QStringList &extra)
{
    const QStringList present = PortMap::presentDevices();
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
