#include "journal_incidents.h"

#include "journal_event.h"
#include "web_tables.h"

#include <QRegularExpression>
#include <QSqlQuery>

namespace chronel {

namespace {

// Module addresses and names, as many as a site has.
constexpr int MaxModulesText = 4000;
// Bound values per statement, below SQLite's smallest limit (999).
constexpr int IdsPerQuery = 500;

const QString& IncidentsWhat()
{
    static const QString what = QStringLiteral("incidents or comments");
    return what;
}

// The reason `text` (called `what`) is refused, or empty.
QString TextProblem(const QString& what, const QString& text, int min, int max, bool lineBreaks)
{
    const qsizetype length = text.toUcs4().size();
    if (length < min || (min > 0 && text.trimmed().isEmpty()))
        return QStringLiteral("%1 is empty").arg(what);
    if (length > max)
        return QStringLiteral("%1 has %2 characters, more than the %3 allowed").arg(what).arg(length).arg(max);
    for (const QChar c : text) {
        const bool control = c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() < 0xa0);
        if (control && !(lineBreaks && (c == u'\n' || c == u'\r' || c == u'\t')))
            return lineBreaks
                ? QStringLiteral("%1 holds a control character other than a line break or a tab").arg(what)
                : QStringLiteral("%1 holds a line break or another control character").arg(what);
    }
    return {};
}

// The period's problem, or empty: both bounds in one stored form, from
// before to.
QString PeriodProblem(const Incident& incident)
{
    static const QRegularExpression moduleTime(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}$"));
    static const QRegularExpression utc(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$"));
    const bool local = moduleTime.match(incident.fromTime).hasMatch() && moduleTime.match(incident.toTime).hasMatch();
    const bool inUtc = utc.match(incident.fromTime).hasMatch() && utc.match(incident.toTime).hasMatch();
    if (!local && !inUtc)
        return QStringLiteral("the incident's period \"%1\" to \"%2\" is not two module times "
                              "(yyyy-MM-ddTHH:mm:ss.zzz) or two UTC times (the same with Z)")
            .arg(incident.fromTime.left(40), incident.toTime.left(40));
    if (incident.fromTime >= incident.toTime)
        return QStringLiteral("the incident's period ends (%1) before it begins (%2)")
            .arg(incident.toTime, incident.fromTime);
    return {};
}

QString ModulesProblem(const QStringList& modules)
{
    for (const QString& module : modules) {
        if (module.isEmpty() || module.contains(u','))
            return QStringLiteral("the incident's module \"%1\" is empty or holds a comma").arg(module.left(40));
        if (const QString problem = TextProblem(QStringLiteral("a module's name"), module, 1, MaxModulesText, false);
            !problem.isEmpty())
            return problem;
    }
    if (modules.join(u',').size() > MaxModulesText)
        return QStringLiteral("the incident names more modules than %1 characters hold").arg(MaxModulesText);
    return {};
}

QString Now() { return JournalReceivedText(QDateTime::currentDateTimeUtc()); }

// The drivers bind a null string as NULL.
QString NotNull(const QString& text) { return text.isNull() ? QStringLiteral("") : text; }

// Runs an INSERT and gives the new row's id.
std::optional<qint64> InsertReturningId(QSqlQuery& query, JournalDialect dialect)
{
    if (!query.exec())
        return std::nullopt;
    if (dialect == JournalDialect::Postgres)
        return query.next() ? std::optional<qint64>(query.value(0).toLongLong()) : std::nullopt;
    const QVariant id = query.lastInsertId();
    return id.isValid() ? std::optional<qint64>(id.toLongLong()) : std::nullopt;
}

QString Returning(JournalDialect dialect)
{
    return dialect == JournalDialect::Postgres ? QStringLiteral(" RETURNING id") : QString();
}

const char* const IncidentColumns = "id, title, from_time, to_time, modules, comment, author, created,"
                                    " (SELECT count(*) FROM comments WHERE comments.incident_id = incidents.id)";

Incident IncidentOf(const QSqlQuery& query)
{
    Incident incident;
    incident.id = query.value(0).toLongLong();
    incident.title = query.value(1).toString();
    incident.fromTime = query.value(2).toString();
    incident.toTime = query.value(3).toString();
    incident.modules = query.value(4).toString().split(u',', Qt::SkipEmptyParts);
    incident.comment = query.value(5).toString();
    incident.author = query.value(6).toString();
    incident.created = query.value(7).toString();
    incident.comments = query.value(8).toInt();
    return incident;
}

// `condition` binds `id`: "incident_id = ?", "id > ?".
std::optional<QList<Comment>> CommentsWhere(
    const JournalStore& store, const char* condition, qint64 id, const QString& what, QString* error)
{
    if (!CheckWebTables(store, IncidentsWhat(), error))
        return std::nullopt;
    QSqlQuery query(store.database());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT id, incident_id, event_id, author, text, created FROM comments"
                                 " WHERE %1 ORDER BY id")
                      .arg(QLatin1StringView(condition)));
    query.addBindValue(id);
    if (!query.exec()) {
        *error = WebTableFailure(store, what, query.lastError());
        return std::nullopt;
    }
    QList<Comment> comments;
    while (query.next()) {
        Comment comment;
        comment.id = query.value(0).toLongLong();
        if (!query.value(1).isNull())
            comment.incidentId = query.value(1).toLongLong();
        if (!query.value(2).isNull())
            comment.eventId = query.value(2).toLongLong();
        comment.author = query.value(3).toString();
        comment.text = query.value(4).toString();
        comment.created = query.value(5).toString();
        comments << comment;
    }
    if (query.lastError().isValid()) {
        *error = WebTableFailure(store, what, query.lastError());
        return std::nullopt;
    }
    return comments;
}

} // namespace

