// GET /api/rows, /api/points, /api/modules and /api/chart through the
// router: a page's rows, fields and order; every bad parameter refused with
// its name; texts made to break SQL select nothing and change nothing.
#include "api_fixture.h"

#include <QJsonArray>
#include <QUrl>

namespace chronel {
namespace {

using test::PointChange;

class JournalApi : public test::ApiFixture {
protected:
    void SetUp() override
    {
        test::ApiFixture::SetUp();
        if (HasFatalFailure())
            return;
        QString error;
        // Berlin (+01:00) and Kolkata (+05:30): on the UTC line the rows of
        // the two modules interleave.
        ASSERT_TRUE(journal_.add(
            {PointChange(Berlin, "2026-03-01T10:00:00.100", 1, true, "2026-03-01T09:00:00.100Z", "Europe/Berlin"),
                PointChange(Berlin, "2026-03-01T10:00:00.300", 2, true, "2026-03-01T09:00:00.300Z", "Europe/Berlin")},
            &error))
            << error;
        ASSERT_TRUE(journal_.add(
            {PointChange(Kolkata, "2026-03-01T14:30:00.200", 1, true, "2026-03-01T09:00:00.200Z", "Asia/Kolkata"),
                PointChange(Kolkata, "2026-03-01T14:30:00.400", 1, false, "2026-03-01T09:00:00.400Z", "Asia/Kolkata")},
            &error))
            << error;
    }

    // The rows' module times' seconds and milliseconds, "00.100".
    QStringList Times(const WebResponse& response)
    {
        QStringList times;
        for (const QJsonValue& row : Json(response)["rows"].toArray())
            times << row["moduleTime"].toString().mid(17);
        return times;
    }

