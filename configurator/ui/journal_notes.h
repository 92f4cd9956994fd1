#pragma once
// What engineers recorded about a journal in the web view, as the Site
// Journal window shows it: the incidents with their comment counts, and the
// comments on the rows the window holds. The window only reads them; they
// are written in the web view, where a logged-in person answers for them.
//
// A journal written before incidents were kept (schema 5 and earlier) has
// none: it reads as holding nothing, not as an error, since a read-only
// store reads such a journal as it is and never migrates it. Once a writer
// (the web view's first start, a collector of this version) has migrated
// it, the same store finds them.
//
// No widgets: read on the window's thread through its store, and tested
// without a display.
#include "journal/journal_incidents.h"
#include "journal/journal_query.h"
#include "journal/journal_store.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <optional>

namespace chronel {

struct JournalNotes {
    // Whether the journal keeps incidents and comments at all.
    bool kept = false;
    // Newest first, each with its comment count.
    QList<Incident> incidents;
    // The comments on those of the rows asked for that have any, oldest
    // first.
    QHash<qint64, QList<Comment>> eventComments;
};

// Reads them look after look, asking the journal each time only what may
// have changed, so that following a page of 20 000 rows stays cheap: the
// incidents (a few rows, their comment counts with them), the comments
// added since the last look (comments are only ever added), and the
// comments of rows it has not seen before.
class JournalNotesReader {
public:
    // The notes of the journal and the comments on the rows `eventIds` (the
    // rows held now); nothing with `*error` when the journal cannot be read.
    std::optional<JournalNotes> read(const JournalStore& store, const QList<qint64>& eventIds, QString* error);
    // Forgets what was read (the journal was opened again).
    void reset();

private:
    // The last comment read; -1 before the first look.
    qint64 lastComment_ = -1;
    // The rows whose comments are known, and those of them that have any.
    QSet<qint64> known_;
    QHash<qint64, QList<Comment>> comments_;
};

// The window's filter for an incident: its period and its modules.
JournalFilter IncidentFilter(const Incident& incident);

// A stored time ("yyyy-MM-ddTHH:mm:ss.zzzZ", UTC) as a person reads it:
// "2026-12-07 14:05:12 UTC"; a module time with a space for its T; any
// other text as it is.
QString NoteTimeText(const QString& stored);
// An incident's period: "2024-03-01 13:00:00.000 to 14:00:00.000" (the
// date once when both ends share it), "from …", "until …" or "whole
// journal" for open ends.
QString IncidentPeriodText(const Incident& incident);
// Its modules, or "all modules" when it names none.
QString IncidentModulesText(const Incident& incident);

// The comments as rich text for a tooltip or a panel, every text the web
// view took from a person escaped: a comment is shown, never run as markup.
// At most `limit` characters of each comment's text (−1: all).
QString CommentsHtml(const QList<Comment>& comments, int limit = -1);
// An incident, its comment and its comments as rich text, escaped alike.
QString IncidentHtml(const Incident& incident, const QList<Comment>& comments);

} // namespace chronel
