#pragma once
// The two kinds of journal: a SQLite file or a PostgreSQL database. The
// location names it (journal_location.h); the schema, the statements and
// the error texts spell their SQL and read their errors by it.
namespace chronel {

enum class JournalDialect { Sqlite, Postgres };

} // namespace chronel
