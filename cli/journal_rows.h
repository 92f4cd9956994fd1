#pragma once
// A block's decoded events as rows of the site journal: the module's own
// time and point texts beside the line the window shows.
#include "core/events/event_decoder.h"
#include "core/model/point_table.h"
#include "journal/journal_event.h"
#include "journal/module_zone.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

namespace chronelcli {

struct JournalModuleInfo {
    QString address;
    QString name;                                // the site file's, else the module's Module Name
    const chronel::PointTable* points = nullptr; // the module's point table; none before it was read
    std::optional<int> moduleId;                 // word 0 of the block
    const chronel::ModuleZone* zone = nullptr;   // the zone its clock runs on; none when not declared
    // The module's clock at the block's read (status words 1, 22 and 23 and
    // its offset from this computer's UTC clock); none before it was read.
    std::optional<int> clockSource;
    std::optional<int> clockQuality;
    std::optional<int> clockOffsetMs;
    std::optional<bool> clockDst;
};

// The scan-flag bits of a row.
namespace scanflag {
constexpr int DaylightSaving = 1; // the record's DST flag was set
} // namespace scanflag

// "yyyy-MM-ddTHH:mm:ss.zzz" of a module time.
QString ModuleTimeText(const QDateTime& moduleTime);

// The events' rows, each numbered by its record in the block. Where the
// module's zone is declared, each dated row gets its UTC time; a time the
// zone repeats (and no daylight-saving flag resolves) or skips gets none and
// a mark that says so.
QList<chronel::JournalEvent> BlockJournalRows(
    const QList<chronel::DecodedEvent>& events, const JournalModuleInfo& module, const QDateTime& receivedUtc);

// The words of a row's marks ("malformed, no line").
QString MarksText(chronel::EventMarks marks);

} // namespace chronelcli
