// SPDX-License-Identifier: GPL-3.0-or-later
// A store that several stations share (a database server): the serial counter every chip
// takes its number from, and the record of every chip. With one, a run takes its numbers
// there instead of from the counter file; the log file may still be kept beside it.
#pragma once

#include "result.h"

#include <QJsonObject>
#include <QString>

class LineStore {
public:
    virtual ~LineStore() = default;
    // The next number for the chip in `site`'s socket (the site as recorded), taken and
    // committed with who took it before it returns: it is never given again. Or why none
    // could be taken. From any site's thread.
    virtual Result<quint64> takeSerial(const QString &site, const QString &run, int round) = 0;
    // A chip's result, as the log keeps it (a "result" object with its "run" and "image"),
    // committed before it returns; or why not. From any site's thread.
    virtual Status recordResult(const QJsonObject &record) = 0;
};