    const QString Berlin = QStringLiteral("127.0.0.2");
    const QString Kolkata = QStringLiteral("127.0.0.3");
};

TEST_F(JournalApi, APageHoldsItsRowsInTheJournalsOrder)
{
    WebResponse page = get("/api/rows");
    ASSERT_EQ(page.status, 200) << page.body.toStdString();
    QJsonObject json = Json(page).object();
    EXPECT_EQ(Times(page), (QStringList{"00.100", "00.200", "00.300", "00.400"}));
    EXPECT_EQ(json["total"].toInteger(), 4);
    EXPECT_EQ(json["order"].toString(), QStringLiteral("utc"));
    EXPECT_FALSE(json["more"].toBool());
    QString error;
    EXPECT_EQ(json["lastId"].toInteger(), JournalLastId(reader_, &error).value_or(-1)) << error;
    const QJsonObject first = json["rows"][0].toObject();
    EXPECT_EQ(first["module"].toString(), Berlin);
    EXPECT_EQ(first["utcTime"].toString(), QStringLiteral("2026-03-01T09:00:00.100Z"));
    EXPECT_EQ(first["clock"].toString(), QStringLiteral("GPS, good, +0.4 s"));
    EXPECT_EQ(first["comments"].toInt(), 0);
    EXPECT_FALSE(first["chattering"].toBool());

    EXPECT_EQ(Times(get("/api/rows?desc=1")), (QStringList{"00.400", "00.300", "00.200", "00.100"}));
    page = get("/api/rows?offset=1&limit=2");
    EXPECT_EQ(Times(page), (QStringList{"00.200", "00.300"}));
    EXPECT_TRUE(Json(page)["more"].toBool());
    EXPECT_EQ(Times(get("/api/rows?sort=module")), (QStringList{"00.100", "00.300", "00.200", "00.400"}));
    EXPECT_EQ(Times(get("/api/rows?module=127.0.0.3&point=1&grep=input")), (QStringList{"00.200", "00.400"}));
    EXPECT_EQ(
        Times(get("/api/rows?from=2026-03-01T09:00:00.250Z&to=2026-03-01T10:00Z")), (QStringList{"00.300", "00.400"}));

    // A module without a declared zone: every row on module time.
    ASSERT_TRUE(journal_.add({PointChange("127.0.0.4", "2026-03-01T11:00:00.000", 1, true)}, &error)) << error;
    EXPECT_EQ(Json(get("/api/rows"))["order"].toString(), QStringLiteral("module time"));

    const QJsonArray modules = Json(get("/api/modules")).array();
    ASSERT_EQ(modules.size(), 3);
    EXPECT_EQ(modules[0].toObject(), (QJsonObject{{"module", Berlin}, {"name", "Feeder 2"}}));
    const QJsonArray points = Json(get("/api/points?module=127.0.0.2")).array();
    EXPECT_EQ(points,
        (QJsonArray{QJsonObject{{"point", 1}, {"description", "52-1 breaker"}},
            QJsonObject{{"point", 2}, {"description", "52-2 breaker"}}}));
}

TEST_F(JournalApi, ABadParameterIsRefusedWithItsName)
{
    const QList<std::pair<QByteArray, QString>> bad{
        {"/api/rows?from=noon", "from:"},
        {"/api/rows?to=2026-02-30", "to:"},
        {"/api/rows?point=x", "point:"},
        {"/api/rows?point=33", "point:"},
        {"/api/rows?sort=size", "sort:"},
        {"/api/rows?desc=yes", "desc:"},
        {"/api/rows?limit=0", "limit:"},
        {"/api/rows?limit=501", "limit:"},
        {"/api/rows?offset=-5", "offset:"},
        {"/api/rows?offset=1.5", "offset:"},
        {"/api/rows?grep=a%01b", "grep:"},
        {"/api/rows?modul=127.0.0.2", "modul:"},
        {"/api/live?after=abc", "after:"},
        {"/api/live?after=1&sort=time", "sort:"},
        {"/api/chart?series=127.0.0.2", "series:"},
        {"/api/chart?series=127.0.0.2:1&from=x", "from:"},
        {"/api/points?module=a%0Ab", "module:"},
        {"/api/modules?all=1", "all:"},
    };
    for (const auto& [target, field] : bad) {
        const WebResponse answer = get(target);
        EXPECT_EQ(answer.status, 400) << target.toStdString();
        EXPECT_TRUE(Error(answer).startsWith(field)) << target.toStdString() << ": " << Error(answer);
    }
    EXPECT_EQ(get("/api/rows", std::nullopt).status, 401);
}

TEST_F(JournalApi, TextsMadeToBreakTheSqlSelectNothingAndChangeNothing)
{
    const QStringList attacks{"' OR '1'='1", "'; DROP TABLE journal_events; --", "\" OR 1=1 --", "%' OR 1=1 --",
        "127.0.0.2' --", "1); DELETE FROM journal_events; --", "_%", "\\'"};
    for (const QString& attack : attacks) {
        const QByteArray text = QUrl::toPercentEncoding(attack);
        for (const QByteArray& field : {QByteArray("module"), QByteArray("grep")}) {
            const WebResponse page = get("/api/rows?" + field + "=" + text);
            ASSERT_EQ(page.status, 200) << field.toStdString() << "=" << attack;
            EXPECT_EQ(Json(page)["total"].toInteger(), 0) << field.toStdString() << "=" << attack;
        }
        for (const QByteArray& field : {QByteArray("from"), QByteArray("to"), QByteArray("point")})
            EXPECT_EQ(get("/api/rows?" + field + "=" + text).status, 400) << field.toStdString() << "=" << attack;
        EXPECT_EQ(get("/api/points?module=" + text).status, 200) << attack;
        const WebResponse chart = get("/api/chart?series=" + text + "%3A1");
        ASSERT_EQ(chart.status, 200) << attack;
        EXPECT_TRUE(Json(chart)["series"][0]["changes"].toArray().isEmpty()) << attack;
    }
    EXPECT_EQ(Json(get("/api/rows"))["total"].toInteger(), 4);
    EXPECT_EQ(Json(get("/api/modules")).array().size(), 2);
}

TEST_F(JournalApi, TheChartOfTwoModulesIsOnTheUtcLine)
{
    const WebResponse chart = get("/api/chart?series=127.0.0.2%3A1,127.0.0.3%3A1&from=2026-03-01T09:00Z");
    ASSERT_EQ(chart.status, 200) << chart.body.toStdString();
    const qint64 nine = QDateTime(QDate(2026, 3, 1), QTime(9, 0), Qt::UTC).toMSecsSinceEpoch();
    EXPECT_EQ(Json(chart)["order"].toString(), QStringLiteral("utc"));
    EXPECT_EQ(Json(chart)["series"][1]["changes"].toArray(),
        (QJsonArray{QJsonObject{{"t", double(nine + 200)}, {"state", 1}},
            QJsonObject{{"t", double(nine + 400)}, {"state", 0}}}));
}

} // namespace
} // namespace chronel
