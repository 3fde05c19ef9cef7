// SPDX-License-Identifier: GPL-3.0-or-later
// The serial devices on this machine, for the port finder: the name to give for each,
// whether this user may open it and whether another program holds it. Nothing is opened
// to find out: opening a serial device raises its modem lines, which resets some boards.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

struct SerialDevice {
    QString path;               // the name to give: the stable /dev/serial/by-id name when there is one
    QString device;             // the device it leads to (/dev/ttyUSB0); empty when it does not exist
    bool mayOpen = false;       // this process may read and write it
    QString group;              // the device's group, the one to join when mayOpen is false
    bool groupPending = false;  // the user is in that group, but this login session is not yet
    QString heldBy;             // "process 1234 (minicom)"; empty when nothing shows it held
};

// Every serial device present, stable names first, then `extra` (ports the settings map,
// a device given by hand) where they are not among them already.
QList<SerialDevice> serialDevices(const QStringList &extra = {});
