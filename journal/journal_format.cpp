#include "journal_format.h"

#include "clock_state.h"
#include "journal_columns.h"

#include "platform/printable_text.h"

#include <QFileDevice>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <algorithm>

namespace chronel {

namespace {

// A spreadsheet takes a field that starts with one of these for a formula
// (a tab or CR before one counts too); a leading apostrophe makes it text.
// Numbers, negative ones included, are left as they are.
QString FormulaGuarded(const QString& field)
{
    static const QString starts = QStringLiteral("=+-@\t\r");
    if (field.isEmpty() || !starts.contains(field.front()))
        return field;
    bool number = false;
    field.toDouble(&number);
    return number ? field : u'\'' + field;
}

QString CsvField(const QString& text)
{
    static const QString special = QStringLiteral(",\"\r\n");
    const QString field = FormulaGuarded(platform::PrintableText(text, platform::ControlsKept::LineLayout));
    if (std::none_of(field.begin(), field.end(), [](QChar c) { return special.contains(c); }))
        return field;
    QString quoted = field;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

// A line of the text format: one line, whatever the module's texts hold.
QString TextField(const QString& text) { return platform::PrintableText(text); }

// QJsonDocument escapes C0 controls but writes DEL and C1 controls as they
// are; they can only stand inside strings, so \u escapes are exact there.
QByteArray WithoutRawControls(const QByteArray& json)
{
    QByteArray out;
    out.reserve(json.size());
    for (qsizetype i = 0; i < json.size(); ++i) {
        const auto c = static_cast<unsigned char>(json[i]);
        const auto next = i + 1 < json.size() ? static_cast<unsigned char>(json[i + 1]) : 0;
        if (c == 0x7f) {
            out += "\\u007f";
        } else if (c == 0xc2 && next >= 0x80 && next <= 0x9f) {
            out += "\\u00" + QByteArray::number(next, 16);
            ++i;
        } else {
            out += char(c);
        }
    }
    return out;
}

// After the stored columns: what the row's clock state says against it.
constexpr char ClockMarksKey[] = "clock_marks";

QByteArray CsvLine(const JournalEvent& event, int maxClockOffsetMs)
{
    QStringList fields;
    for (const JournalColumn& column : JournalColumns)
        if (column.flags & columnflag::InCsv)
            fields << CsvField(column.text(event));
    fields << CsvField(ClockDoubts(event, maxClockOffsetMs));
    return fields.join(u',').toUtf8() + "\r\n";
}

QByteArray JsonLine(const JournalEvent& event, int maxClockOffsetMs)
{
    QJsonObject object;
    for (const JournalColumn& column : JournalColumns)
        object.insert(QLatin1StringView(column.key), column.json(event));
    object.insert(QLatin1StringView(ClockMarksKey), ClockDoubts(event, maxClockOffsetMs));
    return WithoutRawControls(QJsonDocument(object).toJson(QJsonDocument::Compact)) + '\n';
}

} // namespace

QString JournalCsvHeader()
{
    QStringList keys;
    for (const JournalColumn& column : JournalColumns)
        if (column.flags & columnflag::InCsv)
            keys << QString::fromLatin1(column.key);
    keys << QString::fromLatin1(ClockMarksKey);
    return keys.join(u',');
}

std::optional<JournalFormat> ParseJournalFormat(const QString& name, QString* error)
{
    if (name == u"text")
        return JournalFormat::Text;
    if (name == u"csv")
        return JournalFormat::Csv;
    if (name == u"jsonl")
        return JournalFormat::Jsonl;
    *error = QStringLiteral("\"%1\" is not a format (text, csv or jsonl)").arg(name);
    return std::nullopt;
}

bool JournalWriter::put(const QByteArray& bytes, QString* error)
{
    if (device_->write(bytes) == bytes.size())
        return true;
    const auto* file = qobject_cast<QFileDevice*>(device_);
    *error = QStringLiteral("cannot write %1: %2")
                 .arg(file && !file->fileName().isEmpty() ? file->fileName() : QStringLiteral("the journal's output"),
                     device_->errorString());
    return false;
}

bool JournalWriter::begin(QString* error)
{
    if (format_ != JournalFormat::Csv)
        return true;
    return put(JournalCsvHeader().toUtf8() + "\r\n", error);
}

bool JournalWriter::write(const JournalEvent& event, QString* error)
{
    switch (format_) {
    case JournalFormat::Text: {
        QString line = TextField(event.moduleName.isEmpty() ? event.module : event.moduleName) + QStringLiteral("  ") +
            TextField(event.text);
        QStringList marks;
        if (!event.marks.isEmpty())
            marks << event.marks;
        if (const QString doubts = ClockDoubts(event, maxClockOffsetMs_); !doubts.isEmpty())
            marks << doubts;
        if (!marks.isEmpty())
            line += QStringLiteral("  [%1]").arg(marks.join(QStringLiteral(", ")));
        return put(line.toUtf8() + '\n', error);
    }
    case JournalFormat::Csv: return put(CsvLine(event, maxClockOffsetMs_), error);
    case JournalFormat::Jsonl: return put(JsonLine(event, maxClockOffsetMs_), error);
    }
    return false;
}

} // namespace chronel
