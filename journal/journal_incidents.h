#pragma once
// Incidents and comments kept in the journal beside the events: an incident
// names a period and the modules it concerns (an engineer's "the trip of
// 14:02"), with a comment; a comment belongs to one incident or to one event
// row. Each addition commits with its audit row (journal_audit.h).
//
// An incident's period is given as the journal table's filter keeps its
// bounds (JournalFilter): both module times "yyyy-MM-ddTHH:mm:ss.zzz" or
// both UTC times "yyyy-MM-ddTHH:mm:ss.zzzZ", from before to. Its modules
// are addresses or names, none meaning every module.
//
// Text limits, in characters: a title 1 to 200 on one line, an incident's
// comment up to 4000, a comment's text 1 to 4000; beyond them, or holding
// control characters other than line breaks and tabs, a text is refused.
#include "journal_audit.h"
#include "journal_store.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace chronel {

constexpr int MaxIncidentTitle = 200;
constexpr int MaxCommentText = 4000;

struct Incident {
    qint64 id = 0;
    QString title;
    QString fromTime;
    QString toTime;
    QStringList modules;
    QString comment;
    // The author, the acting user when empty; the time it was added (UTC,
    // set by the store).
    QString author;
    QString created;
    // Read: the comments on it.
    int comments = 0;

    friend bool operator==(const Incident&, const Incident&) = default;
};

struct Comment {
    qint64 id = 0;
    // Exactly one is set.
    std::optional<qint64> incidentId;
    std::optional<qint64> eventId;
    QString author; // the acting user when empty
    QString text;
    QString created;

    friend bool operator==(const Comment&, const Comment&) = default;
};

// The new incident's id; nothing with `*error` saying why (a text too long, a
// period not in the stored form) when refused or not stored.
std::optional<qint64> AddIncident(
    JournalStore& store, const Incident& incident, const AuditContext& context, QString* error);
// Every incident, newest first.
std::optional<QList<Incident>> Incidents(const JournalStore& store, QString* error);
std::optional<std::optional<Incident>> FindIncident(const JournalStore& store, qint64 id, QString* error);

// The new comment's id; refused when the incident or event row it is on
// does not exist.
std::optional<qint64> AddComment(
    JournalStore& store, const Comment& comment, const AuditContext& context, QString* error);
// The comments on an incident or on an event row, oldest first.
std::optional<QList<Comment>> IncidentComments(const JournalStore& store, qint64 incidentId, QString* error);
std::optional<QList<Comment>> EventComments(const JournalStore& store, qint64 eventId, QString* error);
// For a reader that follows the comments as they are added (they are never
// changed or removed): the id of the last comment (0: none yet), and the
// comments after comment `afterId`, oldest first.
std::optional<qint64> LastCommentId(const JournalStore& store, QString* error);
std::optional<QList<Comment>> CommentsAfter(const JournalStore& store, qint64 afterId, QString* error);
// How many comments each of `eventIds` has; rows without one are absent.
std::optional<QHash<qint64, int>> CommentCounts(
    const JournalStore& store, const QList<qint64>& eventIds, QString* error);

} // namespace chronel
