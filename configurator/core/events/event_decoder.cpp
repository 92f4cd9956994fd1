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

QStringList EventDecoder::decode(const EventBlockWords& block, int firstRecord)
{
    const int count = RecordCount(block);
    const int first = std::clamp(firstRecord, 0, count);
    switch (block[eventblock::BufferTypeWord]) {
    case 0: return decodeType0(block, first, count);
    case 1: {
        QStringList lines;
        QString dst;
        const EventRecord record = Type1Record(block);
        for (int i = first; i < count; ++i)
            decodeDated(lines, record, dst);
        return lines;
    }
    case 2: {
        QStringList lines;
        QString dst;
        for (int n = 0; n < first; ++n)
            dst = DstText(Type2Record(block, n).dstFlag, dst);
        for (int n = first; n < count; ++n)
            decodeDated(lines, Type2Record(block, n), dst);
        return lines;
    }
    case 3:
        if (first > 0)
            return {};
        return {Type3Text(block)};
    default: return {};
    }
}

QStringList EventDecoder::decodeType0(const EventBlockWords& block, int first, int count)
{
    QStringList lines;
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
        appendLine(lines, shownKind, r, dst);
    }
    return lines;
}

void EventDecoder::decodeDated(QStringList& lines, const EventRecord& r, QString& dst)
{
    current_.month = r.month;
    current_.day = r.day;
    current_.year = r.year;
    current_.hour = r.hour;
    current_.minute = r.minute;
    current_.second = r.second;
    current_.millisecond = r.millisecond;
    dst = DstText(r.dstFlag, dst);
    appendLine(lines, r.kind, r, dst);
}

void EventDecoder::appendLine(QStringList& lines, int shownKind, const EventRecord& r, const QString& dst) const
{
    const std::optional<QString> body = EventLineBody(shownKind, r.point, r.state);
    if (!body)
        return;
    EventRecord shown = current_;
    shown.timeSource = r.timeSource;
    lines << EventLineText(shown, dst, *body, locale_);
}

} // namespace chronel
