// SPDX-License-Identifier: GPL-3.0-or-later
// The store's schema, step by step. Numbers are bigint: a counter beyond it is refused
// before it is taken, as the counter file refuses one beyond 64 bits.
#include "schema.h"

namespace {
// Step N brings the schema from version N - 1 to N. Never change a step once released: add one.
const char *const kSteps[] = {
    // 1: the counters, every number taken and who took it, every chip's result.
    R"(CREATE TABLE voralith_schema (
         one boolean PRIMARY KEY DEFAULT true CHECK (one),
         version integer NOT NULL);
       INSERT INTO voralith_schema (version) VALUES (0);
       CREATE TABLE serial_counters (
         name text PRIMARY KEY,
         next_number bigint NOT NULL CHECK (next_number >= 0),
         step bigint NOT NULL CHECK (step >= 1),
         made_at timestamptz NOT NULL DEFAULT now());
       CREATE TABLE serial_numbers (
         counter text NOT NULL REFERENCES serial_counters (name),
         number bigint NOT NULL,
         station text NOT NULL,
         site text NOT NULL,
         run text NOT NULL,
         round integer NOT NULL,
         taken_at timestamptz NOT NULL DEFAULT now(),
         UNIQUE (counter, number));
       CREATE INDEX serial_numbers_taker ON serial_numbers (run, site, round);
       CREATE INDEX serial_numbers_taken_at ON serial_numbers (taken_at);
       CREATE TABLE chip_results (
         station text NOT NULL,
         site text NOT NULL,
         run text NOT NULL,
         round integer NOT NULL,
         command text NOT NULL,
         result text NOT NULL,
         status integer NOT NULL,
         chip text,
         signature text,
         counter text,
         serial bigint,
         crc32 text,
         lock integer,
         duration_ms bigint NOT NULL,
         step text,
         message text,
         finished_at timestamptz NOT NULL,
         record jsonb NOT NULL,
         UNIQUE (run, site, round));
       CREATE INDEX chip_results_finished_at ON chip_results (finished_at);
       CREATE INDEX chip_results_serial ON chip_results (counter, serial);)",
};
static_assert(std::size(kSteps) == storeschema::kVersion);

Failure unreachable(const QString &shown, const PgAnswer &a)
{
    return Failure{QStringLiteral("The store %1 cannot be reached: %2.").arg(shown, a.message), Failure::PortLost};
}
}  // namespace

Result<int> storeschema::version(PgConnection &c, QDeadlineTimer deadline)
{
    const PgAnswer a = c.exec("SELECT to_regclass('voralith_schema') IS NOT NULL", {}, deadline);
    if (!a.ok)
        return Failure{a.message, a.lost ? Failure::PortLost : Failure::Error};
    if (a.value() != QLatin1String("t"))
        return 0;
    const PgAnswer v = c.exec("SELECT version FROM voralith_schema", {}, deadline);
    if (!v.ok)
        return Failure{v.message, v.lost ? Failure::PortLost : Failure::Error};
    return v.value().toInt();
}

Status storeschema::check(PgConnection &c, const QString &shown, QDeadlineTimer deadline)
{
    const Result<int> v = version(c, deadline);
    if (!v) {
        if (v.failure().kind == Failure::PortLost)
            return Failure{QStringLiteral("The store %1 cannot be reached: %2.").arg(shown, v.message()),
                           Failure::PortLost};
        return Failure{QStringLiteral("The store %1 cannot be read: %2.").arg(shown, v.message())};
    }
    if (v.value() == 0)
        return Failure{QStringLiteral("The store %1 has no tables of voralith-cli: make them with "
                                      "\"voralith-cli store init URL\". Nothing was sent to a board.")
                           .arg(shown),
                       Failure::Refused};
    if (v.value() > kVersion)
        return Failure{QStringLiteral("The store %1 has tables of version %2, newer than this voralith-cli knows (%3): "
                                      "use the voralith-cli that made them, or a newer one. Nothing was sent to a board.")
                           .arg(shown)
                           .arg(v.value())
                           .arg(kVersion),
                       Failure::Refused};
    if (v.value() < kVersion)
        return Failure{QStringLiteral("The store %1 has tables of version %2, older than this voralith-cli's (%3): "
                                      "bring them up to date with \"voralith-cli store init URL\". Nothing was sent "
                                      "to a board.")
                           .arg(shown)
                           .arg(v.value())
                           .arg(kVersion),
                       Failure::Refused};
    return {};
}

Result<QString> storeschema::init(PgConnection &c, const QString &shown, QDeadlineTimer deadline)
{
    // One transaction, held against another init at the same moment by a lock of its own.
    PgAnswer a = c.script("BEGIN; SELECT pg_advisory_xact_lock(7135042601)", deadline);
    auto fail = [&](const PgAnswer &why) -> Failure {
        if (!why.lost)
            (void)c.script("ROLLBACK", deadline);
        if (why.lost)
            return unreachable(shown, why);
        return Failure{QStringLiteral("The store %1 could not be made: %2. Nothing was changed.").arg(shown, why.message)};
    };
    if (!a.ok)
        return fail(a);
    const Result<int> v = version(c, deadline);
    if (!v) {
        PgAnswer why;
        why.lost = v.failure().kind == Failure::PortLost;
        why.message = v.message();
        return fail(why);
    }
    if (v.value() > kVersion) {
        (void)c.script("ROLLBACK", deadline);
        return Failure{QStringLiteral("The store %1 has tables of version %2, newer than this voralith-cli knows (%3): "
                                      "nothing was changed.")
                           .arg(shown)
                           .arg(v.value())
                           .arg(kVersion),
                       Failure::Refused};
    }
    for (int step = v.value(); step < kVersion; ++step) {
        if (a = c.script(kSteps[step], deadline); !a.ok)
            return fail(a);
    }
    const QByteArray to = QByteArray::number(kVersion);
    if (a = c.exec("UPDATE voralith_schema SET version = $1", {to}, deadline); !a.ok)
        return fail(a);
    if (a = c.script("COMMIT", deadline); !a.ok)
        return fail(a);
    if (v.value() == kVersion)
        return QStringLiteral("The store %1 is up to date (version %2): nothing to do.").arg(shown).arg(kVersion);
    if (v.value() == 0)
        return QStringLiteral("The store %1 has its tables (version %2).").arg(shown).arg(kVersion);
    return QStringLiteral("The store %1 was brought from version %2 to %3.").arg(shown).arg(v.value()).arg(kVersion);
}
