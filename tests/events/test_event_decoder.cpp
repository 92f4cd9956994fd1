// Event blocks of all four buffer types, built by hand, through the decoder.
// Dates are checked in the C locale, whose short date is yyyy-MM-dd.
#include "core/events/event_decoder.h"
#include "core/events/event_line.h"
#include "support/block_builder.h"
#include "support/qt_printers.h"

#include <QTimeZone>

#include <gtest/gtest.h>

using namespace chronel;
using chronel::test::BlockBuilder;

namespace {

const QLocale C = QLocale::c();

struct BlockCase {
    const char* name;
    BlockBuilder block;
    QStringList lines;
};

void PrintTo(const BlockCase& c, std::ostream* os) { *os << c.name; }

class DecodeBlock : public ::testing::TestWithParam<BlockCase> { };

TEST_P(DecodeBlock, GivesTheLinesInRecordOrder)
{
    EventDecoder decoder(C);
    EXPECT_EQ(decoder.decode(GetParam().block), GetParam().lines);
}

QStringList Lines(std::initializer_list<const char*> texts)
{
    QStringList out;
    for (const char* t : texts)
        out << QString::fromLatin1(t);
    return out;
}

BlockCase Cases[] = {
    {"type0_date_then_two_time_records",
        BlockBuilder(0, 3)
            .type0Date(0, 13, 3, 17, 2024, 9)
            .type0Time(1, 1, 5, 1, 9, 12, 30, 250, 0, 0)
            .type0Time(2, 2, 32, 0, 9, 13, 1, 7, 1, 1),
        Lines({"2024-03-17  09:00:00.000  S  G   Hourly Time Update",
            "2024-03-17  09:12:30.250  S  G   Input Point  5  On",
            "2024-03-17  09:13:01.007  D  F   Input Point  32  On Scan"})},
    {"type0_resync_pair_gives_one_line_with_date_of_second_and_time_of_first",
        BlockBuilder(0, 2).type0Time(0, 12, 1, 0, 14, 59, 58, 999, 2, 0).type0Date(1, 14, 12, 31, 2023, 3, 2, 0),
        Lines({"2023-12-31  14:59:58.999  S  P   Time Resync New Time"})},
    {"type0_reconfigure_date_record_has_zero_minutes", BlockBuilder(0, 1).type0Date(0, 15, 7, 4, 2030, 23, 3, 1),
        Lines({"2030-07-04  23:00:00.000  D  B   Reconfigure"})},
    {"type0_time_record_before_any_date_shows_the_raw_date", BlockBuilder(0, 1).type0Time(0, 6, 1, 0, 1, 2, 3, 4),
        Lines({"0-0-0  01:02:03.004  S  G   Power on Reset"})},
    {"type0_count_above_capacity_is_cut_to_thirty",
        [] {
            BlockBuilder b(0, 1000);
            for (int n = 0; n < 30; ++n)
                b.type0Time(n, 0, 1, 0, 0, 0, 0, 0);
            b.type0Time(29, 9, 1, 0, 1, 1, 1, 1);
            return b;
        }(),
        Lines({"0-0-0  01:01:01.001  S  G   Buffer Overflow"})},
    {"type0_negative_count_decodes_nothing", BlockBuilder(0, -3).type0Time(0, 9, 1, 0, 1, 1, 1, 1), {}},
    {"type1_record_is_repeated_for_each_count", BlockBuilder(1, 2).type1(16, 2, 1, 42, 7, 5, 13, 1, 2, 2025, 1, 1),
        Lines({"2025-02-01  13:05:07.042  D  F   Output Point  3  On",
            "2025-02-01  13:05:07.042  D  F   Output Point  3  On"})},
    {"type1_other_dst_flag_repeats_the_previous_text_empty_at_first",
        BlockBuilder(1, 2).type1(19, 0, 0, 0, 0, 0, 0, 1, 1, 2000, 9, 7),
        Lines({"2000-01-01  00:00:00.000 B   Power Fail", "2000-01-01  00:00:00.000 B   Power Fail"})},
    {"type1_kind12_and_kind14_as_they_come", BlockBuilder(1, 1).type1(12, 0, 0, 1, 2, 3, 4, 5, 6, 2007, 0, 0),
        Lines({"2007-06-05  04:03:02.001  S  G   Time Resync New Time"})},
    {"type1_count_above_thirty_is_cut", BlockBuilder(1, 31).type1(18, 0, 0, 0, 0, 0, 0, 1, 1, 2000, 0, 0),
        [] {
            QStringList l;
            for (int i = 0; i < 30; ++i)
                l << QStringLiteral("2000-01-01  00:00:00.000  S  G   Restart");
            return l;
        }()},
    {"type2_seconds_zero_is_new_year_1984", BlockBuilder(2, 1).type2(0, 2, 5, 0, 0, 42),
        Lines({"1984-01-01  00:00:00.042  S  G   Input Point  5  On Scan"})},
    {"type2_one_leap_year_later_is_new_year_1985", BlockBuilder(2, 1).type2(0, 7, 1, 0, 31622400, 1023, 3, 1),
        Lines({"1985-01-01  00:00:00.1023  D  B   SER Time Sync Lock"})},
    {"type2_kinds_without_line_are_skipped_and_the_rest_decoded",
        BlockBuilder(2, 6)
            .type2(0, 0, 1, 0, 0, 0)
            .type2(1, 14, 1, 0, 0, 0)
            .type2(2, 17, 1, 0, 0, 0)
            .type2(3, 26, 1, 0, 0, 0)
            .type2(4, 31, 1, 0, 0, 0)
            .type2(5, 25, 1, 0, 86400 + 3723, 5),
        Lines({"1984-01-02  01:02:03.005  S  G   Test Mode Off"})},
    {"type2_count_above_capacity_is_cut_to_twenty_two",
        [] {
            // A 23rd record would start at byte 196, where a kind 6 stands.
            BlockBuilder b(2, 23);
            b.type2(21, 24, 1, 0, 0, 0).word(98, 6);
            return b;
        }(),
        Lines({"1984-01-01  00:00:00.000  S  G   Test Mode On"})},
    {"type3_text_is_one_line_whatever_the_count", BlockBuilder(3, 5).text("Point 7 ALARM"), Lines({"Point 7 ALARM"})},
    {"type3_empty_text_is_one_empty_line", BlockBuilder(3, 0), Lines({""})},
    {"type3_text_filling_the_block_stops_at_its_end", BlockBuilder(3, 1).text(QByteArray(200, 'x')),
        QStringList{QString(180, QLatin1Char('x'))}},
    {"type3_bytes_are_latin1", BlockBuilder(3, 1).text("caf\xE9"), QStringList{QString::fromUtf8("caf\u00e9")}},
    {"unknown_buffer_type_gives_nothing", BlockBuilder(4, 1).type2(0, 6, 1, 0, 0, 0), {}},
    {"negative_buffer_type_gives_nothing", BlockBuilder(-1, 1).type2(0, 6, 1, 0, 0, 0), {}},
};

INSTANTIATE_TEST_SUITE_P(
    Blocks, DecodeBlock, ::testing::ValuesIn(Cases), [](const auto& info) { return std::string(info.param.name); });

TEST(EventDecoder, RecordCountIsHeldToTheCapacityOfTheType)
{
    struct {
        int type;
        int count;
        int expected;
    } const cases[] = {{0, 3, 3}, {0, 30, 30}, {0, 31, 30}, {0, 32767, 30}, {0, -1, 0}, {1, 0, 0}, {1, 31, 30},
        {2, 22, 22}, {2, 23, 22}, {2, -32768, 0}, {3, 0, 1}, {3, 9, 1}, {4, 5, 0}, {-1, 5, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(EventDecoder::RecordCount(BlockBuilder(c.type, c.count)), c.expected) << c.type << "/" << c.count;
}

TEST(EventDecoder, TimeRecordsTakeTheDateOfAnEarlierBlock)
{
    EventDecoder decoder(C);
    decoder.decode(BlockBuilder(0, 1).type0Date(0, 13, 11, 30, 2022, 8));
    EXPECT_EQ(decoder.decode(BlockBuilder(0, 1).type0Time(0, 10, 1, 0, 8, 0, 1, 2)),
        Lines({"2022-11-30  08:00:01.002  S  G   Buffer Error"}));
}

TEST(EventDecoder, ResyncPairSpanningTwoBlocksGivesOneLine)
{
    EventDecoder decoder(C);
    EXPECT_TRUE(decoder.decode(BlockBuilder(0, 1).type0Time(0, 12, 1, 0, 6, 30, 0, 500)).isEmpty());
    EXPECT_EQ(decoder.decode(BlockBuilder(0, 1).type0Date(0, 14, 2, 29, 2024, 5)),
        Lines({"2024-02-29  06:30:00.500  S  G   Time Resync New Time"}));
}

TEST(EventDecoder, Type2RecordSetsTheDateForLaterType0TimeRecords)
{
    EventDecoder decoder(C);
    decoder.decode(BlockBuilder(2, 1).type2(0, 6, 1, 0, 31622400 + 86400, 0));
    EXPECT_EQ(decoder.decode(BlockBuilder(0, 1).type0Time(0, 11, 1, 0, 1, 2, 3, 4)),
        Lines({"1985-01-02  01:02:03.004  S  G   Time Resync Old Time"}));
}

// A block presented again after a lost acknowledge, with one record added:
// only the added record gives a line, with the date its block set earlier.
TEST(EventDecoder, RepresentedBlockGivesOnlyTheRecordsAdded)
{
    EventDecoder decoder(C);
    BlockBuilder first(0, 2);
    first.type0Date(0, 13, 3, 17, 2024, 9).type0Time(1, 1, 5, 1, 9, 12, 30, 250);
    BlockBuilder grown = first;
    grown.count(3).type0Time(2, 1, 6, 0, 9, 12, 31, 0);
    EXPECT_EQ(decoder.decode(first).size(), 2);
    ASSERT_TRUE(EventDecoder::HoldsRecordsOf(grown, first));
    EXPECT_EQ(decoder.decode(grown, EventDecoder::RecordCount(first)),
        Lines({"2024-03-17  09:12:31.000  S  G   Input Point  6  Off"}));
    EXPECT_TRUE(decoder.decode(first, 2).isEmpty());
    EXPECT_TRUE(decoder.decode(BlockBuilder(3).word(10, 0x4241), 1).isEmpty());
}

TEST(EventDecoder, EventsCarryTheirRecordTheDateTheyShowAndTheirBytes)
{
    EventDecoder decoder(C);
    BlockBuilder block(0, 3);
    block.type0Date(0, 13, 3, 17, 2024, 9)
        .type0Time(1, 1, 5, 1, 9, 12, 30, 250, 1, 1)
        .type0Time(2, 0, 1, 0, 9, 0, 0, 0);
    const QList<DecodedEvent> events = decoder.decodeEvents(block);
    ASSERT_EQ(events.size(), 3);
    EXPECT_EQ(events[0].dateSource, EventDateSource::Record);
    // Kind 0 gives no line but is kept, marked, with its bytes.
    EXPECT_EQ(events[2].marks, EventMarks(EventMark::NoLine));
    EXPECT_EQ(decoder.decode(block).size(), 2);
    const DecodedEvent& input = events[1];
    EXPECT_EQ(input.line, "2024-03-17  09:12:30.250  D  F   Input Point  5  On");
    EXPECT_EQ(input.dateSource, EventDateSource::DateRecord);
    EXPECT_EQ(input.moduleTime, QDateTime(QDate(2024, 3, 17), QTime(9, 12, 30, 250), QTimeZone::utc()));
    EXPECT_EQ(input.marks, EventMarks());
    EXPECT_EQ(input.recordIndex, 1);
    EXPECT_EQ(input.shown.kind, 1);
    EXPECT_EQ(input.shown.point, 5);
    EXPECT_EQ(input.shown.state, 1);
    EXPECT_EQ(input.shown.year, 2024);
    EXPECT_EQ(input.shown.day, 17);
    EXPECT_EQ(input.shown.timeSource, 1);
    const EventBlockWords words = block;
    ASSERT_EQ(input.raw.size(), 6);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(quint8(input.raw[i]), EventBlockByte(words, 26 + i)) << i;
}

TEST(EventDecoder, HoldsRecordsOfComparesOnlyTheRecordsShown)
{
    const EventBlockWords t2 = BlockBuilder(2, 1).type2(0, 1, 4, 1, 60, 7).pending(3);
    // Same records, another pending count and leftover words past the records.
    EXPECT_TRUE(EventDecoder::HoldsRecordsOf(BlockBuilder(2, 1).type2(0, 1, 4, 1, 60, 7).pending(1).word(90, 5), t2));
    EXPECT_TRUE(EventDecoder::HoldsRecordsOf(BlockBuilder(2, 2).type2(0, 1, 4, 1, 60, 7).type2(1, 1, 5, 1, 61, 0), t2));
    EXPECT_FALSE(EventDecoder::HoldsRecordsOf(BlockBuilder(2, 1).type2(0, 1, 4, 1, 60, 8), t2));
    EXPECT_FALSE(EventDecoder::HoldsRecordsOf(BlockBuilder(2, 0), t2));
    EXPECT_FALSE(EventDecoder::HoldsRecordsOf(BlockBuilder(0, 1).type2(0, 1, 4, 1, 60, 7), t2));

    const EventBlockWords t1 = BlockBuilder(1, 2).type1(1, 3, 1, 5, 6, 7, 8, 9, 10, 2024, 0, 0);
    EXPECT_TRUE(EventDecoder::HoldsRecordsOf(BlockBuilder(1, 3).type1(1, 3, 1, 5, 6, 7, 8, 9, 10, 2024, 0, 0), t1));
    EXPECT_FALSE(EventDecoder::HoldsRecordsOf(BlockBuilder(1, 2).type1(1, 3, 1, 5, 6, 7, 8, 9, 10, 2024, 0, 1), t1));

    EXPECT_TRUE(EventDecoder::HoldsRecordsOf(BlockBuilder(3).word(10, 0x4241), BlockBuilder(3).word(10, 0x4241)));
    EXPECT_FALSE(EventDecoder::HoldsRecordsOf(BlockBuilder(3).word(99, 1), BlockBuilder(3).word(10, 0x4241)));
}

// Every point number 1 … 32 survives the split of its bits over two bytes.
TEST(EventRecord, PointAndStateOfEveryPoint)
{
    for (int point = 1; point <= 32; ++point) {
        for (int state = 0; state <= 1; ++state) {
            const EventRecord r0 = Type0Record(BlockBuilder(0, 1).type0Time(0, 1, point, state, 0, 0, 0, 0), 0);
            const EventRecord r2 = Type2Record(BlockBuilder(2, 1).type2(0, 1, point, state, 0, 0), 0);
            EXPECT_EQ(r0.point, point);
            EXPECT_EQ(r0.state, state);
            EXPECT_EQ(r2.point, point);
            EXPECT_EQ(r2.state, state);
        }
    }
}

TEST(EventRecord, Type0FieldsAtTheirLimits)
{
    const EventRecord t = Type0Record(BlockBuilder(0, 1).type0Time(0, 31, 32, 1, 31, 63, 63, 1023, 3, 1), 0);
    EXPECT_EQ(t, (EventRecord{31, 32, 1, 0, 0, 0, 31, 63, 63, 1023, 3, 1}));
    const EventRecord d = Type0Record(BlockBuilder(0, 1).type0Date(0, 13, 15, 31, 4095, 31, 3, 1), 0);
    EXPECT_EQ(d, (EventRecord{13, 1, 0, 15, 31, 4095, 31, 0, 0, 0, 3, 1}));
}

TEST(EventRecord, Type2MillisecondIgnoresTheFlagBitsOfItsHighByte)
{
    const EventRecord r = Type2Record(BlockBuilder(2, 1).type2(0, 1, 1, 0, 0, 777, 3, 1), 0);
    EXPECT_EQ(r.millisecond, 777);
    EXPECT_EQ(r.timeSource, 3);
    EXPECT_EQ(r.dstFlag, 1);
}

struct BodyCase {
    int kind;
    int point;
    int state;
    const char* body; // nullptr: no line
};

class LineBody : public ::testing::TestWithParam<BodyCase> { };

TEST_P(LineBody, KindGivesItsText)
{
    const auto& c = GetParam();
    const auto body = EventLineBody(c.kind, c.point, c.state);
    if (!c.body)
        EXPECT_FALSE(body.has_value()) << c.kind;
    else
        EXPECT_EQ(body.value_or(QStringLiteral("<none>")), QString::fromLatin1(c.body)) << c.kind;
}

INSTANTIATE_TEST_SUITE_P(Kinds, LineBody,
    ::testing::Values(BodyCase{0, 1, 0, nullptr}, BodyCase{1, 7, 0, "  Input Point  7  Off"},
        BodyCase{1, 7, 3, "  Input Point  7  On"}, BodyCase{2, 12, 0, "  Input Point  12  On Scan"},
        BodyCase{3, 1, 1, "  Input Point  1  Off Scan"}, BodyCase{4, 2, 0, "  Input Point  2  Chatter On Scan"},
        BodyCase{5, 3, 0, "  Input Point  3  Chatter Off Scan"}, BodyCase{6, 1, 0, "  Power on Reset"},
        BodyCase{7, 1, 0, "  SER Time Sync Lock"}, BodyCase{8, 1, 0, "  SER Time Sync Fail"},
        BodyCase{9, 1, 0, "  Buffer Overflow"}, BodyCase{10, 1, 0, "  Buffer Error"},
        BodyCase{11, 1, 0, "  Time Resync Old Time"}, BodyCase{12, 1, 0, "  Time Resync New Time"},
        BodyCase{13, 1, 0, "  Hourly Time Update"}, BodyCase{14, 1, 0, nullptr}, BodyCase{15, 1, 0, "  Reconfigure"},
        BodyCase{16, 3, 1, "  Output Point  3  On"}, BodyCase{16, 3, 0, "  Output Point  3  Off"},
        BodyCase{17, 1, 0, nullptr}, BodyCase{18, 1, 0, "  Restart"}, BodyCase{19, 1, 0, "  Power Fail"},
        BodyCase{20, 1, 0, "  GPS Time Sync Lock"}, BodyCase{21, 1, 0, "  GPS Time Sync Fail"},
        BodyCase{22, 1, 0, "  IRIG-B Time Sync Lock"}, BodyCase{23, 1, 0, "  IRIG-B Time Sync Fail"},
        BodyCase{24, 1, 0, "  Test Mode On"}, BodyCase{25, 1, 0, "  Test Mode Off"}, BodyCase{26, 1, 0, nullptr},
        BodyCase{-1, 1, 0, nullptr}, BodyCase{32767, 1, 0, nullptr}));

TEST(EventLine, DstAndTimeSourceTexts)
{
    EXPECT_EQ(DstText(1, QString()), QStringLiteral("  D "));
    EXPECT_EQ(DstText(0, QStringLiteral("  D ")), QStringLiteral("  S "));
    EXPECT_EQ(DstText(2, QStringLiteral("  D ")), QStringLiteral("  D "));
    EXPECT_EQ(DstText(-1, QString()), QString());
    const char* const sources[] = {" G ", " F ", " P ", " B ", " B ", " B "};
    const int values[] = {0, 1, 2, 3, 4, -1};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(TimeSourceText(values[i]), QString::fromLatin1(sources[i])) << values[i];
}

// The layout's own example: kind 2, point 5, standard time, GPS, 13:05:07.042.
TEST(EventLine, LayoutOfTheExampleRecord)
{
    EventRecord r;
    r.year = 2021;
    r.month = 6;
    r.day = 9;
    r.hour = 13;
    r.minute = 5;
    r.second = 7;
    r.millisecond = 42;
    EXPECT_EQ(EventLineText(r, DstText(0, {}), *EventLineBody(2, 5, 0), C),
        QStringLiteral("2021-06-09  13:05:07.042  S  G   Input Point  5  On Scan"));
    // A real locale writes its own short date.
    EXPECT_TRUE(EventLineText(r, {}, {}, QLocale(QLocale::English, QLocale::UnitedStates)).startsWith(u"6/9/21"));
}

} // namespace

namespace {

QDateTime ModuleTime(int y, int mo, int d, int h, int mi, int s, int ms = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), QTimeZone::utc());
}

} // namespace

