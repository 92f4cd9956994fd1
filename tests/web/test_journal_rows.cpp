// A row as the page and the live feed get it, the filter read from a query
// (every bad field refused with its name) and the chart's changes on the
// journal's one time line.
#include "web_journal.h"
#include "web_test.h"

#include "web/journal_rows.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

namespace chronel {
namespace {

using test::PointChange;

TEST(JournalRows, ARowCarriesEveryFieldAndItsClockInWords)
{
    JournalEvent row = PointChange(QStringLiteral("127.0.0.2"), QStringLiteral("2026-03-01T13:00:00.250"), 7, true,
        QStringLiteral("2026-03-01T12:00:00.250Z"), QStringLiteral("Europe/Berlin"));
    row.id = 42;
    row.marks = QStringLiteral("malformed");
    const QJsonObject json = RowJson(row, true, 3);
    EXPECT_EQ(json.keys(),
        (QStringList{"chattering", "clock", "clockDoubt", "comments", "id", "marks", "module", "moduleName",
            "moduleTime", "point", "pointDescription", "stateText", "text", "utcTime", "zone"}));
    EXPECT_EQ(json["id"].toInteger(), 42);
    EXPECT_EQ(json["moduleName"].toString(), QStringLiteral("Feeder 2"));
    EXPECT_EQ(json["moduleTime"].toString(), QStringLiteral("2026-03-01T13:00:00.250"));
    EXPECT_EQ(json["utcTime"].toString(), QStringLiteral("2026-03-01T12:00:00.250Z"));
    EXPECT_EQ(json["zone"].toString(), QStringLiteral("Europe/Berlin"));
    EXPECT_EQ(json["point"].toInt(), 7);
    EXPECT_EQ(json["stateText"].toString(), QStringLiteral("Closed"));
    EXPECT_EQ(json["marks"].toString(), QStringLiteral("malformed"));
    EXPECT_EQ(json["clock"].toString(), QStringLiteral("GPS, good, +0.4 s"));
    EXPECT_EQ(json["clockDoubt"].toString(), QString());
    EXPECT_TRUE(json["chattering"].toBool());
    EXPECT_EQ(json["comments"].toInt(), 3);

    // No zone declared: no UTC time; a free-running clock is doubted.
    row.utcTime = {};
    row.clockSource = 0;
    row.clockOffsetMs = 3200;
    const QJsonObject doubtful = RowJson(row, false, 0);
    EXPECT_EQ(doubtful["utcTime"].toString(), QString());
    EXPECT_EQ(doubtful["clock"].toString(), QStringLiteral("internal clock, good, +3.2 s"));
    EXPECT_EQ(doubtful["clockDoubt"].toString(), QStringLiteral("clock not synchronised, clock off by 3.2 s"));
    EXPECT_EQ(QJsonDocument::fromJson(RowJsonText(row, false, 0)).object(), doubtful);
}

TEST(JournalRows, TheFilterIsReadStrictlyAndABadFieldIsNamed)
{
    JournalFilter filter;
    QString error;
    ASSERT_TRUE(ParseFilterQuery({{"from", "2026-03-01 13:00"}, {"to", "2026-03-01T14:00Z"}, {"module", "North"},
                                     {"point", "7"}, {"grep", "breaker"}},
        &filter, &error))
        << error;
    EXPECT_EQ(filter.from, QStringLiteral("2026-03-01T13:00:00.000"));
    EXPECT_EQ(filter.toUtc, QStringLiteral("2026-03-01T14:00:00.000Z"));
    EXPECT_EQ(filter.module, QStringLiteral("North"));
    EXPECT_EQ(filter.point, 7);
    EXPECT_EQ(filter.grep, QStringLiteral("breaker"));
    ASSERT_TRUE(ParseFilterQuery({{"from", ""}, {"point", ""}}, &filter, &error)) << error;
    EXPECT_TRUE(filter.from.isEmpty());
    EXPECT_FALSE(filter.point);

    const QList<std::pair<Query, QString>> bad{
        {{{"from", "yesterday"}}, "from:"},
        {{{"to", "2026-13-01"}}, "to:"},
        {{{"point", "33"}}, "point:"},
        {{{"point", "-1"}}, "point:"},
        {{{"point", " 7"}}, "point:"},
        {{{"point", "7abc"}}, "point:"},
        {{{"point", "99999999999999999999"}}, "point:"},
        {{{"module", QString(201, u'x')}}, "module:"},
        {{{"grep", "a\nb"}}, "grep:"},
    };
    for (const auto& [query, field] : bad) {
        error.clear();
        EXPECT_FALSE(ParseFilterQuery(query, &filter, &error)) << query.first();
        EXPECT_TRUE(error.startsWith(field)) << error;
    }
    EXPECT_FALSE(OnlyKnownParameters({{"modul", "x"}}, {"module", "point"}, &error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("modul:"))) << error;
    EXPECT_EQ(ParseCount(QStringLiteral("000123")), 123);
    EXPECT_EQ(ParseCount(QStringLiteral("+1")), std::nullopt);
    EXPECT_EQ(ParseCount(QStringLiteral("1e3")), std::nullopt);
}

TEST(JournalRows, ChartSeriesAreReadFromEitherForm)
{
    QList<ChartSeriesKey> series;
    QString error;
    ASSERT_TRUE(ParseChartSeries({{"series", "127.0.0.2:7,Bay: North:12,127.0.0.2:7"}}, &series, &error)) << error;
    EXPECT_EQ(series, (QList<ChartSeriesKey>{{"127.0.0.2", 7}, {"Bay: North", 12}}));
    ASSERT_TRUE(ParseChartSeries({{"module", "127.0.0.3"}, {"point", "1"}}, &series, &error)) << error;
    EXPECT_EQ(series, (QList<ChartSeriesKey>{{"127.0.0.3", 1}}));
    for (const Query& query : {Query{{"series", "127.0.0.2"}}, Query{{"series", ":7"}}, Query{{"series", "a:7,b:x"}},
             Query{{"module", "127.0.0.2"}}, Query{}, Query{{"series", "a:1"}, {"point", "2"}}}) {
        error.clear();
        EXPECT_FALSE(ParseChartSeries(query, &series, &error));
        EXPECT_TRUE(error.startsWith(QStringLiteral("series:")) || error.startsWith(QStringLiteral("point:"))) << error;
    }
}

// Berlin (+01:00) and Kolkata (+05:30) see the same instant on other walls;
// on the chart's UTC line it is one instant. A module without a zone puts
// every series on module time.
TEST(JournalRows, ChartChangesMeetOnTheJournalsTimeLine)
{
    test::WebJournal journal;
    QString error;
    ASSERT_TRUE(journal.create(&error)) << error;
    const QString berlin = QStringLiteral("127.0.0.2");
    const QString kolkata = QStringLiteral("127.0.0.3");
    ASSERT_TRUE(journal.add(
        {PointChange(berlin, "2026-03-01T10:00:00.000", 7, true, "2026-03-01T09:00:00.000Z", "Europe/Berlin"),
            PointChange(berlin, "2026-03-01T10:00:01.000", 7, false, "2026-03-01T09:00:01.000Z", "Europe/Berlin"),
            PointChange(berlin, "2026-03-01T10:00:00.500", 8, true, "2026-03-01T09:00:00.500Z", "Europe/Berlin")},
        &error))
        << error;
    ASSERT_TRUE(journal.add(
        {PointChange(kolkata, "2026-03-01T14:30:00.000", 7, true, "2026-03-01T09:00:00.000Z", "Asia/Kolkata")}, &error))
        << error;

    JournalFilter period;
    ASSERT_TRUE(period.setFrom(QStringLiteral("2026-03-01T08:00Z"), &error) &&
        period.setTo(QStringLiteral("2026-03-01T10:00Z"), &error));
    const auto chart = ChartJson(journal.writer(), period, {{berlin, 7}, {kolkata, 7}}, &error);
    ASSERT_TRUE(chart) << error;
    EXPECT_EQ((*chart)["order"].toString(), QStringLiteral("utc"));
    const QJsonArray series = (*chart)["series"].toArray();
    ASSERT_EQ(series.size(), 2);
    const qint64 nine = QDateTime(QDate(2026, 3, 1), QTime(9, 0), Qt::UTC).toMSecsSinceEpoch();
    EXPECT_EQ(series[0]["description"].toString(), QStringLiteral("52-7 breaker"));
    EXPECT_EQ(series[0]["changes"].toArray(),
        (QJsonArray{
            QJsonObject{{"t", double(nine)}, {"state", 1}}, QJsonObject{{"t", double(nine + 1000)}, {"state", 0}}}));
    EXPECT_EQ(series[1]["changes"].toArray(), (QJsonArray{QJsonObject{{"t", double(nine)}, {"state", 1}}}));

    ASSERT_TRUE(journal.add({PointChange(QStringLiteral("127.0.0.4"), "2026-03-01T10:00:00.000", 7, true)}, &error))
        << error;
    const auto mixed = ChartJson(journal.writer(), {}, {{berlin, 7}, {QStringLiteral("127.0.0.4"), 7}}, &error);
    ASSERT_TRUE(mixed) << error;
    EXPECT_EQ((*mixed)["order"].toString(), QStringLiteral("module time"));
    EXPECT_EQ((*mixed)["series"][0]["changes"][0]["t"].toInteger(), nine + 3600 * 1000);
}

} // namespace
} // namespace chronel
