// What a client controls of a request, as chronel-web reads it: the target
// (path and query), the filter and chart fields in the query, the Cookie
// header and a login's JSON body. Each is read or refused; nothing may
// crash, read out of bounds, or let a decoded path hold a traversal.
#include "journal/journal_query.h"
#include "journal/journal_store.h"
#include "web/auth_api.h"
#include "web/journal_rows.h"
#include "web/request_text.h"
#include "web/web_router.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void Fail(const char* what, const QString& detail)
{
    std::fprintf(stderr, "%s: [%s]\n", what, detail.toUtf8().constData());
    std::abort();
}

const chronel::WebRouter& Router()
{
    static const chronel::WebRouter router = [] {
        chronel::WebRouter r;
        const auto ok = [](const chronel::WebRequest&, const QStringList& args, chronel::WorkerContext&) {
            for (const QString& arg : args) {
                if (arg.isEmpty() || arg.contains(u'/'))
                    Fail("empty or slashed path argument", arg);
            }
            return chronel::WebResponse::error(200, QString());
        };
        r.add(chronel::HttpMethod::Post, QStringLiteral("/api/login"), chronel::Access::Public, ok);
        r.add(chronel::HttpMethod::Get, QStringLiteral("/api/incidents/{id}"), chronel::Access::Viewer, ok);
        r.add(chronel::HttpMethod::Post, QStringLiteral("/api/incidents/{id}/comments"), chronel::Access::Engineer, ok);
        return r;
    }();
    return router;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));

    if (const std::optional<chronel::RequestTarget> target = chronel::DecodeTarget(input)) {
        if (!target->path.startsWith(u'/') || target->path.contains(QChar(0)) || target->path.contains(u'\\'))
            Fail("decoded path not a clean absolute path", target->path);
        for (const QStringView segment : QStringView(target->path).split(u'/')) {
            if (segment == u".." || segment == u".")
                Fail("decoded path holds a dot segment", target->path);
        }
        QString error;
        chronel::JournalFilter filter;
        if (!chronel::ParseFilterQuery(target->query, &filter, &error) && error.isEmpty())
            Fail("filter refused without a reason", target->path);
        QList<chronel::ChartSeriesKey> series;
        error.clear();
        if (!chronel::ParseChartSeries(target->query, &series, &error) && error.isEmpty())
            Fail("series refused without a reason", target->path);
        if (series.size() > chronel::MaxChartSeries)
            Fail("more series than allowed", target->path);

        chronel::JournalStore reader, writer;
        chronel::WorkerContext context{reader, writer};
        chronel::WebRequest request;
        request.path = target->path;
        request.query = target->query;
        request.method = size % 2 ? chronel::HttpMethod::Get : chronel::HttpMethod::Post;
        const int status = Router().route(request, context).status;
        if (status != 200 && status != 401 && status != 403 && status != 404 && status != 405)
            Fail("unexpected status from the router", QString::number(status));
    }

    if (const std::optional<QByteArray> cookie = chronel::CookieValue(input, "chronel_session")) {
        if (!input.contains(*cookie))
            Fail("cookie value not taken from the header", QString::fromLatin1(*cookie));
    }

    QString error;
    if (const std::optional<chronel::LoginForm> form = chronel::ParseLoginBody(input, &error)) {
        if (form->name.isEmpty() || form->name.size() > 256 || form->password.size() > 1024)
            Fail("login form outside its bounds", form->name);
    } else if (error.isEmpty()) {
        Fail("login body refused without a reason", QString());
    }
    return 0;
}
