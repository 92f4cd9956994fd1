#include "journal_api.h"

#include "journal/journal_incidents.h"
#include "journal/journal_page.h"
#include "journal/journal_query.h"
#include "journal_rows.h"
#include "web/web_event_stream.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace chronel {

namespace {

const QStringList FilterFields{"from", "to", "module", "point", "grep"};

WebResponse BadRequest(const QString& error) { return WebResponse::error(400, error); }

WebResponse Modules(const WebRequest& request, WorkerContext& context)
{
    QString error;
    if (!OnlyKnownParameters(request.query, {}, &error))
        return BadRequest(error);
    const std::optional<QList<JournalModule>> modules = JournalModules(context.reader, &error);
    if (!modules)
        return JournalFailure(error);
    QJsonArray out;
    for (const JournalModule& m : *modules)
        out.append(QJsonObject{{QStringLiteral("module"), m.module}, {QStringLiteral("name"), m.name}});
    return WebResponse::json(QJsonDocument(out));
}

WebResponse Points(const WebRequest& request, WorkerContext& context)
{
    QString error;
    if (!OnlyKnownParameters(request.query, {QStringLiteral("module")}, &error))
        return BadRequest(error);
    // The module alone, through the filter's own checks.
    JournalFilter filter;
    if (!ParseFilterQuery({{QStringLiteral("module"), request.query.value(QStringLiteral("module"))}}, &filter, &error))
        return BadRequest(error);
    const std::optional<QList<JournalPoint>> points = JournalPointList(context.reader, filter.module, &error);
    if (!points)
        return JournalFailure(error);
    QJsonArray out;
    for (const JournalPoint& p : *points)
        out.append(QJsonObject{{QStringLiteral("point"), p.point}, {QStringLiteral("description"), p.description}});
    return WebResponse::json(QJsonDocument(out));
}

std::optional<JournalPageRequest> PageRequestOf(const Query& query, QString* error)
{
    if (!OnlyKnownParameters(query,
            FilterFields +
                QStringList{
                    QStringLiteral("sort"), QStringLiteral("desc"), QStringLiteral("offset"), QStringLiteral("limit")},
            error))
        return std::nullopt;
    JournalPageRequest request;
    if (!ParseFilterQuery(query, &request.filter, error))
        return std::nullopt;
    const QString sort = query.value(QStringLiteral("sort"), QStringLiteral("time"));
    static const QHash<QString, JournalSortKey> keys{{QStringLiteral("time"), JournalSortKey::Time},
        {QStringLiteral("module"), JournalSortKey::Module}, {QStringLiteral("point"), JournalSortKey::Point},
        {QStringLiteral("text"), JournalSortKey::Text}, {QStringLiteral("id"), JournalSortKey::Id}};
    if (!keys.contains(sort)) {
        *error = QStringLiteral("sort: one of time, module, point, text, id");
        return std::nullopt;
    }
    request.key = keys.value(sort);
    const QString desc = query.value(QStringLiteral("desc"), QStringLiteral("0"));
    if (desc != u"0" && desc != u"1") {
        *error = QStringLiteral("desc: 0 or 1");
        return std::nullopt;
    }
    request.descending = desc == u"1";
    if (query.contains(QStringLiteral("offset"))) {
        const std::optional<qint64> offset = ParseCount(query.value(QStringLiteral("offset")));
        if (!offset) {
            *error = QStringLiteral("offset: a count of rows from 0");
            return std::nullopt;
        }
        request.offset = *offset;
    }
    request.limit = DefaultPageLimit;
    if (query.contains(QStringLiteral("limit"))) {
        const std::optional<qint64> limit = ParseCount(query.value(QStringLiteral("limit")));
        if (!limit || *limit < 1 || *limit > MaxPageLimit) {
            *error = QStringLiteral("limit: a number of rows from 1 to %1").arg(MaxPageLimit);
            return std::nullopt;
        }
        request.limit = int(*limit);
    }
    return request;
}

WebResponse Rows(const WebRequest& request, WorkerContext& context)
{
    QString error;
    const std::optional<JournalPageRequest> pageRequest = PageRequestOf(request.query, &error);
    if (!pageRequest)
        return BadRequest(error);
    // Before the page: a row committed between the two is then in the page
    // and in the live stream after lastId, never in neither.
    const std::optional<qint64> lastId = JournalLastId(context.reader, &error);
    if (!lastId)
        return JournalFailure(error);
    const std::optional<JournalPage> page = JournalPageOf(context.reader, *pageRequest, &error);
    if (!page)
        return JournalFailure(error);
    // In the page's own time order, so that the marks agree with the journal's.
    const std::optional<QSet<qint64>> chattering = ChatteringRowsOfPage(context.reader, *page, &error);
    if (!chattering)
        return JournalFailure(error);
    QList<qint64> ids;
    ids.reserve(page->rows.size());
    for (const JournalEvent& e : page->rows)
        ids.push_back(e.id);
    const std::optional<QHash<qint64, int>> comments = CommentCounts(context.reader, ids, &error);
    if (!comments)
        return JournalFailure(error);
    QJsonArray rows;
    for (const JournalEvent& e : page->rows)
        rows.append(RowJson(e, chattering->contains(e.id), comments->value(e.id)));
    return WebResponse::json(QJsonDocument(QJsonObject{
        {QStringLiteral("rows"), rows},
        {QStringLiteral("total"), double(page->total)},
        {QStringLiteral("order"), TimeOrderText(page->order)},
        {QStringLiteral("more"), page->more},
        {QStringLiteral("lastId"), double(*lastId)},
    }));
}

WebResponse Live(const WebRequest& request, WorkerContext& context, LiveFeed& feed)
{
    QString error;
    if (!OnlyKnownParameters(request.query, FilterFields + QStringList{QStringLiteral("after")}, &error))
        return BadRequest(error);
    JournalFilter filter;
    if (!ParseFilterQuery(request.query, &filter, &error))
        return BadRequest(error);
    std::optional<qint64> after;
    if (request.query.contains(QStringLiteral("after"))) {
        after = ParseCount(request.query.value(QStringLiteral("after")));
        if (!after)
            return BadRequest(QStringLiteral("after: a row id from 0"));
    } else {
        after = JournalLastId(context.reader, &error);
        if (!after)
            return JournalFailure(error);
    }
    WebResponse response;
    response.contentType = "text/event-stream";
    response.stream = std::make_shared<EventStream>();
    feed.subscribe(response.stream, filter, *after);
    return response;
}

WebResponse Chart(const WebRequest& request, WorkerContext& context)
{
    QString error;
    if (!OnlyKnownParameters(request.query,
            {QStringLiteral("from"), QStringLiteral("to"), QStringLiteral("module"), QStringLiteral("point"),
                QStringLiteral("series")},
            &error))
        return BadRequest(error);
    JournalFilter period;
    if (!ParseFilterQuery({{QStringLiteral("from"), request.query.value(QStringLiteral("from"))},
                              {QStringLiteral("to"), request.query.value(QStringLiteral("to"))}},
            &period, &error))
        return BadRequest(error);
    QList<ChartSeriesKey> series;
    if (!ParseChartSeries(request.query, &series, &error))
        return BadRequest(error);
    const std::optional<QJsonObject> chart = ChartJson(context.reader, period, series, &error);
    if (!chart)
        return JournalFailure(error);
    return WebResponse::json(QJsonDocument(*chart));
}

} // namespace

