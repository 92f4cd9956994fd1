#include "event_decoder.h"

#include "event_line.h"
#include "module_clock.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

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

bool DateValid(const EventRecord& r)
{
    return r.year >= 1 && r.year <= 9999 && QDate(r.year, r.month, r.day).isValid();
}

} // namespace

QStringList EventDecoder::decode(const EventBlockWords& block, int firstRecord)
{
    QStringList lines;
    for (const DecodedEvent& event : decodeEvents(block, firstRecord))
        if (!event.marks.testFlag(EventMark::NoLine))
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
        // A text carries no time: the module's clock says when it was handed out.
        if (const auto now = clockNow()) {
            text.moduleTime = *now;
            text.dateSource = EventDateSource::ModuleClock;
        } else {
            text.dateSource = EventDateSource::None;
            text.marks |= EventMark::Undated;
        }
        return {text};
    }
    default: return {};
    }
}

QList<DecodedEvent> EventDecoder::decodeType0(const EventBlockWords& block, int first, int count)
{
    Events events;
    QString dst;
    EventRecord& current = state_.current;
    for (int n = 0; n < first; ++n)
        dst = DstText(Type0Record(block, n).dstFlag, dst);
    for (int n = first; n < count; ++n) {
        const EventRecord r = Type0Record(block, n);
        QByteArray raw = RecordBytes(
            block, eventblock::FirstRecordByte + n * eventblock::Type0RecordBytes, eventblock::Type0RecordBytes);
        dst = DstText(r.dstFlag, dst);
        int shownKind = r.kind;
        if (IsType0DateKind(r.kind)) {
            current.month = r.month;
            current.day = r.day;
            current.year = r.year;
            current.hour = r.hour;
            current.minute = 0;
            current.second = 0;
            current.millisecond = 0;
            state_.dateKnown = DateValid(current);
            if (r.kind == eventkind::ResyncDate) {
                // The second half of the resync pair: its date with the new
                // time the first half brought.
                current.hour = state_.savedHour;
                current.minute = state_.savedMinute;
                current.second = state_.savedSecond;
                current.millisecond = state_.savedMillisecond;
                shownKind = eventkind::ResyncNewTime;
                raw = state_.savedRaw + raw;
                state_.savedRaw.clear();
            }
            appendEvent(events, shownKind, r, dst, n, std::move(raw), EventDateSource::Record);
            continue;
        }
        current.hour = r.hour;
        current.minute = r.minute;
        current.second = r.second;
        current.millisecond = r.millisecond;
        if (r.kind == eventkind::ResyncNewTime) {
            // No line of its own: its time and bytes wait for the date record.
            state_.savedHour = r.hour;
            state_.savedMinute = r.minute;
            state_.savedSecond = r.second;
            state_.savedMillisecond = r.millisecond;
            state_.savedRaw = raw;
            continue;
        }
        appendEvent(events, shownKind, r, dst, n, std::move(raw), EventDateSource::DateRecord);
    }
    return events;
}

void EventDecoder::decodeDated(Events& events, const EventRecord& r, QString& dst, int index, QByteArray raw)
{
    EventRecord& current = state_.current;
    current.month = r.month;
    current.day = r.day;
    current.year = r.year;
    current.hour = r.hour;
    current.minute = r.minute;
    current.second = r.second;
    current.millisecond = r.millisecond;
    state_.dateKnown = DateValid(current);
    dst = DstText(r.dstFlag, dst);
    appendEvent(events, r.kind, r, dst, index, std::move(raw), EventDateSource::Record);
}

std::optional<QDateTime> EventDecoder::clockNow() const { return clock_ ? clock_() : std::nullopt; }

void EventDecoder::appendEvent(Events& events, int shownKind, const EventRecord& r, const QString& dst, int index,
    QByteArray raw, EventDateSource source)
{
    DecodedEvent event;
    event.shown = state_.current;
    event.shown.timeSource = r.timeSource;
    event.recordIndex = index;
    event.raw = std::move(raw);
    if (source == EventDateSource::DateRecord && !state_.dateKnown) {
        // A time of day before any date record: the module's clock gives
        // the day, the latest on which that time had come.
        const std::optional<QDateTime> now = clockNow();
        const QTime time(event.shown.hour, event.shown.minute, event.shown.second, event.shown.millisecond);
        if (now && time.isValid()) {
            event.moduleTime = ModuleTimeBefore(*now, time);
            event.shown.year = event.moduleTime.date().year();
            event.shown.month = event.moduleTime.date().month();
            event.shown.day = event.moduleTime.date().day();
            source = EventDateSource::ModuleClock;
        } else if (!now) {
            source = EventDateSource::None;
            event.marks |= EventMark::Undated;
        }
    } else {
        event.moduleTime = ModuleDateTimeOf(event.shown).value_or(QDateTime());
    }
    if (r.dstFlag == 0 || r.dstFlag == 1)
        event.dst = r.dstFlag == 1;
    if (!event.moduleTime.isValid() && source != EventDateSource::None) {
        event.dst.reset();
        // Fields no clock can show: filed at the time the module handed it out.
        event.marks |= EventMark::Malformed;
        if (const auto now = clockNow()) {
            event.moduleTime = *now;
            source = EventDateSource::ModuleClock;
        } else {
            source = EventDateSource::None;
            event.marks |= EventMark::Undated;
        }
    }
    event.dateSource = source;
    const std::optional<QString> body = EventLineBody(shownKind, r.point, r.state);
    if (body)
        event.line = EventLineText(event.shown, dst, *body, locale_);
    else
        event.marks |= EventMark::NoLine;
    event.shown.kind = shownKind;
    event.shown.point = r.point;
    event.shown.state = r.state;
    event.shown.dstFlag = r.dstFlag;
    events << event;
}

QString EventDecoderState::toText() const
{
    const EventRecord& c = current;
    const QJsonObject object{
        {QStringLiteral("date"), QJsonArray{c.year, c.month, c.day}},
        {QStringLiteral("time"), QJsonArray{c.hour, c.minute, c.second, c.millisecond}},
        {QStringLiteral("dateKnown"), dateKnown},
        {QStringLiteral("resync"), QJsonArray{savedHour, savedMinute, savedSecond, savedMillisecond}},
        {QStringLiteral("resyncRaw"), QString::fromLatin1(savedRaw.toHex())},
    };
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

std::optional<EventDecoderState> EventDecoderState::fromText(const QString& text)
{
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject o = document.object();
    const QJsonArray date = o.value(u"date").toArray();
    const QJsonArray time = o.value(u"time").toArray();
    const QJsonArray resync = o.value(u"resync").toArray();
    if (date.size() != 3 || time.size() != 4 || resync.size() != 4 || !o.value(u"dateKnown").isBool() ||
        !o.value(u"resyncRaw").isString())
        return std::nullopt;
    EventDecoderState state;
    state.current.year = date[0].toInt();
    state.current.month = date[1].toInt();
    state.current.day = date[2].toInt();
    state.current.hour = time[0].toInt();
    state.current.minute = time[1].toInt();
    state.current.second = time[2].toInt();
    state.current.millisecond = time[3].toInt();
    state.dateKnown = o.value(u"dateKnown").toBool() && DateValid(state.current);
    state.savedHour = resync[0].toInt();
    state.savedMinute = resync[1].toInt();
    state.savedSecond = resync[2].toInt();
    state.savedMillisecond = resync[3].toInt();
    state.savedRaw = QByteArray::fromHex(o.value(u"resyncRaw").toString().toLatin1());
    return state;
}

} // namespace chronel
