#pragma once
// Turns event blocks into event lines. The decoder keeps the date and time
// fields between blocks for the whole run: a type-0 time record carries no
// date and takes the one of the last date record decoded (0 before the first),
// and the type-0 resync pair spans two records that may sit in two blocks.
//
// Given the module's clock, the decoder also files every event under a module
// time for a journal: a type-0 time record before any date record takes the
// clock's date, a type-3 text the clock's time, and a record whose fields
// cannot be a time is marked malformed and filed at the clock's time. The
// window gives no clock and shows what it always showed.
#include "event_record.h"

#include <QDateTime>
#include <QLocale>
#include <QStringList>

#include <functional>
#include <optional>

namespace chronel {

// Where an event's date came from.
enum class EventDateSource {
    Record,      // the record itself (types 1 and 2, type-0 date records)
    DateRecord,  // the last type-0 date record before it
    ModuleClock, // the module's clock when the block was read
    None,        // nothing: no date record yet and no clock known
};

// What is wrong with an event a journal keeps all the same, with its bytes.
enum class EventMark {
    Malformed = 1, // its time fields cannot be a time: filed at the module clock's time
    NoLine = 2,    // a kind that gives no line (0, 14 outside the resync pair, 17, 26 …)
    Undated = 4,   // no date: no date record yet and no module clock known
};
Q_DECLARE_FLAGS(EventMarks, EventMark)
Q_DECLARE_OPERATORS_FOR_FLAGS(EventMarks)

// One event of a decoded block with what it was made from, for a journal.
struct DecodedEvent {
    // The line as the window shows it; empty for EventMark::NoLine.
    QString line;
    // The record's kind, point, state, time source and DST flag, with the
    // date and time the line shows (a type-0 time record's date is the last
    // date record's, or the clock's).
    EventRecord shown;
    // The record's number in the block; the copies of a type-1 block's
    // record count 0, 1, 2 … so that each has a number of its own.
    int recordIndex = 0;
    // The record's bytes as the block carries them (the resync pair: both
    // records; a type-3 block: its text).
    QByteArray raw;
    EventDateSource dateSource = EventDateSource::Record;
    // The module time the event is filed under (held as Qt::UTC, no zone meant);
    // invalid when there is none.
    QDateTime moduleTime;
    EventMarks marks;
    // The record's daylight-saving flag where it has a clear one; none where
    // the time is the module clock's own (a text, a malformed record).
    std::optional<bool> dst;
};

// What the decoder carries from one block to the next, so that a collector
// started again goes on where it stopped.
struct EventDecoderState {
    EventRecord current;    // the date and time fields
    bool dateKnown = false; // a date record with a valid date was decoded
    int savedHour = 0;      // the time of a type-0 resync record waiting for its date
    int savedMinute = 0;
    int savedSecond = 0;
    int savedMillisecond = 0;
    QByteArray savedRaw;

    QString toText() const;
    static std::optional<EventDecoderState> fromText(const QString& text);
    friend bool operator==(const EventDecoderState&, const EventDecoderState&) = default;
};

class EventDecoder {
public:
    using Clock = std::function<std::optional<QDateTime>()>;

    explicit EventDecoder(const QLocale& locale = QLocale::system());

    // The lines of the block's records in record order. Types 0 to 2 decode
    // word 2 records, cut to what the block holds for its type; type 3 gives
    // its text as exactly one line; any other buffer type gives none.
    // `firstRecord` skips the records before it, which a previous decode of
    // the same records has shown already; their date and time stay in force.
    QStringList decode(const EventBlockWords& block, int firstRecord = 0);
    // The block's events, those that give no line included (marked NoLine).
    QList<DecodedEvent> decodeEvents(const EventBlockWords& block, int firstRecord = 0);

    // The module's time now, for events without a date or time of their own.
    void setModuleClock(Clock clock) { clock_ = std::move(clock); }

    EventDecoderState state() const { return state_; }
    void restore(const EventDecoderState& state) { state_ = state; }

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
    const EventRecord& current() const { return state_.current; }

private:
    using Events = QList<DecodedEvent>;
    Events decodeType0(const EventBlockWords& block, int first, int count);
    // A record that carries its own date (types 1 and 2); `dst` is the DST
    // text of the block's previous record.
    void decodeDated(Events& events, const EventRecord& record, QString& dst, int index, QByteArray raw);
    void appendEvent(Events& events, int shownKind, const EventRecord& record, const QString& dst, int index,
        QByteArray raw, EventDateSource source);
    std::optional<QDateTime> clockNow() const;

    QLocale locale_;
    EventDecoderState state_;
    Clock clock_;
};

} // namespace chronel
