#include "event_decoder.h"

#include "event_line.h"

#include <algorithm>

namespace chronel {

EventDecoder::EventDecoder(const QLocale& locale) : locale_(locale) { }

int EventDecoder::RecordCount(const EventBlockWords& block)
{
    const int count = block[eventblock::RecordCountWord];
    switch (block[eventblock::BufferTypeWord]) {
    case 0: return std::clamp(count, 0, eventblock::Type0Capacity);
    case 1: return std::clamp(count, 0, eventblock::Type1Capacity);
    case 2: return std::clamp(count, 0, eventblock::Type2Capacity);
    case 3: return 1;
    default: return 0;
    }
}

QString EventDecoder::Type3Text(const EventBlockWords& block)
{
    QByteArray text;
    for (int i = eventblock::FirstRecordByte; i < eventblock::ByteCount; ++i) {
        const quint8 byte = EventBlockByte(block, i);
        if (byte == 0)
            break;
        text.append(char(byte));
    }
    return QString::fromLatin1(text);
}

bool EventDecoder::HoldsRecordsOf(const EventBlockWords& block, const EventBlockWords& earlier)
{
    const int type = block[eventblock::BufferTypeWord];
    if (type != earlier[eventblock::BufferTypeWord])
        return false;
    const int earlierCount = RecordCount(earlier);
    if (RecordCount(block) < earlierCount)
        return false;
    int bytes = 0;
    switch (type) {
    case 0: bytes = earlierCount * eventblock::Type0RecordBytes; break;
    case 1: bytes = earlierCount > 0 ? eventblock::Type1RecordBytes : 0; break;
    case 2: bytes = earlierCount * eventblock::Type2RecordBytes; break;
    case 3: bytes = eventblock::ByteCount - eventblock::FirstRecordByte; break;
    default: return true;
    }
    for (int i = eventblock::FirstRecordByte; i < eventblock::FirstRecordByte + bytes; ++i) {
        if (EventBlockByte(block, i) != EventBlockByte(earlier, i))
            return false;
    }
    return true;
}

namespace {

QByteArray RecordBytes(const EventBlockWords& block, int firstByte, int count)
{
    QByteArray bytes;
    for (int i = firstByte; i < firstByte + count && i < eventblock::ByteCount; ++i)
        bytes.append(char(EventBlockByte(block, i)));
    return bytes;
}

} // namespace

QStringList EventDecoder::decode(const EventBlockWords& block, int firstRecord)
{
    QStringList lines;
    for (const DecodedEvent& event : decodeEvents(block, firstRecord))
        lines << event.line;
    return lines;
}

QList<DecodedEvent> EventDecoder::decodeEvents(const EventBlockWords& block, int firstRecord)
{
    const int count = RecordCount(block);
    const int first = std::clamp(firstRecord, 0, count);
    switch (block[eventblock::BufferTypeWord]) {
    case 0: return decodeType0(block, first, count);
    case 1: {
        Events events;
        QString dst;
        const EventRecord record = Type1Record(block);
        const QByteArray raw = RecordBytes(block, eventblock::FirstRecordByte, eventblock::Type1RecordBytes);
        for (int i = first; i < count; ++i)
            decodeDated(events, record, dst, i, raw);
        return events;
    }
    case 2: {
        Events events;
        QString dst;
        for (int n = 0; n < first; ++n)
            dst = DstText(Type2Record(block, n).dstFlag, dst);
        for (int n = first; n < count; ++n)
            decodeDated(events, Type2Record(block, n), dst, n,
                RecordBytes(block, eventblock::FirstRecordByte + n * eventblock::Type2RecordBytes,
                    eventblock::Type2RecordBytes));
        return events;
    }
    case 3: {
        if (first > 0)
            return {};
        DecodedEvent text;
        text.line = Type3Text(block);
        text.raw = text.line.toLatin1();
        text.datedByRecord = false;
        return {text};
    }
    default: return {};
    }
}

QList<DecodedEvent> EventDecoder::decodeType0(const EventBlockWords& block, int first, int count)
{
    Events events;
    QString dst;
    for (int n = 0; n < first; ++n)
        dst = DstText(Type0Record(block, n).dstFlag, dst);
    for (int n = first; n < count; ++n) {
        const EventRecord r = Type0Record(block, n);
        dst = DstText(r.dstFlag, dst);
        int shownKind = r.kind;
        if (IsType0DateKind(r.kind)) {
            current_.month = r.month;
            current_.day = r.day;
            current_.year = r.year;
            current_.hour = r.hour;
            current_.minute = 0;
            current_.second = 0;
            current_.millisecond = 0;
            if (r.kind == eventkind::ResyncDate) {
                // The second half of the resync pair: its date with the new
                // time the first half brought.
                current_.hour = savedHour_;
                current_.minute = savedMinute_;
                current_.second = savedSecond_;
                current_.millisecond = savedMillisecond_;
                shownKind = eventkind::ResyncNewTime;
            }
        } else {
            current_.hour = r.hour;
            current_.minute = r.minute;
            current_.second = r.second;
            current_.millisecond = r.millisecond;
            if (r.kind == eventkind::ResyncNewTime) {
                savedHour_ = r.hour;
                savedMinute_ = r.minute;
                savedSecond_ = r.second;
                savedMillisecond_ = r.millisecond;
                shownKind = eventkind::ResyncDate;
            }
        }
        appendLine(events, shownKind, r, dst, n,
            RecordBytes(block, eventblock::FirstRecordByte + n * eventblock::Type0RecordBytes,
                eventblock::Type0RecordBytes),
            IsType0DateKind(r.kind));
    }
    return events;
}

void EventDecoder::decodeDated(Events& events, const EventRecord& r, QString& dst, int index, QByteArray raw)
{
    current_.month = r.month;
    current_.day = r.day;
    current_.year = r.year;
    current_.hour = r.hour;
    current_.minute = r.minute;
    current_.second = r.second;
    current_.millisecond = r.millisecond;
    dst = DstText(r.dstFlag, dst);
    appendLine(events, r.kind, r, dst, index, std::move(raw), true);
}

void EventDecoder::appendLine(Events& events, int shownKind, const EventRecord& r, const QString& dst, int index,
    QByteArray raw, bool datedByRecord) const
{
    const std::optional<QString> body = EventLineBody(shownKind, r.point, r.state);
    if (!body)
        return;
    DecodedEvent event;
    event.shown = current_;
    event.shown.timeSource = r.timeSource;
    event.line = EventLineText(event.shown, dst, *body, locale_);
    event.shown.kind = shownKind;
    event.shown.point = r.point;
    event.shown.state = r.state;
    event.shown.dstFlag = r.dstFlag;
    event.recordIndex = index;
    event.raw = std::move(raw);
    event.datedByRecord = datedByRecord;
    events << event;
}

} // namespace chronel
