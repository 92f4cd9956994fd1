#pragma once
// One row of the site event journal: one event of one module as the
// collector received it.
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QtGlobal>

namespace chronel {

struct JournalEvent {
    // Assigned by the store; 0 on rows not yet stored. Rows are stored in
    // ascending id order (see JournalStore), so a reader can follow them.
    qint64 id = 0;
    // The module's address as given to --ip, e.g. "127.0.0.2".
    QString module;
    // From the site file or the module's Module Name; may be empty.
    QString moduleName;
    // The module's own clock, "yyyy-MM-ddTHH:mm:ss.zzz" as the record gives
    // it (no zone). Fixed width, so text order is time order.
    QString moduleTime;
    // Where the date of moduleTime came from (the record, a date record, the
    // module's clock ...), in words.
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

    friend bool operator==(const JournalEvent&, const JournalEvent&) = default;
};

// The fixed-width text of a module time, "yyyy-MM-ddTHH:mm:ss.zzz", of the
// date and time of `time` as they read (its zone is ignored).
QString JournalTimeText(const QDateTime& time);
// `received` as stored and written: UTC, "yyyy-MM-ddTHH:mm:ss.zzzZ".
QString JournalReceivedText(const QDateTime& received);

} // namespace chronel
