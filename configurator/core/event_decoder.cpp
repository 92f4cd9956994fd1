#include "event_decoder.h"

#include "event_line.h"

#include <algorithm>

namespace chronel {

EventDecoder::EventDecoder(const QLocale& locale) : locale_(locale) {}

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

QStringList EventDecoder::decode(const EventBlockWords& block)
{
    const int count = RecordCount(block);
    switch (block[eventblock::BufferTypeWord]) {
    case 0: return decodeType0(block, count);
    case 1: {
        QStringList lines;
        QString dst;
        const EventRecord record = Type1Record(block);
        for (int i = 0; i < count; ++i)
            decodeDated(lines, record, dst);
        return lines;
    }
    case 2: {
        QStringList lines;
        QString dst;
        for (int n = 0; n < count; ++n)
            decodeDated(lines, Type2Record(block, n), dst);
        return lines;
    }
    case 3: return {Type3Text(block)};
    default: return {};
    }
}

QStringList EventDecoder::decodeType0(const EventBlockWords& block, int count)
{
    QStringList lines;
    QString dst;
    for (int n = 0; n < count; ++n) {
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