// Before any date record a time of day takes the latest date on which the
// module's clock had passed it; the line shows that date too.
TEST(EventDecoderClock, UndatedTimeRecordsTakeTheModuleClocksDay)
{
    EventDecoder decoder(C);
    QDateTime clock = ModuleTime(2026, 3, 1, 0, 0, 1);
    decoder.setModuleClock([&] { return std::optional<QDateTime>(clock); });
    const BlockBuilder block = BlockBuilder(0, 3)
                                   .type0Time(0, 1, 1, 1, 23, 59, 59, 900) // the day before
                                   .type0Time(1, 1, 2, 1, 0, 0, 2, 500)    // within the clock's tolerance
                                   .type0Time(2, 6, 1, 0, 0, 0, 0, 0);
    const QList<DecodedEvent> events = decoder.decodeEvents(block);
    ASSERT_EQ(events.size(), 3);
    EXPECT_EQ(events[0].moduleTime, ModuleTime(2026, 2, 28, 23, 59, 59, 900));
    EXPECT_EQ(events[0].line.left(10), "2026-02-28");
    EXPECT_EQ(events[1].moduleTime, ModuleTime(2026, 3, 1, 0, 0, 2, 500));
    EXPECT_EQ(events[2].moduleTime, ModuleTime(2026, 3, 1, 0, 0, 0));
    for (const DecodedEvent& e : events)
        EXPECT_EQ(e.dateSource, EventDateSource::ModuleClock);

    // A clock just before midnight and a record just after it: the next day.
    clock = ModuleTime(2026, 3, 1, 23, 59, 59);
    const QList<DecodedEvent> next = decoder.decodeEvents(BlockBuilder(0, 1).type0Time(0, 1, 3, 0, 0, 0, 0, 400));
    ASSERT_EQ(next.size(), 1);
    EXPECT_EQ(next[0].moduleTime, ModuleTime(2026, 3, 2, 0, 0, 0, 400));

    // Once a date record came, it dates what follows, whatever the clock says.
    decoder.decodeEvents(BlockBuilder(0, 1).type0Date(0, 13, 7, 4, 2025, 10));
    const QList<DecodedEvent> dated = decoder.decodeEvents(BlockBuilder(0, 1).type0Time(0, 1, 3, 1, 10, 5, 0, 0));
    ASSERT_EQ(dated.size(), 1);
    EXPECT_EQ(dated[0].dateSource, EventDateSource::DateRecord);
    EXPECT_EQ(dated[0].moduleTime, ModuleTime(2025, 7, 4, 10, 5, 0));
}

