#pragma once
// A block's decoded events as rows of the site journal: the module's own
// time and point texts beside the line the window shows.
#include "core/events/event_decoder.h"
#include "core/model/point_table.h"
#include "journal/journal_event.h"

#include <QDateTime>
#include <QList>
#include <QString>

namespace chronelcli {

struct JournalModuleInfo {
    QString address;
    QString name;              // the site file's, else the module's Module Name
    const chronel::PointTable* points = nullptr; // the module's point table; none before it was read
};

// The scan-flag bits of a row.
namespace scanflag {
constexpr int DaylightSaving = 1; // the record's DST flag was set
} // namespace scanflag

// "yyyy-MM-ddTHH:mm:ss.zzz" of the record's date and time fields, fixed width
// whatever they hold (an undated record reads 0000-00-00).
QString ModuleTimeText(const chronel::EventRecord& record);

QList<chronel::JournalEvent> BlockJournalRows(
    const QList<chronel::DecodedEvent>& events, const JournalModuleInfo& module, const QDateTime& receivedUtc);

} // namespace chronelcli
