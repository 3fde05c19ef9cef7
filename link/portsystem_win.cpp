// SPDX-License-Identifier: GPL-3.0-or-later
// The serial port's system requests on Windows.
#include "portsystem.h"

#include <QSerialPort>

namespace portsystem {

LowLatency askLowLatency(QSerialPort &)
{
    // The adapter's latency timer is a setting of its driver (Device Manager, the
    // port's Advanced properties); a program cannot ask for it here.
    return LowLatency::NotAsked;
}

bool writeNow(QSerialPort &port, const QByteArray &bytes, QString *why)
{
    // Windows starts an overlapped write inside write() already.
    if (port.write(bytes) == bytes.size())
        return true;
    *why = port.errorString();
    return false;
}

}  // namespace portsystem