std::optional<qint64> AddIncident(
    JournalStore& store, const Incident& incident, const AuditContext& context, QString* error)
{
    QString problem = TextProblem(QStringLiteral("the incident's title"), incident.title, 1, MaxIncidentTitle, false);
    if (problem.isEmpty())
        problem = TextProblem(QStringLiteral("the incident's comment"), incident.comment, 0, MaxCommentText, true);
    if (problem.isEmpty())
        problem = PeriodProblem(incident);
    if (problem.isEmpty())
        problem = ModulesProblem(incident.modules);
    if (!problem.isEmpty()) {
        *error = problem;
        return std::nullopt;
    }
    std::optional<qint64> id;
    const bool done = AuditedChange(
        store, AuditAction::IncidentAdded, context,
        [&](QSqlQuery& query, AuditEntry& entry, ChangeFailure& failure) {
            query.prepare(QStringLiteral("INSERT INTO incidents (title, from_time, to_time, modules, comment, author,"
                                         " created) VALUES (?, ?, ?, ?, ?, ?, ?)") +
                Returning(store.dialect()));
            query.addBindValue(incident.title);
            query.addBindValue(incident.fromTime);
            query.addBindValue(incident.toTime);
            query.addBindValue(NotNull(incident.modules.join(u',')));
            query.addBindValue(NotNull(incident.comment));
            query.addBindValue(NotNull(incident.author.isEmpty() ? context.who : incident.author));
            query.addBindValue(Now());
            id = InsertReturningId(query, store.dialect());
            if (!id) {
                failure = {QStringLiteral("add the incident"), query.lastError()};
                return ChangeOutcome::Failed;
            }
            entry.after = QStringLiteral("incident %1 \"%2\" from %3 to %4, %5")
                              .arg(QString::number(*id), incident.title, incident.fromTime, incident.toTime,
                                  incident.modules.isEmpty()
                                      ? QStringLiteral("every module")
                                      : QStringLiteral("modules %1").arg(incident.modules.join(QStringLiteral(", "))));
            return ChangeOutcome::Done;
        },
        error);
    return done ? id : std::nullopt;
}

std::optional<QList<Incident>> Incidents(const JournalStore& store, QString* error)
{
    if (!CheckWebTables(store, IncidentsWhat(), error))
        return std::nullopt;
    QSqlQuery query(store.database());
    query.setForwardOnly(true);
    if (!query.exec(
            QStringLiteral("SELECT %1 FROM incidents ORDER BY id DESC").arg(QLatin1StringView(IncidentColumns)))) {
        *error = WebTableFailure(store, QStringLiteral("read the incidents"), query.lastError());
        return std::nullopt;
    }
    QList<Incident> incidents;
    while (query.next())
        incidents << IncidentOf(query);
    if (query.lastError().isValid()) {
        *error = WebTableFailure(store, QStringLiteral("read the incidents"), query.lastError());
        return std::nullopt;
    }
    return incidents;
}

std::optional<std::optional<Incident>> FindIncident(const JournalStore& store, qint64 id, QString* error)
{
    if (!CheckWebTables(store, IncidentsWhat(), error))
        return std::nullopt;
    QSqlQuery query(store.database());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT %1 FROM incidents WHERE id = ?").arg(QLatin1StringView(IncidentColumns)));
    query.addBindValue(id);
    if (!query.exec()) {
        *error = WebTableFailure(store, QStringLiteral("read incident %1").arg(id), query.lastError());
        return std::nullopt;
    }
    if (!query.next())
        return std::optional<Incident>{};
    return std::optional<Incident>(IncidentOf(query));
}

