#include "event_record.h"

#include "core/model/module_time.h"

namespace chronel {

namespace {

int Bits(int value, int first, int count) { return (value >> first) & ((1 << count) - 1); }

int Word(const EventBlockWords& block, int index) { return block[std::size_t(index)]; }

// Kind, point and state share the first two bytes in types 0 and 2.
void KindPointState(EventRecord& r, int b0, int b1)
{
    r.kind = Bits(b0, 0, 5);
    r.point = Bits(b0, 5, 3) + 8 * Bits(b1, 0, 2) + 1;
    r.state = Bits(b1, 2, 1);
}

} // namespace

quint8 EventBlockByte(const EventBlockWords& block, int byteIndex)
{
    if (byteIndex < 0 || byteIndex >= eventblock::ByteCount)
        return 0;
    const auto word = quint16(block[std::size_t(byteIndex / 2)]);
    return quint8(byteIndex % 2 == 0 ? word & 0xFF : word >> 8);
}

EventRecord Type0Record(const EventBlockWords& block, int n)
{
    const int base = eventblock::FirstRecordByte + eventblock::Type0RecordBytes * n;
    int b[eventblock::Type0RecordBytes];
    for (int i = 0; i < eventblock::Type0RecordBytes; ++i)
        b[i] = EventBlockByte(block, base + i);

    EventRecord r;
    KindPointState(r, b[0], b[1]);
    r.timeSource = Bits(b[5], 6, 2);
    r.dstFlag = Bits(b[5], 5, 1);
    if (IsType0DateKind(r.kind)) {
        r.month = Bits(b[2], 0, 4);
        r.day = Bits(b[2], 4, 4) + 16 * Bits(b[3], 0, 1);
        r.hour = Bits(b[3], 1, 5);
        r.year = b[4] + 256 * Bits(b[5], 0, 4);
    } else {
        r.millisecond = b[2] + 256 * Bits(b[3], 0, 2);
        r.second = Bits(b[3], 2, 6);
        r.minute = Bits(b[4], 0, 6);
        r.hour = Bits(b[5], 0, 5);
    }
    return r;
}

EventRecord Type1Record(const EventBlockWords& block)
{
    EventRecord r;
    r.kind = Word(block, 10);
    r.point = Word(block, 11) + 1;
    r.state = Word(block, 13);
    r.millisecond = Word(block, 14);
    r.second = Word(block, 15);
    r.minute = Word(block, 16);
    r.hour = Word(block, 17);
    r.day = Word(block, 18);
    r.month = Word(block, 19);
    r.year = Word(block, 20);
    r.timeSource = Word(block, 21);
    r.dstFlag = Word(block, 22);
    return r;
}

EventRecord Type2Record(const EventBlockWords& block, int n)
{
    const int base = eventblock::FirstRecordByte + eventblock::Type2RecordBytes * n;
    const int b0 = EventBlockByte(block, base);
    const int b1 = EventBlockByte(block, base + 1);
    const int b2 = EventBlockByte(block, base + 2);
    const int b3 = EventBlockByte(block, base + 3);
    const quint32 seconds = quint32(EventBlockByte(block, base + 4)) | quint32(EventBlockByte(block, base + 5)) << 8 |
        quint32(EventBlockByte(block, base + 6)) << 16 | quint32(EventBlockByte(block, base + 7)) << 24;

    EventRecord r;
    KindPointState(r, b0, b1);
    r.timeSource = Bits(b3, 6, 2);
    r.dstFlag = Bits(b3, 5, 1);
    r.millisecond = Bits(b2 + 256 * b3, 0, 10);
    const ModuleDateTime t = ModuleSecondsToDateTime(qint32(seconds));
    r.year = t.year;
    r.month = t.month;
    r.day = t.day;
    r.hour = t.hour;
    r.minute = t.minute;
    r.second = t.second;
    return r;
}

} // namespace chronel
