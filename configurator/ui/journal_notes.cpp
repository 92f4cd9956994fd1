#include "journal_notes.h"

#include "journal/journal_schema.h"

#include <QDateTime>
#include <QStringList>

#include <algorithm>

namespace chronel {

namespace {

// A person's text in rich text: escaped, its line breaks kept.
QString Escaped(const QString& text) { return text.toHtmlEscaped().replace(u'\n', QStringLiteral("<br>")); }

} // namespace

void JournalNotesReader::reset()
{
    lastComment_ = -1;
    known_.clear();
    comments_.clear();
}

std::optional<JournalNotes> JournalNotesReader::read(
    const JournalStore& store, const QList<qint64>& eventIds, QString* error)
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
        if (version < JournalWebSchemaVersion) {
            reset();
            return notes;
        }
    }
    notes.kept = true;
    const auto incidents = Incidents(store, error);
    if (!incidents)
        return std::nullopt;
    notes.incidents = *incidents;

    // What was added since the last look, on rows already known; taken
    // before the rows new to the reader are read, so a comment added in
    // between is read twice rather than missed (and kept once, by its id).
    QList<Comment> added;
    if (lastComment_ < 0) {
        const auto last = LastCommentId(store, error);
        if (!last)
            return std::nullopt;
        lastComment_ = *last;
    } else {
        const auto fresh = CommentsAfter(store, lastComment_, error);
        if (!fresh)
            return std::nullopt;
        added = *fresh;
    }
    const QSet<qint64> held(eventIds.cbegin(), eventIds.cend());
    // Rows no longer held are forgotten: a page read anew asks afresh.
    for (auto it = known_.begin(); it != known_.end();) {
        if (held.contains(*it)) {
            ++it;
        } else {
            comments_.remove(*it);
            it = known_.erase(it);
        }
    }
    QList<qint64> unknown;
    for (const qint64 id : eventIds)
        if (!known_.contains(id))
            unknown << id;
    QHash<qint64, QList<Comment>> found;
    if (!unknown.isEmpty()) {
        const auto counts = CommentCounts(store, unknown, error);
        if (!counts)
            return std::nullopt;
        for (auto it = counts->cbegin(); it != counts->cend(); ++it) {
            const auto comments = EventComments(store, it.key(), error);
            if (!comments)
                return std::nullopt;
            found.insert(it.key(), *comments);
        }
    }
    // Only now is the reader's state changed: a failed look leaves it as it
    // was, to be asked again.
    for (const Comment& c : std::as_const(added)) {
        lastComment_ = std::max(lastComment_, c.id);
        if (!c.eventId || !known_.contains(*c.eventId))
            continue;
        QList<Comment>& on = comments_[*c.eventId];
        if (std::none_of(on.cbegin(), on.cend(), [&c](const Comment& o) { return o.id == c.id; }))
            on << c;
    }
    for (const qint64 id : std::as_const(unknown))
        known_.insert(id);
    for (auto it = found.cbegin(); it != found.cend(); ++it)
        comments_.insert(it.key(), it.value());
    notes.eventComments = comments_;
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
