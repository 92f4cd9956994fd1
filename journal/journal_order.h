#pragma once
// The one time line the journal's rows are put on. A module time is its
// module's wall clock: across modules in different zones, and within one
// module across the hour a fall-back repeats, module-time order is not the
// order the events happened in. UTC order is, but only rows of a declared
// zone have a UTC time, and a zone is never guessed for the others. So rows
// go in UTC order when every one of them has a UTC time, and otherwise in
// module-time order, which the reader is told; ties go by module, then id
// (the order the module sent them in).
#include "journal_event.h"

#include <QList>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace chronel {

enum class JournalTimeOrder { Utc, ModuleTime };

// UTC when there are rows and every one has a UTC time.
JournalTimeOrder TimeOrderOf(const QList<JournalEvent>& rows);

// Milliseconds since 1970 of "yyyy-MM-ddTHH:mm:ss.zzz" read as UTC; none
// for any other text.
std::optional<qint64> JournalTimeMs(const QString& moduleTime);

// Where `row` is on the time line of `order`: its UTC time, or its module
// time read as UTC; none where it has none.
std::optional<qint64> TimeLineMs(const JournalEvent& row, JournalTimeOrder order);

// The journal's order on the time line of `order`: time, module, id. A row
// without a time there comes first.
bool EarlierOnTimeLine(const JournalEvent& a, const JournalEvent& b, JournalTimeOrder order);

} // namespace chronel
