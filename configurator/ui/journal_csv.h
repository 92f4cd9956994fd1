#pragma once
// The site journal window's Export CSV: the columns of its table, in its
// order, one row per event, RFC 4180 (CR LF; fields with commas, quotes or
// line breaks quoted, quotes doubled) under a header of the columns' names
// (journal/journal_columns.h), today
//   module,name,module_time,point,description,state,text,quality,received,clock
// Each field is the stored value (the module time with its T, the event
// line without marks), but for the clock in the table's words without its
// doubts ("GPS, good, +0.4 s", "unknown"); an event without a point has an
// empty point field, as in the table. Columns only ever join at the end.
//
// Texts come from modules and from whoever set them up, and a spreadsheet
// runs a field that starts with =, +, -, @, a tab or a CR as a formula: such
// a field gets a leading ' (the spreadsheets' own mark for "text"), so the
// file opens as data.
#include "journal/journal_event.h"

#include <QByteArray>
#include <QString>

namespace chronel {

QByteArray JournalCsvHeaderLine();
QByteArray JournalCsvLine(const JournalEvent& event);

// `field` as it goes into the file: guarded, then quoted when needed.
QString JournalCsvField(const QString& field);

} // namespace chronel
