#include "journal_rows.h"

#include "journal/comtrade_export.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>

namespace chronel {

namespace {

constexpr int MaxPoint = 32;
constexpr int MaxCountDigits = 18;

// A text field: within its length, and without control characters, which no
// address, name, description or event line holds.
bool CheckText(const QString& field, const QString& text, int limit, QString* error)
{
    if (text.size() > limit) {
        *error = QStringLiteral("%1: longer than %2 characters").arg(field).arg(limit);
        return false;
    }
    for (const QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f) {
            *error = QStringLiteral("%1: holds a control character").arg(field);
            return false;
        }
    return true;
}

std::optional<int> ParsePoint(const QString& field, const QString& text, QString* error)
{
    const std::optional<qint64> n = ParseCount(text);
    if (!n || *n > MaxPoint) {
        *error = QStringLiteral("%1: a point is a number from 0 to %2").arg(field).arg(MaxPoint);
        return std::nullopt;
    }
    return int(*n);
}

} // namespace

bool OnlyKnownParameters(const Query& query, const QStringList& known, QString* error)
{
    for (auto it = query.constBegin(); it != query.constEnd(); ++it)
        if (!known.contains(it.key())) {
            QString name = it.key().left(40);
            for (QChar& c : name)
                if (c.unicode() < 0x20 || c.unicode() == 0x7f)
                    c = u'?';
            *error = QStringLiteral("%1: no such parameter here (%2 are)").arg(name, known.join(u", "));
            return false;
        }
    return true;
}

std::optional<qint64> ParseCount(const QString& text)
{
    if (text.isEmpty() || text.size() > MaxCountDigits)
        return std::nullopt;
    qint64 n = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        n = n * 10 + (c.unicode() - u'0');
    }
    return n;
}

bool ParseFilterQuery(const Query& query, JournalFilter* filter, QString* error)
{
    JournalFilter out;
    QString why;
    const QString from = query.value(QStringLiteral("from"));
    if (!CheckText(QStringLiteral("from"), from, MaxFilterTextLength, error))
        return false;
    if (!from.isEmpty() && !out.setFrom(from, &why)) {
        *error = QStringLiteral("from: %1").arg(why);
        return false;
    }
    const QString to = query.value(QStringLiteral("to"));
    if (!CheckText(QStringLiteral("to"), to, MaxFilterTextLength, error))
        return false;
    if (!to.isEmpty() && !out.setTo(to, &why)) {
        *error = QStringLiteral("to: %1").arg(why);
        return false;
    }
    out.module = query.value(QStringLiteral("module"));
    if (!CheckText(QStringLiteral("module"), out.module, MaxFilterTextLength, error))
        return false;
    if (const QString point = query.value(QStringLiteral("point")); !point.isEmpty()) {
        const std::optional<int> n = ParsePoint(QStringLiteral("point"), point, error);
        if (!n)
            return false;
        out.point = *n;
    }
    out.grep = query.value(QStringLiteral("grep"));
    if (!CheckText(QStringLiteral("grep"), out.grep, MaxFilterTextLength, error))
        return false;
    *filter = out;
    return true;
}

QString TimeOrderText(JournalTimeOrder order)
{
    return order == JournalTimeOrder::Utc ? QStringLiteral("utc") : QStringLiteral("module time");
}

QJsonObject RowJson(const JournalEvent& row, bool chattering, int comments, int maxClockOffsetMs)
{
    return QJsonObject{
        {QStringLiteral("id"), double(row.id)},
        {QStringLiteral("module"), row.module},
        {QStringLiteral("moduleName"), row.moduleName},
        {QStringLiteral("moduleTime"), row.moduleTime},
        {QStringLiteral("utcTime"), row.utcTime.isValid() ? JournalReceivedText(row.utcTime) : QString()},
        {QStringLiteral("zone"), row.zone},
        {QStringLiteral("point"), row.point},
        {QStringLiteral("pointDescription"), row.pointDescription},
        {QStringLiteral("stateText"), row.stateText},
        {QStringLiteral("text"), row.text},
        {QStringLiteral("marks"), row.marks},
        {QStringLiteral("clock"), ClockStateText(row)},
        {QStringLiteral("clockDoubt"), ClockDoubts(row, maxClockOffsetMs)},
        {QStringLiteral("chattering"), chattering},
        {QStringLiteral("comments"), comments},
    };
}

QByteArray RowJsonText(const JournalEvent& row, bool chattering, int comments, int maxClockOffsetMs)
{
    return QJsonDocument(RowJson(row, chattering, comments, maxClockOffsetMs)).toJson(QJsonDocument::Compact);
}

