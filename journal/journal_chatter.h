#pragma once
// Chatter in a journal (chatter.h): the episodes among the rows a filter
// selects, found over those rows and the changes up to T either side of
// them, so an episode that crosses the period's start or end is found as in
// a longer period; and the modules' own reports of chatter among the rows.
// The filter's --grep is not applied: a point chatters whatever its lines'
// texts, so every change of a selected module and point counts.
#include "chatter.h"
#include "journal_query.h"
#include "journal_store.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

namespace chronel {

struct JournalChatter {
    JournalTimeOrder order = JournalTimeOrder::ModuleTime;
    // The episodes with changes among the rows, by first change.
    QList<ChatterEpisode> episodes;
    // The rows that are a module's own report of chatter (Chatter On Scan,
    // Chatter Off Scan).
    QList<JournalEvent> reports;
    ChatterIndex index;

    // Whether `row`, one of the rows, is a change of an episode.
    bool chattering(const JournalEvent& row) const;
};

// Reads the changes around the rows `filter` selects, in `timeline`'s order
// (JournalTimelineOf(filter)).
std::optional<JournalChatter> ReadJournalChatter(const JournalStore& store, const JournalFilter& filter,
    const JournalTimeline& timeline, ChatterLimits limits, QString* error);

// A line of `journal --chatter`: an episode found, or a module's report.
struct ChatterListEntry {
    QString module;
    QString moduleName;
    int point = 0;
    // "chattering" for an episode found; the module's words for its report.
    QString kind;
    // The module times of its first and last change in the period (the
    // report's time twice), and their UTC times where they have them.
    QString start;
    QString end;
    QDateTime startUtc;
    QDateTime endUtc;
    // The episode's changes in the period; 0 for a report.
    int changes = 0;
    bool beganBefore = false;
    bool goesOnAfter = false;
};

// The episodes and reports in time order (their starts on the time line,
// then module and point).
QList<ChatterListEntry> ChatterList(const JournalChatter& chatter);

} // namespace chronel
