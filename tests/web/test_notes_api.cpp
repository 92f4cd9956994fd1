// Incidents, comments on incidents and events, the audit record and the
// incident package through the router: who may add what, bodies checked
// field by field, every addition audited, and the package as another zip
// reader finds it (its events, COMTRADE records and an escaped summary).
#include "api_fixture.h"
#include "zip_extract.h"

#include "journal/journal_format.h"

#include <QJsonArray>

namespace chronel {
namespace {

using test::PointChange;

class NotesApi : public test::ApiFixture {
protected:
    qint64 addIncident(const QJsonObject& body)
    {
        const WebResponse answer = post("/api/incidents", body);
        EXPECT_EQ(answer.status, 200) << answer.body.toStdString();
        return Json(answer)["id"].toInteger();
    }
    QJsonObject Incident(const QString& title = QStringLiteral("Bus B trip"))
    {
        return {{"title", title}, {"from", "2026-03-01 10:00"}, {"to", "2026-03-01 10:01"},
            {"modules", QJsonArray{"127.0.0.2", "127.0.0.4"}}, {"comment", "Breaker 52-1 opened on overcurrent"}};
    }
};

TEST_F(NotesApi, EngineersAddIncidentsAndCommentsViewersReadAdminsAudit)
{
    EXPECT_EQ(post("/api/incidents", Incident(), WebRole::Viewer).status, 403);
    EXPECT_EQ(call(HttpMethod::Post, "/api/incidents", std::nullopt, "{}").status, 401);
    const qint64 id = addIncident(Incident());
    ASSERT_GT(id, 0);

    const QJsonArray list = Json(get("/api/incidents")).array();
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list[0]["title"].toString(), QStringLiteral("Bus B trip"));
    EXPECT_EQ(list[0]["from"].toString(), QStringLiteral("2026-03-01T10:00:00.000"));
    EXPECT_EQ(list[0]["modules"].toArray(), (QJsonArray{"127.0.0.2", "127.0.0.4"}));
    EXPECT_EQ(list[0]["author"].toString(), QStringLiteral("engineer-user"));
    EXPECT_EQ(list[0]["comments"].toInt(), 0);

    const QByteArray comments = "/api/incidents/" + QByteArray::number(id) + "/comments";
    EXPECT_EQ(post(comments, {{"text", "seen"}}, WebRole::Viewer).status, 403);
    EXPECT_EQ(post(comments, {{"text", "Relay 7 picked up first"}}).status, 200);
    EXPECT_EQ(post("/api/incidents/999/comments", {{"text", "x"}}).status, 404);
    EXPECT_EQ(get("/api/incidents/0").status, 404);
    EXPECT_EQ(get("/api/incidents/abc").status, 404);
    const QJsonObject incident = Json(get("/api/incidents/" + QByteArray::number(id))).object();
    ASSERT_EQ(incident["commentList"].toArray().size(), 1);
    EXPECT_EQ(incident["commentList"][0]["author"].toString(), QStringLiteral("engineer-user"));
    EXPECT_EQ(incident["commentList"][0]["text"].toString(), QStringLiteral("Relay 7 picked up first"));

    // A comment on an event, counted in the table's row.
    QString error;
    ASSERT_TRUE(journal_.add({PointChange("127.0.0.2", "2026-03-01T10:00:00.000", 1, true)}, &error)) << error;
    const QByteArray eventId = QByteArray::number(JournalLastId(reader_, &error).value_or(0));
    EXPECT_EQ(post("/api/events/" + eventId + "/comments", {{"text", "x"}}, WebRole::Viewer).status, 403);
    EXPECT_EQ(post("/api/events/" + eventId + "/comments", {{"text", "first trip"}}).status, 200);
    EXPECT_EQ(post("/api/events/99999/comments", {{"text", "x"}}).status, 404);
    EXPECT_EQ(get("/api/events/99999/comments").status, 404);
    EXPECT_EQ(Json(get("/api/events/" + eventId + "/comments"))[0]["text"].toString(), QStringLiteral("first trip"));
    EXPECT_EQ(Json(get("/api/rows"))["rows"][0]["comments"].toInt(), 1);