TEST(EventDecoderClock, TextBlocksTakeTheClockAndWithoutOneAreUndated)
{
    EventDecoder decoder(C);
    const QList<DecodedEvent> undated = decoder.decodeEvents(BlockBuilder(3).text("Breaker 52-A  Tripped"));
    ASSERT_EQ(undated.size(), 1);
    EXPECT_EQ(undated[0].marks, EventMarks(EventMark::Undated));
    EXPECT_FALSE(undated[0].moduleTime.isValid());
    decoder.setModuleClock([] { return std::optional<QDateTime>(ModuleTime(2026, 12, 8, 9, 30, 0, 120)); });
    const QList<DecodedEvent> text = decoder.decodeEvents(BlockBuilder(3).text("Breaker 52-A  Tripped"));
    ASSERT_EQ(text.size(), 1);
    EXPECT_EQ(text[0].line, "Breaker 52-A  Tripped");
    EXPECT_EQ(text[0].moduleTime, ModuleTime(2026, 12, 8, 9, 30, 0, 120));
    EXPECT_EQ(text[0].dateSource, EventDateSource::ModuleClock);
}

// Fields no clock can show are kept with their line and bytes, marked, and
// filed at the clock's time; the records beside them are decoded as ever.
TEST(EventDecoderClock, MalformedRecordsAreMarkedAndFiledAtTheClock)
{
    EventDecoder decoder(C);
    decoder.setModuleClock([] { return std::optional<QDateTime>(ModuleTime(2026, 12, 8, 9, 30, 0)); });
    BlockBuilder type1(1, 1);
    type1.type1(1, 4, 1, -1, -1, -1, -1, -1, -1, -1, 0, 0);
    const QList<DecodedEvent> bad = decoder.decodeEvents(type1);
    ASSERT_EQ(bad.size(), 1);
    EXPECT_EQ(bad[0].marks, EventMarks(EventMark::Malformed));
    EXPECT_EQ(bad[0].moduleTime, ModuleTime(2026, 12, 8, 9, 30, 0));
    EXPECT_EQ(bad[0].raw.size(), 26);

    const QList<DecodedEvent> mixed = decoder.decodeEvents(BlockBuilder(0, 3)
                                                               .type0Date(0, 13, 13, 1, 2026, 9)   // month 13
                                                               .type0Time(1, 1, 2, 1, 9, 61, 0, 0) // minute 61
                                                               .type0Time(2, 1, 2, 0, 9, 30, 0, 5));
    ASSERT_EQ(mixed.size(), 3);
    EXPECT_EQ(mixed[0].marks, EventMarks(EventMark::Malformed));
    EXPECT_EQ(mixed[1].marks, EventMarks(EventMark::Malformed));
    // A bad date record dates nothing: the clock gives the day.
    EXPECT_EQ(mixed[2].marks, EventMarks());
    EXPECT_EQ(mixed[2].dateSource, EventDateSource::ModuleClock);
    EXPECT_EQ(mixed[2].moduleTime, ModuleTime(2026, 12, 8, 9, 30, 0, 5));
}

