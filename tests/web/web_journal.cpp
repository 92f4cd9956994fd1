#include "web_journal.h"

#include "journal/journal_location.h"

namespace chronel::test {

JournalEvent PointChange(
    const QString& module, const QString& moduleTime, int point, bool on, const QString& utc, const QString& zone)
{
    JournalEvent e;
    e.module = module;
    e.moduleName = QStringLiteral("Feeder %1").arg(module.section(u'.', -1));
    e.moduleTime = moduleTime;
    e.dateSource = QStringLiteral("record");
    e.point = point;
    e.pointDescription = QStringLiteral("52-%1 breaker").arg(point);
    e.stateText = on ? QStringLiteral("Closed") : QStringLiteral("Open");
    e.text = QStringLiteral("%1  Input Point %2  %3").arg(moduleTime).arg(point, 2).arg(on ? "On" : "Off");
    e.received = QDateTime(QDate(2026, 3, 1), QTime(14, 0), Qt::UTC);
    e.raw = (module + moduleTime).toLatin1();
    if (!utc.isEmpty())
        e.utcTime = QDateTime::fromString(utc, Qt::ISODateWithMs);
    e.zone = zone;
    e.clockSource = 1;
    e.clockQuality = 0;
    e.clockOffsetMs = 400;
    return e;
}

bool WebJournal::create(QString* error)
{
    if (!dir_.isValid()) {
        *error = QStringLiteral("no temporary folder");
        return false;
    }
    const auto location = ParseJournalLocation(dir_.filePath(QStringLiteral("journal.sqlite")), error);
    if (!location)
        return false;
    location_ = *location;
    return writer_.open(location_, error);
}

bool WebJournal::add(QList<JournalEvent> rows, QString* error)
{
    if (rows.isEmpty())
        return true;
    JournalModuleState state;
    state.module = rows.front().module;
    for (int i = 0; i < rows.size(); ++i)
        rows[i].record = i;
    return writer_.appendBlock(rows, state, error);
}

} // namespace chronel::test
