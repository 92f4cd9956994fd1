#pragma once
// The journal written out for people and programs, one row at a time to a
// device (a file, or standard output through QFile::open(stdout, …)):
//   text   a heading line ("# …", setHeading), then per row "<name>  <event
//          line>", the module's name, or its address when it has none, then
//          the line as the window shows it, then the row's marks, chatter's
//          and its clock's in brackets when it has any ("  [malformed,
//          chattering, clock not synchronised]"); control characters as \xHH
//          (platform/printable_text.h), so a row is a line
//   csv    RFC 4180 (CR LF, fields with commas, quotes or line breaks quoted,
//          quotes doubled) under a header of the keys of the columns
//          journal_columns.h puts in it, in its order (module,name,
//          module_time,point,state,text,quality,received,date_source,
//          module_id,marks,…; a later column only adds at the end), and
//          last the clock marks of the row (clock_state.h); "chattering"
//          after the row's own marks in marks, in csv and jsonl alike;
//          control characters other than CR, LF and tab as \xHH, and a
//          field a spreadsheet would take for a formula (=, +, -, @, or a
//          tab or CR first, unless it is a number) preceded by '
//   jsonl  one JSON object per line with every column under its key, raw
//          as hex, a missing module_id null; every control character
//          \u-escaped, so the strings are exact
#include "clock_state.h"
#include "journal_chatter.h"
#include "journal_event.h"

#include <QIODevice>
#include <QList>
#include <QString>
#include <optional>

namespace chronel {

enum class JournalFormat { Text, Csv, Jsonl };

// "text", "csv" or "jsonl"; otherwise nothing and `*error` says so.
std::optional<JournalFormat> ParseJournalFormat(const QString& name, QString* error);

class JournalWriter {
public:
    JournalWriter(QIODevice* device, JournalFormat format) : device_(device), format_(format) { }

    // What the text format says first, after "# ": which times the rows
    // show and in which order. The other formats have no room for it.
    void setHeading(const QString& heading) { heading_ = heading; }
    // Writes what comes before the first row (the CSV header, the text's
    // heading); call once.
    bool begin(QString* error);
    // `chattering`: the row is a change of a chattering point (chatter.h).
    bool write(const JournalEvent& event, QString* error, bool chattering = false);
    // How far a module's clock may be from the collector's before its rows
    // are marked (clock_state.h).
    void setMaxClockOffsetMs(int ms) { maxClockOffsetMs_ = ms; }

private:
    bool put(const QByteArray& bytes, QString* error);

    QIODevice* device_;
    JournalFormat format_;
    int maxClockOffsetMs_ = DefaultMaxClockOffsetMs;
    QString heading_;
};

// `journal --chatter`: the episodes and the modules' reports, in the order
// given.
//   text   the heading after "# ", then a table: Module, Name, Point,
//          Start, End (module times), Changes, and a note where the episode
//          crosses the period's start or end or the line is a module's report
//   csv    module,name,point,kind,start,end,start_utc,end_utc,changes,
//          began_before,goes_on_after; kind "chattering" or the module's
//          words ("Chatter On Scan"), changes empty for a report, the two
//          last 0 or 1
//   jsonl  the same keys, changes null for a report, the two last booleans
bool WriteChatterList(QIODevice* device, JournalFormat format, const QString& heading,
    const QList<ChatterListEntry>& entries, QString* error);

// The CSV header line, without its line end.
QString JournalCsvHeader();

} // namespace chronel
