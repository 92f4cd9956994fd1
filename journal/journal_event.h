#pragma once
// One row of the site event journal: one event of one module as the
// collector received it.
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace chronel {

struct JournalEvent {
    // Assigned by the store; 0 on rows not yet stored. Rows are stored in
    // ascending id order (see JournalStore), so a reader can follow them.
    qint64 id = 0;
    // The module's address as given to --ip, e.g. "127.0.0.2".
    QString module;
    // From the site file or the module's Module Name; may be empty.
    QString moduleName;
    // Word 0 of the event block it came in, the module's Module ID; none on
    // rows stored before the journal kept it.
    std::optional<int> moduleId;
    // The event's identity: the module's block number, counted by the
    // journal from 1 (0 on rows stored before it counted them), and the
    // event's number in its block. Two rows never share one, so genuine
    // repeats of an event (same point, same millisecond, same bytes) are all
    // kept.
    qint64 block = 0;
    int record = 0;
    // The module's own clock, "yyyy-MM-ddTHH:mm:ss.zzz" (no zone). Fixed
    // width, so text order is time order. Empty only on a row marked
    // "undated".
    QString moduleTime;
    // Where the date of moduleTime came from, in words: "record", "date
    // record", "module clock", "none".
    QString dateSource;
    // 1 … 32, 0 when the event names no point.
    int point = 0;
    QString pointDescription;
    QString stateText;
    // The event line exactly as the window shows it.
    QString text;
    // The record's time-quality flags.
    int quality = 0;
    int scanFlags = 0;
    // When the collector got it, in UTC; stored to the millisecond.
    QDateTime received;
    // The record's bytes as the module's block carried them.
    QByteArray raw;
    // What is wrong with the record, in words, comma-separated: "malformed"
    // (its time fields cannot be a time; filed at the module clock's time),
    // "no line" (a kind that gives no event line), "undated" (no date known).
    // Empty for a sound record.
    QString marks;
    // The module time in UTC, where the module's zone is declared; invalid
    // where it is not (nothing is guessed).
    QDateTime utcTime;
    // The zone the module's clock runs on as declared (site file, --tz):
    // "Europe/Berlin", "UTC", "+05:30"; empty when none is.
    QString zone;
    // The module's clock when the row's block was read: its time source and
    // time quality (status block words 1 and 22) and its offset from the
    // collector's UTC clock in milliseconds; none when not known.
    std::optional<int> clockSource;
    std::optional<int> clockQuality;
    std::optional<int> clockOffsetMs;

    friend bool operator==(const JournalEvent&, const JournalEvent&) = default;
};

// The fixed-width text of a module time, "yyyy-MM-ddTHH:mm:ss.zzz", of the
// date and time of `time` as they read (its zone is ignored).
QString JournalTimeText(const QDateTime& time);
// `received` as stored and written: UTC, "yyyy-MM-ddTHH:mm:ss.zzzZ".
QString JournalReceivedText(const QDateTime& received);

} // namespace chronel
