// SPDX-License-Identifier: GPL-3.0-or-later
// The station's Teller: the types its signals carry across threads.
#include "stationteller.h"

StationTeller::StationTeller(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<LineEvent>();
    qRegisterMetaType<StationTeller::Kind>();
}
