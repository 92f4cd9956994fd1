#include "journal_format.h"

#include "clock_state.h"
#include "journal_columns.h"

#include "platform/printable_text.h"

#include <QFileDevice>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <algorithm>
#include <iterator>

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

bool Put(QIODevice* device, const QByteArray& bytes, QString* error)
{
    if (device->write(bytes) == bytes.size())
        return true;
    const auto* file = qobject_cast<QFileDevice*>(device);
    *error = QStringLiteral("cannot write %1: %2")
                 .arg(file && !file->fileName().isEmpty() ? file->fileName() : QStringLiteral("the journal's output"),
                     device->errorString());
    return false;
}

QByteArray HeadingLine(const QString& heading) { return QStringLiteral("# %1\n").arg(TextField(heading)).toUtf8(); }

QString UtcText(const QDateTime& utc) { return utc.isValid() ? JournalReceivedText(utc) : QString(); }

QString ChatterNote(const ChatterListEntry& entry)
{
    if (entry.kind != QLatin1StringView(ChatteringMark))
        return QStringLiteral("reported by the module: ") + entry.kind;
    if (entry.beganBefore && entry.goesOnAfter)
        return QStringLiteral("began before the period and goes on after it");
    if (entry.beganBefore)
        return QStringLiteral("began before the period");
    if (entry.goesOnAfter)
        return QStringLiteral("goes on after the period");
    return {};
}

QByteArray ChatterTable(const QString& heading, const QList<ChatterListEntry>& entries)
{
    QByteArray out = HeadingLine(heading);
    if (entries.isEmpty())
        return out + "No point chattered.\n";
    const auto time = [](const QString& moduleTime) { return TextField(moduleTime).replace(u'T', u' '); };
    QList<QStringList> table{{QStringLiteral("Module"), QStringLiteral("Name"), QStringLiteral("Point"),
        QStringLiteral("Start"), QStringLiteral("End"), QStringLiteral("Changes"), QStringLiteral("Note")}};
    for (const ChatterListEntry& e : entries) {
        const bool report = e.kind != QLatin1StringView(ChatteringMark);
        table << QStringList{TextField(e.module), TextField(e.moduleName), QString::number(e.point), time(e.start),
            time(e.end), report ? QStringLiteral("-") : QString::number(e.changes), ChatterNote(e)};
    }
    QList<qsizetype> widths(table.front().size(), 0);
    for (const QStringList& row : std::as_const(table))
        for (qsizetype c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], row[c].size());
    for (const QStringList& row : std::as_const(table)) {
        QString line;
        for (qsizetype c = 0; c < row.size(); ++c)
            line += c + 1 < row.size() ? row[c].leftJustified(widths[c] + 2) : row[c];
        out += line.trimmed().toUtf8() + '\n';
    }
    return out;
}

constexpr const char* ChatterKeys[] = {"module", "name", "point", "kind", "start", "end", "start_utc", "end_utc",
    "changes", "began_before", "goes_on_after"};

QByteArray ChatterCsvLine(const ChatterListEntry& e)
{
    const bool report = e.kind != QLatin1StringView(ChatteringMark);
    const QStringList fields{CsvField(e.module), CsvField(e.moduleName), QString::number(e.point), CsvField(e.kind),
        CsvField(e.start), CsvField(e.end), UtcText(e.startUtc), UtcText(e.endUtc),
        report ? QString() : QString::number(e.changes), QString::number(int(e.beganBefore)),
        QString::number(int(e.goesOnAfter))};
    return fields.join(u',').toUtf8() + "\r\n";
}

QByteArray ChatterJsonLine(const ChatterListEntry& e)
{
    const bool report = e.kind != QLatin1StringView(ChatteringMark);
    const QJsonValue values[] = {e.module, e.moduleName, e.point, e.kind, e.start, e.end, UtcText(e.startUtc),
        UtcText(e.endUtc), report ? QJsonValue(QJsonValue::Null) : QJsonValue(e.changes), e.beganBefore, e.goesOnAfter};
    static_assert(std::size(values) == std::size(ChatterKeys));
    QJsonObject object;
    for (std::size_t i = 0; i < std::size(values); ++i)
        object.insert(QLatin1StringView(ChatterKeys[i]), values[i]);
    return WithoutRawControls(QJsonDocument(object).toJson(QJsonDocument::Compact)) + '\n';
}

} // namespace

bool WriteChatterList(QIODevice* device, JournalFormat format, const QString& heading,
    const QList<ChatterListEntry>& entries, QString* error)
{
    QByteArray out;
    switch (format) {
    case JournalFormat::Text: out = ChatterTable(heading, entries); break;
    case JournalFormat::Csv: {
        QStringList keys;
        for (const char* key : ChatterKeys)
            keys << QString::fromLatin1(key);
        out = keys.join(u',').toUtf8() + "\r\n";
        for (const ChatterListEntry& e : entries)
            out += ChatterCsvLine(e);
        break;
    }
    case JournalFormat::Jsonl:
        for (const ChatterListEntry& e : entries)
            out += ChatterJsonLine(e);
        break;
    }
    return Put(device, out, error);
}

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

bool JournalWriter::put(const QByteArray& bytes, QString* error) { return Put(device_, bytes, error); }

bool JournalWriter::begin(QString* error)
{
    switch (format_) {
    case JournalFormat::Text: return heading_.isEmpty() || put(HeadingLine(heading_), error);
    case JournalFormat::Csv: return put(JournalCsvHeader().toUtf8() + "\r\n", error);
    case JournalFormat::Jsonl: break;
    }
    return true;
}

bool JournalWriter::write(const JournalEvent& stored, QString* error, bool chattering)
{
    // Chatter is found as the journal is read; it goes out beside the
    // record's own marks.
    std::optional<JournalEvent> marked;
    if (chattering) {
        marked = stored;
        marked->marks = WithChatteringMark(stored.marks);
    }
    const JournalEvent& event = marked ? *marked : stored;
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
