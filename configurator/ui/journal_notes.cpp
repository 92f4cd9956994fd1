#include "journal_notes.h"

#include "journal/journal_schema.h"

#include <QDateTime>
#include <QStringList>

namespace chronel {

namespace {

// A person's text in rich text: escaped, its line breaks kept.
QString Escaped(const QString& text) { return text.toHtmlEscaped().replace(u'\n', QStringLiteral("<br>")); }

} // namespace

std::optional<JournalNotes> ReadJournalNotes(const JournalStore& store, const QList<qint64>& eventIds, QString* error)
{
    JournalNotes notes;
    if (store.schemaVersion() < JournalWebSchemaVersion) {
        // The store reads the version it opened; a writer may have migrated
        // the journal since.
        QSqlDatabase db = store.database();
        QString why;
        const int version = JournalVersion(db, store.dialect(), &why);
        if (version < 0) {
            *error = QStringLiteral("journal %1: cannot read the schema version: %2")
                         .arg(store.location().displayName(), store.location().withoutSecrets(why));
            return std::nullopt;
        }
        if (version < JournalWebSchemaVersion)
            return notes;
    }
    notes.kept = true;
    const auto incidents = Incidents(store, error);
    if (!incidents)
        return std::nullopt;
    notes.incidents = *incidents;
    const auto counts = CommentCounts(store, eventIds, error);
    if (!counts)
        return std::nullopt;
    for (auto it = counts->cbegin(); it != counts->cend(); ++it) {
        const auto comments = EventComments(store, it.key(), error);
        if (!comments)
            return std::nullopt;
        if (!comments->isEmpty())
            notes.eventComments.insert(it.key(), *comments);
    }
    return notes;
}

JournalFilter IncidentFilter(const Incident& incident)
{
    JournalFilter filter;
    // Stored as the filter stores its bounds; one with a zone bounds UTC.
    (incident.fromTime.endsWith(u'Z') ? filter.fromUtc : filter.from) = incident.fromTime;
    (incident.toTime.endsWith(u'Z') ? filter.toUtc : filter.to) = incident.toTime;
    filter.modules = incident.modules;
    return filter;
}

QString NoteTimeText(const QString& stored)
{
    if (stored.endsWith(u'Z')) {
        const QDateTime at = QDateTime::fromString(stored, Qt::ISODateWithMs);
        if (at.isValid())
            return at.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral(" UTC");
    }
    QString text = stored;
    if (text.size() > 10 && text[10] == u'T')
        text[10] = u' ';
    return text;
}

QString IncidentPeriodText(const Incident& incident)
{
    // To the millisecond, as the filter takes them.
    const auto bound = [](const QString& stored) {
        QString text = stored;
        if (text.size() > 10 && text[10] == u'T')
            text[10] = u' ';
        if (text.endsWith(u'Z'))
            text = text.chopped(1) + QStringLiteral(" UTC");
        return text;
    };
    const QString from = bound(incident.fromTime);
    const QString to = bound(incident.toTime);
    if (from.isEmpty() && to.isEmpty())
        return QStringLiteral("whole journal");
    if (to.isEmpty())
        return QStringLiteral("from %1").arg(from);
    if (from.isEmpty())
        return QStringLiteral("until %1").arg(to);
    // The date once when the period lies within a day.
    if (from.size() > 11 && to.size() > 11 && from.left(11) == to.left(11) && from[10] == u' ')
        return QStringLiteral("%1 to %2").arg(from, to.mid(11));
    return QStringLiteral("%1 to %2").arg(from, to);
}

QString IncidentModulesText(const Incident& incident)
{
    return incident.modules.isEmpty() ? QStringLiteral("all modules") : incident.modules.join(QStringLiteral(", "));
}

QString CommentsHtml(const QList<Comment>& comments, int limit)
{
    QString html;
    for (const Comment& c : comments) {
        QString text = c.text;
        if (limit >= 0 && text.size() > limit)
            text = text.left(limit) + QStringLiteral("…");
        html += QStringLiteral("<p><b>%1</b>, %2:<br>%3</p>")
                    .arg(Escaped(c.author), Escaped(NoteTimeText(c.created)), Escaped(text));
    }
    return html;
}

QString IncidentHtml(const Incident& incident, const QList<Comment>& comments)
{
    QString html =
        QStringLiteral("<h3>%1</h3><p>%2<br>Modules: %3<br>Recorded by <b>%4</b>, %5</p>")
            .arg(Escaped(incident.title), Escaped(IncidentPeriodText(incident)), Escaped(IncidentModulesText(incident)),
                Escaped(incident.author), Escaped(NoteTimeText(incident.created)));
    if (!incident.comment.isEmpty())
        html += QStringLiteral("<p>%1</p>").arg(Escaped(incident.comment));
    html += comments.isEmpty()
        ? QStringLiteral("<p><i>No comments.</i></p>")
        : QStringLiteral("<p><i>Comments (%1):</i></p>").arg(comments.size()) + CommentsHtml(comments);
    return html;
}

} // namespace chronel
