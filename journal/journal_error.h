#pragma once
// A failure of the journal's database said in words: what SQLite's result
// code or the PostgreSQL client's message means for a journal, rather than
// the drivers' texts ("file is not a database Unable to fetch row", a libpq
// message over several tab-indented lines ending in "QPSQL: Unable to
// connect"). The messages that use it name the journal themselves.
#include "journal_dialect.h"

#include <QSqlError>
#include <QString>

namespace chronel {

// The reason, as a clause that follows "cannot open: " or "cannot read: ";
// one line, no final stop.
QString JournalErrorText(const QSqlError& error, JournalDialect dialect);

} // namespace chronel
