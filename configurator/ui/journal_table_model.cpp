#include "journal_table_model.h"

#include "journal_notes.h"

#include "journal/chatter.h"
#include "journal/clock_state.h"
#include "journal/journal_order.h"

#include <QColor>
#include <QStringList>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <tuple>
#include <type_traits>
#include <variant>

namespace chronel {

namespace {

// Above this many new rows at once, sorting them all in costs less than
// placing each.
constexpr int InsertOneByOne = 256;

// Doubtful clocks in a dark red that reads on a light and a selected row.
const QColor DoubtColour(0xb0, 0x1e, 0x00);

// Characters of a comment's text in a row's tooltip; the whole is in the
// web view.
constexpr int TooltipCommentChars = 500;

// A clock's order: unknown first, then by source (the internal clock first),
// quality from good to bad, and the offset's size.
auto ClockKey(const JournalEvent& e)
{
    const auto masked = [](const std::optional<int>& value, int mask) {
        return value ? std::optional<int>(*value & mask) : std::nullopt;
    };
    const auto magnitude = e.clockOffsetMs ? std::optional<qint64>(std::abs(qint64(*e.clockOffsetMs))) : std::nullopt;
    return std::tuple(
        masked(e.clockSource, ClockSourceMask), masked(e.clockQuality, ClockQualityMask), magnitude, e.clockSource);
}

// -1, 0 or 1 as `a` sorts before, with or after `b` in `column`.
int Compare(const JournalEvent& a, const JournalEvent& b, const JournalColumn& column)
{
    if (column.flags & columnflag::ClockWords) {
        const auto x = ClockKey(a);
        const auto y = ClockKey(b);
        return x < y ? -1 : y < x ? 1 : 0;
    }
    return std::visit(
        [&](auto member) {
            const auto& x = a.*member;
            const auto& y = b.*member;
            if constexpr (std::is_same_v<std::remove_cvref_t<decltype(x)>, QString>) {
                if (!(column.flags & columnflag::SortedAsRead))
                    return x.localeAwareCompare(y);
            }
            return x < y ? -1 : y < x ? 1 : 0;
        },
        column.field);
}

bool IsNumber(const JournalColumn& column)
{
    if (column.flags & columnflag::ClockWords)
        return false;
    return std::visit(
        [](auto member) {
            using T = std::remove_cvref_t<decltype(JournalEvent().*member)>;
            return std::is_same_v<T, int> || std::is_same_v<T, qint64> || std::is_same_v<T, std::optional<int>>;
        },
        column.field);
}

} // namespace

JournalTableModel::JournalTableModel(int maxRows, QObject* parent)
    : QAbstractTableModel(parent), maxRows_(std::max(maxRows, 1))
{
}

bool JournalTableModel::earlier(const JournalEvent& a, const JournalEvent& b) const
{
    return EarlierOnTimeLine(a, b, timeOrder_);
}

bool JournalTableModel::before(const JournalEvent& a, const JournalEvent& b) const
{
    // The time column sorts on the journal's time line: UTC when every row
    // held has a UTC time (modules in several zones, a fall-back hour).
    if (sortColumn_ == ModuleTime)
        return sortOrder_ == Qt::AscendingOrder ? earlier(a, b) : earlier(b, a);
    // Ties fall back on the journal's order in either direction, so rows of
    // equal keys read as a sequence and an added row has one place.
    const int c = Compare(a, b, *columns().at(sortColumn_));
    if (c == 0)
        return earlier(a, b);
    return sortOrder_ == Qt::AscendingOrder ? c < 0 : c > 0;
}

void JournalTableModel::setRows(QList<JournalEvent> rows)
{
    beginResetModel();
    rows_ = std::move(rows);
    ids_.clear();
    for (const JournalEvent& event : std::as_const(rows_))
        ids_.insert(event.id);
    dropped_ = false;
    timeOrder_ = TimeOrderOf(rows_);
    std::stable_sort(rows_.begin(), rows_.end(), [this](const auto& a, const auto& b) { return before(a, b); });
    endResetModel();
    trim();
    findChatter();
}

int JournalTableModel::addRows(const QList<JournalEvent>& rows)
{
    QList<JournalEvent> fresh;
    for (const JournalEvent& event : rows) {
        if (!ids_.contains(event.id)) {
            ids_.insert(event.id);
            fresh.append(event);
        }
    }
    // A row without a UTC time puts every row back on module time.
    const bool leavesUtc = timeOrder_ == JournalTimeOrder::Utc &&
        std::any_of(fresh.begin(), fresh.end(), [](const JournalEvent& e) { return !e.utcTime.isValid(); });
    if (timeOrder_ == JournalTimeOrder::ModuleTime && rows_.isEmpty() && !fresh.isEmpty())
        timeOrder_ = TimeOrderOf(fresh);
    if (leavesUtc)
        timeOrder_ = JournalTimeOrder::ModuleTime;
    if (fresh.size() > InsertOneByOne || leavesUtc) {
        beginResetModel();
        rows_.append(fresh);
        std::stable_sort(rows_.begin(), rows_.end(), [this](const auto& a, const auto& b) { return before(a, b); });
        endResetModel();
    } else {
        for (const JournalEvent& event : std::as_const(fresh)) {
            const auto at = std::upper_bound(
                rows_.begin(), rows_.end(), event, [this](const auto& a, const auto& b) { return before(a, b); });
            const int row = int(at - rows_.begin());
            beginInsertRows({}, row, row);
            rows_.insert(row, event);
            endInsertRows();
        }
    }
    trim();
    if (!fresh.isEmpty())
        findChatter();
    return int(fresh.size());
}

void JournalTableModel::setComments(QHash<qint64, QList<Comment>> comments)
{
    QList<int> changed;
    for (int row = 0; row < rows_.size(); ++row) {
        const qint64 id = rows_[row].id;
        if (comments_.value(id) != comments.value(id))
            changed << row;
    }
    comments_ = std::move(comments);
    for (const int row : std::as_const(changed))
        emit dataChanged(index(row, Text), index(row, Text), {Qt::DisplayRole, Qt::ToolTipRole, Qt::DecorationRole});
}

void JournalTableModel::findChatter()
{
    // A row that arrives can make the rows before it an episode.
    QSet<qint64> found = ChatteringIds(rows_);
    if (found == chattering_)
        return;
    chattering_ = std::move(found);
    if (!rows_.isEmpty())
        emit dataChanged(index(0, Text), index(int(rows_.size()) - 1, Text), {Qt::DisplayRole, Qt::ToolTipRole});
}

void JournalTableModel::trim()
{
    const int excess = int(rows_.size()) - maxRows_;
    if (excess <= 0)
        return;
    dropped_ = true;
    const auto forget = [this](auto first, auto last) {
        for (auto it = first; it != last; ++it)
            ids_.remove(it->id);
    };
    if (sortColumn_ == ModuleTime) {
        // The earliest rows are at one end.
        const int first = sortOrder_ == Qt::AscendingOrder ? 0 : int(rows_.size()) - excess;
        beginRemoveRows({}, first, first + excess - 1);
        forget(rows_.begin() + first, rows_.begin() + first + excess);
        rows_.remove(first, excess);
        endRemoveRows();
        return;
    }
    QList<JournalEvent> byTime = rows_;
    const auto earliest = [this](const JournalEvent& a, const JournalEvent& b) { return earlier(a, b); };
    std::nth_element(byTime.begin(), byTime.begin() + (excess - 1), byTime.end(), earliest);
    const JournalEvent last = byTime[excess - 1];
    beginResetModel();
    forget(rows_.begin(), rows_.end());
    rows_.removeIf([&](const JournalEvent& e) { return !earlier(last, e); });
    for (const JournalEvent& event : std::as_const(rows_))
        ids_.insert(event.id);
    endResetModel();
}

void JournalTableModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= columns().size())
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    QList<qint64> ids;
    for (const QModelIndex& index : before)
        ids.append(rows_.at(index.row()).id);
    sortColumn_ = column;
    sortOrder_ = order;
    std::stable_sort(rows_.begin(), rows_.end(), [this](const auto& a, const auto& b) { return this->before(a, b); });
    // Selections and the current row follow their rows.
    QHash<qint64, int> rowOf;
    for (int row = 0; row < rows_.size(); ++row)
        rowOf.insert(rows_[row].id, row);
    QModelIndexList after;
    for (int i = 0; i < before.size(); ++i)
        after.append(index(rowOf.value(ids[i]), before[i].column()));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int JournalTableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(rows_.size()); }

int JournalTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(columns().size());
}

const QList<const JournalColumn*>& JournalTableModel::columns()
{
    static const QList<const JournalColumn*> shown = [] {
        QList<const JournalColumn*> list;
        for (const JournalColumn& column : JournalColumns)
            if (column.title != nullptr)
                list << &column;
        return list;
    }();
    return shown;
}

QString JournalTableModel::exportedText(const JournalColumn& column, const JournalEvent& event)
{
    if (column.flags & columnflag::ClockWords)
        return ClockStateText(event);
    if ((column.flags & columnflag::ZeroAsEmpty) && column.text(event) == u"0")
        return {};
    return column.text(event);
}

QString JournalTableModel::shownText(const JournalColumn& column, const JournalEvent& event, bool chattering)
{
    QString text = exportedText(column, event);
    if (column.flags & columnflag::TimeWithSpace)
        text.replace(u'T', u' ');
    // What the record's bytes and its neighbours say against it, after its
    // line; what its module's clock says, first, where a narrow column still
    // shows it.
    if (column.flags & columnflag::MarksAfter) {
        QStringList marks;
        if (!event.marks.isEmpty())
            marks << event.marks;
        if (chattering)
            marks << QString::fromLatin1(ChatteringMark);
        if (!marks.isEmpty())
            text += QStringLiteral("  [%1]").arg(marks.join(QStringLiteral(", ")));
    }
    if (column.flags & columnflag::ClockWords) {
        if (const QString doubts = ClockDoubts(event); !doubts.isEmpty())
            text = QStringLiteral("[%1]  %2").arg(doubts, text);
    }
    return text;
}

