// SPDX-License-Identifier: GPL-3.0-or-later
// voralith-cli store report: per station and site, the chips passed, failed and empty, the
// numbers spent without a chip, and the first and last time either happened.
#pragma once

#include "pgconnection.h"
#include "result.h"

struct ReportRow {
    QString station, site;
    qint64 passed = 0, failed = 0, empty = 0;
    qint64 unused = 0;    // numbers taken that no chip's result names
    QString first, last;  // ISO 8601 with the offset from UTC
};

// Since `since` (any time PostgreSQL reads, "2026-12-07 08:00"; empty: all), of the counter
// `counter` alone when given (its numbers, and the results that name one of them).
Result<QList<ReportRow>> storeReport(PgConnection &c, const QString &since, const QString &counter,
                                     QDeadlineTimer deadline);
