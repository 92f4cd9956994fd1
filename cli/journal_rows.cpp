#include "journal_rows.h"

#include "core/events/event_record.h"

#include <QStringList>

namespace chronelcli {

namespace {

bool IsPointEvent(int kind)
{
    return kind == chronel::eventkind::InputPoint || kind == chronel::eventkind::OutputPoint;
}

QString DateSourceText(chronel::EventDateSource source)
{
    switch (source) {
    case chronel::EventDateSource::Record: return QStringLiteral("record");
    case chronel::EventDateSource::DateRecord: return QStringLiteral("date record");
    case chronel::EventDateSource::ModuleClock: return QStringLiteral("module clock");
    case chronel::EventDateSource::None: break;
    }
    return QStringLiteral("none");
}

} // namespace

QString ModuleTimeText(const QDateTime& moduleTime)
{
    return moduleTime.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"));
}

QString MarksText(chronel::EventMarks marks)
{
    QStringList words;
    if (marks.testFlag(chronel::EventMark::Malformed))
        words << QStringLiteral("malformed");
    if (marks.testFlag(chronel::EventMark::NoLine))
        words << QStringLiteral("no line");
    if (marks.testFlag(chronel::EventMark::Undated))
        words << QStringLiteral("undated");
    return words.join(QStringLiteral(", "));
}

QList<chronel::JournalEvent> BlockJournalRows(
    const QList<chronel::DecodedEvent>& events, const JournalModuleInfo& module, const QDateTime& receivedUtc)
{
    QList<chronel::JournalEvent> rows;
    for (const chronel::DecodedEvent& e : events) {
        chronel::JournalEvent row;
        row.module = module.address;
        row.moduleName = module.name;
        row.moduleId = module.moduleId;
        row.record = e.recordIndex;
        row.received = receivedUtc;
        row.text = e.marks.testFlag(chronel::EventMark::NoLine)
            ? QStringLiteral("  Event kind %1, which has no text").arg(e.shown.kind)
            : e.line;
        row.raw = e.raw;
        row.moduleTime = e.moduleTime.isValid() ? ModuleTimeText(e.moduleTime) : QString();
        row.dateSource = DateSourceText(e.dateSource);
        row.marks = MarksText(e.marks);
        row.quality = e.shown.timeSource;
        row.scanFlags = e.shown.dstFlag == 1 ? scanflag::DaylightSaving : 0;
        row.clockSource = module.clockSource;
        row.clockQuality = module.clockQuality;
        row.clockOffsetMs = module.clockOffsetMs;
        if (module.zone) {
            row.zone = module.zone->text();
            if (e.moduleTime.isValid()) {
                // A record's own time carries the record's daylight-saving
                // flag; a time of the module's clock, the clock's.
                const chronel::ZonedTime zoned = module.zone->toUtc(e.moduleTime, e.dst ? e.dst : module.clockDst);
                row.utcTime = zoned.utc;
                if (const QString fit = chronel::ZoneFitText(zoned.fit); !fit.isEmpty())
                    row.marks = row.marks.isEmpty() ? fit : row.marks + QStringLiteral(", ") + fit;
            }
        }
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