WebResponse JournalFailure(const QString& error)
{
    std::fprintf(stderr, "chronel-web: %s\n", qPrintable(error));
    return WebResponse::error(
        500, QStringLiteral("the journal could not be read or written; the server's log says why"));
}

void AddJournalApi(WebRouter& router, LiveFeed& feed)
{
    router.add(HttpMethod::Get, QStringLiteral("/api/modules"), Access::Viewer,
        [](const WebRequest& r, const QStringList&, WorkerContext& c) { return Modules(r, c); });
    router.add(HttpMethod::Get, QStringLiteral("/api/points"), Access::Viewer,
        [](const WebRequest& r, const QStringList&, WorkerContext& c) { return Points(r, c); });
    router.add(HttpMethod::Get, QStringLiteral("/api/rows"), Access::Viewer,
        [](const WebRequest& r, const QStringList&, WorkerContext& c) { return Rows(r, c); });
    router.add(HttpMethod::Get, QStringLiteral("/api/live"), Access::Viewer,
        [&feed](const WebRequest& r, const QStringList&, WorkerContext& c) { return Live(r, c, feed); });
    router.add(HttpMethod::Get, QStringLiteral("/api/chart"), Access::Viewer,
        [](const WebRequest& r, const QStringList&, WorkerContext& c) { return Chart(r, c); });
}

} // namespace chronel
