// Watch points: look-up, the latch sequences of the limit rules for each
// point type, limits of other types, and changes to the list made from
// inside the events of an evaluation.
#include "fault_server.h"
#include "support/modbus_server.h"
#include "test_support.h"

#include "regaccess/plctag.h"
#include "regaccess/watch_points.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace regaccess {
namespace {

QString Text(const QVariant& v)
{
    if (!v.isValid())
        return QStringLiteral("empty");
    if (v.typeId() == QMetaType::Float)
        return QString::number(static_cast<double>(v.toFloat()));
    if (v.typeId() == QMetaType::UChar)
        return QString::number(v.toInt()); // a byte value, not a character
    return v.toString();
}

// Records events as "low 90 120 100" (name, current, previous, limit).
class Recorder : public WatchPointEvents {
public:
    QStringList events;
    std::function<void(const QString&)> onEvent;

    bool discreteChange(int w, int b, const QVariant& cur, const QVariant& prev) override
    {
        return add(QStringLiteral("discrete %1.%2 %3 %4").arg(w).arg(b).arg(cur.toInt()).arg(Text(prev)));
    }
    bool analogLow(int, int, const QVariant& cur, const QVariant& prev, const QVariant& limit) override
    {
        return add(QStringLiteral("low %1 %2 %3").arg(Text(cur), Text(prev), Text(limit)));
    }
    bool analogHigh(int, int, const QVariant& cur, const QVariant& prev, const QVariant& limit) override
    {
        return add(QStringLiteral("high %1 %2 %3").arg(Text(cur), Text(prev), Text(limit)));
    }
    bool analogNormal(int, int, const QVariant& cur, const QVariant& prev) override
    {
        return add(QStringLiteral("normal %1 %2").arg(Text(cur), Text(prev)));
    }
    bool analogChange(int, int, const QVariant& cur, const QVariant& prev) override
    {
        return add(QStringLiteral("change %1 %2").arg(Text(cur), Text(prev)));
    }

private:
    bool add(const QString& event)
    {
        events << event;
        if (onEvent)
            onEvent(event);
        return true;
    }
};

void Store(RegisterBuffer& buffer, int type, int index, double value)
{
    switch (type) {
    case WordPoint: buffer.setWord(index, static_cast<int>(value)); break;
    case LongPoint: buffer.setLongValue(index, static_cast<std::int32_t>(value)); break;
    case FloatPoint: buffer.setFloatValue(index, static_cast<float>(value)); break;
    case BytePoint: buffer.setByte(index, static_cast<int>(value)); break;
    default: break;
    }
}

struct SequenceCase {
    const char* name;
    int type;
    int flags;
    QVariant low;
    QVariant high;
    std::vector<double> values;
    std::vector<QStringList> events; // per value
};

class LimitSequenceTest : public ::testing::TestWithParam<SequenceCase> { };

TEST_P(LimitSequenceTest, FiresTheEventsOfEachStep)
{
    const SequenceCase& c = GetParam();
    WatchList list;
    ASSERT_TRUE(list.add(c.type, 4, 0, c.flags, c.low, c.high, true));
    RegisterBuffer buffer;
    Recorder recorder;
    ASSERT_EQ(c.values.size(), c.events.size());
    for (std::size_t i = 0; i < c.values.size(); ++i) {
        recorder.events.clear();
        Store(buffer, c.type, 4, c.values[i]);
        list.evaluate(buffer, recorder);
        EXPECT_EQ(recorder.events, c.events[i]) << "step " << i << " value " << c.values[i];
    }
}

const double NaN = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(Points, LimitSequenceTest,
    ::testing::Values(SequenceCase{"word_low_latch", WordPoint, WatchLow, 100, QVariant(), {120, 90, 80, 110, 95},
                          {{}, {"low 90 120 100"}, {}, {}, {"low 95 110 100"}}},
        SequenceCase{"byte_low_latch", BytePoint, WatchLow, 100, QVariant(), {120, 90, 80, 110, 95},
            {{}, {"low 90 120 100"}, {}, {}, {"low 95 110 100"}}},
        SequenceCase{"word_low_and_normal", WordPoint, WatchLow | WatchNormal, 100, QVariant(), {90, 110, 110, 95},
            {{"low 90 empty 100"}, {"normal 110 90"}, {}, {"low 95 110 100"}}},
        SequenceCase{"long_high_latch", LongPoint, WatchHigh, QVariant(), 1000000, {5, 2000000, 3000000, 10, 2500000},
            {{}, {"high 2000000 5 1000000"}, {}, {}, {"high 2500000 10 1000000"}}},
        SequenceCase{"long_high_and_normal", LongPoint, WatchHigh | WatchNormal, QVariant(), 50, {60, 40, 70},
            {{"high 60 empty 50"}, {"normal 40 60"}, {"high 70 40 50"}}},
        SequenceCase{"float_all_rules", FloatPoint, 0xF, 0.5, 1.5, {1.0, 0.25, 2.0, 1.0, 1.0},
            {{"change 1 empty"}, {"low 0.25 1 0.5", "change 0.25 1"}, {"high 2 0.25 1.5", "change 2 0.25"},
                {"normal 1 2", "change 1 2"}, {}}},
        SequenceCase{"float_nan_never_differs", FloatPoint, WatchChange, QVariant(), QVariant(),
            {1.0, NaN, 2.0, 2.0, 3.0}, {{"change 1 empty"}, {}, {}, {}, {"change 3 2"}}},
        SequenceCase{"word_change_only", WordPoint, WatchChange, QVariant(), QVariant(), {0, 0, -5},
            {{"change 0 empty"}, {}, {"change -5 0"}}},
        SequenceCase{"flags_zero_fire_nothing", WordPoint, 0, 100, 200, {0, 500, 0}, {{}, {}, {}}},
        SequenceCase{
            "flags_masked_to_four_bits", WordPoint, 0x10 | WatchLow, 100, QVariant(), {50}, {{"low 50 empty 100"}}},
        // Limits of another type are converted to the point's type first.
        SequenceCase{"word_float_limit_rounds_half_even", WordPoint, WatchLow, 99.5, QVariant(), {100, 99},
            {{}, {"low 99 100 100"}}},
        SequenceCase{"word_text_limit", WordPoint, WatchLow, QStringLiteral("100"), QVariant(), {120, 99},
            {{}, {"low 99 120 100"}}},
        SequenceCase{"word_limit_not_a_number", WordPoint, WatchLow | WatchHigh, QStringLiteral("abc"),
            QStringLiteral("abc"), {-30000, 30000}, {{}, {}}},
        SequenceCase{
            "word_limit_beyond_the_type", WordPoint, WatchLow, 40000, QVariant(), {32767}, {{"low 32767 empty 40000"}}},
        SequenceCase{"byte_negative_limit", BytePoint, WatchHigh, QVariant(), -1, {0}, {{"high 0 empty -1"}}},
        SequenceCase{"long_float_limit", LongPoint, WatchHigh, QVariant(), 2.5, {2, 3}, {{}, {"high 3 2 2"}}},
        SequenceCase{"float_integer_limit", FloatPoint, WatchLow, 1, QVariant(), {1.5, 0.5}, {{}, {"low 0.5 1.5 1"}}},
        SequenceCase{
            "absent_limit_is_zero", WordPoint, WatchLow, QVariant(), QVariant(), {5, -1}, {{}, {"low -1 5 0"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WatchListTest, BitPointsReportEveryChangeWithZeroOrOne)
{
    WatchList list;
    ASSERT_TRUE(list.add(BitPoint, 20, 3, 0, QVariant(), QVariant(), true));
    RegisterBuffer buffer;
    Recorder recorder;
    list.evaluate(buffer, recorder);
    buffer.setBit(20, 3, true);
    list.evaluate(buffer, recorder);
    buffer.setBit(20, 4, true); // another bit of the word
    list.evaluate(buffer, recorder);
    buffer.setBit(20, 3, false);
    list.evaluate(buffer, recorder);
    EXPECT_EQ(recorder.events, (QStringList{"discrete 20.3 0 empty", "discrete 20.3 1 false", "discrete 20.3 0 true"}));
}

TEST(WatchListTest, BitPointIsFoundByTypeWordAndBit)
{
    WatchList list;
    ASSERT_TRUE(list.add(BitPoint, 20, 3, 0, QVariant(), QVariant(), true));
    ASSERT_TRUE(list.add(BitPoint, 20, 4, 0, QVariant(), QVariant(), true));
    EXPECT_EQ(list.size(), 2);
    EXPECT_FALSE(list.remove(BitPoint, 20, 5));
    EXPECT_FALSE(list.remove(WordPoint, 20, 3));
    EXPECT_TRUE(list.remove(BitPoint, 20, 3));
    EXPECT_FALSE(list.remove(BitPoint, 20, 3));
    EXPECT_EQ(list.size(), 1);
}

TEST(WatchListTest, IndexesAreClampedWhenStoredAndLookedUp)
{
    WatchList list;
    ASSERT_TRUE(list.add(WordPoint, 999, 77, 0, QVariant(), QVariant(), true));
    EXPECT_TRUE(list.suspend(WordPoint, 255, 0)); // the second index does not count for words
    EXPECT_TRUE(list.activate(WordPoint, 4000, 3));
    ASSERT_TRUE(list.add(BitPoint, -4, 30, 0, QVariant(), QVariant(), true));
    EXPECT_TRUE(list.remove(BitPoint, 0, 15));
}

TEST(WatchListTest, UnsupportedTypesAreRefused)
{
    WatchList list;
    for (int type : {0, 1, 5, 8, 12, 16, 18})
        EXPECT_FALSE(list.add(type, 0, 0, 1, 0, 0, true)) << type;
    EXPECT_EQ(list.size(), 0);
    EXPECT_FALSE(list.suspend(WordPoint, 0, 0));
    EXPECT_FALSE(list.activate(WordPoint, 0, 0));
}

TEST(WatchListTest, AddingAgainUpdatesTheOneRecordAndKeepsAbsentLimits)
{
    WatchList list;
    RegisterBuffer buffer;
    Recorder recorder;
    ASSERT_TRUE(list.add(WordPoint, 1, 0, WatchLow, 100, 200, true));
    buffer.setWord(1, 150);
    list.evaluate(buffer, recorder);
    ASSERT_TRUE(list.add(WordPoint, 1, 0, WatchLow | WatchHigh, QVariant(), QVariant(), true));
    EXPECT_EQ(list.size(), 1);
    buffer.setWord(1, 250);
    list.evaluate(buffer, recorder);
    buffer.setWord(1, 50);
    list.evaluate(buffer, recorder);
    EXPECT_EQ(recorder.events, (QStringList{"high 250 empty 200", "low 50 250 100"}))
        << "the update empties the previous value and keeps both limits";
}

TEST(WatchListTest, SuspendedPointsKeepTheirPreviousValue)
{
    WatchList list;
    RegisterBuffer buffer;
    Recorder recorder;
    ASSERT_TRUE(list.add(WordPoint, 0, 0, WatchChange, QVariant(), QVariant(), true));
    buffer.setWord(0, 1);
    list.evaluate(buffer, recorder);
    ASSERT_TRUE(list.suspend(WordPoint, 0, 0));
    buffer.setWord(0, 2);
    list.evaluate(buffer, recorder);
    ASSERT_TRUE(list.activate(WordPoint, 0, 0));
    buffer.setWord(0, 3);
    list.evaluate(buffer, recorder);
    EXPECT_EQ(recorder.events, (QStringList{"change 1 empty", "change 3 1"}));
}

TEST(WatchListTest, InactivePointAddedStaysQuietUntilActivated)
{
    WatchList list;
    RegisterBuffer buffer;
    Recorder recorder;
    ASSERT_TRUE(list.add(WordPoint, 0, 0, WatchChange, QVariant(), QVariant(), false));
    list.evaluate(buffer, recorder);
    EXPECT_TRUE(recorder.events.isEmpty());
}

TEST(WatchListTest, DeletingThePointFromItsOwnEventIsSafeAndTakesEffectAfterTheStep)
{
    WatchList list;
    RegisterBuffer buffer;
    Recorder recorder;
    ASSERT_TRUE(list.add(WordPoint, 0, 0, WatchLow | WatchChange, 10, QVariant(), true));
    ASSERT_TRUE(list.add(WordPoint, 1, 0, WatchChange, QVariant(), QVariant(), true));
    recorder.onEvent = [&](const QString& event) {
        if (event.startsWith(QStringLiteral("low"))) {
            EXPECT_TRUE(list.remove(WordPoint, 0, 0));
        }
    };
    buffer.setWord(0, 5);
    buffer.setWord(1, 7);
    list.evaluate(buffer, recorder);
    // The step of the deleted point ends (its change event still fires); the
    // next point is evaluated as usual.
    EXPECT_EQ(recorder.events, (QStringList{"low 5 empty 10", "change 5 empty", "change 7 empty"}));
    EXPECT_EQ(list.size(), 1);
    recorder.events.clear();
    buffer.setWord(0, 1);
    list.evaluate(buffer, recorder);
    EXPECT_TRUE(recorder.events.isEmpty());
}

TEST(WatchListTest, HandlersMayAddSuspendAndClearDuringEvaluation)
{
    WatchList list;
    RegisterBuffer buffer;
    Recorder recorder;
    ASSERT_TRUE(list.add(WordPoint, 0, 0, WatchChange, QVariant(), QVariant(), true));
    ASSERT_TRUE(list.add(WordPoint, 1, 0, WatchChange, QVariant(), QVariant(), true));
    recorder.onEvent = [&](const QString& event) {
        if (event == QStringLiteral("change 3 empty")) {
            list.suspend(WordPoint, 1, 0);
            list.add(WordPoint, 2, 0, WatchChange, QVariant(), QVariant(), true); // evaluated in this pass
            list.add(WordPoint, 0, 0, WatchChange, QVariant(), QVariant(), true); // update of the running point
        }
    };
    buffer.setWord(0, 3);
    buffer.setWord(1, 4);
    buffer.setWord(2, 5);
    list.evaluate(buffer, recorder);
    EXPECT_EQ(recorder.events, (QStringList{"change 3 empty", "change 5 empty"}));
    recorder.onEvent = [&](const QString&) { list.clear(); };
    buffer.setWord(0, 8);
    buffer.setWord(2, 9);
    list.evaluate(buffer, recorder);
    EXPECT_EQ(recorder.events.size(), 3);
    EXPECT_EQ(list.size(), 0);
}

TEST(WatchListTest, ReceiverGoneStopsTheEvaluation)
{
    struct Gone : Recorder {
        bool analogChange(int, int, const QVariant&, const QVariant&) override
        {
            ++calls;
            return false;
        }
        int calls = 0;
    } gone;
    WatchList list;
    RegisterBuffer buffer;
    ASSERT_TRUE(list.add(WordPoint, 0, 0, WatchChange, QVariant(), QVariant(), true));
    ASSERT_TRUE(list.add(WordPoint, 1, 0, WatchChange, QVariant(), QVariant(), true));
    EXPECT_FALSE(list.evaluate(buffer, gone));
    EXPECT_EQ(gone.calls, 1);
}

// Evaluation runs after OnReadDone of a completed read, through the control.
TEST(ControlWatchPointTest, EvaluatedAfterEachReadInsideTheCompletion)
{
    chronel::test::ModbusServer server;
    test::UseServerPort(server.port());
    Plctag control;
    control.setAdapter(test::TcpAdapter);
    control.setRegType(Plctag::HoldRegs_4xxxx);
    control.setSize(21);
    QStringList order;
    QObject::connect(&control, &Plctag::OnReadDone, &control, [&] { order << QStringLiteral("read"); });
    QObject::connect(
        &control, &Plctag::OnDiscreteChange, &control, [&](int w, int b, const QVariant& cur, const QVariant& prev) {
            order << QStringLiteral("discrete %1.%2 %3 %4").arg(w).arg(b).arg(cur.toInt()).arg(Text(prev));
        });
    QObject::connect(&control, &Plctag::OnAnalogLow, &control,
        [&](int type, int index, const QVariant& cur, const QVariant&, const QVariant& limit) {
            EXPECT_EQ(cur.typeId(), QMetaType::Short);
            order << QStringLiteral("low %1 %2 %3 %4").arg(type).arg(index).arg(cur.toInt()).arg(limit.toInt());
        });
    ASSERT_TRUE(control.WatchPointAdd(BitPoint, 20, 3, 0, QVariant(), QVariant(), true));
    ASSERT_TRUE(control.WatchPointAdd(WordPoint, 2, 0, WatchLow, 100, QVariant(), true));
    EXPECT_EQ(control.watchPointCount(), 2);

    server.withMapping([](modbus_mapping_t& m) { m.tab_registers[2] = 150; });
    ASSERT_TRUE(control.Trigger());
    server.withMapping([](modbus_mapping_t& m) {
        m.tab_registers[20] = 0x0008;
        m.tab_registers[2] = 99;
    });
    ASSERT_TRUE(control.Trigger());
    EXPECT_EQ(order, (QStringList{"read", "discrete 20.3 0 empty", "read", "discrete 20.3 1 false", "low 2 2 99 100"}));

    EXPECT_TRUE(control.WatchPointDelete(11, 20, 3));
    EXPECT_FALSE(control.WatchPointDelete(11, 20, 3));
    EXPECT_FALSE(control.WatchPointAdd(7, 0, 0, 0, QVariant(), QVariant(), true));
}

TEST(ControlWatchPointTest, ErrorsAndWritesDoNotEvaluate)
{
    chronel::test::ModbusServer server;
    test::UseServerPort(server.port());
    Plctag control;
    control.setAdapter(test::TcpAdapter);
    control.setRegType(Plctag::HoldRegs_4xxxx);
    int changes = 0;
    QObject::connect(&control, &Plctag::OnAnalogChange, &control, [&] { ++changes; });
    ASSERT_TRUE(control.WatchPointAdd(WordPoint, 0, 0, WatchChange, QVariant(), QVariant(), true));
    control.setFunction(1);
    ASSERT_TRUE(control.Trigger());
    control.setFunction(0);
    control.setAddress(65500);
    control.setSize(125);
    ASSERT_TRUE(control.Trigger()); // exception 2
    EXPECT_EQ(changes, 0);
}

TEST(UnsolicitedTest, ServiceIsNotOfferedAndNeverNotifies)
{
    Plctag control;
    int notified = 0;
    QObject::connect(&control, &Plctag::OnPLCWriteNotify, &control, [&] { ++notified; });
    EXPECT_FALSE(control.UnsolicitedMsgStart());
    EXPECT_FALSE(control.UnsolicitedMsgStop());
    EXPECT_EQ(notified, 0);
}

} // namespace
} // namespace regaccess
