#include "journal_rows.h"

#include "core/events/event_record.h"

namespace chronelcli {

namespace {

bool IsPointEvent(int kind) { return kind == chronel::eventkind::InputPoint || kind == chronel::eventkind::OutputPoint; }

QString DateSource(const chronel::DecodedEvent& event)
{
    if (event.datedByRecord)
        return QStringLiteral("record");
    if (event.shown.year == 0 && event.shown.month == 0 && event.shown.day == 0)
        return QStringLiteral("none");
    return QStringLiteral("date record");
}

} // namespace

QString ModuleTimeText(const chronel::EventRecord& r)
{
    return QString::asprintf("%04d-%02d-%02dT%02d:%02d:%02d.%03d", r.year % 10000, r.month % 100, r.day % 100,
        r.hour % 100, r.minute % 100, r.second % 100, r.millisecond % 1000);
}

QList<chronel::JournalEvent> BlockJournalRows(
    const QList<chronel::DecodedEvent>& events, const JournalModuleInfo& module, const QDateTime& receivedUtc)
{
    QList<chronel::JournalEvent> rows;
    for (const chronel::DecodedEvent& e : events) {
        chronel::JournalEvent row;
        row.module = module.address;
        row.moduleName = module.name;
        row.received = receivedUtc;
        row.text = e.line;
        row.raw = e.raw;
        if (e.raw.isEmpty() || (!e.datedByRecord && e.shown.kind == 0)) {
            // A text block carries no time: the collector's clock stands in.
            row.moduleTime = receivedUtc.toLocalTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"));
            row.dateSource = QStringLiteral("received");
        } else {
            row.moduleTime = ModuleTimeText(e.shown);
            row.dateSource = DateSource(e);
        }
        row.quality = e.shown.timeSource;
        row.scanFlags = e.shown.dstFlag == 1 ? scanflag::DaylightSaving : 0;
        if (IsPointEvent(e.shown.kind) && e.shown.point >= 1 && e.shown.point <= chronel::PointCount) {
            row.point = e.shown.point;
            if (module.points) {
                const chronel::PointSettings& p = (*module.points)[std::size_t(e.shown.point - 1)];
                row.pointDescription = p.SsPcDescription;
                row.stateText = e.shown.state != 0 ? p.SsPcOn : p.SsPcOff;
            }
        }
        rows << row;
    }
    return rows;
}

} // namespace chronelcli
