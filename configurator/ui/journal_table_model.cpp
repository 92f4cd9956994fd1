#include "journal_table_model.h"

#include <algorithm>

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
int Compare(const JournalEvent& a, const JournalEvent& b, int column)
{
    const auto order = [](const auto& x, const auto& y) { return x < y ? -1 : y < x ? 1 : 0; };
    switch (column) {
    case JournalTableModel::Module: return order(a.module, b.module);
    case JournalTableModel::Name: return a.moduleName.localeAwareCompare(b.moduleName);
    case JournalTableModel::ModuleTime: return order(a.moduleTime, b.moduleTime);
    case JournalTableModel::Point: return order(a.point, b.point);
    case JournalTableModel::Description: return a.pointDescription.localeAwareCompare(b.pointDescription);
    case JournalTableModel::State: return a.stateText.localeAwareCompare(b.stateText);
    case JournalTableModel::Text: return a.text.localeAwareCompare(b.text);
    case JournalTableModel::Quality: return order(a.quality, b.quality);
    case JournalTableModel::Received: return order(a.received, b.received);
    default: return 0;
    }
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
    const int c = Compare(a, b, sortColumn_);
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
    return int(fresh.size());
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
    if (column < 0 || column >= ColumnCount)
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

int JournalTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant JournalTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rows_.size())
        return {};
    const JournalEvent& e = rows_.at(index.row());
    if (role == Qt::TextAlignmentRole) {
        const bool number = index.column() == Point || index.column() == Quality;
        return QVariant::fromValue(Qt::AlignVCenter | (number ? Qt::AlignRight : Qt::AlignLeft));
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    switch (index.column()) {
    case Module: return e.module;
    case Name: return e.moduleName;
    case ModuleTime: return QString(e.moduleTime).replace(u'T', u' ');
    case Point: return e.point == 0 ? QString() : QString::number(e.point);
    case Description: return e.pointDescription;
    case State: return e.stateText;
    case Text: return e.text;
    case Quality: return e.quality;
    case Received: return JournalReceivedText(e.received);
    default: return {};
    }
}

QVariant JournalTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char* const titles[] = {
        "Module", "Name", "Module time", "Point", "Description", "State", "Event text", "Quality", "Received"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(titles[section]) : QVariant();
}

} // namespace chronel
