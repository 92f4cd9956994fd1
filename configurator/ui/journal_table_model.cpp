#include "journal_table_model.h"

#include "journal/chatter.h"
#include "journal/clock_state.h"

#include <QStringList>

#include <algorithm>
#include <optional>
#include <type_traits>
#include <variant>

namespace chronel {

namespace {

// Above this many new rows at once, sorting them all in costs less than
// placing each.
constexpr int InsertOneByOne = 256;

// The journal's own order: module time, module, id.
bool EarlierInTime(const JournalEvent& a, const JournalEvent& b)
{
    return std::tie(a.moduleTime, a.module, a.id) < std::tie(b.moduleTime, b.module, b.id);
}

// -1, 0 or 1 as `a` sorts before, with or after `b` in `column`.
int Compare(const JournalEvent& a, const JournalEvent& b, const JournalColumn& column)
{
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

bool JournalTableModel::before(const JournalEvent& a, const JournalEvent& b) const
{
    // Ties fall back on the journal's order in either direction, so rows of
    // equal keys read as a sequence and an added row has one place.
    const int c = Compare(a, b, *columns().at(sortColumn_));
    if (c == 0)
        return EarlierInTime(a, b);
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
    if (fresh.size() > InsertOneByOne) {
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
    std::nth_element(byTime.begin(), byTime.begin() + (excess - 1), byTime.end(), EarlierInTime);
    const JournalEvent last = byTime[excess - 1];
    beginResetModel();
    forget(rows_.begin(), rows_.end());
    rows_.removeIf([&last](const JournalEvent& e) { return !EarlierInTime(last, e); });
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
    if ((column.flags & columnflag::ZeroAsEmpty) && column.text(event) == u"0")
        return {};
    return column.text(event);
}

QString JournalTableModel::shownText(const JournalColumn& column, const JournalEvent& event, bool chattering)
{
    QString text = exportedText(column, event);
    if (column.flags & columnflag::TimeWithSpace)
        text.replace(u'T', u' ');
    if (column.flags & columnflag::MarksAfter) {
        // The record's marks, then what its module's clock says against it.
        QStringList marks;
        if (!event.marks.isEmpty())
            marks << event.marks;
        if (chattering)
            marks << QString::fromLatin1(ChatteringMark);
        if (const QString doubts = ClockDoubts(event); !doubts.isEmpty())
            marks << doubts;
        if (!marks.isEmpty())
            text += QStringLiteral("  [%1]").arg(marks.join(QStringLiteral(", ")));
    }
    return text;
}

QVariant JournalTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rows_.size() || index.column() >= columns().size())
        return {};
    const JournalColumn& column = *columns().at(index.column());
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::AlignVCenter | (IsNumber(column) ? Qt::AlignRight : Qt::AlignLeft));
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    const JournalEvent& event = rows_.at(index.row());
    return shownText(column, event, chattering_.contains(event.id));
}

QVariant JournalTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    return section >= 0 && section < columns().size() ? QString::fromLatin1(columns().at(section)->title) : QVariant();
}

} // namespace chronel
