#include "journal_csv.h"

#include "journal_table_model.h"

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
    QStringList names;
    for (const JournalColumn* column : JournalTableModel::columns())
        names << QString::fromLatin1(column->exportName ? column->exportName : column->key);
    return names.join(u',').toUtf8() + "\r\n";
}

QByteArray JournalCsvLine(const JournalEvent& event)
{
    QStringList written;
    for (const JournalColumn* column : JournalTableModel::columns())
        written << JournalCsvField(JournalTableModel::exportedText(*column, event));
    return written.join(u',').toUtf8() + "\r\n";
}

} // namespace chronel
