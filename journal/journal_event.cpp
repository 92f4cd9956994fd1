#include "journal_event.h"

namespace chronel {

QString JournalTimeText(const QDateTime& time)
{
    return QStringLiteral("%1T%2").arg(
        time.date().toString(Qt::ISODate), time.time().toString(QStringLiteral("HH:mm:ss.zzz")));
}

QString JournalReceivedText(const QDateTime& received)
{
    return received.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) + u'Z';
}

} // namespace chronel