std::optional<qint64> AddComment(
    JournalStore& store, const Comment& comment, const AuditContext& context, QString* error)
{
    if (comment.incidentId.has_value() == comment.eventId.has_value()) {
        *error = QStringLiteral("a comment is on an incident or on one journal row, exactly one of them");
        return std::nullopt;
    }
    if (const QString problem = TextProblem(QStringLiteral("the comment"), comment.text, 1, MaxCommentText, true);
        !problem.isEmpty()) {
        *error = problem;
        return std::nullopt;
    }
    const bool onIncident = comment.incidentId.has_value();
    const qint64 target = onIncident ? *comment.incidentId : *comment.eventId;
    const QString targetText =
        onIncident ? QStringLiteral("incident %1").arg(target) : QStringLiteral("journal row %1").arg(target);
    std::optional<qint64> id;
    const bool done = AuditedChange(
        store, AuditAction::CommentAdded, context,
        [&](QSqlQuery& query, AuditEntry& entry, ChangeFailure& failure) {
            query.prepare(onIncident ? QStringLiteral("SELECT count(*) FROM incidents WHERE id = ?")
                                     : QStringLiteral("SELECT count(*) FROM journal_events WHERE id = ?"));
            query.addBindValue(target);
            if (!query.exec() || !query.next()) {
                failure = {QStringLiteral("read %1").arg(targetText), query.lastError()};
                return ChangeOutcome::Failed;
            }
            if (query.value(0).toLongLong() == 0) {
                failure.why = QStringLiteral("there is no %1 to comment on").arg(targetText);
                return ChangeOutcome::Refused;
            }
            query.finish();
            query.prepare(QStringLiteral("INSERT INTO comments (incident_id, event_id, author, text, created)"
                                         " VALUES (?, ?, ?, ?, ?)") +
                Returning(store.dialect()));
            const QVariant none{QMetaType(QMetaType::LongLong)};
            query.addBindValue(onIncident ? QVariant(target) : none);
            query.addBindValue(onIncident ? none : QVariant(target));
            query.addBindValue(NotNull(comment.author.isEmpty() ? context.who : comment.author));
            query.addBindValue(comment.text);
            query.addBindValue(Now());
            id = InsertReturningId(query, store.dialect());
            if (!id) {
                failure = {QStringLiteral("add the comment on %1").arg(targetText), query.lastError()};
                return ChangeOutcome::Failed;
            }
            entry.after = QStringLiteral("comment %1 on %2: %3").arg(QString::number(*id), targetText, comment.text);
            return ChangeOutcome::Done;
        },
        error);
    return done ? id : std::nullopt;
}

std::optional<QList<Comment>> IncidentComments(const JournalStore& store, qint64 incidentId, QString* error)
{
    return CommentsWhere(store, "incident_id = ?", incidentId,
        QStringLiteral("read the comments on incident %1").arg(incidentId), error);
}

std::optional<QList<Comment>> EventComments(const JournalStore& store, qint64 eventId, QString* error)
{
    return CommentsWhere(
        store, "event_id = ?", eventId, QStringLiteral("read the comments on journal row %1").arg(eventId), error);
}

std::optional<qint64> LastCommentId(const JournalStore& store, QString* error)
{
    if (!CheckWebTables(store, IncidentsWhat(), error))
        return std::nullopt;
    QSqlQuery query(store.database());
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT coalesce(max(id), 0) FROM comments")) || !query.next()) {
        *error = WebTableFailure(store, QStringLiteral("read the last comment's id"), query.lastError());
        return std::nullopt;
    }
    return query.value(0).toLongLong();
}

std::optional<QList<Comment>> CommentsAfter(const JournalStore& store, qint64 afterId, QString* error)
{
    return CommentsWhere(
        store, "id > ?", afterId, QStringLiteral("read the comments after comment %1").arg(afterId), error);
}

std::optional<QHash<qint64, int>> CommentCounts(
    const JournalStore& store, const QList<qint64>& eventIds, QString* error)
{
    if (!CheckWebTables(store, IncidentsWhat(), error))
        return std::nullopt;
    QHash<qint64, int> counts;
    for (qsizetype from = 0; from < eventIds.size(); from += IdsPerQuery) {
        const QList<qint64> ids = eventIds.mid(from, IdsPerQuery);
        QStringList marks;
        marks.fill(QStringLiteral("?"), ids.size());
        QSqlQuery query(store.database());
        query.setForwardOnly(true);
        query.prepare(QStringLiteral("SELECT event_id, count(*) FROM comments WHERE event_id IN (%1) GROUP BY event_id")
                          .arg(marks.join(QStringLiteral(", "))));
        for (qint64 id : ids)
            query.addBindValue(id);
        if (!query.exec()) {
            *error = WebTableFailure(store, QStringLiteral("count the rows' comments"), query.lastError());
            return std::nullopt;
        }
        while (query.next())
            counts.insert(query.value(0).toLongLong(), query.value(1).toInt());
    }
    return counts;
}

} // namespace chronel
