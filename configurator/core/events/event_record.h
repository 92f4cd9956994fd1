#pragma once
// The event block the module hands out at register 101 and the records it
// carries in the layouts of event buffer types 0 … 3.
//
// Block bytes are counted as the control's byte accessor counts them: byte 2k
// is the low byte of word k, byte 2k + 1 its high byte. Records begin at byte
// 20 (word 10).
#include "core/model/module_map.h"

#include <QtGlobal>
#include <array>

namespace chronel {

using EventBlockWords = std::array<qint16, EventBlockWordCount>;

namespace eventblock {
constexpr int BufferTypeWord = 1;
constexpr int RecordCountWord = 2;
constexpr int PendingEventsWord = 5;
constexpr int FirstRecordWord = 10;
constexpr int FirstRecordByte = 20;
constexpr int ByteCount = 2 * EventBlockWordCount;
constexpr int Type0RecordBytes = 6;
constexpr int Type2RecordBytes = 8;
// The one record of a type-1 block: words 10 … 22.
constexpr int Type1RecordBytes = 26;
// How many records fit in bytes 20 … 199.
constexpr int Type0Capacity = (ByteCount - FirstRecordByte) / Type0RecordBytes;
constexpr int Type2Capacity = (ByteCount - FirstRecordByte) / Type2RecordBytes;
// A type-1 block repeats its one record; it is held to the type-0 count.
constexpr int Type1Capacity = Type0Capacity;
static_assert(Type0Capacity == 30 && Type2Capacity == 22);
static_assert(FirstRecordByte + Type2Capacity * Type2RecordBytes <= ByteCount);
} // namespace eventblock

// Kinds of event records that the decoder treats specially.
namespace eventkind {
constexpr int InputPoint = 1;
constexpr int PowerOnReset = 6;
constexpr int ResyncNewTime = 12;
constexpr int HourlyTimeUpdate = 13;
constexpr int ResyncDate = 14;
constexpr int Reconfigure = 15;
constexpr int OutputPoint = 16;
} // namespace eventkind

// One record with every field a layout can carry. Type-0 records carry
// either a time of day or a date; the decoder completes them.
struct EventRecord {
    int kind = 0;
    int point = 0; // 1 … 32
    int state = 0; // 0 off, nonzero on
    int month = 0;
    int day = 0;
    int year = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
    int timeSource = 0;
    int dstFlag = 0;

    friend bool operator==(const EventRecord&, const EventRecord&) = default;
};

quint8 EventBlockByte(const EventBlockWords& block, int byteIndex);

// Kinds 13, 14 and 15 of a type-0 block are date records.
constexpr bool IsType0DateKind(int kind) { return kind >= 13 && kind <= 15; }

// Record n (0-based, within the layout's capacity) as the layout stores it.
// A type-0 time record leaves the date at 0; a type-0 date record leaves
// minute, second and millisecond at 0.
EventRecord Type0Record(const EventBlockWords& block, int n);
EventRecord Type1Record(const EventBlockWords& block);
EventRecord Type2Record(const EventBlockWords& block, int n);

} // namespace chronel