std::optional<qint64> JournalLastId(const JournalStore& store, QString* error)
{
    if (!store.isOpen()) {
        *error = QStringLiteral("the journal is not open");
        return std::nullopt;
    }
    QSqlQuery query(store.database());
    if (!query.exec(QStringLiteral("SELECT MAX(id) FROM journal_events")) || !query.next()) {
        *error = QStringLiteral("journal %1: %2").arg(store.location().displayName(), query.lastError().text());
        return std::nullopt;
    }
    return query.value(0).isNull() ? 0 : query.value(0).toLongLong();
}

bool ParseChartSeries(const Query& query, QList<ChartSeriesKey>* series, QString* error)
{
    QList<ChartSeriesKey> out;
    const QString list = query.value(QStringLiteral("series"));
    if (!list.isEmpty()) {
        if (query.contains(QStringLiteral("module")) || query.contains(QStringLiteral("point"))) {
            *error = QStringLiteral("series: give either series or module and point, not both");
            return false;
        }
        if (!CheckText(QStringLiteral("series"), list, MaxSeriesListLength, error))
            return false;
        for (const QString& item : list.split(u',')) {
            const qsizetype colon = item.lastIndexOf(u':');
            if (colon <= 0) {
                *error = QStringLiteral("series: \"%1\" is not MODULE:POINT").arg(item.left(MaxFilterTextLength));
                return false;
            }
            const std::optional<int> point = ParsePoint(QStringLiteral("series"), item.mid(colon + 1), error);
            if (!point)
                return false;
            const ChartSeriesKey key{item.left(colon), *point};
            if (!out.contains(key))
                out.push_back(key);
        }
    } else {
        const QString module = query.value(QStringLiteral("module"));
        const QString point = query.value(QStringLiteral("point"));
        if (module.isEmpty() || point.isEmpty()) {
            *error = QStringLiteral("series: give series=MODULE:POINT,... or module and point");
            return false;
        }
        if (!CheckText(QStringLiteral("module"), module, MaxFilterTextLength, error))
            return false;
        const std::optional<int> n = ParsePoint(QStringLiteral("point"), point, error);
        if (!n)
            return false;
        out.push_back({module, *n});
    }
    if (out.size() > MaxChartSeries) {
        *error = QStringLiteral("series: at most %1 points in one chart").arg(MaxChartSeries);
        return false;
    }
    *series = out;
    return true;
}

std::optional<QJsonObject> ChartJson(
    const JournalStore& store, const JournalFilter& period, const QList<ChartSeriesKey>& series, QString* error)
{
    struct Series {
        QList<JournalEvent> changes;
        bool truncated = false;
    };
    QList<Series> read(series.size());
    QList<JournalEvent> all;
    for (qsizetype i = 0; i < series.size(); ++i) {
        JournalFilter filter = period;
        filter.module = series[i].module;
        filter.point = series[i].point;
        filter.grep.clear();
        Series& s = read[i];
        const bool ok = ForEachJournalRow(
            store, filter,
            [&s](const JournalEvent& e) {
                if (!PointStateOfLine(e.text))
                    return true;
                if (s.changes.size() == MaxSeriesChanges) {
                    s.truncated = true;
                    return false;
                }
                s.changes.push_back(e);
                return true;
            },
            error);
        if (!ok)
            return std::nullopt;
        all += s.changes;
    }
    // One time line for every series, so that changes of modules in
    // different zones line up.
    const JournalTimeOrder order = TimeOrderOf(all);
    QJsonArray out;
    for (qsizetype i = 0; i < series.size(); ++i) {
        QList<JournalEvent>& changes = read[i].changes;
        std::stable_sort(changes.begin(), changes.end(),
            [order](const JournalEvent& a, const JournalEvent& b) { return EarlierOnTimeLine(a, b, order); });
        QString description;
        QJsonArray points;
        for (const JournalEvent& e : changes) {
            const std::optional<qint64> t = TimeLineMs(e, order);
            if (!t)
                continue;
            if (!e.pointDescription.isEmpty())
                description = e.pointDescription;
            points.append(QJsonObject{
                {QStringLiteral("t"), double(*t)}, {QStringLiteral("state"), PointStateOfLine(e.text).value_or(0)}});
        }
        out.append(QJsonObject{
            {QStringLiteral("module"), series[i].module},
            {QStringLiteral("point"), series[i].point},
            {QStringLiteral("description"), description},
            {QStringLiteral("changes"), points},
            {QStringLiteral("truncated"), read[i].truncated},
        });
    }
    return QJsonObject{{QStringLiteral("series"), out}, {QStringLiteral("order"), TimeOrderText(order)}};
}

} // namespace chronel
