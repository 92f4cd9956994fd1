#include "journal_csv.h"

#include <QStringList>

#include <algorithm>

namespace chronel {

QString JournalCsvField(const QString& field)
{
    static const QString formula = QStringLiteral("=+-@\t\r");
    static const QString special = QStringLiteral(",\"\r\n");
    QString text = !field.isEmpty() && formula.contains(field.front()) ? u'\'' + field : field;
    if (std::none_of(text.begin(), text.end(), [](QChar c) { return special.contains(c); }))
        return text;
    text.replace(u'"', QStringLiteral("\"\""));
    return u'"' + text + u'"';
}

QByteArray JournalCsvHeaderLine()
{
    return QByteArrayLiteral("module,name,module_time,point,description,state,text,quality,received\r\n");
}

QByteArray JournalCsvLine(const JournalEvent& event)
{
    const QStringList fields{event.module, event.moduleName, event.moduleTime,
        event.point == 0 ? QString() : QString::number(event.point), event.pointDescription, event.stateText,
        event.text, QString::number(event.quality), JournalReceivedText(event.received)};
    QStringList written;
    for (const QString& field : fields)
        written << JournalCsvField(field);
    return written.join(u',').toUtf8() + "\r\n";
}

} // namespace chronel
