#pragma once
// Turns event blocks into event lines. The decoder keeps the date and time
// fields between blocks for the whole run: a type-0 time record carries no
// date and takes the one of the last date record decoded (0 before the first),
// and the type-0 resync pair spans two records that may sit in two blocks.
#include "event_record.h"

#include <QLocale>
#include <QStringList>

namespace chronel {

// One line of a decoded block with what it was made from, for a journal.
struct DecodedEvent {
    QString line;
    // The record's kind, point, state, time source and DST flag, with the
    // date and time the line shows (a type-0 time record's date is the last
    // date record's).
    EventRecord shown;
    int recordIndex = 0;
    // The record's bytes as the block carries them (a type-3 block: its text).
    QByteArray raw;
    // Whether the date came with the record itself.
    bool datedByRecord = true;
};

class EventDecoder {
public:
    explicit EventDecoder(const QLocale& locale = QLocale::system());

    // The lines of the block's records in record order. Types 0 to 2 decode
    // word 2 records, cut to what the block holds for its type; type 3 gives
    // its text as exactly one line; any other buffer type gives none.
    // `firstRecord` skips the records before it, which a previous decode of
    // the same records has shown already; their date and time stay in force.
    QStringList decode(const EventBlockWords& block, int firstRecord = 0);
    // The same lines with their records.
    QList<DecodedEvent> decodeEvents(const EventBlockWords& block, int firstRecord = 0);

    // Word 2 brought into 0 … capacity of the block's type (negative counts
    // give 0); 1 for type 3, 0 for unknown types.
    static int RecordCount(const EventBlockWords& block);
    // Bytes 20 … up to the first zero byte (at most to the block's end), one
    // character each in the 8-bit character set.
    static QString Type3Text(const EventBlockWords& block);
    // True when `block` holds the records of `earlier` as its first records:
    // the same buffer type, at least as many records, the same bytes in
    // every record `earlier` holds. A module that did not take an
    // acknowledge presents such a block again, possibly with records added.
    static bool HoldsRecordsOf(const EventBlockWords& block, const EventBlockWords& earlier);

    // The date and time fields as the last record left them.
    const EventRecord& current() const { return current_; }

private:
    using Events = QList<DecodedEvent>;
    Events decodeType0(const EventBlockWords& block, int first, int count);
    // A record that carries its own date (types 1 and 2); `dst` is the DST
    // text of the block's previous record.
    void decodeDated(Events& events, const EventRecord& record, QString& dst, int index, QByteArray raw);
    void appendLine(Events& events, int shownKind, const EventRecord& record, const QString& dst, int index,
        QByteArray raw, bool datedByRecord) const;

    QLocale locale_;
    EventRecord current_; // only the date and time fields are used
    // Time of a type-0 "Time Resync New Time" record, waiting for its date.
    int savedHour_ = 0;
    int savedMinute_ = 0;
    int savedSecond_ = 0;
    int savedMillisecond_ = 0;
};

} // namespace chronel
