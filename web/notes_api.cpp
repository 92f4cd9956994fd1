#include "notes_api.h"

#include "journal/journal_audit.h"
#include "journal/journal_incidents.h"
#include "journal/journal_query.h"
#include "journal_api.h"
#include "journal_rows.h"
#include "package.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace chronel {

namespace {

WebResponse BadRequest(const QString& error) { return WebResponse::error(400, error); }

// A text of a body: its length within limits and no control character but,
// where `lines`, line breaks and tabs.
bool CheckNote(const QString& field, const QString& text, int limit, bool lines, bool required, QString* error)
{
    if (required && text.trimmed().isEmpty()) {
        *error = QStringLiteral("%1: empty").arg(field);
        return false;
    }
    if (text.size() > limit) {
        *error = QStringLiteral("%1: longer than %2 characters").arg(field).arg(limit);
        return false;
    }
    for (const QChar c : text) {
        const bool control = c.unicode() < 0x20 || c.unicode() == 0x7f;
        if (control && !(lines && (c == u'\n' || c == u'\r' || c == u'\t'))) {
            *error = QStringLiteral("%1: holds a control character").arg(field);
            return false;
        }
    }
    return true;
}

// The body as a JSON object of the keys `known` only.
std::optional<QJsonObject> BodyObject(const WebRequest& request, const QStringList& known, QString* error)
{
    QJsonParseError parse;
    const QJsonDocument document = QJsonDocument::fromJson(request.body, &parse);
    if (parse.error != QJsonParseError::NoError || !document.isObject()) {
        *error = QStringLiteral("body: not a JSON object");
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    for (auto it = object.constBegin(); it != object.constEnd(); ++it)
        if (!known.contains(it.key())) {
            *error = QStringLiteral("%1: no such field here (%2 are)")
                         .arg(it.key().left(40), known.join(QStringLiteral(", ")));
            return std::nullopt;
        }
    return object;
}

std::optional<QString> StringField(const QJsonObject& body, const QString& key, QString* error)
{
    const QJsonValue value = body.value(key);
    if (value.isUndefined())
        return QString();
    if (!value.isString()) {
        *error = QStringLiteral("%1: not a string").arg(key);
        return std::nullopt;
    }
    return value.toString();
}

std::optional<qint64> PathId(const QStringList& args)
{
    const std::optional<qint64> id = args.isEmpty() ? std::nullopt : ParseCount(args.front());
    return id && *id > 0 ? id : std::nullopt;
}

WebResponse NoSuch(const QString& what) { return WebResponse::error(404, QStringLiteral("no such %1").arg(what)); }

AuditContext ContextOf(const WebRequest& request)
{
    return AuditContext{request.session ? request.session->name : QString(), request.clientAddress};
}

QJsonArray CommentsJson(const QList<Comment>& comments)
{
    QJsonArray out;
    for (const Comment& c : comments)
        out.append(QJsonObject{{QStringLiteral("id"), double(c.id)}, {QStringLiteral("author"), c.author},
            {QStringLiteral("text"), c.text}, {QStringLiteral("created"), c.created}});
    return out;
}

QJsonObject IncidentJson(const Incident& i)
{
    return QJsonObject{
        {QStringLiteral("id"), double(i.id)},
        {QStringLiteral("title"), i.title},
        {QStringLiteral("from"), i.fromTime},
        {QStringLiteral("to"), i.toTime},
        {QStringLiteral("modules"), QJsonArray::fromStringList(i.modules)},
        {QStringLiteral("comment"), i.comment},
        {QStringLiteral("author"), i.author},
        {QStringLiteral("created"), i.created},
        {QStringLiteral("comments"), i.comments},
    };
}

WebResponse ListIncidents(const WebRequest& request, WorkerContext& context)
{
    QString error;
    if (!OnlyKnownParameters(request.query, {}, &error))
        return BadRequest(error);
    const std::optional<QList<Incident>> incidents = Incidents(context.reader, &error);
    if (!incidents)
        return JournalFailure(error);
    QJsonArray out;
    for (const Incident& i : *incidents)
        out.append(IncidentJson(i));
    return WebResponse::json(QJsonDocument(out));
}

// A bound of the period in the filter's stored form: a module time, or a
// UTC time where the text gave a zone.
std::optional<QString> PeriodBound(const QString& field, const QString& text, bool end, QString* error)
{
    if (text.isEmpty()) {
        *error = QStringLiteral("%1: empty; an incident has a period").arg(field);
        return std::nullopt;
    }
    JournalFilter filter;
    QString why;
    if (text.size() > MaxFilterTextLength || !(end ? filter.setTo(text, &why) : filter.setFrom(text, &why))) {
        *error = QStringLiteral("%1: %2").arg(field, why.isEmpty() ? QStringLiteral("too long") : why);
        return std::nullopt;
    }
    const QString moduleTime = end ? filter.to : filter.from;
    return moduleTime.isEmpty() ? (end ? filter.toUtc : filter.fromUtc) : moduleTime;
}

WebResponse AddIncidentRoute(const WebRequest& request, WorkerContext& context)
{
    QString error;
    const std::optional<QJsonObject> body = BodyObject(request,
        {QStringLiteral("title"), QStringLiteral("from"), QStringLiteral("to"), QStringLiteral("modules"),
            QStringLiteral("comment")},
        &error);
    if (!body)
        return BadRequest(error);
    Incident incident;
    const std::optional<QString> title = StringField(*body, QStringLiteral("title"), &error);
    if (!title || !CheckNote(QStringLiteral("title"), *title, MaxIncidentTitle, false, true, &error))
        return BadRequest(error);
    incident.title = title->trimmed();
    const std::optional<QString> from = StringField(*body, QStringLiteral("from"), &error);
    const std::optional<QString> fromTime = from ? PeriodBound(QStringLiteral("from"), *from, false, &error) : from;
    if (!fromTime)
        return BadRequest(error);
    const std::optional<QString> to = StringField(*body, QStringLiteral("to"), &error);
    const std::optional<QString> toTime = to ? PeriodBound(QStringLiteral("to"), *to, true, &error) : to;
    if (!toTime)
        return BadRequest(error);
    // A module time and a UTC time do not compare without a zone; stored
    // forms of one kind compare as text.
    if (fromTime->endsWith(u'Z') != toTime->endsWith(u'Z'))
        return BadRequest(QStringLiteral("to: give both bounds as module times, or both with a zone (Z, +01:00)"));
    if (*fromTime >= *toTime)
        return BadRequest(QStringLiteral("to: not after from"));
    incident.fromTime = *fromTime;
    incident.toTime = *toTime;
    const QJsonValue modules = body->value(QStringLiteral("modules"));
    if (!modules.isUndefined() && !modules.isArray())
        return BadRequest(QStringLiteral("modules: not a list"));
    if (modules.toArray().size() > MaxIncidentModules)
        return BadRequest(QStringLiteral("modules: more than %1").arg(MaxIncidentModules));
    for (const QJsonValue& m : modules.toArray()) {
        if (!m.isString())
            return BadRequest(QStringLiteral("modules: a module is named by a string"));
        const QString module = m.toString();
        // A comma would split the stored list.
        if (!CheckNote(QStringLiteral("modules"), module, MaxFilterTextLength, false, true, &error))
            return BadRequest(error);
        if (module.contains(u','))
            return BadRequest(QStringLiteral("modules: a module's name holds a comma"));
        if (!incident.modules.contains(module))
            incident.modules.push_back(module);
    }
    const std::optional<QString> comment = StringField(*body, QStringLiteral("comment"), &error);
    if (!comment || !CheckNote(QStringLiteral("comment"), *comment, MaxCommentText, true, false, &error))
        return BadRequest(error);
    incident.comment = *comment;
    incident.author = request.session ? request.session->name : QString();
    const std::optional<qint64> id = AddIncident(context.writer, incident, ContextOf(request), &error);
    if (!id)
        return JournalFailure(error);
    return WebResponse::json(QJsonDocument(QJsonObject{{QStringLiteral("id"), double(*id)}}));
}

// The incident the path names, with its comments; none, with `*refusal` the
// answer that says why, when the request or the journal does not give it.
struct IncidentRead {
    Incident incident;
    QList<Comment> comments;
};

std::optional<IncidentRead> ReadIncident(
    const WebRequest& request, const QStringList& args, WorkerContext& context, WebResponse* refusal)
{
    QString error;
    if (!OnlyKnownParameters(request.query, {}, &error)) {
        *refusal = BadRequest(error);
        return std::nullopt;
    }
    const std::optional<qint64> id = PathId(args);
    if (!id) {
        *refusal = NoSuch(QStringLiteral("incident"));
        return std::nullopt;
    }
    std::optional<std::optional<Incident>> incident = FindIncident(context.reader, *id, &error);
    if (!incident) {
        *refusal = JournalFailure(error);
        return std::nullopt;
    }
    if (!*incident) {
        *refusal = NoSuch(QStringLiteral("incident"));
        return std::nullopt;
    }
    std::optional<QList<Comment>> comments = IncidentComments(context.reader, *id, &error);
    if (!comments) {
        *refusal = JournalFailure(error);
        return std::nullopt;
    }
    return IncidentRead{std::move(**incident), std::move(*comments)};
}

WebResponse GetIncident(const WebRequest& request, const QStringList& args, WorkerContext& context)
{
    WebResponse refusal;
    const std::optional<IncidentRead> read = ReadIncident(request, args, context, &refusal);
    if (!read)
        return refusal;
    QJsonObject json = IncidentJson(read->incident);
    json.insert(QStringLiteral("comments"), int(read->comments.size()));
    json.insert(QStringLiteral("commentList"), CommentsJson(read->comments));
    return WebResponse::json(QJsonDocument(json));
}

// Whether the journal holds row `id`.
std::optional<bool> EventExists(const JournalStore& store, qint64 id, QString* error)
{
    const std::optional<QList<JournalEvent>> rows = JournalRowsAfter(store, id - 1, {}, 1, error);
    if (!rows)
        return std::nullopt;
    return !rows->isEmpty() && rows->front().id == id;
}

std::optional<QString> CommentText(const WebRequest& request, QString* error)
{
    const std::optional<QJsonObject> body = BodyObject(request, {QStringLiteral("text")}, error);
    if (!body)
        return std::nullopt;
    const std::optional<QString> text = StringField(*body, QStringLiteral("text"), error);
    if (!text || !CheckNote(QStringLiteral("text"), *text, MaxCommentText, true, true, error))
        return std::nullopt;
    return text;
}

WebResponse AddCommentRoute(const WebRequest& request, const QStringList& args, WorkerContext& context, bool onEvent)
{
    const QString what = onEvent ? QStringLiteral("event") : QStringLiteral("incident");
    const std::optional<qint64> id = PathId(args);
    if (!id)
        return NoSuch(what);
    QString error;
    const std::optional<QString> text = CommentText(request, &error);
    if (!text)
        return BadRequest(error);
    // The writer sees what it is about to refer to as committed now.
    if (onEvent) {
        const std::optional<bool> exists = EventExists(context.writer, *id, &error);
        if (!exists)
            return JournalFailure(error);
        if (!*exists)
            return NoSuch(what);
    } else {
        const std::optional<std::optional<Incident>> incident = FindIncident(context.writer, *id, &error);
        if (!incident)
            return JournalFailure(error);
        if (!*incident)
            return NoSuch(what);
    }
    Comment comment;
    (onEvent ? comment.eventId : comment.incidentId) = *id;
    comment.author = request.session ? request.session->name : QString();
    comment.text = *text;
    const std::optional<qint64> added = AddComment(context.writer, comment, ContextOf(request), &error);
    if (!added)
        return JournalFailure(error);
    return WebResponse::json(QJsonDocument(QJsonObject{{QStringLiteral("id"), double(*added)}}));
}

WebResponse GetEventComments(const WebRequest& request, const QStringList& args, WorkerContext& context)
{
    QString error;
    if (!OnlyKnownParameters(request.query, {}, &error))
        return BadRequest(error);
    const std::optional<qint64> id = PathId(args);
    if (!id)
        return NoSuch(QStringLiteral("event"));
    const std::optional<bool> exists = EventExists(context.reader, *id, &error);
    if (!exists)
        return JournalFailure(error);
    if (!*exists)
        return NoSuch(QStringLiteral("event"));
    const std::optional<QList<Comment>> comments = EventComments(context.reader, *id, &error);
    if (!comments)
        return JournalFailure(error);
    return WebResponse::json(QJsonDocument(CommentsJson(*comments)));
}

WebResponse GetPackage(const WebRequest& request, const QStringList& args, WorkerContext& context)
{
    WebResponse refusal;
    const std::optional<IncidentRead> read = ReadIncident(request, args, context, &refusal);
    if (!read)
        return refusal;
    QString error;
    const std::optional<QByteArray> zip =
        IncidentPackage(context.reader, read->incident, read->comments, QDateTime::currentDateTimeUtc(), &error);
    if (!zip)
        return JournalFailure(error);
    WebResponse response;
    response.contentType = "application/zip";
    response.body = *zip;
    response.headers.append({"Content-Disposition",
        QStringLiteral("attachment; filename=\"%1\"").arg(IncidentPackageName(read->incident.id)).toLatin1()});
    return response;
}

WebResponse GetAudit(const WebRequest& request, WorkerContext& context)
{
    QString error;
    if (!OnlyKnownParameters(request.query, {}, &error))
        return BadRequest(error);
    const std::optional<QList<AuditEntry>> rows = AuditRows(context.reader, &error, AuditRowsShown);
    if (!rows)
        return JournalFailure(error);
    QJsonArray out;
    for (const AuditEntry& a : *rows)
        out.append(QJsonObject{
            {QStringLiteral("id"), double(a.id)},
            {QStringLiteral("at"), JournalReceivedText(a.at)},
            {QStringLiteral("who"), a.who},
            {QStringLiteral("address"), a.address},
            {QStringLiteral("action"), a.actionText},
            {QStringLiteral("before"), a.before},
            {QStringLiteral("after"), a.after},
            {QStringLiteral("prevHash"), a.prevHash},
            {QStringLiteral("hash"), a.hash},
        });
    return WebResponse::json(QJsonDocument(out));
}

} // namespace

void AddNotesApi(WebRouter& router)
{
    router.add(HttpMethod::Get, QStringLiteral("/api/incidents"), Access::Viewer,
        [](const WebRequest& r, const QStringList&, WorkerContext& c) { return ListIncidents(r, c); });
    router.add(HttpMethod::Post, QStringLiteral("/api/incidents"), Access::Engineer,
        [](const WebRequest& r, const QStringList&, WorkerContext& c) { return AddIncidentRoute(r, c); });
    router.add(HttpMethod::Get, QStringLiteral("/api/incidents/{id}"), Access::Viewer,
        [](const WebRequest& r, const QStringList& a, WorkerContext& c) { return GetIncident(r, a, c); });
    router.add(HttpMethod::Post, QStringLiteral("/api/incidents/{id}/comments"), Access::Engineer,
        [](const WebRequest& r, const QStringList& a, WorkerContext& c) { return AddCommentRoute(r, a, c, false); });
    router.add(HttpMethod::Get, QStringLiteral("/api/events/{id}/comments"), Access::Viewer,
        [](const WebRequest& r, const QStringList& a, WorkerContext& c) { return GetEventComments(r, a, c); });
    router.add(HttpMethod::Post, QStringLiteral("/api/events/{id}/comments"), Access::Engineer,
        [](const WebRequest& r, const QStringList& a, WorkerContext& c) { return AddCommentRoute(r, a, c, true); });
    router.add(HttpMethod::Get, QStringLiteral("/api/incidents/{id}/package"), Access::Viewer,
        [](const WebRequest& r, const QStringList& a, WorkerContext& c) { return GetPackage(r, a, c); });
    router.add(HttpMethod::Get, QStringLiteral("/api/audit"), Access::Admin,
        [](const WebRequest& r, const QStringList&, WorkerContext& c) { return GetAudit(r, c); });
}

} // namespace chronel