// The resync pair's row keeps the bytes of both halves, also across blocks
// and across a collector's restart through the decoder's saved state.
TEST(EventDecoderState, ResyncPairAndDateSurviveASavedState)
{
    EventDecoder first(C);
    first.decodeEvents(BlockBuilder(0, 2).type0Date(0, 13, 5, 20, 2026, 8).type0Time(1, 12, 1, 0, 8, 15, 30, 125));
    const std::optional<EventDecoderState> saved = EventDecoderState::fromText(first.state().toText());
    ASSERT_TRUE(saved);
    EXPECT_EQ(*saved, first.state());
    EXPECT_FALSE(EventDecoderState::fromText(QStringLiteral("{\"date\":[1]}")));

    EventDecoder restarted(C);
    restarted.restore(*saved);
    const QList<DecodedEvent> events =
        restarted.decodeEvents(BlockBuilder(0, 2).type0Date(0, 14, 5, 20, 2026, 8).type0Time(1, 1, 9, 1, 8, 16, 0, 0));
    ASSERT_EQ(events.size(), 2);
    EXPECT_EQ(events[0].line, "2026-05-20  08:15:30.125  S  G   Time Resync New Time");
    EXPECT_EQ(events[0].raw.size(), 12);
    EXPECT_EQ(events[1].dateSource, EventDateSource::DateRecord);
    EXPECT_EQ(events[1].moduleTime, ModuleTime(2026, 5, 20, 8, 16, 0));
}

// A type-1 block decoded three times gives three events numbered apart.
TEST(EventDecoder, Type1CopiesAreNumberedApart)
{
    EventDecoder decoder(C);
    BlockBuilder block(1, 3);
    block.type1(1, 4, 1, 7, 8, 9, 10, 11, 12, 2026, 0, 0);
    const QList<DecodedEvent> events = decoder.decodeEvents(block);
    ASSERT_EQ(events.size(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(events[i].recordIndex, i);
        EXPECT_EQ(events[i].line, events[0].line);
    }
}