    EXPECT_EQ(get("/api/audit", WebRole::Engineer).status, 403);
    const WebResponse audit = get("/api/audit", WebRole::Admin);
    ASSERT_EQ(audit.status, 200);
    QStringList actions;
    for (const QJsonValue& row : Json(audit).array()) {
        actions << row["action"].toString();
        EXPECT_EQ(row["who"].toString(), QStringLiteral("engineer-user"));
        EXPECT_EQ(row["address"].toString(), QStringLiteral("127.0.0.1"));
    }
    EXPECT_EQ(actions, (QStringList{"incident added", "comment added", "comment added"}));
}

TEST_F(NotesApi, ABadBodyIsRefusedWithTheFieldsName)
{
    QJsonObject longComment = Incident();
    longComment["comment"] = QString(4001, u'x');
    QJsonObject reversed = Incident();
    reversed["to"] = "2026-03-01 09:00";
    QJsonObject extra = Incident();
    extra["severity"] = "high";
    QJsonObject modules = Incident();
    modules["modules"] = "127.0.0.2";
    QJsonObject number = Incident();
    number["title"] = 7;
    const QList<std::pair<QJsonObject, QString>> bad{
        {Incident(""), "title:"},
        {Incident(QString(201, u'x')), "title:"},
        {Incident("a\x01z"), "title:"},
        {number, "title:"},
        {QJsonObject{{"title", "t"}, {"to", "2026-03-01"}}, "from:"},
        {reversed, "to:"},
        {longComment, "comment:"},
        {extra, "severity:"},
        {modules, "modules:"},
    };
    for (const auto& [body, field] : bad) {
        const WebResponse answer = post("/api/incidents", body);
        EXPECT_EQ(answer.status, 400) << QJsonDocument(body).toJson().toStdString();
        EXPECT_TRUE(Error(answer).startsWith(field)) << Error(answer);
    }
    EXPECT_TRUE(Error(call(HttpMethod::Post, "/api/incidents", WebRole::Engineer, "[1]")).startsWith("body:"));
    EXPECT_TRUE(Json(get("/api/incidents")).array().isEmpty());

    // Text meant for SQL is kept as written.
    const QString attack = QStringLiteral("x'); DROP TABLE incidents; --");
    const qint64 id = addIncident(Incident(attack));
    EXPECT_EQ(Json(get("/api/incidents/" + QByteArray::number(id)))["title"].toString(), attack);
    EXPECT_EQ(Json(get("/api/incidents")).array().size(), 1);
}

TEST_F(NotesApi, ThePackageHoldsThePeriodsEventsRecordsAndAnEscapedSummary)
{
    QString error;
    // Berlin in the incident, with its zone: events.csv and a COMTRADE
    // record; 127.0.0.4 in it without a zone: no record; 127.0.0.3 not in it.
    ASSERT_TRUE(journal_.add(
        {PointChange("127.0.0.2", "2026-03-01T09:59:59.000", 1, true, "2026-03-01T08:59:59.000Z", "Europe/Berlin"),
            PointChange("127.0.0.2", "2026-03-01T10:00:00.100", 1, false, "2026-03-01T09:00:00.100Z", "Europe/Berlin"),
            PointChange("127.0.0.2", "2026-03-01T10:00:00.300", 2, true, "2026-03-01T09:00:00.300Z", "Europe/Berlin"),
            PointChange("127.0.0.2", "2026-03-01T10:01:00.000", 1, true, "2026-03-01T09:01:00.000Z", "Europe/Berlin")},
        &error))
        << error;
    ASSERT_TRUE(journal_.add({PointChange("127.0.0.4", "2026-03-01T10:00:00.200", 5, true)}, &error)) << error;
    ASSERT_TRUE(journal_.add({PointChange("127.0.0.3", "2026-03-01T10:00:00.150", 1, true)}, &error)) << error;

    const qint64 id = addIncident(Incident());
    const QByteArray base = "/api/incidents/" + QByteArray::number(id);
    ASSERT_EQ(post(base + "/comments", {{"text", "<script>alert(1)</script> & \"co\""}}).status, 200);
    const QByteArray firstRow = QByteArray::number(JournalLastId(reader_, &error).value_or(0) - 4);
    ASSERT_EQ(post("/api/events/" + firstRow + "/comments", {{"text", "<b>first</b>"}}).status, 200);

    const WebResponse answer = get(base + "/package");
    ASSERT_EQ(answer.status, 200) << answer.body.toStdString();
    EXPECT_EQ(answer.contentType, QByteArray("application/zip"));
    EXPECT_TRUE(answer.headers.contains(
        {"Content-Disposition", "attachment; filename=\"incident-" + QByteArray::number(id) + ".zip\""}));
    QTemporaryDir tmp;
    QString why;
    const auto zip = test::ExtractZip(answer.body, tmp, &why);
    ASSERT_TRUE(zip) << why;
    EXPECT_EQ(zip->bad, QString());
    const QStringList names = zip->names();
    EXPECT_EQ(names.filter(QRegularExpression("^comtrade/127\\.0\\.0\\.2/[^/]+\\.(cfg|dat)$")).size(), 2)
        << names.join(u' ');
    EXPECT_EQ(names.filter("comtrade/").size(), 2) << names.join(u' ');

    const QStringList csv = QString::fromUtf8(zip->read("events.csv")).split("\r\n", Qt::SkipEmptyParts);
    ASSERT_EQ(csv.size(), 4) << zip->read("events.csv").toStdString();
    EXPECT_EQ(csv[0], JournalCsvHeader());
    EXPECT_TRUE(csv[1].contains("2026-03-01T10:00:00.100")) << csv[1];
    EXPECT_TRUE(csv[2].contains("127.0.0.4")) << csv[2];
    EXPECT_TRUE(csv[3].contains("2026-03-01T10:00:00.300")) << csv[3];

    const QString cfgName = names.filter(".cfg").value(0);
    const QString cfg = QString::fromUtf8(zip->read(cfgName));
    EXPECT_TRUE(cfg.contains("52-1 breaker")) << cfg;
    EXPECT_TRUE(cfg.contains("52-2 breaker")) << cfg;

    const QString summary = QString::fromUtf8(zip->read("summary.html"));
    EXPECT_FALSE(summary.contains("<script>")) << summary;
    EXPECT_FALSE(summary.contains("<b>first")) << summary;
    EXPECT_TRUE(summary.contains("&lt;script&gt;alert(1)&lt;/script&gt; &amp; &quot;co&quot;")) << summary;
    EXPECT_TRUE(summary.contains("&lt;b&gt;first&lt;/b&gt;")) << summary;
    EXPECT_TRUE(summary.contains("engineer-user"));
    EXPECT_TRUE(summary.contains("GPS, good, +0.4 s"));
    // The first event on the time line, and the record the zone-less module cannot have.
    EXPECT_TRUE(summary.contains(QRegularExpression("First event</h2>\\n<p>2026-03-01T10:00:00.100"))) << summary;
    EXPECT_TRUE(summary.contains("zone is not declared"));

    EXPECT_EQ(get("/api/incidents/999/package").status, 404);
}

} // namespace
} // namespace chronel
