// SPDX-License-Identifier: GPL-3.0-or-later
// A store that several stations share (a database server): the serial counter every chip
// takes its number from, and the record of every chip. With one, a run takes its numbers
// there instead of from the counter file; the log file may still be kept beside it.
#pragma once

#include "result.h"
#include "serialnumber.h"

#include <QJsonObject>
#include <QString>

class LineStore {
public:
    virtual ~LineStore() = default;
    // The store as shown (its password masked), the station named in every row, the counter
    // the numbers come from and the step it holds.
    virtual QString shownName() const = 0;
    virtual QString station() const = 0;
    virtual QString counter() const = 0;
    virtual quint64 counterStep() const = 0;
    // Before any chip, and before each round: the counter's next `chips` numbers fit `place`
    // (later takes are held to it too); or why not.
    virtual Status prepareSerial(const SerialPlace &place, int chips) = 0;
    // The next number for the chip in `site`'s socket (the site as recorded), taken and
    // committed with who took it before it returns: it is never given again. Or why none
    // could be taken. From any site's thread.
    virtual Result<quint64> takeSerial(const QString &site, const QString &run, int round) = 0;
    // A chip's result, as the log keeps it (a "result" object with its "run" and "image"),
    // committed before it returns; or why not. From any site's thread.
    virtual Status recordResult(const QJsonObject &record) = 0;
    // Every wait in hand ends, and every later one at once. From any thread.
    virtual void stop() = 0;
    // The store stopped answering during the run and did not come back within its wait.
    virtual bool lost() const = 0;
};