QString JournalTableModel::legend()
{
    return QStringLiteral(
        "Marks in brackets after the event text, on the record:\n"
        "  malformed: its time fields cannot be a time; filed at the module clock's time\n"
        "  no line: a record of a kind that gives no event line\n"
        "  undated: no date was known for it\n"
        "  repeated hour: in the hour a fall-back repeats, with no daylight-saving flag to say which pass; "
        "no UTC time\n"
        "  skipped hour: a time the module's zone skips; no UTC time\n"
        "  chattering: a change of a point that changed more than 10 times within 1 s (among the rows shown)\n"
        "In brackets first in the Clock column, in red with a warning sign, on the module's clock when the row was "
        "read:\n"
        "  clock not synchronised: the module ran on its internal clock, following no GPS, IRIG-B or other SER unit\n"
        "  clock quality poor, clock quality bad: the time quality the module reported\n"
        "  clock off by N s: more than %1 s from the collector's UTC clock (about 0.5 s of it is rounding)\n"
        "Rows with a clock mark may be out of place among other modules' rows.\n"
        "After the event text, with an information sign: [N comments] that engineers wrote on the row in the web view; "
        "its tooltip shows them.")
        .arg(DefaultMaxClockOffsetMs / 1000.0);
}

QVariant JournalTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rows_.size() || index.column() >= columns().size())
        return {};
    const JournalColumn& column = *columns().at(index.column());
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::AlignVCenter | (IsNumber(column) ? Qt::AlignRight : Qt::AlignLeft));
    const JournalEvent& event = rows_.at(index.row());
    if ((role == Qt::ForegroundRole || role == Qt::DecorationRole) && (column.flags & columnflag::ClockWords)) {
        if (ClockDoubts(event).isEmpty())
            return {};
        if (role == Qt::ForegroundRole)
            return QVariant::fromValue(DoubtColour);
        return doubtIcon_.isNull() ? QVariant() : QVariant::fromValue(doubtIcon_);
    }
    const auto comments = (column.flags & columnflag::MarksAfter) ? comments_.constFind(event.id) : comments_.cend();
    const bool commented = comments != comments_.cend() && !comments->isEmpty();
    if (role == Qt::DecorationRole)
        return commented && !commentIcon_.isNull() ? QVariant::fromValue(commentIcon_) : QVariant();
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    QString text = shownText(column, event, chattering_.contains(event.id));
    if (!commented)
        return text;
    if (role == Qt::ToolTipRole)
        return QStringLiteral("<p style=\"white-space:pre\">%1</p>%2")
            .arg(text.toHtmlEscaped(), CommentsHtml(*comments, TooltipCommentChars));
    return text +
        (comments->size() == 1 ? QStringLiteral("  [1 comment]")
                               : QStringLiteral("  [%1 comments]").arg(comments->size()));
}

QVariant JournalTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= columns().size())
        return QAbstractTableModel::headerData(section, orientation, role);
    const JournalColumn& column = *columns().at(section);
    if (role == Qt::DisplayRole)
        return QString::fromLatin1(column.title);
    if (role == Qt::ToolTipRole && (column.flags & (columnflag::MarksAfter | columnflag::ClockWords)))
        return legend();
    if (role == Qt::ToolTipRole && section == ModuleTime)
        return timeOrder_ == JournalTimeOrder::Utc
            ? QStringLiteral("Each module's own clock time; the rows are in UTC order (every module's zone is "
                             "declared)")
            : QStringLiteral("Each module's own clock time; the rows are in module-time order (a module's zone is "
                             "not declared, so not every row has a UTC time)");
    return QAbstractTableModel::headerData(section, orientation, role);
}

} // namespace chronel
