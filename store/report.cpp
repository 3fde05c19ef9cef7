// SPDX-License-Identifier: GPL-3.0-or-later
// The store's report, one query over the results and the numbers taken.
#include "report.h"

Result<QList<ReportRow>> storeReport(PgConnection &c, const QString &since, const QString &counter,
                                     QDeadlineTimer deadline)
{
    const PgParams params{since.isEmpty() ? QByteArray("-infinity") : since.toUtf8(),
                          counter.isEmpty() ? std::nullopt : std::optional<QByteArray>(counter.toUtf8())};
    const PgAnswer a = c.exec(
        "WITH r AS (SELECT station, site, count(*) FILTER (WHERE result = 'passed') AS passed, "
        "    count(*) FILTER (WHERE result = 'failed') AS failed, count(*) FILTER (WHERE result = 'empty') AS empty, "
        "    min(finished_at) AS first, max(finished_at) AS last FROM chip_results "
        "  WHERE finished_at >= $1::timestamptz AND ($2::text IS NULL OR counter = $2) GROUP BY station, site), "
        "u AS (SELECT n.station, n.site, count(*) AS unused, min(n.taken_at) AS first, max(n.taken_at) AS last "
        "  FROM serial_numbers n WHERE n.taken_at >= $1::timestamptz AND ($2::text IS NULL OR n.counter = $2) "
        "  AND NOT EXISTS (SELECT 1 FROM chip_results c WHERE c.counter = n.counter AND c.serial = n.number) "
        "  GROUP BY n.station, n.site) "
        "SELECT station, site, coalesce(r.passed, 0), coalesce(r.failed, 0), coalesce(r.empty, 0), "
        "  coalesce(u.unused, 0), "
        "  to_char(least(r.first, u.first) AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"+00:00\"'), "
        "  to_char(greatest(r.last, u.last) AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"+00:00\"') "
        "FROM r FULL JOIN u USING (station, site) ORDER BY station, site",
        params, deadline);
    if (!a.ok) {
        if (a.sqlState.startsWith("22"))  // a time PostgreSQL cannot read
            return Failure{QStringLiteral("--since takes a time such as 2026-12-07T08:00, not \"%1\" (%2).")
                               .arg(since, a.message),
                           Failure::Refused};
        return Failure{a.message, a.lost ? Failure::PortLost : Failure::Error};
    }
    QList<ReportRow> rows;
    for (int i = 0; i < a.rows.size(); ++i) {
        ReportRow r;
        r.station = a.value(i, 0);
        r.site = a.value(i, 1);
        r.passed = a.value(i, 2).toLongLong();
        r.failed = a.value(i, 3).toLongLong();
        r.empty = a.value(i, 4).toLongLong();
        r.unused = a.value(i, 5).toLongLong();
        r.first = a.value(i, 6);
        r.last = a.value(i, 7);
        rows << r;
    }
    return rows;
}
